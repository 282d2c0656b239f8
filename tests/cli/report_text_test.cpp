// varnel-cli report for a radio whose serial, fixture and station id are not
// UTF-8 and carry terminal escapes: before, no PDF ("input string not valid
// UTF-8", exit 9). Now the page is written and shows those bytes as \xNN.
#include <gtest/gtest.h>

#include "support/CliFiles.h"
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

using varnel::clitest::ReadAll;

class CliReportText : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("varnel-cli-report-text-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const std::string procedure = R"({"name": "two points", "steps": [{"name": "High power", "item": 19,
            "points": [1, 2], "keying": "transmit", "setup": "transmit", "measure": "power", "target": 37.0,
            "tolerance": 0.2, "unit": "dBm", "settle_ms": 25}]})";
        std::ofstream(dir_ / "two.json") << procedure;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs varnel-cli through sh, so that arguments may be made with printf;
    // records in a SQLite file of the test's own data folder.
    int cli(const std::string& args) {
        const std::string command = "env -u VARNEL_RECORDS_DB XDG_DATA_HOME='" + (dir_ / "data").string() +
                                    "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' timeout -k 5 60 '" VARNEL_CLI_PATH
                                    "' " + args + " >'" + (dir_ / "out.txt").string() + "' 2>'" +
                                    (dir_ / "err.txt").string() + "'";
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string err() const { return ReadAll(dir_ / "err.txt"); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

}  // namespace

TEST_F(CliReportText, SerialFixtureAndStationThatAreNotUtf8AreShownEscaped) {
    if (std::system("command -v pdftotext >/dev/null 2>&1") != 0) GTEST_SKIP() << "poppler-utils missing";
    const std::string serial = "\"$(printf 'SN\\377\\033[7m-1')\"";
    const std::string fixture = "\"$(printf 'FX\\376\\001')\"";
    ASSERT_EQ(cli("align --procedure " + path("two.json") + " --instrument virtual --virtual-radio --quiet --serial " +
                  serial + " --fixture " + fixture),
              0)
        << err();
    const int status = cli("report --quiet --serial " + serial + " -o " + path("report.pdf"));
    if (status == 19) GTEST_SKIP() << "this build has no PDF reports";
    ASSERT_EQ(status, 0) << err();
    ASSERT_EQ(std::system(("pdftotext -layout '" + path("report.pdf") + "' '" + path("report.txt") + "'").c_str()), 0);
    const std::string text = ReadAll(path("report.txt"));
    EXPECT_NE(text.find("SN\\xFF\\x1B[7m-1"), std::string::npos) << text;
    EXPECT_NE(text.find("FX\\xFE\\x01"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
}
