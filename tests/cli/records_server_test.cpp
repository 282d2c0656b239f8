// varnel-cli with its records on a PostgreSQL server that stops answering in
// the middle of a command (SIGSTOP; scripts/with-postgres starts the server
// and gives the commands): the command ends, its records wait in the local
// queue with a warning on stderr, and the next run sends them. Skipped
// without such a server.
#include <gtest/gtest.h>

#include "support/CliFiles.h"
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include "../core/support/FrozenServer.h"

namespace fs = std::filesystem;

namespace {

using varnel::clitest::ReadAll;

using varnel::testing::FrozenServer;

class CliRecordsServer : public ::testing::Test {
protected:
    void SetUp() override {
        url_ = std::getenv("VARNEL_TEST_POSTGRES") ? std::getenv("VARNEL_TEST_POSTGRES") : "";
        if (url_.empty() || !std::getenv("VARNEL_TEST_POSTGRES_FREEZE"))
            GTEST_SKIP() << "PostgreSQL tests skipped: no server to stop with SIGSTOP (scripts/with-postgres)";
        dir_ = fs::temp_directory_path() / ("varnel-cli-records-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // Starts varnel-cli with the test server as its records database and its
    // own data folder (the local queue); stdout and stderr go to files.
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
    // The exit status, or -1 when it had not ended after `seconds` (it is then killed).
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
    // How many connections of the tool the server holds, idle (-1 when psql fails).
    int idleConnections() const {
        const std::string command = "psql -X -At '" + url_ +
                                    "' -c \"SELECT count(*) FROM pg_stat_activity WHERE application_name = 'varnel-tuner'"
                                    " AND state = 'idle'\" 2>/dev/null";
        std::FILE* p = ::popen(command.c_str(), "r");
        if (!p) return -1;
        char line[32] = {};
        const bool read = std::fgets(line, sizeof line, p) != nullptr;
        ::pclose(p);
        return read ? std::atoi(line) : -1;
    }

    std::string url_;
    fs::path dir_;
};

}  // namespace

TEST_F(CliRecordsServer, InfoEndsWhileTheServerIsStalledAndTheNextRunSendsItsRecords) {
    const std::string serial = "SN-CLI-STALL-" + std::to_string(::getpid());
    // Every transfer of the virtual radio takes 150 ms: the command is still
    // at the radio when the server stops.
    const pid_t first = start("info --virtual-radio --virtual-faults=delay=150 --serial " + serial, "first");
    ASSERT_GT(first, 0);
    bool connected = false;
    for (int i = 0; i < 200 && !connected; ++i) {
        connected = err("first").find("entering tuner mode") != std::string::npos && idleConnections() >= 1;
        if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(connected) << "varnel-cli never connected to the records server";
    int status = -1;
    {
        FrozenServer server;
        ASSERT_TRUE(server.frozen());
        // Ends after one statement's time-out at most, not when the server goes on.
        status = finish(first, 60);
    }
    ASSERT_NE(status, -1) << "varnel-cli info did not end while the records server was stalled";
    EXPECT_EQ(status, 0) << err("first");
    EXPECT_NE(out("first").find("model"), std::string::npos) << out("first");
    const std::string warning = err("first");
    EXPECT_NE(warning.find("warning: 2 calibration record(s) wait in the local queue"), std::string::npos) << warning;
    EXPECT_NE(warning.find("did not answer within"), std::string::npos) << warning;
    EXPECT_EQ(warning.find("warning: 2 calibration record(s) wait"), warning.rfind("warning: 2 calibration record(s) wait"))
        << "said once";

    // The server answers again: the next run sends the two waiting records first.
    const pid_t second = start("info --virtual-radio --quiet --serial " + serial, "second");
    ASSERT_EQ(finish(second, 60), 0) << err("second");
    EXPECT_EQ(err("second").find("wait in the local queue"), std::string::npos) << err("second");
    const pid_t list = start("records list --quiet --serial " + serial, "list");
    ASSERT_EQ(finish(list, 60), 0) << err("list");
    const std::string listed = out("list");
    std::size_t lines = 0;
    for (std::size_t at = listed.find(serial); at != std::string::npos; at = listed.find(serial, at + 1)) ++lines;
    EXPECT_EQ(lines, 4u) << listed;  // enter and leave of both runs, each once
}
