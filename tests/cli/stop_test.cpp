// How varnel-cli ends when it is told to, or when nobody reads its output,
// and on a radio that hangs: SIGTERM, SIGHUP and SIGQUIT in the middle of
// an alignment or a line, the reader of standard error or standard output
// gone mid-run, a backup stopped while it enters tuner mode, and a radio that
// takes a frame and then hangs every transfer. The virtual radio tells how it
// was left (VARNEL_VIRTUAL_RADIO_STATE): never keyed, out of tuner mode, and
// the last frames it took are the transmit-off and the leave.
#include <gtest/gtest.h>

#include "support/CliFiles.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    for (std::size_t eol; (eol = text.find('\n', from)) != std::string::npos; from = eol + 1) {
        const std::string line = text.substr(from, eol - from);
        if (!line.empty()) lines.push_back(json::parse(line, nullptr, false));
    }
    return lines;
}

const char* const kProcedure = varnel::clitest::kPowerProcedure;

// Command codes of the frames (hex, as the state file lists them).
constexpr const char* kLiveSet = "0062";
constexpr const char* kLeave = "0061";

// Code of a frame in hex ("A1 00 62 ..." gives "0062"); its live-set action.
std::string CodeOf(const std::string& hex) { return hex.size() >= 6 ? hex.substr(2, 4) : std::string(); }
std::string ActionOf(const std::string& hex) { return hex.size() >= 14 ? hex.substr(12, 2) : std::string(); }

struct CliRun {
    int status = -1;
    std::string out, err;
    json state;  // the virtual radio at the end
};

class Stop : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("varnel-stop-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "p.json") << kProcedure;
        std::ofstream(dir_ / "setting.ini") << "";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string env() const {
        return "env -u VARNEL_RECORDS_DB XDG_DATA_HOME='" + path("data") + "' XDG_CONFIG_HOME='" + path("config") +
               "' VARNEL_VIRTUAL_RADIO_STATE='" + path("state.json") + "' ";
    }
    std::string align(const std::string& more) const {
        return env() + "'" VARNEL_CLI_PATH "' align --virtual-radio=large --instrument virtual --no-history "
                       "--procedure '" + path("p.json") + "' --settings '" + path("setting.ini") + "' " + more;
    }
    std::string line(const std::string& more) const {
        return env() + "'" VARNEL_CLI_PATH "' line --virtual-radio=large --instrument virtual --no-history "
                       "--procedure '" + path("p.json") + "' --settings '" + path("setting.ini") +
                       "' --data-folder '" + path("Default Data") + "' " + more;
    }

    // Runs a shell script (bounded) and collects what it left.
    CliRun script(const std::string& text, bool statusFromFile = false) {
        std::ofstream(dir_ / "run.sh") << text;
        const int raw = std::system(("timeout -k 5 90 sh '" + path("run.sh") + "'").c_str());
        CliRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (statusFromFile) r.status = std::atoi(ReadAll(dir_ / "status").c_str());
        r.out = ReadAll(dir_ / "out.txt");
        r.err = ReadAll(dir_ / "err.txt");
        r.state = json::parse(ReadAll(dir_ / "state.json"), nullptr, false);
        return r;
    }

    // The command in the background; once `marker` shows in `file`, the signal.
    CliRun signalWhen(const std::string& command, const std::string& file, const std::string& marker,
                   const std::string& signal) {
        return script(command + " >'" + path("out.txt") + "' 2>'" + path("err.txt") + "' </dev/null & p=$!; " +
                      "until grep -q '" + marker + "' '" + path(file) + "' 2>/dev/null; do sleep 0.05; done; kill -" +
                      signal + " $p; wait $p");
    }

    // The radio as the command left it: not keyed, out of tuner mode; the
    // last live-set it took unkeys (action 1, transmit off) and the leave
    // came after it.
    void expectLeftUnkeyed(const CliRun& r) {
        ASSERT_TRUE(r.state.is_object()) << "no state of the virtual radio";
        EXPECT_FALSE(r.state["transmitting"].get<bool>());
        EXPECT_FALSE(r.state["receiving"].get<bool>());
        EXPECT_FALSE(r.state["tuner_mode"].get<bool>());
        const std::vector<std::string> frames = r.state["frames"].get<std::vector<std::string>>();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(CodeOf(frames.back()), kLeave) << frames.back();
        std::string lastLiveSet;
        for (const std::string& f : frames)
            if (CodeOf(f) == kLiveSet) lastLiveSet = f;
        ASSERT_FALSE(lastLiveSet.empty());
        EXPECT_EQ(ActionOf(lastLiveSet), "01") << lastLiveSet;
    }

    // The records of one serial: the run ended as stopped (OCP "SKIPPED",
    // a log line "stopped ...").
    void expectRecordedStopped(const std::string& serial) {
        const std::string command = env() + "'" VARNEL_CLI_PATH "' records export --format ocp --quiet --serial " +
                                    serial + " >'" + path("ocp.txt") + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        bool ended = false, stoppedLog = false;
        for (const json& l : JsonLines(ReadAll(dir_ / "ocp.txt"))) {
            if (l.contains("testRunArtifact") && l["testRunArtifact"].contains("testRunEnd")) {
                EXPECT_EQ(l["testRunArtifact"]["testRunEnd"]["status"], "SKIPPED");
                ended = true;
            }
            if (l.contains("testStepArtifact") && l["testStepArtifact"].contains("log"))
                stoppedLog = stoppedLog ||
                             l["testStepArtifact"]["log"]["message"].get<std::string>().rfind("stopped", 0) == 0;
        }
        EXPECT_TRUE(ended);
        EXPECT_TRUE(stoppedLog);
    }

    fs::path dir_;
};

}  // namespace

// A termination request (timeout, a service manager) in the middle of an
// alignment: the run stops at the next exchange like Ctrl+C, the radio is
// unkeyed and left, the record says "stopped", exit 16 naming the signal.
TEST_F(Stop, TermDuringAlignUnkeysLeavesAndRecords) {
    const CliRun r = signalWhen(align("--serial SN-TERM --log"), "err.txt", "point 1: pass", "TERM");
    EXPECT_EQ(r.status, 16) << r.err;
    EXPECT_NE(r.err.find("stopped by the operator (SIGTERM)"), std::string::npos) << r.err;
    expectLeftUnkeyed(r);
    expectRecordedStopped("SN-TERM");
}

// A closed terminal or SSH connection (SIGHUP) and SIGQUIT end the line the
// same way: verdict "stopped", the end event with status 16.
TEST_F(Stop, HangupAndQuitDuringLineUnkeyAndLeave) {
    for (const char* signal : {"HUP", "QUIT"}) {
        SCOPED_TRACE(signal);
        const std::string serial = std::string("SN-") + signal;
        const CliRun r = signalWhen(line("--serial " + serial + " --radios 2 --json"), "out.txt", "\"event\":\"point\"",
                                 signal);
        EXPECT_EQ(r.status, 16) << r.err;
        const std::vector<json> events = JsonLines(r.out);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()["event"], "end");
        EXPECT_EQ(events.back()["status"], 16);
        std::vector<std::string> verdicts;
        for (const json& e : events)
            if (e["event"] == "verdict") verdicts.push_back(e["verdict"]);
        EXPECT_EQ(verdicts, (std::vector<std::string>{"stopped"}));
        expectLeftUnkeyed(r);
        expectRecordedStopped(serial + "-1");
    }
}

// A log reader that exits early (`varnel-cli align --log 2>&1 | head`): the
// write to the closed pipe is no fatal SIGPIPE; the run stops, unkeys and
// leaves, and the record says so.
TEST_F(Stop, ClosedStandardErrorStopsTheRun) {
    const CliRun r = script("{ " + align("--serial SN-PIPE --log") + " 2>&1 >'" + path("out.txt") +
                             "'; echo $? >'" + path("status") + "'; } | head -c 3000 >/dev/null",
                         true);
    EXPECT_EQ(r.status, 16);
    expectLeftUnkeyed(r);
    expectRecordedStopped("SN-PIPE");
}

// A line controller that stops reading the JSON events: the line stops the
// same way, with its log on standard error to show it.
TEST_F(Stop, ClosedStandardOutputStopsTheLine) {
    const CliRun r = script("{ " + line("--serial SN-OUT --radios 3 --json --log") + " 2>'" + path("err.txt") +
                             "'; echo $? >'" + path("status") + "'; } | head -c 400 >/dev/null",
                         true);
    EXPECT_EQ(r.status, 16) << r.err;
    EXPECT_NE(r.err.find("standard output was closed"), std::string::npos) << r.err;
    expectLeftUnkeyed(r);
}

// The short radio commands: a termination request while backup enters
// tuner mode (the radio answers slowly here) leaves tuner mode again, saves
// no archive and exits 16.
TEST_F(Stop, TermDuringBackupLeavesTunerMode) {
    const CliRun r = signalWhen(env() + "'" VARNEL_CLI_PATH "' backup '" + path("radio.tdb") +
                                 "' --virtual-radio=large --no-records --virtual-faults=slow=60",
                             "err.txt", "entering", "TERM");
    EXPECT_EQ(r.status, 16) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "radio.tdb"));
    ASSERT_TRUE(r.state.is_object());
    EXPECT_FALSE(r.state["tuner_mode"].get<bool>());
    const std::vector<std::string> frames = r.state["frames"].get<std::vector<std::string>>();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(CodeOf(frames.back()), kLeave);
}

// A radio that takes a frame and then lets every transfer hang: the command
// ends with "it hangs" (exit 7) after one poll budget and one more attempt
// once the hung transfer is over, instead of a time-out per poll tick; no
// frame is queued behind the hung transfer (the frames sent are the ones the
// radio took).
TEST_F(Stop, RadioThatHangsAfterAFrame) {
    std::ofstream(dir_ / "setting.ini") << "";
    const std::string backup = env() + "'" VARNEL_CLI_PATH "' backup '" + path("radio.tdb") +
                               "' --virtual-radio=large --no-records --quiet >/dev/null";
    ASSERT_EQ(std::system(backup.c_str()), 0);
    struct Case {
        std::string command;
        unsigned frames;  // the radio takes these, then hangs
    };
    const Case cases[] = {
        {env() + "'" VARNEL_CLI_PATH "' restore '" + path("radio.tdb") +
             "' --virtual-radio=large --no-records --log --virtual-faults=hang-after=1",
         1},
        {env() + "'" VARNEL_CLI_PATH "' restore '" + path("radio.tdb") +
             "' --verify --virtual-radio=large --no-records --log --virtual-faults=hang-after=3",
         3},
        {align("--no-records --log --virtual-faults=hang-after=8"), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const CliRun r = script(c.command + " >'" + path("out.txt") + "' 2>'" + path("err.txt") + "'");
        EXPECT_EQ(r.status, 7) << r.err;
        EXPECT_NE(r.err.find("(it hangs)"), std::string::npos) << r.err;
        const std::string log = r.out + r.err;
        unsigned sent = 0;
        for (std::size_t at = log.find("Send:"); at != std::string::npos; at = log.find("Send:", at + 1)) ++sent;
        EXPECT_EQ(sent, c.frames) << log;
        ASSERT_TRUE(r.state.is_object());
        EXPECT_EQ(r.state["frames"].size(), c.frames);
    }
}
