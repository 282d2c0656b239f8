// Several varnel-cli at once on one station (one data folder, so one local
// queue file) with their records on the PostgreSQL server of
// scripts/with-postgres: while the server answers, none warns that records
// wait in the local queue, and every record arrives once. Skipped without
// such a server.
#include <gtest/gtest.h>

#include "support/CliFiles.h"
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using varnel::clitest::ReadAll;

class CliRecordsServerParallel : public ::testing::Test {
protected:
    void SetUp() override {
        url_ = std::getenv("VARNEL_TEST_POSTGRES") ? std::getenv("VARNEL_TEST_POSTGRES") : "";
        if (url_.empty()) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set (scripts/with-postgres)";
        dir_ = fs::temp_directory_path() / ("varnel-cli-parallel-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    pid_t start(const std::string& args, const std::string& name) {
        const std::string command = "exec env VARNEL_RECORDS_DB='" + url_ + "' XDG_DATA_HOME='" + (dir_ / "data").string() +
                                    "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' '" VARNEL_CLI_PATH "' " + args +
                                    " >'" + (dir_ / (name + ".out")).string() + "' 2>'" + (dir_ / (name + ".err")).string() + "'";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    static int finish(pid_t pid, int seconds) {
        for (int i = 0; i < seconds * 20; ++i) {
            int raw = 0;
            if (::waitpid(pid, &raw, WNOHANG) == pid) return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    std::string err(const std::string& name) const { return ReadAll(dir_ / (name + ".err")); }
    std::string out(const std::string& name) const { return ReadAll(dir_ / (name + ".out")); }

    std::string url_;
    fs::path dir_;
};

}  // namespace

// Three alignments of two virtual radios each, recording a point every few
// milliseconds between them, and twelve radio commands started while they
// run, each with two records (entry and leave): before, a command that saw
// the aligners' records in the queue counted them until its budget ran out
// and warned "N calibration record(s) wait in the local queue" although the
// server answered.
TEST_F(CliRecordsServerParallel, ParallelCommandsOnOneStationNeverWarnWhileTheServerAnswers) {
    const std::string serial = "SN-PAR-" + std::to_string(::getpid()) + "-";
    constexpr int kAligners = 3, kCommands = 12;
    const std::string procedure = std::string(VARNEL_SOURCE_DIR) + "/procedures/variant0.json";
    std::vector<pid_t> running;
    std::vector<std::string> names;
    for (int i = 0; i < kAligners; ++i) {
        names.push_back("align" + std::to_string(i));
        running.push_back(start("align --procedure " + procedure +
                                    " --instrument virtual --virtual-radio --batch 2 --quiet --serial " + serial + "A" +
                                    std::to_string(i),
                                names.back()));
    }
    // The aligners are at their points when the commands come.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (int i = 0; i < kCommands; ++i) {
        names.push_back("info" + std::to_string(i));
        running.push_back(start("info --virtual-radio --quiet --serial " + serial + std::to_string(i), names.back()));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::size_t i = 0; i < running.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const int status = finish(running[i], 110);
        EXPECT_EQ(status, 0) << err(names[i]);
        EXPECT_EQ(err(names[i]).find("wait in the local queue"), std::string::npos) << err(names[i]);
        EXPECT_EQ(err(names[i]).find("warning"), std::string::npos) << err(names[i]);
    }
    // Every record once: an entry and a leave per radio command, the same
    // points for every aligned radio.
    const pid_t list = start("records list --quiet", "list");
    ASSERT_EQ(finish(list, 60), 0) << err("list");
    const std::string listed = out("list");
    const auto count = [&](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    for (int i = 0; i < kCommands; ++i)
        EXPECT_EQ(count(listed, serial + std::to_string(i) + " "), 2u) << serial << i << "\n" << listed;
    const pid_t aligned = start("records list --quiet --event align", "aligned");
    ASSERT_EQ(finish(aligned, 60), 0) << err("aligned");
    const std::size_t points = count(out("aligned"), serial + "A");
    EXPECT_GT(points, 0u);
    EXPECT_EQ(points % (2 * kAligners), 0u) << "six radios with the same points";
}
