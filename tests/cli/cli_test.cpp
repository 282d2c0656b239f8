// varnel-cli end to end: every command against the virtual radio, run as the
// installed tool would be, with its exit codes and output.
#include <gtest/gtest.h>

#include "support/CliFiles.h"

#include <algorithm>
#include <array>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

using varnel::clitest::ReadAll;

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("varnel-cli-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs varnel-cli with its own data and config folders (so records go to a
    // fresh SQLite file) and captures both streams. A run that hangs is ended
    // after kRunSeconds and reports status 124 (timeout(1)), so a hang fails
    // its test instead of stopping the suite.
    CliRun cli(const std::string& args) {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string command = "env -u VARNEL_RECORDS_DB XDG_DATA_HOME='" + (dir_ / "data").string() +
                                    "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' timeout -k 5 " +
                                    std::to_string(kRunSeconds) + " '" VARNEL_CLI_PATH "' " + args + " >'" +
                                    out.string() + "' 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        CliRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadAll(out);
        r.err = ReadAll(err);
        return r;
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::vector<std::uint8_t> bytes(const std::string& name) const {
        const std::string s = ReadAll(dir_ / name);
        return std::vector<std::uint8_t>(s.begin(), s.end());
    }
    void write(const std::string& name, const std::vector<std::uint8_t>& b) const {
        std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                           static_cast<std::streamsize>(b.size()));
    }

    static constexpr int kRunSeconds = 20;
    fs::path dir_;
};

// Archive offsets: the image starts at byte 256 of the file.
constexpr std::size_t kImage = 256;
// Item 10 (power, low column), point 3, band 0: image byte 118.
constexpr std::size_t kItem10Point3 = kImage + 118;

}  // namespace

TEST_F(Cli, HelpAndUnknownCommandsAndOptions) {
    CliRun help = cli("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* c : {"backup", "restore", "diff", "dump", "records", "info"})
        EXPECT_NE(help.out.find(c), std::string::npos) << c;
    CliRun backupHelp = cli("backup --help");
    EXPECT_EQ(backupHelp.status, 0);
    EXPECT_NE(backupHelp.out.find("backup FILE"), std::string::npos);

    CliRun unknown = cli("frobnicate --virtual-radio");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("frobnicate"), std::string::npos) << unknown.err;
    CliRun option = cli("backup x.tdb --virtual-radio --colour");
    EXPECT_EQ(option.status, 2);
    EXPECT_NE(option.err.find("--colour"), std::string::npos) << option.err;
    CliRun fault = cli("info --virtual-radio --virtual-faults=meteor");
    EXPECT_EQ(fault.status, 2);
    EXPECT_NE(fault.err.find("meteor"), std::string::npos) << fault.err;
}

TEST_F(Cli, InfoPrintsTheInformationBlock) {
    CliRun r = cli("info --virtual-radio=large --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("model code       : 5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("largeModel       : yes (848-byte tuner image)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("newFirmware      : yes"), std::string::npos) << r.out;
    CliRun small = cli("info --virtual-radio=variant2 --quiet");
    ASSERT_EQ(small.status, 0);
    EXPECT_NE(small.out.find("model variant    : 2"), std::string::npos) << small.out;
    EXPECT_NE(small.out.find("largeModel       : no (512-byte tuner image)"), std::string::npos) << small.out;
}

TEST_F(Cli, BackupAndRestoreRoundTrip) {
    CliRun backup = cli("backup " + path("a.tdb") + " --virtual-radio=large");
    ASSERT_EQ(backup.status, 0) << backup.err;
    EXPECT_NE(backup.err.find("entering tuner mode"), std::string::npos) << "progress lines";
    auto archive = bytes("a.tdb");
    ASSERT_EQ(archive.size(), 1104u);
    EXPECT_EQ(archive[88], 5) << "model code of the large model";
    EXPECT_EQ(archive[128] & 1, 1);
    EXPECT_FALSE(fs::exists(path("a.tdb") + ".tmp"));

    // Change one value and write it: the radio now holds the new value.
    archive[kItem10Point3] = static_cast<std::uint8_t>(archive[kItem10Point3] + 7);
    write("b.tdb", archive);
    CliRun restore = cli("restore " + path("b.tdb") + " --virtual-radio=large --verify");
    ASSERT_EQ(restore.status, 0) << restore.err << restore.out;
    EXPECT_NE(restore.out.find("verified (848 bytes)"), std::string::npos) << restore.out;
    EXPECT_EQ(restore.err.find("warning"), std::string::npos) << "a plausible archive of the radio: " << restore.err;
}

TEST_F(Cli, RestoreRefusesAnotherModelUnlessForced) {
    ASSERT_EQ(cli("backup " + path("large.tdb") + " --virtual-radio=large --quiet").status, 0);
    const auto large = bytes("large.tdb");
    const std::string largeName(reinterpret_cast<const char*>(large.data()));
    CliRun refused = cli("restore " + path("large.tdb") + " --virtual-radio=variant0");
    EXPECT_EQ(refused.status, 3);
    ASSERT_EQ(cli("backup " + path("small.tdb") + " --virtual-radio=variant0 --quiet").status, 0);
    const auto small = bytes("small.tdb");
    const std::string smallName(reinterpret_cast<const char*>(small.data()));
    EXPECT_NE(refused.err.find("\"" + largeName + "\""), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("\"" + smallName + "\""), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("model code 5"), std::string::npos) << refused.err;

    // A variant 1 archive on a variant 0 radio: refused, then written with --force.
    ASSERT_EQ(cli("backup " + path("v1.tdb") + " --virtual-radio=variant1 --quiet").status, 0);
    EXPECT_EQ(cli("restore " + path("v1.tdb") + " --virtual-radio=variant0").status, 3);
    CliRun forced = cli("restore " + path("v1.tdb") + " --virtual-radio=variant0 --force --verify");
    EXPECT_EQ(forced.status, 0) << forced.err << forced.out;
}

TEST_F(Cli, VerifyReportsADifferenceInjectedIntoTheRadio) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --quiet").status, 0);
    auto archive = bytes("a.tdb");
    archive[kItem10Point3] = static_cast<std::uint8_t>(archive[kItem10Point3] ^ 0x55);
    write("b.tdb", archive);
    // The radio keeps its old byte 118 whatever it is sent.
    CliRun r = cli("restore " + path("b.tdb") + " --virtual-radio --verify --virtual-faults=keep-byte=118");
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.out.find("(item 10), 400-470 MHz, point 3: byte 118: archive " +
                         std::to_string(archive[kItem10Point3])),
              std::string::npos)
        << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one difference, one line: " << r.out;
    EXPECT_NE(r.err.find("1 of 512 image bytes differ"), std::string::npos) << r.err;
}

// The write-all's acknowledgement is lost (the radio takes the image, its
// reply is dropped): the outcome is unknown until the image is read back;
// it is never called written before that, and the record says what is known.
TEST_F(Cli, RestoreWithoutAcknowledgementReadsTheImageBack) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --quiet").status, 0);
    auto archive = bytes("a.tdb");
    archive[kItem10Point3] = static_cast<std::uint8_t>(archive[kItem10Point3] + 9);
    write("b.tdb", archive);
    // With this seed the information block comes through and the write's reply is dropped.
    CliRun r = cli("restore " + path("b.tdb") + " --virtual-radio --virtual-faults=drop=0.6,seed=4 --log");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.err.find("outcome unknown"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("the acknowledgement was lost, the image read back is the archive (512 bytes)"),
              std::string::npos)
        << r.out;
    // The write went once (no re-send), then the read-back (0x0060) and the leave.
    const auto count = [&](const std::string& bytes) {
        std::size_t n = 0;
        for (std::size_t at = r.out.find(bytes); at != std::string::npos; at = r.out.find(bytes, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(":   A1  00  63  "), 1u) << r.out;
    EXPECT_GE(count(":   A1  00  60  00  00"), 1u) << r.out;
    CliRun exported = cli("records export --event write-all --quiet");
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find("no acknowledgement; read back: the radio holds it"), std::string::npos)
        << exported.out;
}

TEST_F(Cli, FailuresHaveTheirOwnExitCodes) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --quiet").status, 0);
    EXPECT_EQ(cli("info --virtual-radio --virtual-faults=no-radio").status, 5);
    CliRun denied = cli("backup " + path("x.tdb") + " --virtual-radio --virtual-faults=permission");
    EXPECT_EQ(denied.status, 6);
    EXPECT_FALSE(fs::exists(path("x.tdb")));
    CliRun silent = cli("info --virtual-radio --virtual-faults=no-answer");
    EXPECT_EQ(silent.status, 7);
    EXPECT_NE(silent.err.find("no answer from the radio"), std::string::npos) << silent.err;
    // Transfers the system refuses, and a radio that hangs in the transfer.
    EXPECT_EQ(cli("info --virtual-radio --virtual-faults=refuse --quiet").status, 6);
    EXPECT_EQ(cli("info --virtual-radio --virtual-faults=hang=20 --quiet").status, 7);
    EXPECT_EQ(cli("info --virtual-radio --virtual-faults=bad-checksum").status, 7);
    EXPECT_EQ(cli("info --virtual-radio --virtual-faults=busy").status, 11);
    // A radio that answers late, but within the budget, is fine.
    EXPECT_EQ(cli("info --virtual-radio --virtual-faults=slow=5 --quiet").status, 0);

    write("short.tdb", std::vector<std::uint8_t>(300, 0));
    CliRun size = cli("restore " + path("short.tdb") + " --virtual-radio");
    EXPECT_EQ(size.status, 8);
    EXPECT_NE(size.err.find("300"), std::string::npos) << size.err;
    EXPECT_EQ(cli("restore " + path("missing.tdb") + " --virtual-radio").status, 9);
    EXPECT_EQ(cli("backup " + path("no/such/dir/a.tdb") + " --virtual-radio --quiet").status, 9);
    EXPECT_EQ(cli("dump " + path("short.tdb") + " --format json").status, 8);
    EXPECT_EQ(cli("backup --virtual-radio").status, 2);
}

TEST_F(Cli, LogPrintsEveryExchangeAsALogLine) {
    CliRun r = cli("info --virtual-radio --log --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    // The read-information frame, as the tuning window's log shows it.
    EXPECT_NE(r.out.find(":   A1  00  03  00  00  00  00  A4  \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(":   A1  00  60  00  00  00  00  A4  \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(":   A1  00  61  00  00  00  00  A4  \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(":   A1  80  03  01  01  "), std::string::npos) << "the 265-byte reply";
}

TEST_F(Cli, DiffShowsOnlyWhatDiffers) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --quiet").status, 0);
    CliRun same = cli("diff " + path("a.tdb") + " " + path("a.tdb"));
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "");

    auto b = bytes("a.tdb");
    b[kItem10Point3] = static_cast<std::uint8_t>(b[kItem10Point3] + 1);
    // Band 1 transmit frequency of point 1 becomes 435.050000 MHz (19 EE 56 10).
    const std::array<std::uint8_t, 4> hz = {0x19, 0xEE, 0x56, 0x10};
    std::copy(hz.begin(), hz.end(), b.begin() + kImage + 256);
    write("b.tdb", b);
    const auto a = bytes("a.tdb");
    CliRun diff = cli("diff " + path("a.tdb") + " " + path("b.tdb") + " --lang english");
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_EQ(std::count(diff.out.begin(), diff.out.end(), '\n'), 2) << diff.out;
    EXPECT_NE(diff.out.find("[item 10] 400-470 MHz point 3"), std::string::npos) << diff.out;
    EXPECT_NE(diff.out.find(": " + std::to_string(a[kItem10Point3]) + " -> " + std::to_string(b[kItem10Point3])),
              std::string::npos)
        << diff.out;
    EXPECT_NE(diff.out.find("136-174 MHz point 1: "), std::string::npos) << diff.out;
    EXPECT_NE(diff.out.find(" -> 435.050000 MHz"), std::string::npos) << diff.out;

    CliRun chinese = cli("diff " + path("a.tdb") + " " + path("b.tdb") + " --lang chinese");
    EXPECT_EQ(chinese.status, 1);
    EXPECT_NE(chinese.out, diff.out) << "captions from the Chinese file";
    // The words around the values are Chinese too: no "point", "item" or
    // "->", full-width colon.
    for (const char* english : {"point", "item", "->", ": "})
        EXPECT_EQ(chinese.out.find(english), std::string::npos) << english << "\n" << chinese.out;
    EXPECT_NE(chinese.out.find("[\xE9\xA1\xB9\xE7\x9B\xAE 10] 400-470 MHz \xE9\xA2\x91\xE7\x82\xB9 3"), std::string::npos)
        << chinese.out;  // [项目 10] ... 频点 3
    EXPECT_NE(chinese.out.find("\xEF\xBC\x9A" + std::to_string(a[kItem10Point3]) + " \xE2\x86\x92 " +
                               std::to_string(b[kItem10Point3])),
              std::string::npos)
        << chinese.out;  // "：71 → 72"

    write("short.tdb", std::vector<std::uint8_t>(300, 0));
    EXPECT_EQ(cli("diff " + path("a.tdb") + " " + path("short.tdb")).status, 2);
    EXPECT_EQ(cli("diff " + path("a.tdb")).status, 2);
}

TEST_F(Cli, DumpJsonParsesBackWithEveryValue) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio=large --quiet").status, 0);
    auto a = bytes("a.tdb");
    a[kItem10Point3] = 77;
    std::array<std::uint8_t, 4> hz = {0x19, 0xEE, 0x56, 0x10};
    std::copy(hz.begin(), hz.end(), a.begin() + kImage);  // band 0 TX point 1
    write("a.tdb", a);
    CliRun r = cli("dump " + path("a.tdb") + " --format json");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["info"]["modelCode"], 5);
    EXPECT_EQ(json["info"]["largeModel"], true);
    EXPECT_EQ(json["info"]["newFirmware"], true);
    bool sawItem = false, sawFrequency = false, sawFsk = false;
    for (const auto& v : json["values"]) {
        if (v["item"] == 10 && v["band"] == 0 && v["point"] == 3) {
            EXPECT_EQ(v["value"], 77);
            EXPECT_EQ(v["offset"], 118);
            sawItem = true;
        }
        if (v["kind"] == "tx-frequency" && v["band"] == 0 && v["point"] == 1) {
            EXPECT_EQ(v["value"], 435050000u);
            EXPECT_EQ(v["mhz"], "435.050000");
            sawFrequency = true;
        }
        sawFsk = sawFsk || v["kind"] == "fsk-word";
    }
    EXPECT_TRUE(sawItem);
    EXPECT_TRUE(sawFrequency);
    EXPECT_TRUE(sawFsk) << "a large-model archive carries the FSK blocks";

    CliRun csv = cli("dump " + path("a.tdb") + " --format csv");
    ASSERT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out.substr(0, csv.out.find("\r\n")), "band,caption,key,item,point,kind,offset,value,display");
    EXPECT_NE(csv.out.find(",10,3,array,118,77,77\r\n"), std::string::npos);
    EXPECT_NE(csv.out.find(",1,tx-frequency,0,435050000,435.050000\r\n"), std::string::npos);
    // One row per value: as many CSV rows as JSON values.
    EXPECT_EQ(static_cast<std::size_t>(std::count(csv.out.begin(), csv.out.end(), '\n')) - 1, json["values"].size());
    EXPECT_EQ(cli("dump " + path("a.tdb") + " --format xml").status, 2);
}

TEST_F(Cli, RecordsListShowAndExport) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --serial SN-0042 --quiet").status, 0);
    ASSERT_EQ(cli("restore " + path("a.tdb") + " --virtual-radio --serial SN-0042 --quiet").status, 0);
    ASSERT_EQ(cli("info --virtual-radio --serial SN-0043 --quiet").status, 0);
    ASSERT_TRUE(fs::exists(dir_ / "data" / "varnel-tuner" / "records.sqlite"));
    CliRun list = cli("records list --serial SN-0042 --quiet");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find(" backup "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" write-all "), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("SN-0043"), std::string::npos) << list.out;
    // enter, backup, leave, write-all
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 5) << list.out;
    // Newest first, as the records window shows them: the write-all (the
    // last record of SN-0042) heads the list, and --limit keeps the newest.
    EXPECT_LT(list.out.find(" write-all "), list.out.find(" backup ")) << list.out;
    CliRun newest = cli("records list --limit 2 --quiet");
    ASSERT_EQ(newest.status, 0) << newest.err;
    EXPECT_EQ(std::count(newest.out.begin(), newest.out.end(), '\n'), 3) << newest.out;
    EXPECT_NE(newest.out.find("SN-0043"), std::string::npos) << "the info run is the newest: " << newest.out;
    EXPECT_EQ(newest.out.find(" backup "), std::string::npos) << "the oldest are left out: " << newest.out;
    std::vector<long long> ids;
    for (std::size_t at = newest.out.find('\n') + 1; at < newest.out.size(); at = newest.out.find('\n', at) + 1)
        ids.push_back(std::stoll(newest.out.substr(at)));
    ASSERT_EQ(ids.size(), 2u) << newest.out;
    EXPECT_GT(ids[0], ids[1]) << newest.out;
    CliRun show = cli("records show 2");
    ASSERT_EQ(show.status, 0);
    EXPECT_NE(show.out.find("event         : backup"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find(path("a.tdb")), std::string::npos) << show.out;
    CliRun exported = cli("records export --event enter --output " + path("r.csv"));
    ASSERT_EQ(exported.status, 0) << exported.err;
    const std::string csv = ReadAll(dir_ / "r.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3) << csv;
    CliRun missing = cli("records show 99");
    EXPECT_EQ(missing.status, 14) << missing.err;
    EXPECT_NE(missing.err.find("no such record: 99"), std::string::npos) << missing.err;
    CliRun none = cli("info --virtual-radio --no-records --quiet --serial SN-0044");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(cli("records list --serial SN-0044 --quiet").out.find("SN-0044"), std::string::npos);
}

// ---- the archive check, files, options and exit codes ----

namespace {

// Band 0, point 1 transmit frequency: image bytes 0 to 3.
constexpr std::size_t kBand0Tx1 = kImage + 0;

void PutHertz(std::vector<std::uint8_t>& archive, std::size_t at, std::uint32_t hz) {
    for (int i = 0; i < 4; ++i) archive[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hz >> (24 - 8 * i));
}

const std::string kProcedure = std::string(VARNEL_SOURCE_DIR) + "/procedures/variant0.json";

}  // namespace

TEST_F(Cli, RestoreRefusesAnImplausibleArchiveUnlessForced) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --quiet").status, 0);
    auto archive = bytes("a.tdb");
    PutHertz(archive, kBand0Tx1, 282'600'000);
    write("odd.tdb", archive);

    CliRun refused = cli("restore " + path("odd.tdb") + " --virtual-radio --verify --log");
    EXPECT_EQ(refused.status, 13) << refused.err;
    EXPECT_NE(refused.err.find("point 1: transmit frequency 282.600000 MHz is outside both bands"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out.find(":   A1  00  63"), std::string::npos) << "no write-all was sent: " << refused.out;
    ASSERT_EQ(cli("backup " + path("after.tdb") + " --virtual-radio --quiet").status, 0);
    EXPECT_EQ(bytes("after.tdb"), bytes("a.tdb")) << "the radio holds what it held";
    EXPECT_EQ(cli("records export --event write-all --quiet").out.find("odd.tdb"), std::string::npos);

    CliRun forced = cli("restore " + path("odd.tdb") + " --virtual-radio --verify --force");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.err.find("warning: " + path("odd.tdb") + " does not look like a radio's data"), std::string::npos)
        << forced.err;
    EXPECT_NE(forced.err.find("282.600000 MHz"), std::string::npos) << forced.err;
    const std::string records = cli("records export --event write-all --quiet").out;
    EXPECT_NE(records.find("restore " + path("odd.tdb") + " --force (not plausible)"), std::string::npos) << records;
}

TEST_F(Cli, BackupReplacesAnExistingFileOnlyWithForce) {
    write("kept.tdb", std::vector<std::uint8_t>(10, 0xAB));
    CliRun refused = cli("backup " + path("kept.tdb") + " --virtual-radio --log");
    EXPECT_EQ(refused.status, 9) << refused.err;
    EXPECT_NE(refused.err.find("exists; it was not replaced (--force replaces it)"), std::string::npos) << refused.err;
    EXPECT_EQ(bytes("kept.tdb"), std::vector<std::uint8_t>(10, 0xAB));
    EXPECT_EQ(refused.out, "") << "the radio was not touched";
    CliRun forced = cli("backup " + path("kept.tdb") + " --virtual-radio --force --quiet");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(bytes("kept.tdb").size(), 1104u);
}

// Every file the operator names: a FIFO and a device are refused at once
// (timeout(1) turns a hang into 124), /dev/zero is never read without end or
// written with success, a read-only file is not replaced.
TEST_F(Cli, EveryNamedFileIsHandledSafely) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    write("readonly.txt", {'k', 'e', 'p', 't'});
    fs::permissions(path("readonly.txt"), fs::perms::owner_read | fs::perms::group_read);
    fs::create_directories(path("folder"));
    const std::string align = "align --virtual-radio --instrument virtual --quiet ";
    struct Case {
        std::string args;
        const char* says;
    };
    const std::string fifo = path("fifo"), ro = path("readonly.txt");
    const Case cases[] = {
        {align + "--procedure " + fifo, "pipe (FIFO)"},
        {align + "--procedure /dev/zero", "is a device"},
        {align + "--procedure " + path("folder"), "is a folder, not a file"},
        {align + "--procedure " + kProcedure + " --model " + fifo, "pipe (FIFO)"},
        {align + "--procedure " + kProcedure + " --model /dev/zero", "is a device"},
        {align + "--procedure " + kProcedure + " --json " + fifo, "pipe (FIFO)"},
        {align + "--procedure " + kProcedure + " --json /dev/zero", "is a device"},
        {align + "--procedure " + kProcedure + " --json " + ro, "read-only"},
        {align + "--procedure " + kProcedure + " --csv " + fifo, "pipe (FIFO)"},
        {align + "--procedure " + kProcedure + " --csv " + ro, "read-only"},
        {"records export --output " + fifo, "pipe (FIFO)"},
        {"records export --output /dev/zero", "is a device"},
        {"records export --output " + ro, "read-only"},
        {"backup " + ro + " --force --virtual-radio", "read-only"},
        {"backup " + fifo + " --force --virtual-radio", "pipe (FIFO)"},
        {"restore " + fifo + " --virtual-radio", "pipe (FIFO)"},
        {"dump /dev/zero", "is a device"},
    };
    for (const Case& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.status, 9) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.find("syntax error"), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(ReadAll(ro), "kept");
    EXPECT_TRUE(fs::is_fifo(fs::status(fifo)));
}

TEST_F(Cli, OversizedAndMalformedProceduresAreTold) {
    write("big.json", std::vector<std::uint8_t>(2 * 1024 * 1024, ' '));
    write("broken.json", {'{'});
    const std::string align = "align --virtual-radio --instrument virtual --quiet --procedure ";
    CliRun big = cli(align + path("big.json"));
    EXPECT_EQ(big.status, 8) << big.err;
    EXPECT_NE(big.err.find("at most 1048576 bytes"), std::string::npos) << big.err;
    CliRun broken = cli(align + path("broken.json"));
    EXPECT_EQ(broken.status, 2) << broken.err;
    EXPECT_NE(broken.err.find("broken.json:1:"), std::string::npos) << broken.err;
}

TEST_F(Cli, AlignIsACommandLikeTheOthers) {
    // The report on stdout and atomically in both files; the log on stderr.
    CliRun run = cli("align --procedure " + kProcedure + " --instrument virtual --virtual-radio --log --json " +
                     path("r.json") + " --csv " + path("r.csv"));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["failed"], 0);
    EXPECT_GT(report["passed"].get<int>(), 0);
    EXPECT_EQ(nlohmann::json::parse(ReadAll(path("r.json"))), report);
    EXPECT_EQ(ReadAll(path("r.csv")).substr(0, 5), "step,");
    EXPECT_NE(run.err.find(":   A1  00  03  00  00  00  00  A4  \n"), std::string::npos) << "log lines on stderr";
    for (const auto& e : fs::directory_iterator(dir_)) EXPECT_NE(e.path().extension(), ".tmp") << e.path();

    CliRun quiet = cli("align --procedure " + kProcedure + " --instrument virtual --virtual-radio --quiet --no-records");
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    CliRun noRadio =
        cli("align --procedure " + kProcedure + " --instrument virtual --virtual-radio --virtual-faults=no-radio");
    EXPECT_EQ(noRadio.status, 5) << noRadio.err;
    CliRun otherModel = cli("align --procedure " + std::string(VARNEL_SOURCE_DIR) +
                            "/procedures/large.json --instrument virtual --virtual-radio=variant0 --quiet");
    EXPECT_EQ(otherModel.status, 3) << otherModel.err;
    CliRun unreachable = cli("align --procedure " + kProcedure + " --instrument tcp://127.0.0.1:1 --virtual-radio");
    EXPECT_EQ(unreachable.status, 15) << unreachable.err;
}

TEST_F(Cli, AlignmentRunsExportAsOcpOutputAndLineStatistics) {
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(cli("align --procedure " + kProcedure + " --instrument virtual --virtual-radio --quiet --serial SN-7")
                      .status,
                  0);
    CliRun ocp = cli("records export --format ocp --serial SN-7 --quiet");
    ASSERT_EQ(ocp.status, 0) << ocp.err;
    std::vector<nlohmann::json> starts;
    std::size_t from = 0;
    for (std::size_t eol; (eol = ocp.out.find('\n', from)) != std::string::npos; from = eol + 1) {
        const auto line = nlohmann::json::parse(ocp.out.substr(from, eol - from));
        if (line.contains("testRunArtifact") && line["testRunArtifact"].contains("testRunStart"))
            starts.push_back(line["testRunArtifact"]["testRunStart"]);
    }
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0]["parameters"]["retestCount"], 0);
    EXPECT_EQ(starts[1]["parameters"]["retestCount"], 1);
    EXPECT_EQ(starts[1]["parameters"]["procedureSha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(starts[1]["dutInfo"]["dutInfoId"], "SN-7");
    // The same into a file.
    ASSERT_EQ(cli("records export --format ocp --serial SN-7 --quiet --output " + path("run.ocp")).status, 0);
    EXPECT_EQ(ReadAll(path("run.ocp")), ocp.out);
    // Two runs of the radio, the first one its first pass; one row for this station.
    CliRun stats = cli("records stats --by station --quiet");
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_EQ(stats.out.substr(0, 7), "STATION");
    EXPECT_NE(stats.out.find(" 2 "), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find(" 1/1 "), std::string::npos) << stats.out;
}

TEST_F(Cli, AFailedPointIsExitCodeOneAndTheReportNeutralisesFormulas) {
    // One point whose target lies beyond what the radio can reach.
    const std::string procedure = R"json({"name": "unreachable", "model": "virtual variant0", "large_model": false,
      "steps": [{"name": "=SUM(1)", "item": 19, "points": [1], "keying": "transmit", "setup": "transmit",
                 "measure": "power", "target": 99.0, "tolerance": 0.2, "unit": "dBm", "range": [0, 255],
                 "direction": "raises", "settle_ms": 5, "first_step": 8, "max_tries": 4, "save": "step"}]})json";
    write("p.json", std::vector<std::uint8_t>(procedure.begin(), procedure.end()));
    CliRun r = cli("align --procedure " + path("p.json") + " --instrument virtual --virtual-radio --quiet --format csv");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("\n\"'=SUM(1)\","), std::string::npos) << r.out;
}

// Three virtual radios in a row, each recorded: the second and the third
// start from the records of those before and need fewer tries; with
// --no-history every radio searches from its own values.
TEST_F(Cli, AlignBatchLearnsFromTheRadiosBefore) {
    std::ofstream(path("p.json")) << R"({"name": "Power", "steps": [
      {"name": "High power", "item": 19, "points": [1, 2, 3, 4, 5], "keying": "transmit", "setup": "transmit",
       "measure": "power", "target": 37.0, "tolerance": 0.2, "unit": "dBm", "settle_ms": 25},
      {"name": "Low power", "item": 18, "points": [1, 2, 3, 4, 5], "keying": "transmit", "setup": "transmit",
       "measure": "power", "target": 30.0, "tolerance": 0.2, "unit": "dBm", "settle_ms": 25}]})";
    const std::string align = "align --procedure " + path("p.json") + " --instrument virtual --virtual-radio ";
    struct Case {
        const char* options;
        int radios;
        bool history;
    };
    const Case cases[] = {{"--batch 3", 3, true}, {"--batch 2 --no-history", 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        fs::remove_all(dir_ / "data");
        const CliRun r = cli(align + c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        const nlohmann::json batch = nlohmann::json::parse(r.out);
        ASSERT_EQ(batch["radios"].size(), static_cast<std::size_t>(c.radios));
        EXPECT_EQ(batch["first_pass_yield"], 100.0);
        std::vector<double> tries;
        for (int i = 0; i < c.radios; ++i) {
            const nlohmann::json& report = batch["radios"][static_cast<std::size_t>(i)]["report"];
            ASSERT_EQ(report["points"].size(), 10u);
            int sum = 0;
            for (const nlohmann::json& p : report["points"]) {
                EXPECT_EQ(p["result"], "pass");
                EXPECT_NEAR(p["reading"].get<double>(), p["target"].get<double>(), p["tolerance"].get<double>());
                sum += p["tries"].get<int>();
                if (i == 0 || !c.history) {
                    EXPECT_TRUE(p["prediction"].is_null());
                } else {
                    EXPECT_EQ(p["prediction"]["history"], i);
                }
            }
            tries.push_back(sum / 10.0);
            EXPECT_NE(r.err.find("radio " + std::to_string(i + 1) + "/" + std::to_string(c.radios) + " "),
                      std::string::npos) << r.err;
        }
        if (c.history) {
            EXPECT_LT(tries[1], tries[0]);
            EXPECT_LT(tries[2], tries[0]);
        }
        EXPECT_NE(r.err.find("batch: " + std::to_string(c.radios) + " radios"), std::string::npos) << r.err;
        // Each radio went to the records under a serial of its own.
        const CliRun listed = cli("records list --serial VB0000000002 --event align");
        EXPECT_EQ(listed.status, 0) << listed.err;
        EXPECT_NE(listed.out.find("VB0000000002"), std::string::npos) << listed.out;
        // Band and item by name, as the records window shows them.
        EXPECT_NE(listed.out.find(" 400-470 MHz "), std::string::npos) << listed.out;
        EXPECT_EQ(listed.out.find(" item "), std::string::npos) << "every item has its caption: " << listed.out;
    }
}

// The cable is pulled in the middle of the first step: no point whose value
// did not reach the radio's store is a pass, in the report, the records,
// the OCP output or the line statistics; every point is counted once.
TEST_F(Cli, AlignmentThatLostTheRadioRecordsNoPass) {
    CliRun run = cli("align --procedure " + kProcedure +
                     " --instrument virtual --virtual-radio --virtual-faults=unplug-after=15 --serial SN-9");
    EXPECT_EQ(run.status, 5) << run.err;
    const auto report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["complete"], false);
    EXPECT_EQ(report["passed"], 0);
    EXPECT_EQ(report["marginal"], 0);
    const int points = report["point_count"].get<int>();
    EXPECT_EQ(points, static_cast<int>(report["points"].size()));
    EXPECT_EQ(report["failed"].get<int>() + report["stopped_points"].get<int>() + report["not_reached"].get<int>(),
              points);
    EXPECT_GT(report["not_reached"].get<int>(), 0);
    for (const auto& p : report["points"]) {
        EXPECT_NE(p["result"], "pass") << p.dump();
        // What the radio stores is what the report names as the final value.
        if (p["result"] != "not-reached") {
            EXPECT_EQ(p["final_value"], p["stored_value"]) << p.dump();
        }
    }
    CliRun csv = cli("records export --serial SN-9 --event align --quiet");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.find(",pass,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find(",not-reached,"), std::string::npos) << csv.out;
    CliRun saves = cli("records export --serial SN-9 --event save-item --quiet");
    EXPECT_NE(saves.out.find("not confirmed"), std::string::npos) << saves.out;
    CliRun ocp = cli("records export --format ocp --serial SN-9 --quiet");
    EXPECT_EQ(ocp.out.find("\"result\":\"PASS\""), std::string::npos) << ocp.out;
    CliRun stats = cli("records stats --quiet");
    EXPECT_NE(stats.out.find(" 0/1 "), std::string::npos) << stats.out;
}

TEST_F(Cli, CtrlCStopsTheAlignmentWithItsOwnExitCode) {
    // Ctrl+C once the first point is done (its progress line is on stderr).
    const std::string err = path("err.txt");
    const std::string script = "env -u VARNEL_RECORDS_DB XDG_DATA_HOME='" + path("data") + "' XDG_CONFIG_HOME='" +
                               path("config") + "' '" VARNEL_CLI_PATH "' align --procedure " + kProcedure +
                               " --instrument virtual --virtual-radio >/dev/null 2>'" + err +
                               "' & p=\\$!; until grep -q ' point ' '" + err +
                               "'; do sleep 0.05; done; kill -INT \\$p; wait \\$p";
    const int raw = std::system(("timeout -k 5 " + std::to_string(kRunSeconds) + " sh -c \"" + script + "\"").c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    const std::string said = ReadAll(err);
    EXPECT_EQ(WEXITSTATUS(raw), 16) << said;
    EXPECT_NE(said.find("stopped by the operator"), std::string::npos) << said;
}

TEST_F(Cli, OptionsArgumentsAndNumbersAreChecked) {
    const char* const usage[] = {
        "info -x --virtual-radio",
        "info extra --virtual-radio",
        "diff a.tdb b.tdb c.tdb",
        "records list extra",
        "info --virtual-radio --quiet=yes",
        "align --procedure p.json --instrument virtual --virtual-radio --timeout 99999999999",
        "align --procedure p.json --instrument virtual --virtual-radio --timeout 0",
        "align --procedure p.json --instrument virtual --virtual-radio extra",
        "align --procedure p.json --instrument virtual --virtual-radio --colour",
        "align --instrument virtual --virtual-radio",
        "align --procedure p.json --instrument virtual",
        "align --procedure p.json --instrument virtual --virtual-radio --batch 0",
        "align --procedure p.json --instrument virtual --virtual-radio --batch 1001",
        "align --procedure p.json --instrument tcp://127.0.0.1:1 --batch 3",
        "align --procedure p.json --instrument virtual --virtual-radio --batch 3 --format csv",
        "records list --limit 99999999999",
        "records list --limit -1",
        "records show 99999999999999999999",
        "records show 0",
        "records show 12abc",
        "records stats --by week",
        "records list --by station",
        "records export --format json",
        "records list --format ocp",
        "dump a.tdb --format xml",
    };
    for (const char* args : usage) {
        const CliRun r = cli(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << args;
    }
    CliRun gpib = cli("align --procedure " + kProcedure + " --instrument gpib://7 --virtual-radio");
    EXPECT_EQ(gpib.status, 2) << "a malformed address is a usage error: " << gpib.err;
    // "--" ends the options: a file whose name starts with a dash.
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --quiet").status, 0);
    fs::copy_file(path("a.tdb"), dir_ / "-dash.tdb");
    const std::string dashed = "'" + (dir_ / "-dash.tdb").string() + "'";
    EXPECT_EQ(cli("dump --format csv -- " + dashed).status, 0);
}

TEST_F(Cli, RecordsShowANumberThatIsNoRecord) {
    ASSERT_EQ(cli("info --virtual-radio --quiet").status, 0);
    EXPECT_EQ(cli("records show 1").status, 0);
    CliRun r = cli("records show 99999");
    EXPECT_EQ(r.status, 14) << r.err;
    EXPECT_NE(r.err.find("no such record: 99999"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("database"), std::string::npos) << r.err;
}

TEST_F(Cli, ExportsNeutraliseFormulasAndTerminalsSeeNoEscapes) {
    const std::string formula = "=HYPERLINK(\"http://x\")";
    ASSERT_EQ(cli("info --virtual-radio --quiet --serial '" + formula + "'").status, 0);
    ASSERT_EQ(cli("info --virtual-radio --quiet --serial -42").status, 0);
    ASSERT_EQ(cli("info --virtual-radio --quiet --serial \"$(printf '\\033]0;owned\\007\\033[2J')\"").status, 0);
    CliRun exported = cli("records export --event enter --output " + path("r.csv"));
    ASSERT_EQ(exported.status, 0) << exported.err;
    const std::string csv = ReadAll(path("r.csv"));
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",-42,"), std::string::npos) << "a plain negative number stays a number: " << csv;

    CliRun list = cli("records list --quiet");
    ASSERT_EQ(list.status, 0);
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos) << "no escape reaches the terminal";
    EXPECT_EQ(list.out.find('\x07'), std::string::npos);
    EXPECT_NE(list.out.find("\\x1B]0;owned\\x07\\x1B[2J"), std::string::npos) << list.out;
    CliRun show = cli("records show 5");  // the third run's entry
    EXPECT_EQ(show.out.find('\x1b'), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("serial        : \\x1B]0;owned"), std::string::npos) << show.out;
}

TEST_F(Cli, DumpShowsFrequenciesFromTwoToTheThirtyFirstUnsigned) {
    ASSERT_EQ(cli("backup " + path("a.tdb") + " --virtual-radio --quiet").status, 0);
    auto archive = bytes("a.tdb");
    PutHertz(archive, kBand0Tx1, 0x9000'0000u);  // 2 415 919 104 Hz
    PutHertz(archive, kBand0Tx1 + 4, 0xFFFF'FFFFu);
    write("high.tdb", archive);
    CliRun json = cli("dump " + path("high.tdb") + " --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    std::vector<std::string> shown;
    const auto dumped = nlohmann::json::parse(json.out);
    for (const auto& v : dumped["values"])
        if (v["kind"] == "tx-frequency" && v["band"] == 0 && v["point"].get<int>() <= 2)
            shown.push_back(v["mhz"].get<std::string>());
    EXPECT_EQ(shown, (std::vector<std::string>{"2415.919104", "4294.967295"}));
    CliRun csv = cli("dump " + path("high.tdb") + " --format csv");
    EXPECT_NE(csv.out.find(",1,tx-frequency,0,2415919104,2415.919104\r\n"), std::string::npos) << csv.out;
    EXPECT_EQ(csv.out.find(",-"), std::string::npos) << csv.out;
}

// The report of a radio: one A4 page with its serial, verdict and readings;
// a radio without records, a record that does not exist and a missing serial
// have exit codes of their own.
TEST_F(Cli, ReportPrintsOnePageOfTheRadiosLatestRun) {
    CliRun none = cli("report --serial SN-NONE --quiet -o " + path("none.pdf"));
    if (none.status == 19) GTEST_SKIP() << "this build has no PDF reports: " << none.err;
    EXPECT_EQ(none.status, 18) << none.err;
    EXPECT_NE(none.err.find("SN-NONE"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(path("none.pdf")));
    EXPECT_EQ(cli("report --quiet").status, 2);
    EXPECT_EQ(cli("report --serial SN-R --record x").status, 2);

    CliRun align = cli("align --procedure " + kProcedure + " --instrument virtual --virtual-radio --quiet --serial SN-R");
    ASSERT_EQ(align.status, 0) << align.err;
    const auto result = nlohmann::json::parse(align.out);
    ASSERT_FALSE(result["points"].empty());
    char reading[32];
    std::snprintf(reading, sizeof reading, "%.2f", result["points"][0]["reading"].get<double>());

    struct Case {
        const char* language;
        const char* file;
        const char* title;
        const char* verdict;
    };
    const Case cases[] = {{"english", "en.pdf", "Alignment report", "PASS"},
                          {"chinese", "zh.pdf", "\u6821\u51c6\u62a5\u544a", "\u5408\u683c"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        CliRun report = cli(std::string("report --serial SN-R --lang ") + c.language + " -o " + path(c.file));
        ASSERT_EQ(report.status, 0) << report.err;
        EXPECT_NE(report.err.find(path(c.file)), std::string::npos) << report.err;
        ASSERT_TRUE(fs::exists(path(c.file)));
        const fs::path text = dir_ / "text.txt", pages = dir_ / "info.txt";
        ASSERT_EQ(std::system(("pdftotext -layout '" + path(c.file) + "' '" + text.string() + "'").c_str()), 0);
        ASSERT_EQ(std::system(("pdfinfo '" + path(c.file) + "' > '" + pages.string() + "'").c_str()), 0);
        const std::string page = ReadAll(text);
        const std::string info = ReadAll(pages);
        ASSERT_NE(info.find("Pages:"), std::string::npos) << info;
        EXPECT_EQ(std::atoi(info.c_str() + info.find("Pages:") + 6), 1) << info;
        for (const char* word : {"SN-R", c.title, c.verdict, static_cast<const char*>(reading)})
            EXPECT_NE(page.find(word), std::string::npos) << word << "\n" << page;
    }
    // The run of a record (the newest alignment point's, from records list),
    // a record that is no alignment point, and one that is not there.
    CliRun list = cli("records list --event align --serial SN-R --quiet");
    ASSERT_EQ(list.status, 0) << list.err;
    const std::size_t row = list.out.find('\n') + 1;  // after the header line
    const std::string id = list.out.substr(row, list.out.find(' ', row) - row);
    CliRun byRecord = cli("report --record " + id + " --quiet --output " + path("first.pdf"));
    EXPECT_EQ(byRecord.status, 0) << id << ": " << byRecord.err;
    EXPECT_TRUE(fs::exists(path("first.pdf")));
    CliRun entry = cli("report --record 1 --quiet --output " + path("entry.pdf"));
    EXPECT_EQ(entry.status, 2) << "record 1 is the entry, no alignment point: " << entry.err;
    EXPECT_EQ(cli("report --record 999999 --quiet -o " + path("x.pdf")).status, 14);
}

// --since and --until are times (ISO 8601, UTC); any other text is a usage
// error, never a text compared with the records' times.
TEST_F(Cli, RecordsTimesAreReadNotComparedAsText) {
    ASSERT_EQ(cli("info --virtual-radio --serial SN-TIME --quiet").status, 0);
    for (const char* bad : {"garbage", "\"' OR '1'='1\"", "2026-13-01", "yesterday", "\"2026-12-09 OR 1\""}) {
        SCOPED_TRACE(bad);
        for (const char* option : {"--since", "--until"}) {
            const CliRun r = cli(std::string("records list ") + option + " " + bad);
            EXPECT_EQ(r.status, 2) << r.err;
            EXPECT_NE(r.err.find("is not a time"), std::string::npos) << r.err;
            EXPECT_EQ(r.out, "") << "nothing listed";
        }
        EXPECT_EQ(cli(std::string("records export --since ") + bad).status, 2);
        EXPECT_EQ(cli(std::string("records stats --until ") + bad).status, 2);
    }
    struct Case {
        std::string options;
        bool listed;
    };
    const Case cases[] = {
        {"--since 2000-01-01", true},
        {"--since 2999-01-01", false},
        {"--until 2000-01-01T00:00:00Z", false},
        {"--until 2999-12-31T23:59", true},
        {"--since 2000-01-01T01:00:00+01:00 --until 2999-01-01", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const CliRun r = cli("records list --serial SN-TIME --quiet " + c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("SN-TIME") != std::string::npos, c.listed) << r.out;
    }
}

// The exit codes are listed in three places: varnel-cli --help, the manual
// page and the README's table. They name the same codes, and the README
// says each code's meaning in its table only (its prose quotes the rows).
TEST_F(Cli, ExitCodesAreOneTable) {
    const auto codesIn = [](const std::string& text, const std::string& start, const std::string& row,
                            const std::string& stop) {
        std::vector<int> codes;
        std::size_t at = text.find(start);
        if (at == std::string::npos) return codes;
        const std::size_t end = text.find(stop, at + start.size());
        for (at = text.find(row, at); at != std::string::npos && at < end; at = text.find(row, at + 1))
            codes.push_back(std::atoi(text.c_str() + at + row.size()));
        return codes;
    };
    const std::string readme = ReadAll(fs::path(VARNEL_SOURCE_DIR) / "README.md");
    const std::string manual = ReadAll(fs::path(VARNEL_SOURCE_DIR) / "dist" / "varnel-cli.1");
    const std::vector<int> table = codesIn(readme, "| Exit code | Meaning |", "\n| ", "\n\n");
    const std::vector<int> page = codesIn(manual, ".SH EXIT STATUS", "\n.B ", "\n.SH");
    std::vector<int> expected(21);
    for (int i = 0; i < 21; ++i) expected[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(table, expected);
    EXPECT_EQ(page, expected);
    const CliRun help = cli("--help");
    const std::size_t listed = help.out.find("exit codes:");
    ASSERT_NE(listed, std::string::npos) << help.out;
    for (int code : expected) {
        EXPECT_NE(help.out.find(" " + std::to_string(code) + " ", listed), std::string::npos) << code << "\n" << help.out;
    }
    // No prose of the README says "exits with N" for the report.
    EXPECT_EQ(readme.find("record exits with"), std::string::npos);
    // A radio without an alignment record ends as the table's row says.
    const std::size_t row = readme.find("`report`: the radio has no alignment record |");
    ASSERT_NE(row, std::string::npos);
    const std::size_t bar = readme.rfind("\n| ", row);
    const int code = std::atoi(readme.c_str() + bar + 3);
    EXPECT_EQ(cli("report --serial NONE-SUCH --quiet -o " + path("none.pdf")).status, code);
}
