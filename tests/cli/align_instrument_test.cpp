// varnel-cli align against a misbehaving instrument on loopback: a plain
// SCPI server in the test that answers with bytes that are not UTF-8 (and
// with a foreign identity). The tool must end with a report and its exit
// status, never abort.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

// An instrument that is not the one the model describes is refused before
// the radio is keyed.
TEST_F(AlignInstrument, ForeignIdentityIsRefused) {
    OddInstrument odd("ACME,POWER SUPPLY,1,1.0", "1");
    const Run r = align(odd.port(), "");  // the virtual test set's model
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 3) << r.err;
    const nlohmann::json report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report["points"].size(), 0u);
    const std::string error = report["error"].get<std::string>();
    EXPECT_NE(error.find("ACME,POWER SUPPLY"), std::string::npos) << error;
    EXPECT_NE(error.find("VARNEL,VIRTUAL TEST SET"), std::string::npos) << error;
}
