// What a production line sets around the alignment: the fixture's path-loss
// table, the instrument's calibration due date and the scanner's serial
// pattern, and the keys of setting.ini that carry them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "line/LineSettings.h"
#include "core/support/TempFiles.h"

using namespace varnel;
using namespace varnel::test;

namespace {

// Two rows 100 MHz apart with 1 dB between them: 0.01 dB per MHz.
const PathLoss kTwoRows({{400.0, 1.0}, {500.0, 2.0}});

}  // namespace

// ---- path loss ---------------------------------------------------------------

TEST(PathLoss, InterpolatesBetweenRowsAndClampsAtTheEnds) {
    struct Case {
        double mhz, db;
    };
    const Case cases[] = {
        {400.0, 1.0},  // on a row
        {500.0, 2.0},
        {450.0, 1.5},  // halfway
        {425.0, 1.25},
        {499.0, 1.99},
        {136.0, 1.0},  // below the first row: the first row's
        {399.9, 1.0},
        {900.0, 2.0},  // above the last row: the last row's
    };
    for (const Case& c : cases) EXPECT_NEAR(kTwoRows.lossAt(c.mhz), c.db, 1e-9) << c.mhz << " MHz";
    EXPECT_NEAR(kTwoRows.lossAtHz(450000000u), 1.5, 1e-9);
    // What the radio delivers is the reading plus the loss.
    EXPECT_NEAR(kTwoRows.atRadio(35.0, 450000000u), 36.5, 1e-9);
    EXPECT_EQ(PathLoss().lossAt(450.0), 0.0);
}

TEST(PathLoss, RowsInAnyOrderAndThreeSegments) {
    // The rows as a line might list them, out of order; losses that fall too.
    const PathLoss loss({{470.0, 1.4}, {136.0, 0.5}, {400.0, 1.2}, {174.0, 0.6}});
    EXPECT_NEAR(loss.lossAt(155.0), 0.55, 1e-9);
    EXPECT_NEAR(loss.lossAt(287.0), 0.9, 1e-9);  // halfway from 174 to 400
    EXPECT_NEAR(loss.lossAt(435.0), 1.3, 1e-9);
    EXPECT_EQ(loss.recordText(), "136.000:0.50;174.000:0.60;400.000:1.20;470.000:1.40");
}

TEST(PathLoss, FileWithCommentsAndBlanksIsRead) {
    const std::string text = "# fixture FX-07, measured 2026-11-30\r\n"
                             "\r\n"
                             "400, 1.20\r\n"
                             "  470.5 ,1.45  \r\n"
                             "; the VHF band\n"
                             "136,-0.25\n";
    Result<PathLoss> loss = ParsePathLoss(text, "fx07.csv");
    ASSERT_TRUE(loss.ok()) << loss.error().text();
    ASSERT_EQ(loss->rows().size(), 3u);
    EXPECT_NEAR(loss->lossAt(470.5), 1.45, 1e-9);
    EXPECT_NEAR(loss->lossAt(136.0), -0.25, 1e-9);
    EXPECT_EQ(loss->recordText(), "136.000:-0.25;400.000:1.20;470.500:1.45");
}

TEST(PathLoss, MalformedFilesNameTheFileAndTheLine) {
    struct Case {
        const char* text;
        const char* where;  // "file:line"
        const char* says;
    };
    const Case cases[] = {
        {"400,1.2\n470 1.4\n", "loss.csv:2", "is not \"freqMHz,dB\""},
        {"400,1.2\n\n470,abc\n", "loss.csv:3", "two numbers"},
        {"400,1.2,3\n", "loss.csv:1", "is not \"freqMHz,dB\""},
        {"# header\n0,1.0\n", "loss.csv:2", "not positive"},
        {"-5,1.0\n", "loss.csv:1", "not positive"},
        {"400,250\n", "loss.csv:1", "not believable"},
        {"400,1.0\n400.0,1.1\n", "loss.csv:2", "given twice"},
        {"400,1e1\n", "loss.csv:1", "two numbers"},
        {"# nothing but comments\n\n", "loss.csv", "no \"freqMHz,dB\" line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Result<PathLoss> loss = ParsePathLoss(c.text, "loss.csv");
        ASSERT_FALSE(loss.ok());
        EXPECT_EQ(loss.error().code(), ErrorCode::BadData);
        const std::string text = loss.error().text();
        EXPECT_EQ(text.rfind(c.where, 0), 0u) << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
    }
}

TEST(PathLoss, MissingFileIsAFileErrorNamingIt) {
    TempDir dir;
    Result<PathLoss> loss = LoadPathLoss(dir / "nowhere.csv");
    ASSERT_FALSE(loss.ok());
    EXPECT_NE(loss.error().text().find("nowhere.csv"), std::string::npos) << loss.error().text();
    EXPECT_NE(loss.error().code(), ErrorCode::BadData);
    writeBytes(dir / "bad.csv", "400,1\nfour hundred,2\n");
    Result<PathLoss> bad = LoadPathLoss(dir / "bad.csv");
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.error().text().find("bad.csv:2:"), std::string::npos) << bad.error().text();
}

// ---- calibration due date -------------------------------------------------------

TEST(CalibrationDue, DueTodayIsValidYesterdayIsOverdue) {
    const CivilDate today{2026, 3, 1};
    struct Case {
        const char* due;
        CalibrationState state;
    };
    const Case cases[] = {
        {"2026-03-02", CalibrationState::Valid},    // tomorrow
        {"2026-03-01", CalibrationState::Valid},    // today: still usable
        {"2026-02-28", CalibrationState::Overdue},  // yesterday (2026 is no leap year)
        {"2025-12-31", CalibrationState::Overdue},
        {"2027-01-01", CalibrationState::Valid},
        {"", CalibrationState::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.due);
        Result<CalibrationCheck> check = CheckCalibrationDue(c.due, today, "--calibration-due");
        ASSERT_TRUE(check.ok()) << check.error().text();
        EXPECT_EQ(check->state, c.state);
        EXPECT_EQ(check->due, c.due);
        if (c.state == CalibrationState::Overdue) {
            EXPECT_NE(check->message.find(c.due), std::string::npos) << check->message;
            EXPECT_NE(check->message.find("2026-03-01"), std::string::npos) << check->message;
        } else {
            EXPECT_EQ(check->message, "");
        }
    }
}

TEST(CalibrationDue, MalformedDatesAreRefusedNamingWhereTheyCameFrom) {
    for (const char* due : {"2026-13-01", "2026-02-29", "2026-04-31", "2026-3-1", "01.03.2026", "tomorrow",
                            "2026-03-01x", "0000-01-01"}) {
        SCOPED_TRACE(due);
        Result<CalibrationCheck> check = CheckCalibrationDue(due, {2026, 3, 1}, "setting.ini [instrument] calibrationDue");
        ASSERT_FALSE(check.ok());
        EXPECT_EQ(check.error().code(), ErrorCode::BadData);
        EXPECT_NE(check.error().text().find(due), std::string::npos) << check.error().text();
        EXPECT_NE(check.error().text().find("setting.ini [instrument] calibrationDue"), std::string::npos);
    }
    // A leap day is a day.
    EXPECT_TRUE(ParseCivilDate("2028-02-29").has_value());
    EXPECT_TRUE(ParseCivilDate("2000-02-29").has_value());
    EXPECT_FALSE(ParseCivilDate("2100-02-29").has_value());
    EXPECT_EQ(CivilDateText(*ParseCivilDate("2028-02-29")), "2028-02-29");
}

// ---- serial pattern ---------------------------------------------------------------

TEST(SerialPattern, FullMatchOnTheTrimmedSerial) {
    Result<SerialPattern> pattern = SerialPattern::make("SN[0-9]{6}", "setting.ini [line] serialPattern");
    ASSERT_TRUE(pattern.ok()) << pattern.error().text();
    struct Case {
        const char* serial;
        bool taken;
    };
    const Case cases[] = {
        {"SN123456", true},
        {"SN123456\r", true},  // the scanner's Enter
        {"  SN123456 ", true},
        {"SN12345", false},
        {"SN1234567", false},  // a full match, not a search
        {"xSN123456", false},
        {"sn123456", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        EXPECT_EQ(pattern->accepts(c.serial), c.taken);
        const std::string why = pattern->refusal(c.serial);
        EXPECT_EQ(why.empty(), c.taken) << why;
        if (!c.taken && *c.serial != '\0') {
            // Said as a person would, never as the raw pattern.
            EXPECT_EQ(why, SerialPattern::trim(c.serial) + " does not match this line's serial format");
        }
    }
}

TEST(SerialPattern, RefusalShowsTheLinesExample) {
    Result<SerialPattern> pattern = SerialPattern::make("SN-[0-9]{4}", "setting.ini [line] serialPattern");
    ASSERT_TRUE(pattern.ok());
    pattern->setExample("SN-0042");
    EXPECT_EQ(pattern->refusal(" SN-12 "), "SN-12 is not a serial of this line; a serial looks like SN-0042");
    EXPECT_EQ(pattern->refusal("SN-0042"), "");
}

TEST(SerialPattern, EmptyPatternTakesAnySerialButAnEmptyOne) {
    Result<SerialPattern> any = SerialPattern::make("", "--serial-pattern");
    ASSERT_TRUE(any.ok());
    EXPECT_TRUE(any->accepts("anything at all"));
    EXPECT_FALSE(any->accepts("   "));
    EXPECT_EQ(any->refusal(""), "the serial is empty");
}

TEST(SerialPattern, APatternThatIsNoRegularExpressionIsRefused) {
    Result<SerialPattern> bad = SerialPattern::make("SN[0-9", "setting.ini [line] serialPattern");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().code(), ErrorCode::BadData);
    EXPECT_NE(bad.error().text().find("SN[0-9"), std::string::npos) << bad.error().text();
    EXPECT_NE(bad.error().text().find("setting.ini [line] serialPattern"), std::string::npos);
}

// ---- setting.ini ------------------------------------------------------------------

TEST(LineSettings, KeysOfSettingIni) {
    TempDir dir;
    writeBytes(dir / "setting.ini",
               "[setup]\r\nlanguage=english\r\n"
               "[fixture]\r\nid=FX-07\r\npathLoss=fx07.csv\r\n"
               "[instrument]\r\ncalibrationDue=2026-06-30\r\n"
               "[line]\r\nstrict=1\r\nserialPattern=SN[0-9]{6}\r\nserialExample= SN004200 \r\n"
               "chartRadios=12\r\nchartLimits=window\r\n");
    const LineSettings s = ReadLineSettings(dir / "setting.ini");
    EXPECT_EQ(s.fixtureId, "FX-07");
    // A table named without a folder lies beside setting.ini.
    EXPECT_EQ(std::filesystem::path(s.pathLossFile), dir / "fx07.csv");
    EXPECT_EQ(s.calibrationDue, "2026-06-30");
    EXPECT_TRUE(s.strict);
    EXPECT_EQ(s.serialPattern, "SN[0-9]{6}");
    EXPECT_EQ(s.serialExample, "SN004200");
    EXPECT_EQ(s.chartRadios, 12);
    EXPECT_TRUE(s.chartWindow);

    const LineSettings none = ReadLineSettings(dir / "missing.ini");
    EXPECT_EQ(none.serialExample, "");
    EXPECT_EQ(none.chartRadios, 0);
    EXPECT_FALSE(none.chartWindow);
    EXPECT_EQ(none.fixtureId, "");
    EXPECT_EQ(none.pathLossFile, "");
    EXPECT_FALSE(none.strict);
}

// ---- hostile inputs ------------------------------------------------------------------

TEST(PathLoss, ByteOrderMarkIsSkippedAndTheLinesStayRight) {
    Result<PathLoss> loss = ParsePathLoss("\xEF\xBB\xBF" "400,1.20\r\n470,1.45\r\n", "excel.csv");
    ASSERT_TRUE(loss.ok()) << loss.error().text();
    EXPECT_EQ(loss->recordText(), "400.000:1.20;470.000:1.45");
    Result<PathLoss> bad = ParsePathLoss("\xEF\xBB\xBF" "400,1.20\r\nx,1\r\n", "excel.csv");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().text().rfind("excel.csv:2:", 0), 0u) << bad.error().text();
}

TEST(PathLoss, DuplicatesAreTheFirstRepeatInFileOrderAndComeBeforeLaterMistakes) {
    struct Case {
        const char* text;
        const char* where;
        const char* says;
    };
    const Case cases[] = {
        // 470 comes again on line 4, 400 on line 5: line 4 is named.
        {"400,1\n470,1\n136,1\n470.0,2\n400,2\n", "loss.csv:4", "470.0 MHz is given twice"},
        // A repeat before a malformed line is found first, as reading goes.
        {"400,1\n400,2\nnonsense\n", "loss.csv:2", "given twice"},
        // A malformed line before any repeat is named.
        {"400,1\nnonsense\n400,2\n", "loss.csv:2", "is not \"freqMHz,dB\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Result<PathLoss> loss = ParsePathLoss(c.text, "loss.csv");
        ASSERT_FALSE(loss.ok());
        EXPECT_EQ(loss.error().text().rfind(c.where, 0), 0u) << loss.error().text();
        EXPECT_NE(loss.error().text().find(c.says), std::string::npos) << loss.error().text();
    }
    // Many rows, one repeated near the end.
    std::string big;
    for (int i = 1; i <= 20000; ++i) big += std::to_string(100 + i) + ",0.5\n";
    Result<PathLoss> many = ParsePathLoss(big, "big.csv");
    ASSERT_TRUE(many.ok()) << many.error().text();
    EXPECT_EQ(many->rows().size(), 20000u);
    big += "150,0.7\n";
    Result<PathLoss> repeated = ParsePathLoss(big, "big.csv");
    ASSERT_FALSE(repeated.ok());
    EXPECT_EQ(repeated.error().text().rfind("big.csv:20001: the frequency 150 MHz is given twice", 0), 0u)
        << repeated.error().text();
}

TEST(PathLoss, ATableAboveOneMebibyteIsAFileOfTheWrongSize) {
    TempDir dir;
    std::string text = "400,1.0\n";
    text += std::string(1024 * 1024, '#');
    writeBytes(dir / "huge.csv", text);
    Result<PathLoss> loss = LoadPathLoss(dir / "huge.csv");
    ASSERT_FALSE(loss.ok());
    EXPECT_EQ(loss.error().code(), ErrorCode::WrongSize);
    EXPECT_NE(loss.error().text().find("huge.csv"), std::string::npos) << loss.error().text();
    writeBytes(dir / "limit.csv", "400,1.0\n" + std::string(1024 * 1024 - 8, '\n'));
    EXPECT_TRUE(LoadPathLoss(dir / "limit.csv").ok()) << "a table of exactly 1 MiB is read";
}

TEST(SerialPattern, SerialsLongerThanABarcodeAreRefusedBeforeMatching) {
    Result<SerialPattern> pattern = SerialPattern::make("([A-Z0-9]+-?)+", "setting.ini [line] serialPattern");
    ASSERT_TRUE(pattern.ok()) << pattern.error().text();
    const std::string longest(kSerialLengthLimit, 'A');
    EXPECT_TRUE(pattern->accepts(longest));
    EXPECT_EQ(pattern->check(longest + "B"), SerialRefusal::TooLong);
    // Blanks around it do not count.
    EXPECT_TRUE(pattern->accepts("  " + longest + "\r"));
    // Characters, not bytes: 64 two-byte letters are a serial.
    std::string umlauts;
    for (std::size_t i = 0; i < kSerialLengthLimit; ++i) umlauts += "\xC3\x84";
    EXPECT_EQ(SerialLength(umlauts), kSerialLengthLimit);
    EXPECT_NE(pattern->check(umlauts), SerialRefusal::TooLong);
    for (std::size_t size : {20000u, 30000u}) {
        SCOPED_TRACE(size);
        const std::string huge(size, 'A');
        EXPECT_EQ(pattern->check(huge), SerialRefusal::TooLong);
        const std::string why = pattern->refusal(huge);
        EXPECT_NE(why.find("longer than 64 characters"), std::string::npos) << why.substr(0, 200);
        EXPECT_LT(why.size(), 200u) << "the serial itself is not repeated";
    }
    // Without a pattern too.
    Result<SerialPattern> any = SerialPattern::make("", "--serial");
    EXPECT_EQ(any->check(std::string(65, 'x')), SerialRefusal::TooLong);
    EXPECT_EQ(pattern->check("SN12345678901234567890123456!"), SerialRefusal::NoMatch);
}

TEST(SerialPattern, APatternOutsideTheLanguageNamesWhereAndTheSource) {
    Result<SerialPattern> bad = SerialPattern::make("(SN)\\1", "/line/setting.ini [line] serialPattern");
    ASSERT_FALSE(bad.ok());
    const std::string text = bad.error().text();
    EXPECT_EQ(text.rfind("/line/setting.ini [line] serialPattern: ", 0), 0u) << text;
    EXPECT_NE(text.find("at character 5"), std::string::npos) << text;
}

// ---- file names of a radio ----------------------------------------------------------

TEST(SerialFileName, TwoSerialsNeverShareAName) {
    struct Case {
        const char* serial;
        const char* name;
    };
    const Case cases[] = {
        {"LN0001", "LN0001"},
        {"SN-\xC3\x84-3", "SN-_C3_84-3"},
        {"SN-\xC3\x96-3", "SN-_C3_96-3"},
        {"SN 1", "SN_201"},
        {"SN.1", "SN_2E1"},
        {"SN/1", "SN_2F1"},
        {"SN_1", "SN_5F1"},
        {"SN\\1", "SN_5C1"},
        {"..", "_2E_2E"},
        {"", "_"},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        const std::string name = SerialFileName(c.serial);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(SerialFromFileName(name), std::optional<std::string>(c.serial)) << "reversible";
        EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    // Names no serial gives.
    for (const char* name : {"SN_1", "SN_", "SN_G1", "SN_41", "SN 1", "SN~2"})
        EXPECT_FALSE(SerialFromFileName(name).has_value()) << name;
}

TEST(SerialFileName, BackupsAndArchivesNeverReplaceAnotherRadios) {
    TempDir dir;
    std::tm when{};
    when.tm_year = 2026 - 1900, when.tm_mon = 11, when.tm_mday = 10, when.tm_hour = 9, when.tm_min = 5, when.tm_sec = 7;
    const std::filesystem::path first = FreeBackupPath(dir.path(), "DM-X", "SN 1", when);
    EXPECT_EQ(first.filename().string(), "DM-X_SN_201_2026-12-10_09-05-07.tdb");
    writeBytes(first, "x");
    const std::filesystem::path second = FreeBackupPath(dir.path(), "DM-X", "SN 1", when);
    EXPECT_EQ(second.filename().string(), "DM-X_SN_201_2026-12-10_09-05-07-2.tdb");
    EXPECT_EQ(FreeBackupPath(dir.path(), "DM-X", "", when).filename().string(), "DM-X_2026-12-10_09-05-07.tdb");

    // The aligned archive: each serial its own; the same serial's is replaced.
    std::set<std::string> archives;
    for (const char* serial : {"SN-\xC3\x84-3", "SN-\xC3\x96-3", "SN 1", "SN.1", "SN/1", "SN_1"}) {
        const std::filesystem::path p = AlignedArchivePath(dir.path(), serial);
        EXPECT_EQ(p.parent_path(), dir.path()) << "a slash in a serial makes no folder";
        EXPECT_TRUE(archives.insert(p.filename().string()).second) << serial;
        writeBytes(p, serial);
    }
    EXPECT_EQ(AlignedArchivePath(dir.path(), "SN 1").filename().string(), "SN_201.tdb");
    EXPECT_EQ(readBytes(dir / "SN_201.tdb"), "SN 1");
}
