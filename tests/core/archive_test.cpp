// Tuner archive files: round trip, refused files, and saves that fail without
// harming the archive already on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/Filemanage.h"
#include "data/Global.h"

#ifdef _WIN32
#include <process.h>
#else
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

long processId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

// A simple generator so that every byte position gets an unrelated value.
std::vector<std::uint8_t> noise(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 11);
    }
    return v;
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetGlobalState();
        archiveBuffer.fill(0);
        // One directory per test and process: ctest may run tests side by side.
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("varnel-archive-") + info->test_suite_name() + "-" + info->name() +
                           "-" + std::to_string(processId());
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
        ResetGlobalState();
        archiveBuffer.fill(0);
    }

    void fillGlobals(std::uint32_t seed) {
        const std::vector<std::uint8_t> bytes = noise(kArchiveSize, seed);
        std::copy(bytes.begin(), bytes.begin() + 256, radioInfo.bytes.begin());
        std::copy(bytes.begin() + 256, bytes.end(), tunerImage.bytes.begin());
    }

    std::vector<std::string> entries(const fs::path& where) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(where)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

TEST_F(ArchiveTest, SaveThenLoadBringsBackEveryByte) {
    fillGlobals(7);
    const RadioInfo info = radioInfo;
    const TunerImage image = tunerImage;
    PackArchive(archiveBuffer);
    EXPECT_TRUE(std::equal(info.bytes.begin(), info.bytes.end(), archiveBuffer.begin()));
    EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.end(), archiveBuffer.begin() + 256));

    const fs::path file = dir_ / "result.tdb";
    Error error = SaveArchive(file, archiveBuffer.data(), kArchiveSize);
    ASSERT_TRUE(error.ok()) << error.text();
    EXPECT_EQ(fs::file_size(file), kArchiveSize);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"result.tdb"});

    ResetGlobalState();
    archiveBuffer.fill(0);
    error = LoadArchive(file, archiveBuffer);
    ASSERT_TRUE(error.ok()) << error.text();
    UnpackArchive(archiveBuffer);
    EXPECT_EQ(radioInfo.bytes, info.bytes);
    EXPECT_EQ(tunerImage.bytes, image.bytes);
    EXPECT_EQ(ArchiveDisplayName(file), fs::path("result.tdb"));
}

TEST_F(ArchiveTest, SaveReplacesAnExistingFile) {
    const fs::path file = dir_ / "a.tdb";
    writeFile(file, noise(2000, 1));
    const std::vector<std::uint8_t> fresh = noise(kArchiveSize, 2);
    ASSERT_TRUE(SaveArchive(file, fresh.data(), fresh.size()).ok());
    EXPECT_EQ(readFile(file), fresh);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"a.tdb"});
}

struct BadSize {
    std::size_t bytes;
    const char* describes;
};

class ArchiveSizeTest : public ArchiveTest, public ::testing::WithParamInterface<BadSize> {};

TEST_P(ArchiveSizeTest, RefusedFileChangesNothing) {
    const BadSize& c = GetParam();
    const fs::path file = dir_ / "short.tdb";
    writeFile(file, noise(c.bytes, 3));

    fillGlobals(11);
    const std::vector<std::uint8_t> staged = noise(kArchiveSize, 5);
    std::copy(staged.begin(), staged.end(), archiveBuffer.begin());
    const RadioInfo info = radioInfo;
    const TunerImage image = tunerImage;

    const Error error = LoadArchive(file, archiveBuffer);
    EXPECT_EQ(error.code(), ErrorCode::WrongSize);
    EXPECT_TRUE(std::equal(staged.begin(), staged.end(), archiveBuffer.begin()));
    EXPECT_EQ(radioInfo.bytes, info.bytes);
    EXPECT_EQ(tunerImage.bytes, image.bytes);

    const std::string text = error.text();
    EXPECT_NE(text.find(file.string()), std::string::npos) << text;
    EXPECT_NE(text.find(c.describes), std::string::npos) << text;
    EXPECT_NE(text.find("1104"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Sizes, ArchiveSizeTest,
                         ::testing::Values(BadSize{0, "holds 0 byte"}, BadSize{1, "holds 1 byte"},
                                           BadSize{300, "holds 300 byte"},
                                           BadSize{1103, "holds 1103 byte"},
                                           BadSize{1105, "holds 1105 byte"},
                                           BadSize{5000, "holds 5000 byte"}));

TEST_F(ArchiveTest, MissingFileIsCannotOpenWithTheReason) {
    const std::vector<std::uint8_t> staged = noise(kArchiveSize, 9);
    std::copy(staged.begin(), staged.end(), archiveBuffer.begin());
    const fs::path file = dir_ / "absent.tdb";
    const Error error = LoadArchive(file, archiveBuffer);
    EXPECT_EQ(error.code(), ErrorCode::FileError);
    EXPECT_TRUE(std::equal(staged.begin(), staged.end(), archiveBuffer.begin()));
    const std::string text = error.text();
    EXPECT_NE(text.find(file.string()), std::string::npos) << text;
    EXPECT_NE(text.find(std::make_error_code(std::errc::no_such_file_or_directory).message()), std::string::npos)
        << text;
}

TEST_F(ArchiveTest, DirectoryIsNotAnArchive) {
    const Error error = LoadArchive(dir_, archiveBuffer);
    EXPECT_EQ(error.code(), ErrorCode::NotAFile);
    EXPECT_NE(error.text().find("is a folder"), std::string::npos) << error.text();
}

TEST_F(ArchiveTest, SaveIntoAMissingDirectoryFails) {
    const fs::path file = dir_ / "no-such-dir" / "x.tdb";
    const Error error = SaveArchive(file, archiveBuffer.data(), kArchiveSize);
    EXPECT_FALSE(error.ok());
    EXPECT_TRUE(entries(dir_).empty());
    const std::string text = error.text();
    EXPECT_NE(text.find(file.string()), std::string::npos) << text;
    EXPECT_NE(text.find(std::make_error_code(std::errc::no_such_file_or_directory).message()), std::string::npos)
        << text;
}

TEST_F(ArchiveTest, SaveOverADirectoryFailsAndLeavesIt) {
    const fs::path target = dir_ / "taken.tdb";
    fs::create_directory(target);
    writeFile(target / "inside", {1, 2, 3});
    const Error error = SaveArchive(target, archiveBuffer.data(), kArchiveSize);
    EXPECT_EQ(error.code(), ErrorCode::NotAFile);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(readFile(target / "inside"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"taken.tdb"});
}

#ifndef _WIN32
// A write that stops part of the way (the file-size limit makes the kernel
// refuse everything past 100 bytes) must leave the old archive alone and no
// temporary file behind.
TEST_F(ArchiveTest, WriteFailingMidwayKeepsTheOldFile) {
    const fs::path file = dir_ / "kept.tdb";
    const std::vector<std::uint8_t> old = noise(kArchiveSize, 31);
    writeFile(file, old);
    const std::vector<std::uint8_t> fresh = noise(kArchiveSize, 32);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Error error = SaveArchive(file, fresh.data(), fresh.size());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(error.ok());
    const std::string text = error.text();
    EXPECT_NE(text.find(std::make_error_code(std::errc::file_too_large).message()), std::string::npos) << text;
    EXPECT_NE(text.find(file.string()), std::string::npos) << text;
    EXPECT_EQ(text.find(".tmp"), std::string::npos) << text;
    EXPECT_EQ(readFile(file), old);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"kept.tdb"});
}
#endif

TEST_F(ArchiveTest, RefusedSaveArgumentsWriteNothing) {
    EXPECT_FALSE(SaveArchive(dir_ / "x.tdb", nullptr, kArchiveSize).ok());
    EXPECT_TRUE(entries(dir_).empty());
}

TEST(ArchiveDisplayNameTest, DropsTheDirectory) {
    EXPECT_EQ(ArchiveDisplayName(fs::path("a") / "b" / "radio 1.tdb"), fs::path("radio 1.tdb"));
    EXPECT_EQ(ArchiveDisplayName(fs::path("plain.tdb")), fs::path("plain.tdb"));
}

}  // namespace
}  // namespace varnel
