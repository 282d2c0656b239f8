// Times given on the command line for the records (--since, --until): ISO
// 8601 dates and date-times, read strictly and written as the records keep
// their times, so that they compare as text.
#pragma once

#include <optional>
#include <string>

namespace varnel {

// "2026-12-09", "2026-12-09T12:45", "2026-12-09T12:45:20", with seconds
// fractions ("...:20.5"), 'T' or a blank between date and time, and an
// optional zone: 'Z' or an offset (+01:00, -0530, +02). Without a zone the
// time is UTC; an offset is taken back to UTC. A date alone is its first
// moment. The result is the records' form "2026-12-09T12:45:20.000Z";
// nothing for any other text or a day or time that does not exist.
std::optional<std::string> CanonicalUtcTime(const std::string& text);

}  // namespace varnel
