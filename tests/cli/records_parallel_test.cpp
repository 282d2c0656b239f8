// Several varnel-cli at once on one station (one data folder, so one local
// queue file) with their records on the PostgreSQL server of
// scripts/with-postgres: while the server answers, none warns that records
// wait in the local queue, and every record arrives once. Skipped without
// such a server.
#include <gtest/gtest.h>
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

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

// Twelve radio commands at once, each with two records (entry and leave),
// then an alignment of three virtual radios beside two more of them: before,
// about half warned "N calibration record(s) wait in the local queue"
// because each counted the others' records.
TEST_F(CliRecordsServerParallel, ParallelCommandsOnOneStationNeverWarnWhileTheServerAnswers) {
    const std::string serial = "SN-PAR-" + std::to_string(::getpid()) + "-";
    constexpr int kCommands = 12;
    std::vector<pid_t> running;
    for (int i = 0; i < kCommands; ++i)
        running.push_back(start("info --virtual-radio --quiet --serial " + serial + std::to_string(i), "info" + std::to_string(i)));
    const std::string procedure = std::string(VARNEL_SOURCE_DIR) + "/procedures/variant0.json";
    running.push_back(start("align --procedure " + procedure + " --instrument virtual --virtual-radio --batch 3 --quiet --serial " +
                                serial + "A",
                            "align"));
    for (int i = 0; i < 2; ++i)
        running.push_back(start("info --virtual-radio --quiet --serial " + serial + "L" + std::to_string(i), "late" + std::to_string(i)));
    const std::vector<std::string> names = [&] {
        std::vector<std::string> n;
        for (int i = 0; i < kCommands; ++i) n.push_back("info" + std::to_string(i));
        n.push_back("align");
        n.push_back("late0");
        n.push_back("late1");
        return n;
    }();
    for (std::size_t i = 0; i < running.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const int status = finish(running[i], 110);
        EXPECT_EQ(status, 0) << err(names[i]);
        EXPECT_EQ(err(names[i]).find("wait in the local queue"), std::string::npos) << err(names[i]);
        EXPECT_EQ(err(names[i]).find("warning"), std::string::npos) << err(names[i]);
    }
    // Every record once: an entry and a leave per radio command.
    const pid_t list = start("records list --quiet", "list");
    ASSERT_EQ(finish(list, 60), 0) << err("list");
    const std::string listed = out("list");
    for (int i = 0; i < kCommands; ++i) {
        const std::string mine = serial + std::to_string(i) + " ";
        std::size_t n = 0;
        for (std::size_t at = listed.find(mine); at != std::string::npos; at = listed.find(mine, at + 1)) ++n;
        EXPECT_EQ(n, 2u) << mine << "\n" << listed;
    }
    const pid_t aligned = start("records list --quiet --event align", "aligned");
    ASSERT_EQ(finish(aligned, 60), 0) << err("aligned");
    std::size_t points = 0;
    for (std::size_t at = out("aligned").find(serial + "A"); at != std::string::npos;
         at = out("aligned").find(serial + "A", at + 1))
        ++points;
    const std::string report = out("align");
    EXPECT_GT(points, 0u);
    EXPECT_EQ(points % 3, 0u) << "three radios with the same points";
}
