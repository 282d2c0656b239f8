// The report of one radio from the calibration records: its latest run (or
// the run of a given record), the run's traceability, and per point the
// spread of the earlier radios of its model; on SQLite and on PostgreSQL
// (VARNEL_TEST_POSTGRES, set by scripts/with-postgres). The PDF page of it:
// one A4 page whose text holds the radio, its verdict and its readings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lang/Loadlanguage.h"
#include "records/RecordStore.h"
#include "report/RadioReport.h"
#include "report/ReportPdf.h"
#include "support/TempFiles.h"

using namespace varnel;
using varnel::test::TempDir;

namespace {

// One alignment point as a station records it.
struct Pt {
    const char* serial;
    const char* firmware;
    const char* run;
    const char* at;  // up to the minute; the seconds are the place in the list
    const char* step;
    int item;
    int point;
    int value;
    const char* verdict;
    double reading;
};

// The line's history and the radio under report ("TX-0042"). Names get a suffix so
// that a shared server's other records do not mix in.
struct Line {
    std::string model, suffix;
    std::string S(const char* serial) const { return std::string(serial) + suffix; }
};

constexpr const char* kPower = "High power 400-470 MHz";
constexpr const char* kSquelch = "Squelch open 400-470 MHz";

const Pt kHistory[] = {
    // Three radios of the model and firmware, 08:00.
    {"S1", "2.3", "r1", "2026-01-05T08:00:", kPower, 19, 1, 100, "pass", 37.0},
    {"S1", "2.3", "r1", "2026-01-05T08:00:", kPower, 19, 2, 110, "pass", 37.0},
    {"S1", "2.3", "r1", "2026-01-05T08:00:", kPower, 19, 3, 120, "pass", 37.0},
    {"S1", "2.3", "r1", "2026-01-05T08:00:", kSquelch, 5, 1, 50, "pass", -120.0},
    {"S1", "2.3", "r1", "2026-01-05T08:00:", kSquelch, 5, 2, 60, "pass", -120.0},
    {"S2", "2.3", "r2", "2026-01-05T08:10:", kPower, 19, 1, 104, "pass", 37.0},
    {"S2", "2.3", "r2", "2026-01-05T08:10:", kPower, 19, 2, 112, "pass", 37.0},
    {"S2", "2.3", "r2", "2026-01-05T08:10:", kPower, 19, 3, 118, "pass", 37.0},
    {"S2", "2.3", "r2", "2026-01-05T08:10:", kSquelch, 5, 1, 52, "pass", -120.0},
    {"S2", "2.3", "r2", "2026-01-05T08:10:", kSquelch, 5, 2, 61, "fail", -117.0},  // failed: not history
    {"S3", "2.3", "r3", "2026-01-05T08:20:", kPower, 19, 1, 98, "pass", 37.0},
    {"S3", "2.3", "r3", "2026-01-05T08:20:", kPower, 19, 2, 115, "pass", 37.0},
    {"S3", "2.3", "r3", "2026-01-05T08:20:", kPower, 19, 3, 121, "marginal", 37.17},  // a marginal pass counts
    {"S3", "2.3", "r3", "2026-01-05T08:20:", kSquelch, 5, 1, 49, "pass", -120.0},
    {"S3", "2.3", "r3", "2026-01-05T08:20:", kSquelch, 5, 2, 63, "pass", -120.0},
    // S1 retested: its latest value replaces its first.
    {"S1", "2.3", "r1b", "2026-01-05T08:30:", kPower, 19, 1, 102, "pass", 37.0},
    // Another firmware, and (further below) another model: not this radio's history.
    {"S4", "2.2", "r4", "2026-01-05T08:40:", kPower, 19, 1, 200, "pass", 37.0},
    // The radio itself, aligned before: not history of itself.
    {"TX-0042", "2.3", "t1", "2026-01-05T09:00:", kPower, 19, 1, 130, "pass", 37.0},
    // The run under report.
    {"TX-0042", "2.3", "t2", "2026-01-05T10:00:", kPower, 19, 1, 101, "pass", 37.01},
    {"TX-0042", "2.3", "t2", "2026-01-05T10:00:", kPower, 19, 2, 113, "marginal", 37.18},
    {"TX-0042", "2.3", "t2", "2026-01-05T10:00:", kPower, 19, 3, 140, "fail", 36.5},
    {"TX-0042", "2.3", "t2", "2026-01-05T10:00:", kSquelch, 5, 1, 51, "pass", -120.2},
    {"TX-0042", "2.3", "t2", "2026-01-05T10:00:", kSquelch, 5, 2, 62, "pass", -119.9},
    // After the run began: not its history.
    {"S6", "2.3", "r6", "2026-01-05T11:00:", kPower, 19, 1, 250, "pass", 37.0},
};

CalibrationRecord RecordOf(const Line& line, const Pt& p, int index) {
    CalibrationRecord r;
    r.uid = NewRecordUid();
    r.session = line.S(p.run) + "-session";
    r.runId = line.S(p.run);
    char seconds[8];
    std::snprintf(seconds, sizeof seconds, "%02d", index % 60);
    r.recordedAt = std::string(p.at) + seconds + ".000Z";
    r.station = "host-3";
    r.stationId = "ST-3";
    r.operatorName = "ana";
    r.modelName = line.model;
    r.firmware = p.firmware;
    r.serial = line.S(p.serial);
    r.event = record_event::kAlign;
    r.item = p.item;
    r.band = 0;
    r.point = p.point;
    r.oldValue = 90;
    r.newValue = p.value;
    r.step = p.step;
    r.unit = "dBm";
    r.limitLow = p.item == 19 ? 36.8 : -121.0;
    r.limitHigh = p.item == 19 ? 37.2 : -119.0;
    r.reading = p.reading;
    r.tries = p.point;  // 1, 2, 3: tells the points apart
    r.verdict = p.verdict;
    r.detail = std::string(std::string(p.verdict) == "marginal" ? "pass" : p.verdict) + ": target ...";
    r.fixtureId = "FX-7";
    r.pathLoss = "400:0.5;470:0.7";
    r.instrumentIdn = "VARNEL,VIRTUAL TEST SET,0,1.0";
    r.calibrationDue = "2027-03-01";
    r.softwareVersion = "0.1.0";
    r.procedureName = "large.json";
    r.procedureSha256 = "ab01cd02ef03ab01cd02ef03ab01cd02ef03ab01cd02ef03ab01cd02ef03ab01";
    r.retestCount = std::string(p.run) == "t2" ? 1 : 0;
    return r;
}

struct Filled {
    std::int64_t earlierRunRecord = 0;  // the radio's first run (t1)
    std::int64_t enterRecord = 0;       // an entry of S1: no alignment point
    std::int64_t otherRadioRecord = 0;  // a point of S2
};

Filled Fill(RecordStore& store, const Line& line) {
    Filled f;
    int index = 0;
    for (const Pt& p : kHistory) {
        CalibrationRecord r = RecordOf(line, p, index++);
        EXPECT_TRUE(store.append(r).ok());
        if (std::string(p.run) == "t1") f.earlierRunRecord = r.id;
        if (std::string(p.run) == "r2" && !f.otherRadioRecord) f.otherRadioRecord = r.id;
    }
    // Another model with the same item codes and serial pattern.
    CalibrationRecord other = RecordOf(line, kHistory[0], 7);
    other.modelName = line.model + "-other";
    other.serial = line.S("S9");
    other.runId = line.S("r9");
    other.newValue = 10;
    EXPECT_TRUE(store.append(other).ok());
    CalibrationRecord enter;
    enter.uid = NewRecordUid();
    enter.recordedAt = "2026-01-05T07:59:00.000Z";
    enter.modelName = line.model;
    enter.firmware = "2.3";
    enter.serial = line.S("S1");
    enter.event = record_event::kEnter;
    EXPECT_TRUE(store.append(enter).ok());
    f.enterRecord = enter.id;
    return f;
}

struct Spread {
    int item, point, radios, min;
    double median;
    int max;
};
// By hand from kHistory: S1's latest 102, S2 104, S3 98 on the first point; S2's
// failed squelch point and S4 (firmware), T's earlier run and S6 (later) left out.
const Spread kExpectedSpread[] = {
    {19, 1, 3, 98, 102, 104}, {19, 2, 3, 110, 112, 115}, {19, 3, 3, 118, 120, 121},
    {5, 1, 3, 49, 50, 52},    {5, 2, 2, 60, 61.5, 63},
};

void CheckLatestReport(RecordStore& store, const Line& line) {
    Result<RadioReport> built = BuildRadioReport(store, {line.S("TX-0042"), 0});
    ASSERT_TRUE(built.ok()) << built.error().text();
    const RadioReport& r = built.value();
    EXPECT_EQ(r.runId, line.S("t2"));
    EXPECT_EQ(r.modelName, line.model);
    EXPECT_EQ(r.serial, line.S("TX-0042"));
    EXPECT_EQ(r.firmware, "2.3");
    EXPECT_EQ(r.stationId, "ST-3");
    EXPECT_EQ(r.operatorName, "ana");
    EXPECT_EQ(r.fixtureId, "FX-7");
    EXPECT_EQ(r.pathLoss, "400:0.5;470:0.7");
    EXPECT_EQ(r.instrumentIdn, "VARNEL,VIRTUAL TEST SET,0,1.0");
    EXPECT_EQ(r.calibrationDue, "2027-03-01");
    EXPECT_EQ(r.softwareVersion, "0.1.0");
    EXPECT_EQ(r.procedureName, "large.json");
    EXPECT_EQ(r.procedureSha256.size(), 64u);
    // The run's points are the 19th to the 23rd records of the list.
    EXPECT_EQ(r.startedAt, "2026-01-05T10:00:18.000Z");
    EXPECT_EQ(r.finishedAt, "2026-01-05T10:00:22.000Z");
    EXPECT_EQ(r.retestCount, 1);
    // One failed point fails the radio; the marginal one is a pass.
    EXPECT_EQ(r.verdict, "fail");
    EXPECT_EQ(r.points, 5);
    EXPECT_EQ(r.passed, 4);
    EXPECT_EQ(r.marginal, 1);
    EXPECT_EQ(r.failed, 1);
    ASSERT_EQ(r.steps.size(), 2u);
    EXPECT_EQ(r.steps[0].name, kPower);
    EXPECT_EQ(r.steps[1].name, kSquelch);
    ASSERT_EQ(r.steps[0].points.size(), 3u);
    ASSERT_EQ(r.steps[1].points.size(), 2u);
    const ReportPoint& second = r.steps[0].points[1];
    EXPECT_EQ(second.point, 2);
    EXPECT_EQ(second.finalValue, 113);
    EXPECT_EQ(second.startValue, 90);
    EXPECT_EQ(second.tries, 2);
    EXPECT_EQ(second.verdict, "marginal");
    ASSERT_TRUE(second.reading && second.limitLow && second.limitHigh);
    EXPECT_DOUBLE_EQ(*second.reading, 37.18);
    EXPECT_DOUBLE_EQ(*second.limitLow, 36.8);
    EXPECT_DOUBLE_EQ(*second.limitHigh, 37.2);
    EXPECT_EQ(second.unit, "dBm");
    EXPECT_EQ(r.steps[0].points[2].verdict, "fail");
    for (const Spread& e : kExpectedSpread) {
        SCOPED_TRACE("item " + std::to_string(e.item) + " point " + std::to_string(e.point));
        const ReportStep& step = r.steps[e.item == 19 ? 0 : 1];
        const ReportPoint& p = step.points[static_cast<std::size_t>(e.point - 1)];
        EXPECT_EQ(p.history.radios, e.radios);
        EXPECT_EQ(p.history.min, e.min);
        EXPECT_DOUBLE_EQ(p.history.median, e.median);
        EXPECT_EQ(p.history.max, e.max);
        // Three radios are too few to call any value an outlier.
        EXPECT_FALSE(p.standsOut);
    }
}

void CheckEarlierRunAndRefusals(RecordStore& store, const Line& line, const Filled& f) {
    // The run of a given record: the radio's first one.
    Result<RadioReport> earlier = BuildRadioReport(store, {"", f.earlierRunRecord});
    ASSERT_TRUE(earlier.ok()) << earlier.error().text();
    EXPECT_EQ(earlier->runId, line.S("t1"));
    EXPECT_EQ(earlier->verdict, "pass");
    ASSERT_EQ(earlier->steps.size(), 1u);
    ASSERT_EQ(earlier->steps[0].points.size(), 1u);
    EXPECT_EQ(earlier->steps[0].points[0].finalValue, 130);
    // Before 09:00 S1 had already been retested (102).
    EXPECT_EQ(earlier->steps[0].points[0].history.radios, 3);
    EXPECT_DOUBLE_EQ(earlier->steps[0].points[0].history.median, 102);

    struct Refusal {
        const char* what;
        ReportRequest request;
        ErrorCode code;
    };
    const Refusal refusals[] = {
        {"a radio without records", {line.S("NOPE"), 0}, ErrorCode::NotFound},
        {"no such record", {"", 999999999}, ErrorCode::NotFound},
        {"an entry, no alignment point", {"", f.enterRecord}, ErrorCode::BadData},
        {"a record of another radio", {line.S("TX-0042"), f.otherRadioRecord}, ErrorCode::BadData},
        {"neither serial nor record", {"", 0}, ErrorCode::BadData},
    };
    for (const Refusal& c : refusals) {
        SCOPED_TRACE(c.what);
        Result<RadioReport> r = BuildRadioReport(store, c.request);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code(), c.code) << r.error().text();
        EXPECT_FALSE(r.error().text().empty());
    }
}

// Five radios of a model close together, then radios far off and among them.
void CheckOutlier(RecordStore& store, const Line& base) {
    const Line line{base.model + "-O", base.suffix};
    const int values[] = {100, 101, 102, 103, 104};
    int n = 0;
    for (int v : values) {
        Pt p{"", "2.3", "", "2026-02-01T08:00:", kPower, 19, 1, v, "pass", 37.0};
        CalibrationRecord r = RecordOf(line, p, n);
        r.serial = line.S("O") + std::to_string(n);
        r.runId = r.session = line.S("o") + std::to_string(n++);
        ASSERT_TRUE(store.append(r).ok());
    }
    struct Case {
        const char* serial;
        int value;
        bool standsOut;
    };
    // Median 102, median absolute deviation 1: 1.4826 value steps a deviation.
    const Case cases[] = {{"FAR", 140, true}, {"NEAR", 103, false}, {"EDGE", 107, false}, {"OVER", 108, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        // All at one moment: none is history of another.
        Pt p{"", "2.3", "", "2026-02-01T09:00:", kPower, 19, 1, c.value, "pass", 37.0};
        CalibrationRecord r = RecordOf(line, p, 0);
        r.serial = line.S(c.serial);
        r.runId = r.session = line.S(c.serial) + "-run";
        ASSERT_TRUE(store.append(r).ok());
        Result<RadioReport> report = BuildRadioReport(store, {r.serial, 0});
        ASSERT_TRUE(report.ok()) << report.error().text();
        const ReportPoint& point = report->steps.at(0).points.at(0);
        EXPECT_EQ(point.history.radios, 5);
        EXPECT_DOUBLE_EQ(point.history.median, 102);
        EXPECT_EQ(point.standsOut, c.standsOut) << point.deviations;
        EXPECT_EQ(report->standingOut, c.standsOut ? 1 : 0);
    }
}

const char* PostgresUrl() {
    const char* url = std::getenv("VARNEL_TEST_POSTGRES");
    return url && *url ? url : nullptr;
}

}  // namespace

TEST(RadioReport, LatestRunWithItsModelsHistoryOnSqlite) {
    TempDir dir;
    auto store = OpenSqliteStore(dir / "records.sqlite");
    ASSERT_TRUE(store.ok()) << store.error().text();
    const Line line{"VX-300", ""};
    const Filled f = Fill(**store, line);
    CheckLatestReport(**store, line);
    CheckEarlierRunAndRefusals(**store, line, f);
}

TEST(RadioReport, FlagsAValueFarFromTheHistoryOnSqlite) {
    TempDir dir;
    auto store = OpenSqliteStore(dir / "records.sqlite");
    ASSERT_TRUE(store.ok()) << store.error().text();
    CheckOutlier(**store, Line{"VX-300", ""});
}

// An instrument whose calibration was due before the run's day is marked
// overdue on the report, and so is a run whose records carry the flag; one
// due on the run's day is not.
TEST(RadioReport, MarksAnOverdueInstrument) {
    struct Case {
        const char* due;
        const char* flags;
        bool overdue;
    };
    const Case cases[] = {
        {"2026-01-04", "", true},                      // the run is on 2026-01-05
        {"2026-01-05", "", false},                     // due that day: still good
        {"2027-03-01", "", false},
        {"2027-03-01", "calibration-overdue", true},  // the station said so when it ran
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.due) + " " + c.flags);
        TempDir dir;
        auto store = OpenSqliteStore(dir / "records.sqlite");
        ASSERT_TRUE(store.ok()) << store.error().text();
        const Line line{"VX-300", ""};
        CalibrationRecord r = RecordOf(line, kHistory[0], 0);
        r.calibrationDue = c.due;
        r.flags = c.flags;
        ASSERT_TRUE((*store)->append(r).ok());
        Result<RadioReport> report = BuildRadioReport(**store, ReportRequest{r.serial, 0});
        ASSERT_TRUE(report.ok()) << report.error().text();
        EXPECT_EQ(report->calibrationOverdue, c.overdue);
        EXPECT_EQ(report->calibrationDue, c.due);
    }
}

TEST(RadioReport, OverallVerdictTakesTheWorstPoint) {
    struct Case {
        std::vector<std::string> verdicts;
        const char* overall;
    };
    const Case cases[] = {
        {{"pass", "pass"}, "pass"},         {{"pass", "marginal"}, "pass"},
        {{"pass", "fail", "stopped"}, "fail"}, {{"pass", "stopped"}, "stopped"},
        {{"fail", "error"}, "error"},       {{}, "stopped"},
        {{"pass", "unheard-of"}, "fail"},
    };
    for (const Case& c : cases) EXPECT_EQ(OverallVerdict(c.verdicts), c.overall);
}

TEST(PostgresRecords, RadioReportOfTheLatestRunWithItsModelsHistory) {
    const char* url = PostgresUrl();
    if (!url) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set (scripts/with-postgres sets it)";
    auto store = OpenPostgresStore(url);
    ASSERT_TRUE(store.ok()) << store.error().text();
    // The server is shared: a model and serials of this test's own.
    const std::string suffix = "-" + NewRecordUid().substr(0, 8);
    const Line line{"VX-REPORT" + suffix, suffix};
    const Filled f = Fill(**store, line);
    CheckLatestReport(**store, line);
    CheckEarlierRunAndRefusals(**store, line, f);
    CheckOutlier(**store, line);
}

// ---- the page ---------------------------------------------------------------
// (No cairo in the Windows build: nothing to look at there.)
#ifndef _WIN32

namespace {

bool HaveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

// The page count pdfinfo tells ("Pages:   1").
int PagesOf(const std::string& info) {
    const std::size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

}  // namespace

TEST(ReportPdf, OnePageA4WithTheRadioItsVerdictAndReadings) {
    if (!PdfReportsAvailable()) GTEST_SKIP() << "this build has no PDF reports (cairo was not found)";
    if (!HaveTool("pdfinfo") || !HaveTool("pdftotext")) GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext) missing";
    TempDir dir;
    SetProgramDirectory(VARNEL_LANG_DIR);
    struct Language {
        int index;
        const char* file;
        std::vector<std::string> words;  // texts of the page in that language
    };
    const Language languages[] = {
        {kLanguageEnglish, "english.pdf", {"Alignment report", "FAIL", "MARGINAL"}},
        {kLanguageChinese, "chinese.pdf", {"\u6821\u51c6\u62a5\u544a", "\u4e0d\u5408\u683c"}},  // 校准报告, 不合格
    };
    auto store = OpenSqliteStore(dir / "records.sqlite");
    ASSERT_TRUE(store.ok());
    const Line line{"VX-300", ""};
    Fill(**store, line);
    Result<RadioReport> report = BuildRadioReport(**store, {"TX-0042", 0});
    ASSERT_TRUE(report.ok()) << report.error().text();
    for (const Language& l : languages) {
        SCOPED_TRACE(l.file);
        OpenLanguage(l.index);
        const auto file = dir / l.file;
        ASSERT_TRUE(WriteReportPdf(*report, file).ok());
        const std::string info = Output("pdfinfo '" + file.string() + "'");
        EXPECT_EQ(PagesOf(info), 1) << info;
        EXPECT_NE(info.find("(A4)"), std::string::npos) << info;
        const std::string text = Output("pdftotext -layout '" + file.string() + "' -");
        for (const std::string& word : l.words) EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
        EXPECT_NE(text.find("VX-300"), std::string::npos) << text;
        EXPECT_NE(text.find("ST-3"), std::string::npos);
        EXPECT_NE(text.find("2027-03-01"), std::string::npos);
        // The serial and the readings of the run's points.
        EXPECT_NE(text.find("TX-0042"), std::string::npos);
        for (const char* reading : {"37.01", "37.18", "36.50", "-120.20", "-119.90"})
            EXPECT_NE(text.find(reading), std::string::npos) << reading;
        EXPECT_NE(text.find("36.80 \u2013 37.20"), std::string::npos) << "the limits";
        if (const char* keep = std::getenv("VARNEL_REPORT_KEEP")) WriteReportPdf(*report, std::string(keep) + "-" + l.file);
    }
    ResetLanguageState();
}
#endif
