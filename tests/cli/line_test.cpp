// varnel-cli line end to end on the virtual radio and the virtual test set:
// the JSON events a line controller reads, the records of every radio with
// the station's trace, the scanner's serials, the calibration due date and
// Ctrl+C in the middle of a radio.
#include <gtest/gtest.h>

#include "support/CliFiles.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using varnel::clitest::ReadAll;

std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    std::size_t from = 0;
    for (std::size_t eol; (eol = text.find('\n', from)) != std::string::npos; from = eol + 1)
        lines.push_back(json::parse(text.substr(from, eol - from)));
    return lines;
}

// "YYYY-MM-DD" of today plus `days`, local time (the tool's "today").
std::string Day(int days) {
    const std::time_t t = std::time(nullptr) + static_cast<std::time_t>(days) * 86400;
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

const char* const kProcedure = varnel::clitest::kPowerProcedure;

struct LineRun {
    int status = -1;
    std::string out, err;
};

class Line : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("varnel-line-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "p.json") << kProcedure;
        std::ofstream(dir_ / "fx07.csv") << "# fixture FX-07\n400,1.5\n470,2.5\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void settings(const std::string& text) const { std::ofstream(dir_ / "setting.ini") << text; }

    std::string env() const {
        return "env -u VARNEL_RECORDS_DB XDG_DATA_HOME='" + path("data") + "' XDG_CONFIG_HOME='" + path("config") +
               "' ";
    }
    // The line on the virtual large radio with this test's settings and
    // data folder; `input` is what the scanner types.
    LineRun line(const std::string& args, const std::string& input = "") {
        std::ofstream(dir_ / "stdin.txt") << input;
        const std::string command = env() + "timeout -k 5 90 '" VARNEL_CLI_PATH "' line --virtual-radio=large "
                                    "--instrument virtual --procedure '" + path("p.json") + "' --settings '" +
                                    path("setting.ini") + "' --data-folder '" + path("Default Data") + "' " + args +
                                    " <'" + path("stdin.txt") + "' >'" + path("out.txt") + "' 2>'" + path("err.txt") + "'";
        const int raw = std::system(command.c_str());
        LineRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadAll(dir_ / "out.txt");
        r.err = ReadAll(dir_ / "err.txt");
        return r;
    }
    // The OCP export of one serial's runs.
    std::vector<json> ocp(const std::string& serial) {
        const std::string command = env() + "'" VARNEL_CLI_PATH "' records export --format ocp --quiet --serial " +
                                    serial + " >'" + path("ocp.txt") + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return JsonLines(ReadAll(dir_ / "ocp.txt"));
    }

    fs::path dir_;
};

// Every artifact of a kind in OCP lines ("testRunStart", "testRunEnd").
std::vector<json> RunArtifacts(const std::vector<json>& lines, const char* kind) {
    std::vector<json> found;
    for (const json& l : lines)
        if (l.contains("testRunArtifact") && l["testRunArtifact"].contains(kind)) found.push_back(l["testRunArtifact"][kind]);
    return found;
}

}  // namespace

// Three radios off the line: a scanned serial that is malformed is refused
// and asked again; every radio is backed up, aligned through the fixture,
// saved and recorded with the station's trace; the events tell a line
// controller what happens, in order.
TEST_F(Line, ThreeRadiosWithJsonEventsAndTracedRecords) {
    settings("[fixture]\r\nid=FX-07\r\npathLoss=fx07.csv\r\n"
             "[instrument]\r\ncalibrationDue=" + Day(1) + "\r\n"
             "[line]\r\nserialPattern=LN[0-9]{4}\r\nserialExample=LN0042\r\n");
    const LineRun r = line("--radios 3 --json", "LN0001\nbad serial\nLN0002\nLN0003\nLN0004\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<json> events = JsonLines(r.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front()["event"], "line");
    EXPECT_EQ(events.front()["fixture"], "FX-07");
    EXPECT_EQ(events.front()["calibration_due"], Day(1));
    EXPECT_EQ(events.back()["event"], "end");
    EXPECT_EQ(events.back()["radios"], 3);
    EXPECT_EQ(events.back()["passed"], 3);

    std::vector<std::string> radios, verdicts;
    std::map<std::string, int> points, count;
    std::vector<std::string> order;  // radio, backup, saved, verdict, gone of the first radio
    const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    for (const json& e : events) {
        const std::string kind = e["event"];
        ++count[kind];
        // Every event says when, in UTC with milliseconds.
        ASSERT_TRUE(e.contains("time")) << e;
        EXPECT_TRUE(std::regex_match(e["time"].get<std::string>(), utc)) << e;
        if (kind == "point") {
            // Item and band as the records window names them; the code kept.
            const int code = e["item_code"];
            EXPECT_TRUE(code == 19 || code == 18) << e;
            EXPECT_EQ(e["item"], code == 19 ? "Digital TX Power (High)" : "Digital TX Power (Low)") << e;
            EXPECT_EQ(e["band"], "400-470 MHz") << e;
            EXPECT_EQ(e["band_index"], 0) << e;
        }
        if (kind == "radio") radios.push_back(e["serial"]);
        if (kind == "point") {
            ++points[e["serial"]];
            EXPECT_TRUE(e["verdict"] == "pass" || e["verdict"] == "marginal") << e;
            EXPECT_NEAR(e["reading"].get<double>(), e["target"].get<double>(), e["tolerance"].get<double>()) << e;
        }
        if (kind == "verdict") verdicts.push_back(e["verdict"]);
        if (kind == "serial-refused") {
            EXPECT_EQ(e["serial"], "bad serial");
            EXPECT_EQ(e["reason"], "bad serial is not a serial of this line; a serial looks like LN0042") << e;
        }
        const bool step = kind == "radio" || kind == "backup" || kind == "saved" || kind == "verdict" ||
                          kind == "remove" || kind == "gone";
        if (radios.size() == 1 && step) order.push_back(kind);
    }
    EXPECT_EQ(radios, (std::vector<std::string>{"LN0001", "LN0002", "LN0003"}));
    EXPECT_EQ(verdicts, (std::vector<std::string>{"pass", "pass", "pass"}));
    for (const std::string& s : radios) EXPECT_EQ(points[s], 10) << s;
    EXPECT_EQ(count["serial-refused"], 1);
    EXPECT_EQ(count["waiting"], 3);
    EXPECT_EQ(count["gone"], 3);
    EXPECT_EQ(order, (std::vector<std::string>{"radio", "backup", "saved", "verdict", "remove", "gone"}));
    EXPECT_NE(r.err.find("bad serial is not a serial of this line; a serial looks like LN0042"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("LN[0-9]{4}"), std::string::npos) << r.err;  // said as a person would, not as a pattern

    // The backups before and the aligned archives after, by serial.
    int backups = 0;
    for (const auto& f : fs::directory_iterator(dir_ / "Default Data" / "backups")) {
        ++backups;
        EXPECT_EQ(fs::file_size(f.path()), 1104u) << f.path();
    }
    EXPECT_EQ(backups, 3);
    for (const char* s : {"LN0001", "LN0002", "LN0003"})
        EXPECT_EQ(fs::file_size(dir_ / "Default Data" / (std::string(s) + ".tdb")), 1104u) << s;

    // Each radio's run in the records with the fixture, its table, the
    // instrument and its due date; the radios differ (serials of their own).
    std::vector<double> firstReadings;
    for (const std::string& s : radios) {
        SCOPED_TRACE(s);
        const std::vector<json> lines = ocp(s);
        const std::vector<json> starts = RunArtifacts(lines, "testRunStart");
        ASSERT_EQ(starts.size(), 1u);
        const json& p = starts[0]["parameters"];
        EXPECT_EQ(p["fixtureId"], "FX-07");
        EXPECT_EQ(p["pathLoss"], "400.000:1.50;470.000:2.50");
        EXPECT_EQ(p["calibrationDue"], Day(1));
        EXPECT_EQ(p["procedure"], "p.json");
        EXPECT_EQ(starts[0]["dutInfo"]["dutInfoId"], s);
        bool instrument = false;
        for (const json& h : starts[0]["dutInfo"]["hardwareInfos"])
            instrument = instrument || (h["hardwareInfoId"] == "instrument" &&
                                        h["name"].get<std::string>().rfind("VARNEL,VIRTUAL TEST SET", 0) == 0);
        EXPECT_TRUE(instrument);
        const std::vector<json> ends = RunArtifacts(lines, "testRunEnd");
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0]["result"], "PASS");
        // Each point's reading, final value and value before, named by item,
        // band and point; the subcomponent's location is the band.
        std::map<std::string, int> named;
        for (const json& l : lines) {
            if (!l.contains("testStepArtifact") || !l["testStepArtifact"].contains("measurement")) continue;
            const json& m = l["testStepArtifact"]["measurement"];
            const std::string name = m["name"];
            EXPECT_EQ(m["subcomponent"]["location"], "400-470 MHz") << m;
            if (name.find(", final value") != std::string::npos) ++named["final"];
            else if (name.find(", value before") != std::string::npos) ++named["before"];
            else ++named["reading"];
            EXPECT_EQ(name.rfind("Digital TX Power (", 0), 0u) << name;
            EXPECT_NE(name.find(", 400-470 MHz, point "), std::string::npos) << name;
        }
        EXPECT_EQ(named["reading"], 10);
        EXPECT_EQ(named["final"], 10);
        EXPECT_EQ(named["before"], 10);
    }
}

// A line where every scanned serial is refused aligned nothing: that is no
// success for a line controller.
TEST_F(Line, EverySerialRefusedIsNoSuccess) {
    settings("[line]\r\nserialPattern=LN[0-9]{4}\r\n");
    const LineRun r = line("--json", "bad one\nLN12\n");
    EXPECT_EQ(r.status, 20) << r.err;
    const std::vector<json> events = JsonLines(r.out);
    ASSERT_FALSE(events.empty());
    int refused = 0;
    for (const json& e : events) refused += e["event"] == "serial-refused" ? 1 : 0;
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(events.back()["event"], "end");
    EXPECT_EQ(events.back()["radios"], 0);
    EXPECT_EQ(events.back()["refused_serials"], 2);
    EXPECT_EQ(events.back()["status"], 20);
    EXPECT_NE(r.err.find("no radio was aligned"), std::string::npos) << r.err;
    // No serial at all (the input is empty) refuses nothing: nothing to say.
    EXPECT_EQ(line("--json", "").status, 0);
}

// The fixture's loss creeps from radio 17 on, 1 dB per radio: the line's
// control charts (limits from the first 8 radios) signal at radio 17 and
// raise the alarm at radio 18, confirmed, and not before: a JSON event, a
// line on standard error, a record flagged as the line's drift, and a
// section of records stats.
TEST_F(Line, CreepingFixtureLossRaisesTheLineAlarm) {
    settings("[line]\r\nchartRadios=8\r\n");
    const LineRun r = line("--radios 18 --serial DR --json --virtual-drift 1.0@17");
    // 2 dB lost at radio 18 put high power beyond the range: those points
    // fail (status 1), the low-power points pass and chart.
    ASSERT_TRUE(r.status == 0 || r.status == 1) << r.err;
    std::vector<json> alarms;
    for (const json& e : JsonLines(r.out))
        if (e["event"] == "drift") alarms.push_back(e);
    ASSERT_EQ(alarms.size(), 1u) << r.out;
    EXPECT_EQ(alarms[0]["serial"], "DR-18");
    EXPECT_EQ(alarms[0]["unit"], "dBm");
    EXPECT_EQ(alarms[0]["direction"], "rising");  // less power reaches the instrument: the values go up
    EXPECT_NE(r.err.find("line alarm: dBm"), std::string::npos) << r.err;
    const std::string records = env() + "'" VARNEL_CLI_PATH "' records ";
    ASSERT_EQ(std::system((records + "export --format csv --quiet --event line-alarm >'" + path("alarm.csv") + "'").c_str()), 0);
    const std::string csv = ReadAll(dir_ / "alarm.csv");
    EXPECT_NE(csv.find("line-alarm"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",line-drift,"), std::string::npos) << csv;
    ASSERT_EQ(std::system((records + "stats --quiet >'" + path("stats.txt") + "'").c_str()), 0);
    const std::string stats = ReadAll(dir_ / "stats.txt");
    EXPECT_NE(stats.find("control charts of the final values"), std::string::npos) << stats;
    EXPECT_NE(stats.find("Digital TX Power (High)"), std::string::npos) << stats;
    EXPECT_NE(stats.find("LINE ALARM dBm"), std::string::npos) << stats;
}

// A serial from the options: checked against the pattern before any radio
// is touched; several radios get "-1" to "-N".
TEST_F(Line, SerialsFromTheOptionsAreCheckedFirst) {
    settings("[line]\r\nserialPattern=LN[0-9]{4}(-[0-9])?\r\n");
    const LineRun refused = line("--radios 2 --serial XY1234");
    EXPECT_EQ(refused.status, 2) << refused.err;
    // Said as a person would: no example is set, so only that it does not fit.
    EXPECT_NE(refused.err.find("XY1234-1 does not match this line's serial format"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dir_ / "Default Data")) << "no radio was touched";

    const LineRun two = line("--radios 2 --serial LN1234 --json --quiet");
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.err, "");
    std::vector<std::string> radios;
    for (const json& e : JsonLines(two.out))
        if (e["event"] == "radio") radios.push_back(e["serial"]);
    EXPECT_EQ(radios, (std::vector<std::string>{"LN1234-1", "LN1234-2"}));
}

// The instrument's calibration due date: due today is still good, overdue
// is a warning, in strict mode (option or setting) a refusal before the
// radio with exit status 17; a date that is no date is a usage error.
TEST_F(Line, OverdueInstrumentWarnsOrIsRefusedInStrictMode) {
    struct Case {
        const char* name;
        std::string ini;
        std::string options;
        int status;
        bool warns;
    };
    const Case cases[] = {
        {"due today", "", "--calibration-due " + Day(0), 0, false},
        {"overdue", "", "--calibration-due " + Day(-1), 0, true},
        {"overdue, option over setting", "[instrument]\r\ncalibrationDue=" + Day(30) + "\r\n",
         "--calibration-due " + Day(-1), 0, true},
        {"overdue in setting.ini", "[instrument]\r\ncalibrationDue=" + Day(-1) + "\r\n", "", 0, true},
        {"strict option", "", "--strict --calibration-due " + Day(-1), 17, false},
        {"strict setting", "[line]\r\nstrict=1\r\n[instrument]\r\ncalibrationDue=" + Day(-1) + "\r\n", "", 17, false},
        {"strict, due tomorrow", "[line]\r\nstrict=1\r\n", "--calibration-due " + Day(1), 0, false},
        {"malformed", "", "--calibration-due 2026-02-30", 2, false},
        {"malformed in setting.ini", "[instrument]\r\ncalibrationDue=soon\r\n", "", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_ / "Default Data");
        settings(c.ini);
        const LineRun r = line("--radios 1 --serial SN1 --json --no-records " + c.options);
        EXPECT_EQ(r.status, c.status) << r.err;
        bool warned = false;
        for (const json& e : JsonLines(r.out)) {
            warned = warned || e["event"] == "warning";
            // The run's header says it where a controller looks.
            if (e["event"] == "line") {
                EXPECT_EQ(e["calibration_overdue"], c.warns) << e;
            }
        }
        EXPECT_EQ(warned, c.warns) << r.out;
        EXPECT_EQ(r.err.find("warning: the instrument's calibration was due") != std::string::npos, c.warns) << r.err;
        if (c.status != 0) {
            EXPECT_FALSE(fs::exists(dir_ / "Default Data")) << "refused before the radio";
            EXPECT_EQ(r.out, "");
        }
        if (c.status == 17) {
            EXPECT_NE(r.err.find("strict mode refuses"), std::string::npos) << r.err;
        }
    }
}

TEST_F(Line, MalformedPathLossTableIsAUsageErrorNamingFileAndLine) {
    std::ofstream(dir_ / "bad.csv") << "400,1.5\n470;2.5\n";
    settings("");
    const LineRun r = line("--radios 1 --serial SN1 --path-loss '" + path("bad.csv") + "'");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("bad.csv:2:"), std::string::npos) << r.err;
    const LineRun missing = line("--radios 1 --serial SN1 --path-loss '" + path("none.csv") + "'");
    EXPECT_EQ(missing.status, 9) << missing.err;
}

// Ctrl+C while the first radio is aligned: the run stops at the next
// exchange, the radio is unkeyed (the last live-set sent is a transmit-off),
// the point's record says "stopped", and the tool exits with 16.
TEST_F(Line, CtrlCLeavesTheRadioUnkeyedAndTheRecordSaysStopped) {
    settings("");
    const std::string script = env() + "'" VARNEL_CLI_PATH "' line --virtual-radio=large --instrument virtual "
                               "--procedure '" + path("p.json") + "' --settings '" + path("setting.ini") +
                               "' --data-folder '" + path("Default Data") + "' --serial SN-STOP --radios 3 --json --log "
                               ">'" + path("out.txt") + "' 2>'" + path("err.txt") + "' </dev/null & p=$!; " +
                               "until grep -q '\"event\":\"point\"' '" + path("out.txt") +
                               "' 2>/dev/null; do sleep 0.05; done; kill -INT $p; wait $p";
    std::ofstream(dir_ / "run.sh") << script;
    const int raw = std::system(("timeout -k 5 90 sh '" + path("run.sh") + "'").c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    const std::string out = ReadAll(dir_ / "out.txt"), err = ReadAll(dir_ / "err.txt");
    EXPECT_EQ(WEXITSTATUS(raw), 16) << err;
    const std::vector<json> events = JsonLines(out);
    std::vector<std::string> verdicts;
    for (const json& e : events)
        if (e["event"] == "verdict") verdicts.push_back(e["verdict"]);
    EXPECT_EQ(verdicts, (std::vector<std::string>{"stopped"})) << out;
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"], "end");
    EXPECT_EQ(events.back()["status"], 16);

    // The last live-set (0x0062) sent: the transmit-off (action 1).
    std::string lastLiveSet;
    std::size_t from = 0;
    for (std::size_t eol; (eol = err.find('\n', from)) != std::string::npos; from = eol + 1) {
        const std::string l = err.substr(from, eol - from);
        if (l.find(":   A1  00  62  ") != std::string::npos) lastLiveSet = l;
    }
    ASSERT_FALSE(lastLiveSet.empty()) << err;
    const std::string bytes = lastLiveSet.substr(lastLiveSet.find(":   A1") + 4);
    // A1, 00 62, length (2 bytes), item, action: the action is the seventh byte.
    EXPECT_EQ(bytes.substr(6 * 4, 2), "01") << lastLiveSet;

    const std::vector<json> lines = ocp("SN-STOP-1");
    const std::vector<json> ends = RunArtifacts(lines, "testRunEnd");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0]["status"], "SKIPPED");
    bool stoppedLog = false;
    for (const json& l : lines)
        if (l.contains("testStepArtifact") && l["testStepArtifact"].contains("log"))
            stoppedLog = stoppedLog || l["testStepArtifact"]["log"]["message"].get<std::string>().rfind("stopped", 0) == 0;
    EXPECT_TRUE(stoppedLog);
}

// align reads the same set-up: strict mode refuses an overdue instrument
// there too, and a scanned serial must fit the pattern.
TEST_F(Line, AlignTakesTheLineSetUpToo) {
    settings("[line]\r\nstrict=1\r\nserialPattern=SN[0-9]+\r\n");
    const std::string align = env() + "timeout -k 5 60 '" VARNEL_CLI_PATH "' align --virtual-radio=large --quiet "
                              "--instrument virtual --procedure '" + path("p.json") + "' --settings '" +
                              path("setting.ini") + "' ";
    struct Case {
        std::string options;
        int status;
    };
    const Case cases[] = {
        {"--calibration-due " + Day(-1), 17},
        {"--calibration-due " + Day(0) + " --serial SN12", 0},
        {"--serial XX12", 2},
        {"--path-loss '" + path("fx07.csv") + "' --fixture FX-9 --serial SN13", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const int raw = std::system((align + c.options + " >'" + path("out.txt") + "' 2>'" + path("err.txt") + "'").c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), c.status) << ReadAll(dir_ / "err.txt");
    }
    // The fixture and its table in the records of SN13.
    const std::vector<json> starts = RunArtifacts(ocp("SN13"), "testRunStart");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["parameters"]["fixtureId"], "FX-9");
    EXPECT_EQ(starts[0]["parameters"]["pathLoss"], "400.000:1.50;470.000:2.50");
}

// Serials that the old file names folded together (SN-Ä-3 and SN-Ö-3 both
// "SN-__-3", SN 1, SN.1 and SN/1 all "SN_1") each get an archive and a
// backup of their own, and each "saved" event names its own file.
TEST_F(Line, SerialsThatDifferOnlyInOddCharactersKeepArchivesOfTheirOwn) {
    settings("");
    const char* const serials[] = {"SN-\xC3\x84-3", "SN-\xC3\x96-3", "SN 1", "SN.1", "SN/1", "SN_1"};
    std::string input;
    for (const char* s : serials) input += std::string(s) + "\n";
    const LineRun r = line("--radios 6 --json --quiet", input);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> saved;  // serial -> file
    for (const json& e : JsonLines(r.out))
        if (e["event"] == "saved") saved[e["serial"]] = e["file"];
    ASSERT_EQ(saved.size(), 6u) << r.out;
    std::set<std::string> files;
    for (const char* s : serials) {
        SCOPED_TRACE(s);
        ASSERT_TRUE(saved.count(s));
        const fs::path file = saved[s];
        EXPECT_TRUE(files.insert(file.string()).second) << "shared with another serial: " << file;
        EXPECT_EQ(file.parent_path(), dir_ / "Default Data");
        EXPECT_EQ(fs::file_size(file), 1104u);
    }
    EXPECT_EQ(fs::path(saved["SN 1"]).filename(), "SN_201.tdb");
    EXPECT_EQ(fs::path(saved["SN/1"]).filename(), "SN_2F1.tdb");
    EXPECT_EQ(fs::path(saved["SN-\xC3\x84-3"]).filename(), "SN-_C3_84-3.tdb");
    int backups = 0;
    for (const auto& f : fs::directory_iterator(dir_ / "Default Data" / "backups")) {
        (void)f;
        ++backups;
    }
    EXPECT_EQ(backups, 6);
}

// A misscan that a backtracking engine needed 19 s for, and a line of
// 20,000 characters that crashed it, are refused and the scanner asked
// again; a --serial of 30,000 characters is refused before any radio.
TEST_F(Line, HostileScansAreRefusedAndAskedAgain) {
    settings("[line]\r\nserialPattern=([A-Z0-9]+-?)+\r\n");
    const std::string input = "SN12345678901234567890123456!\n" + std::string(20000, 'A') + "\nSN-42\n";
    const LineRun r = line("--radios 1 --json", input);
    ASSERT_EQ(r.status, 0) << r.err.substr(0, 2000);
    std::vector<std::string> reasons, radios;
    for (const json& e : JsonLines(r.out)) {
        if (e["event"] == "serial-refused") {
            reasons.push_back(e["reason"]);
            EXPECT_LE(e["serial"].get<std::string>().size(), 70u) << "a long scan is shown by its start";
        }
        if (e["event"] == "radio") radios.push_back(e["serial"]);
    }
    ASSERT_EQ(reasons.size(), 2u) << r.out.substr(0, 2000);
    EXPECT_NE(reasons[0].find("SN12345678901234567890123456! does not match this line's serial format"),
              std::string::npos)
        << reasons[0];
    EXPECT_NE(reasons[1].find("longer than 64 characters"), std::string::npos) << reasons[1];
    EXPECT_EQ(radios, (std::vector<std::string>{"SN-42"}));
    EXPECT_EQ(r.err.find(std::string(100, 'A')), std::string::npos) << "the long line is not echoed";

    // A line without end on standard input: read in bounded pieces, refused;
    // no radio was aligned, so the line does not end as a success.
    const LineRun endless = line("--radios 1 --json --quiet", std::string(3000000, 'B'));
    EXPECT_EQ(endless.status, 20) << endless.err.substr(0, 500);
    EXPECT_NE(endless.out.find("longer than 64 characters"), std::string::npos);

    const LineRun option = line("--radios 1 --serial " + std::string(30000, 'A'));
    EXPECT_EQ(option.status, 2) << option.err.substr(0, 500);
    EXPECT_NE(option.err.find("longer than 64 characters"), std::string::npos) << option.err.substr(0, 500);
    EXPECT_FALSE(fs::exists(dir_ / "Default Data" / "backups" / "x")) << "no radio was touched";
}

// A settings file named with --settings that cannot be read stops align
// and line with the file exit code (9), before the radio is touched: a
// typo must not align radios without the fixture's path loss.
TEST_F(Line, AnUnreadableSettingsFileIsRefused) {
    ASSERT_EQ(::mkfifo(path("fifo.ini").c_str(), 0600), 0);
    fs::create_directories(dir_ / "folder.ini");
    const std::string lineCommand = "line --radios 1 --serial SN1 --data-folder '" + path("Default Data") + "'";
    for (const std::string& command : {lineCommand, std::string("align --serial SN1")}) {
        for (const std::string& settingsFile :
             {path("does-not-exist.ini"), path("fifo.ini"), std::string("/dev/zero"), path("folder.ini")}) {
            SCOPED_TRACE(command + " --settings " + settingsFile);
            const std::string run = env() + "timeout -k 5 30 '" VARNEL_CLI_PATH "' " + command +
                                    " --virtual-radio=large --instrument virtual --log --procedure '" +
                                    path("p.json") + "' --settings '" + settingsFile + "' </dev/null >'" +
                                    path("out.txt") + "' 2>'" + path("err.txt") + "'";
            const int raw = std::system(run.c_str());
            ASSERT_TRUE(WIFEXITED(raw));
            const std::string err = ReadAll(dir_ / "err.txt");
            EXPECT_EQ(WEXITSTATUS(raw), 9) << err;
            EXPECT_NE(err.find(settingsFile), std::string::npos) << err;
            EXPECT_EQ(err.find(":   A1  00  03"), std::string::npos) << "the radio was entered";
            EXPECT_FALSE(fs::exists(dir_ / "Default Data"));
        }
    }
    // A readable one is read, as before.
    settings("[fixture]\r\nid=FX-11\r\n");
    const LineRun r = line("--radios 1 --serial SN1 --json --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"fixture\":\"FX-11\""), std::string::npos) << r.out;
}

// A step whose measurement or set-up the instrument model lacks is the
// files' mistake (2), and another instrument than the model's is the
// instrument's failure (15): both found before the radio is entered.
TEST_F(Line, ProcedureAndModelThatDoNotFitAreRefusedBeforeTheRadio) {
    settings("");
    std::ofstream(dir_ / "nopower.json") << R"({"name": "No power meter",
  "identity": "VARNEL,VIRTUAL TEST SET",
  "setups": {"transmit": ["RF:FREQ {freq_hz}"]},
  "measurements": {"voltage": {"query": "MEAS:VOLT?", "unit": "V"}}})";
    std::ofstream(dir_ / "nosetup.json") << R"({"name": "No set-ups",
  "measurements": {"power": {"query": "MEAS:POW?", "unit": "dBm"}}})";
    std::ofstream(dir_ / "other.json") << R"({"name": "Other",
  "identity": "ACME,CTS-9000",
  "setups": {"transmit": ["RF:FREQ {freq_hz}"]},
  "measurements": {"power": {"query": "MEAS:POW?", "unit": "dBm"}}})";
    struct Case {
        const char* model;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"nopower.json", 2, "p.json:2: step 1 (\"High power\"): the instrument model \"No power meter\" has no measurement \"power\""},
        {"nosetup.json", 2, "has no set-up \"transmit\""},
        {"other.json", 15, "expects \"ACME,CTS-9000\""},
    };
    const std::string lineCommand = "line --radios 1 --serial SN1 --data-folder '" + path("Default Data") + "'";
    for (const std::string& command : {lineCommand, std::string("align --serial SN1")}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(command + " --model " + c.model);
            const std::string run = env() + "timeout -k 5 30 '" VARNEL_CLI_PATH "' " + command +
                                    " --virtual-radio=large --instrument virtual --log --procedure '" +
                                    path("p.json") + "' --model '" + path(c.model) + "' --settings '" +
                                    path("setting.ini") + "' </dev/null >'" + path("out.txt") + "' 2>'" +
                                    path("err.txt") + "'";
            const int raw = std::system(run.c_str());
            ASSERT_TRUE(WIFEXITED(raw));
            const std::string err = ReadAll(dir_ / "err.txt");
            EXPECT_EQ(WEXITSTATUS(raw), c.status) << err;
            EXPECT_NE(err.find(c.says), std::string::npos) << err;
            EXPECT_EQ(err.find(":   A1  00  03"), std::string::npos) << "the radio was entered: " << err;
            EXPECT_FALSE(fs::exists(dir_ / "Default Data"));
        }
    }
}
