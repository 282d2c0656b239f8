// Times for `records list --since/--until`: ISO 8601 dates and date-times,
// read strictly and written in the records' own form (UTC, milliseconds),
// so that they compare with the records' times as text.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "util/UtcTime.h"

using namespace varnel;

TEST(UtcTime, DatesAndDateTimesBecomeTheRecordsForm) {
    struct Case {
        const char* given;
        const char* canonical;
    };
    const Case cases[] = {
        {"2026-12-09", "2026-12-09T00:00:00.000Z"},
        {"2026-12-09T14:30", "2026-12-09T14:30:00.000Z"},
        {"2026-12-09T14:30:05", "2026-12-09T14:30:05.000Z"},
        {"2026-12-09T14:30:05Z", "2026-12-09T14:30:05.000Z"},
        {"2026-12-09 14:30:05", "2026-12-09T14:30:05.000Z"},
        {"2026-12-09t14:30:05z", "2026-12-09T14:30:05.000Z"},
        {"2026-12-09T14:30:05.5Z", "2026-12-09T14:30:05.500Z"},
        {"2026-12-09T14:30:05.123456Z", "2026-12-09T14:30:05.123Z"},
        {"2026-12-09T14:30:05,25", "2026-12-09T14:30:05.250Z"},
        // Offsets are taken back to UTC, across days, months and years.
        {"2026-12-09T01:30:00+02:00", "2026-12-08T23:30:00.000Z"},
        {"2026-12-31T23:30:00-01:00", "2027-01-01T00:30:00.000Z"},
        {"2028-03-01T00:15:00+0100", "2028-02-29T23:15:00.000Z"},
        {"2026-03-01T00:15:00+01", "2026-02-28T23:15:00.000Z"},
        {"2026-12-09T10:00:00+00:00", "2026-12-09T10:00:00.000Z"},
        {"2028-02-29", "2028-02-29T00:00:00.000Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(CanonicalUtcTime(c.given), std::optional<std::string>(c.canonical));
    }
}

TEST(UtcTime, AnythingElseIsNoTime) {
    for (const char* text :
         {"", "garbage", "' OR '1'='1", "2026-12-09' OR '1'='1", "2026-13-01", "2026-02-29", "2026-04-31",
          "2026-12-9", "26-12-09", "2026/12/09", "2026-12-09T", "2026-12-09T24:00", "2026-12-09T12:60",
          "2026-12-09T12:00:60", "2026-12-09T12", "2026-12-09T12:00:00.", "2026-12-09T12:00:00Q",
          "2026-12-09T12:00:00+25:00", "2026-12-09T12:00:00+01:", "0000-01-01", " 2026-12-09", "2026-12-09 ",
          "2026-12-09T12:00:00Z trailing"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(CanonicalUtcTime(text), std::nullopt);
    }
}
