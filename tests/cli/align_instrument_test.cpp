// varnel-cli align against a misbehaving instrument on loopback: a plain
// SCPI server in the test that answers with bytes that are not UTF-8 (and
// with a foreign identity). The tool must end with a report and its exit
// status, never abort.
#include <gtest/gtest.h>

#include "support/CliFiles.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Answers every query line with `reply` (and *IDN? with `identity`), one
// client at a time, until stopped.
class OddInstrument {
public:
    OddInstrument(std::string identity, std::string reply)
        : identity_(std::move(identity)), reply_(std::move(reply)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 4);
        socklen_t length = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~OddInstrument() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    int port() const { return port_; }

private:
    void serve() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) continue;
            std::string buffer;
            while (!stop_) {
                pollfd c{fd, POLLIN, 0};
                if (::poll(&c, 1, 50) <= 0) continue;
                char chunk[1024];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0) break;
                buffer.append(chunk, static_cast<std::size_t>(n));
                for (auto nl = buffer.find('\n'); nl != std::string::npos; nl = buffer.find('\n')) {
                    const std::string line = buffer.substr(0, nl);
                    buffer.erase(0, nl + 1);
                    if (line.empty() || line.back() != '?') continue;
                    const std::string answer = (line == "*IDN?" ? identity_ : reply_) + "\n";
                    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                }
            }
            ::close(fd);
        }
    }

    std::string identity_, reply_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

using varnel::clitest::ReadAll;

const char* const kProcedure = R"({
  "name": "High power only",
  "steps": [
    {"name": "High power 400-470 MHz", "item": 19, "points": [1, 2], "keying": "transmit",
     "setup": "transmit", "measure": "power", "target": 37.0, "tolerance": 0.2, "unit": "dBm",
     "settle_ms": 5}
  ]
}
)";

// The virtual test set's model without its identity, confirmation and
// error queue, so that the odd replies reach the measurement.
const char* const kPlainModel = R"({
  "name": "Plain",
  "identify": "*IDN?",
  "error_query": "",
  "setups": {"transmit": ["RF:FREQ {freq_hz}"]},
  "measurements": {"power": {"query": "MEAS:POW?", "unit": "dBm"}},
  "settle_ms": 5
}
)";

class AlignInstrument : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("varnel-align-instrument-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "five.json") << kProcedure;
        std::ofstream(dir_ / "plain.json") << kPlainModel;
    }
    void TearDown() override { fs::remove_all(dir_); }

    struct Run {
        bool exited = false;
        int status = -1;
        std::string out, err;
    };
    Run align(int port, const std::string& extra) {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string command = "env -u VARNEL_RECORDS_DB XDG_DATA_HOME='" + (dir_ / "data").string() +
                                    "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' '" VARNEL_CLI_PATH
                                    "' align --virtual-radio=variant0 --no-records --timeout 500 --procedure '" +
                                    (dir_ / "five.json").string() + "' --instrument tcp://127.0.0.1:" +
                                    std::to_string(port) + " " + extra + " >'" + out.string() + "' 2>'" +
                                    err.string() + "'";
        const int raw = std::system(command.c_str());
        Run r;
        r.exited = WIFEXITED(raw);
        r.status = r.exited ? WEXITSTATUS(raw) : -1;
        r.out = ReadAll(out);
        r.err = ReadAll(err);
        return r;
    }
    fs::path dir_;
};

}  // namespace

// Readings that are not UTF-8: before, the JSON report threw and the tool
// aborted (exit 134, no report), even with --format csv.
TEST_F(AlignInstrument, NonUtf8RepliesEndWithAReport) {
    OddInstrument odd("ODD,\xff\xfe INSTRUMENT", "\xff\xfe+3.7E+01\x1b[2J");
    for (const char* format : {"csv", "json"}) {
        SCOPED_TRACE(format);
        const Run r = align(odd.port(), std::string("--format ") + format + " --model '" +
                                            (dir_ / "plain.json").string() + "' --json '" +
                                            (dir_ / "report.json").string() + "'");
        ASSERT_TRUE(r.exited) << r.err;
        EXPECT_EQ(r.status, 15) << r.err;  // ended early: the instrument gave no reading
        const std::string json = ReadAll(dir_ / "report.json");
        nlohmann::json report;
        ASSERT_NO_THROW(report = nlohmann::json::parse(json)) << json;
        EXPECT_EQ(report["complete"], false);
        // The point it ended on, then the points it did not come to.
        ASSERT_EQ(report["points"].size(), 1u + report["not_reached"].get<std::size_t>());
        for (std::size_t i = 1; i < report["points"].size(); ++i) EXPECT_EQ(report["points"][i]["result"], "not-reached");
        const std::string note = report["points"][0]["note"].get<std::string>();
        EXPECT_NE(note.find("\\xFF\\xFE+3.7E+01\\x1B[2J"), std::string::npos) << note;
        if (std::string(format) == "csv") {
            EXPECT_EQ(r.out.rfind("step,item,band,point,", 0), 0u) << r.out;
        } else {
            nlohmann::json out;
            EXPECT_NO_THROW(out = nlohmann::json::parse(r.out)) << r.out;
        }
        // No terminal escape from the instrument reaches the tool's output.
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    }
}

// An instrument that is not the one the model describes is the
// instrument's failure (15), refused before the radio is entered.
TEST_F(AlignInstrument, ForeignIdentityIsRefused) {
    OddInstrument odd("ACME,POWER SUPPLY,1,1.0", "1");
    const Run r = align(odd.port(), "--log");  // the virtual test set's model
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 15) << r.err;
    EXPECT_NE(r.err.find("ACME,POWER SUPPLY"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("VARNEL,VIRTUAL TEST SET"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(":   A1  00  03"), std::string::npos) << "the radio was entered: " << r.err;
}

// A procedure whose step aligns an item its measurement does not measure is
// refused before anything is touched, with the file and line: CTCSS
// deviation on "Max Dev. (Wide)" (item 12; CTCSS Dev. (Wide) is 13).
TEST_F(AlignInstrument, ItemThatDoesNotFitItsMeasureIsRefused) {
    std::ofstream(dir_ / "wrong.json") << R"({
  "name": "CTCSS",
  "steps": [
    {"name": "CTCSS deviation 400-470 MHz", "item": 12, "points": [1, 2], "keying": "transmit",
     "setup": "transmit", "measure": "deviation", "target": 700, "tolerance": 25, "unit": "Hz"}
  ]
}
)";
    const std::string command = "env -u VARNEL_RECORDS_DB '" VARNEL_CLI_PATH "' align --virtual-radio=large --no-records "
                                "--instrument virtual --procedure '" + (dir_ / "wrong.json").string() + "' >'" +
                                (dir_ / "out.txt").string() + "' 2>'" + (dir_ / "err.txt").string() + "'";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 2);
    const std::string err = ReadAll(dir_ / "err.txt");
    EXPECT_NE(err.find("wrong.json:5:"), std::string::npos) << err;
    EXPECT_NE(err.find("item 12"), std::string::npos) << err;
    // The shipped procedure of the large model is taken and aligns it.
    for (const char* name : {"large"}) {
        SCOPED_TRACE(name);
        const std::string check = "env -u VARNEL_RECORDS_DB '" VARNEL_CLI_PATH "' align --virtual-radio=large "
                                  "--no-records --instrument virtual --procedure '" VARNEL_SOURCE_DIR "/procedures/" +
                                  std::string(name) + ".json' --format csv >'" + (dir_ / "out.txt").string() +
                                  "' 2>'" + (dir_ / "err.txt").string() + "'";
        const int status = std::system(check.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << ReadAll(dir_ / "err.txt");
        EXPECT_EQ(ReadAll(dir_ / "err.txt").find("is refused"), std::string::npos) << ReadAll(dir_ / "err.txt");
    }
}

// An overdue instrument (outside strict mode) flags every point's record,
// and the report CSV names items and bands besides their numbers.
TEST_F(AlignInstrument, OverdueInstrumentFlagsTheRecords) {
    const std::time_t yesterday = std::time(nullptr) - 86400;
    std::tm local{};
    localtime_r(&yesterday, &local);
    char due[16];
    std::strftime(due, sizeof due, "%Y-%m-%d", &local);
    const std::string env = "env -u VARNEL_RECORDS_DB XDG_DATA_HOME='" + (dir_ / "data").string() +
                            "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' '" VARNEL_CLI_PATH "' ";
    const std::string run = env + "align --virtual-radio=large --serial OV-1 --instrument virtual --procedure '" +
                            (dir_ / "five.json").string() + "' --calibration-due " + due + " --format csv >'" +
                            (dir_ / "out.txt").string() + "' 2>'" + (dir_ / "err.txt").string() + "'";
    const int raw = std::system(run.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    ASSERT_EQ(WEXITSTATUS(raw), 0) << ReadAll(dir_ / "err.txt");
    const std::string report = ReadAll(dir_ / "out.txt");
    EXPECT_NE(report.find(",item_name,band_name\n"), std::string::npos) << report;
    EXPECT_NE(report.find(",Digital TX Power (High),400-470 MHz\n"), std::string::npos) << report;
    ASSERT_EQ(std::system((env + "records export --format csv --quiet --event align --serial OV-1 >'" +
                           (dir_ / "records.csv").string() + "'").c_str()),
              0);
    const std::string csv = ReadAll(dir_ / "records.csv");
    std::size_t flagged = 0;
    for (std::size_t at = csv.find(",calibration-overdue,"); at != std::string::npos;
         at = csv.find(",calibration-overdue,", at + 1))
        ++flagged;
    EXPECT_EQ(flagged, 2u) << csv;  // both points
}
