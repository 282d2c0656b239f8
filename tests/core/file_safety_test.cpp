// Files handled as a careful program does: FIFOs, devices and folders refused
// at once; saves through symbolic links, over read-only files, in folders that
// are not writable and under long names; profile files with odd endings.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/support/TempFiles.h"
#include "data/Filemanage.h"
#include "lang/Loadlanguage.h"
#include "lang/Profile.h"
#include "util/FileAccess.h"
#include "util/JsonLines.h"

#ifndef _WIN32
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::writeBytes;

[[maybe_unused]] std::string archiveBytes(unsigned seed) {
    std::string s(kArchiveSize, '\0');
    std::uint32_t x = seed * 2654435761u + 7;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 9);
    }
    return s;
}

class FileSafety : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<unsigned> counter{0};
        dir_ = fs::temp_directory_path() /
               ("varnel_files_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
                std::to_string(counter++));
        fs::create_directories(dir_);
        archiveBuffer.fill(0);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
        ResetLanguageState();
        archiveBuffer.fill(0);
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::array<std::uint8_t, kArchiveSize> bufferOf(const std::string& bytes) const {
        std::array<std::uint8_t, kArchiveSize> b{};
        std::copy(bytes.begin(), bytes.end(), b.begin());
        return b;
    }
    fs::path dir_;
};

#ifndef _WIN32

void makeFifo(const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }

// The archive, a language file and setting.ini as a FIFO: no reader waits for
// a writer that never comes; each is refused and the refusal says what it is.
TEST_F(FileSafety, FifoArchiveIsRefusedAtOnce) {
    const fs::path fifo = dir_ / "pipe.tdb";
    makeFifo(fifo);
    archiveBuffer.fill(0x5A);
    const Error error = LoadArchive(fifo, archiveBuffer);
    EXPECT_EQ(error.code(), ErrorCode::NotAFile);
    EXPECT_NE(error.text().find("pipe (FIFO)"), std::string::npos) << error.text();
    EXPECT_NE(error.text().find(fifo.string()), std::string::npos) << error.text();
    EXPECT_TRUE(std::all_of(archiveBuffer.begin(), archiveBuffer.end(), [](std::uint8_t b) { return b == 0x5A; }));
    // Saving over it does not open it either.
    const Error save = SaveArchive(fifo, archiveBuffer.data(), kArchiveSize);
    EXPECT_EQ(save.code(), ErrorCode::NotAFile);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(FileSafety, DeviceArchiveIsRefused) {
    const Error error = LoadArchive("/dev/zero", archiveBuffer);
    EXPECT_EQ(error.code(), ErrorCode::NotAFile);
    EXPECT_NE(error.text().find("is a device"), std::string::npos) << error.text();
    EXPECT_NE(error.text().find("/dev/zero"), std::string::npos) << error.text();
}

// Procedures and instrument models: a FIFO, a device and a folder are
// refused at once, a file above the limit without reading it into memory.
TEST_F(FileSafety, JsonFilesAreRegularAndBounded) {
    makeFifo(dir_ / "pipe.json");
    struct Case {
        fs::path path;
        ErrorCode code;
        const char* says;
    };
    writeBytes(dir_ / "big.json", std::string(kJsonFileLimit + 1, ' '));
    writeBytes(dir_ / "limit.json", "[" + std::string(kJsonFileLimit - 2, ' ') + "]");
    const Case cases[] = {
        {dir_ / "pipe.json", ErrorCode::NotAFile, "pipe (FIFO)"},
        {"/dev/zero", ErrorCode::NotAFile, "is a device"},
        {dir_, ErrorCode::NotAFile, "is a folder"},
        {dir_ / "big.json", ErrorCode::WrongSize, "at most 1048576 bytes"},
    };
    for (const Case& c : cases) {
        Result<JsonDocument> doc = LoadJsonDocument(c.path.string());
        ASSERT_FALSE(doc.ok()) << c.path;
        EXPECT_EQ(doc.error().code(), c.code) << c.path;
        EXPECT_NE(doc.error().text().find(c.says), std::string::npos) << doc.error().text();
    }
    EXPECT_TRUE(LoadJsonDocument((dir_ / "limit.json").string()).ok()) << "a file of exactly the limit is read";
}

// The check a long job makes before it starts: what WriteFileSafely would refuse.
TEST_F(FileSafety, WritableTargetIsCheckedBeforeWriting) {
    makeFifo(dir_ / "pipe.csv");
    writeBytes(dir_ / "locked.csv", "old");
    fs::permissions(dir_ / "locked.csv", fs::perms::owner_read, fs::perm_options::replace);
    writeBytes(dir_ / "open.csv", "old");
    EXPECT_EQ(CheckWritableTarget(dir_ / "pipe.csv").code(), ErrorCode::NotAFile);
    EXPECT_EQ(CheckWritableTarget("/dev/zero").code(), ErrorCode::NotAFile);
    EXPECT_EQ(CheckWritableTarget(dir_ / "locked.csv").code(), ErrorCode::PermissionDenied);
    EXPECT_TRUE(CheckWritableTarget(dir_ / "open.csv").ok());
    EXPECT_TRUE(CheckWritableTarget(dir_ / "new.csv").ok());
    EXPECT_EQ(WriteFileSafely("/dev/zero", "x").code(), ErrorCode::NotAFile) << "no success on a device";
    EXPECT_EQ(readBytes(dir_ / "locked.csv"), "old");
    EXPECT_FALSE(fs::exists(dir_ / "new.csv"));
}

TEST_F(FileSafety, FifoSettingsFileIsRefusedAtStartUp) {
    SetProgramDirectory(dir_);
    makeFifo(dir_ / "setting.ini");
    writeBytes(dir_ / "english.lang", "[Application]\r\nTitle=Varnel Tuner\r\n");
    EXPECT_EQ(ChooseStartupLanguage(), kLanguageEnglish);
    EXPECT_EQ(Text("Application", "Title"), "Varnel Tuner");
    const Error problem = CheckLanguageFiles();
    EXPECT_EQ(problem.code(), ErrorCode::NotAFile);
    EXPECT_NE(problem.text().find((dir_ / "setting.ini").string()), std::string::npos) << problem.text();
    EXPECT_NE(problem.text().find("settings file"), std::string::npos) << problem.text();
    // Storing the language at close refuses it as well, without waiting.
    const Error store = StoreLanguageSetting();
    EXPECT_EQ(store.code(), ErrorCode::NotAFile);
    EXPECT_TRUE(fs::is_fifo(dir_ / "setting.ini"));
}

TEST_F(FileSafety, FifoLanguageFileReadsEmptyAndSaysWhy) {
    SetProgramDirectory(dir_);
    writeBytes(dir_ / "setting.ini", "[setup]\r\nlanguage=chinese\r\n");
    makeFifo(dir_ / "chinese.lang");
    EXPECT_EQ(ChooseStartupLanguage(), kLanguageChinese);
    EXPECT_EQ(Text("MainForm", "S001"), "");
    const Error problem = CheckLanguageFiles();
    EXPECT_EQ(problem.code(), ErrorCode::NotAFile);
    EXPECT_NE(problem.text().find((dir_ / "chinese.lang").string()), std::string::npos) << problem.text();
    EXPECT_NE(problem.text().find("language file"), std::string::npos) << problem.text();
}

TEST_F(FileSafety, FolderAndDeviceAsProfileFile) {
    fs::create_directory(dir_ / "english.lang");
    EXPECT_EQ(ReadProfileString(dir_ / "english.lang", "A", "B", "default"), "default");
    EXPECT_EQ(CheckProfileFile(dir_ / "english.lang").code(), ErrorCode::NotAFile);
    EXPECT_EQ(ReadProfileString("/dev/zero", "A", "B", "default"), "default");
    EXPECT_EQ(CheckProfileFile("/dev/zero").code(), ErrorCode::NotAFile);
    EXPECT_TRUE(CheckProfileFile(dir_ / "missing.lang").ok());
}

// Saving through a symbolic link writes the link's target and keeps the link.
TEST_F(FileSafety, SaveThroughSymbolicLinkKeepsTheLink) {
    fs::create_directory(dir_ / "real");
    writeBytes(dir_ / "real" / "radio.tdb", archiveBytes(1));
    fs::create_symlink("real/radio.tdb", dir_ / "link.tdb");
    const std::string fresh = archiveBytes(2);
    const Error error = SaveArchive(dir_ / "link.tdb", bufferOf(fresh).data(), kArchiveSize);
    ASSERT_TRUE(error.ok()) << error.text();
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.tdb"));
    EXPECT_EQ(fs::read_symlink(dir_ / "link.tdb"), fs::path("real/radio.tdb"));
    EXPECT_EQ(readBytes(dir_ / "real" / "radio.tdb"), fresh);
    EXPECT_EQ(entries(), (std::vector<std::string>{"link.tdb", "real"}));

    // A link whose target does not exist yet: the target is created.
    fs::create_symlink(dir_ / "real" / "new.tdb", dir_ / "dangling.tdb");
    ASSERT_TRUE(SaveArchive(dir_ / "dangling.tdb", bufferOf(fresh).data(), kArchiveSize).ok());
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.tdb"));
    EXPECT_EQ(readBytes(dir_ / "real" / "new.tdb"), fresh);

    // setting.ini behind a link as well.
    writeBytes(dir_ / "real" / "setting.ini", "[setup]\r\nlanguage=english\r\n");
    fs::create_symlink(dir_ / "real" / "setting.ini", dir_ / "setting.ini");
    ASSERT_TRUE(WriteProfileString(dir_ / "setting.ini", "setup", "language", "chinese").ok());
    EXPECT_TRUE(fs::is_symlink(dir_ / "setting.ini"));
    EXPECT_EQ(readBytes(dir_ / "real" / "setting.ini"), "[setup]\r\nlanguage=chinese\r\n");
}

// A read-only archive is refused with the reason, also for a user whom
// permissions do not bind.
TEST_F(FileSafety, ReadOnlyArchiveIsNotReplaced) {
    const fs::path file = dir_ / "locked.tdb";
    const std::string old = archiveBytes(3);
    writeBytes(file, old);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);
    const Error error = SaveArchive(file, bufferOf(archiveBytes(4)).data(), kArchiveSize);
    EXPECT_EQ(error.code(), ErrorCode::PermissionDenied);
    EXPECT_NE(error.text().find("read-only"), std::string::npos) << error.text();
    EXPECT_NE(error.text().find(file.string()), std::string::npos) << error.text();
    EXPECT_EQ(readBytes(file), old);
    EXPECT_EQ(entries(), std::vector<std::string>{"locked.tdb"});
}

// Runs `body` with file-system permission checks of an ordinary user: as the
// superuser, the file-system user id is switched to "nobody" meanwhile.
template <typename Body>
void asOrdinaryUser(Body body) {
    const bool root = ::geteuid() == 0;
    if (root) ::setfsuid(65534);
    body();
    if (root) ::setfsuid(0);
}

// A writable file in a folder that is not writable is still saved, in place.
TEST_F(FileSafety, WritableFileInReadOnlyFolderIsSaved) {
    const fs::path folder = dir_ / "locked";
    fs::create_directory(folder);
    const fs::path file = folder / "radio.tdb";
    writeBytes(file, archiveBytes(5));
    fs::permissions(file, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec & ~fs::perms::others_exec,
                    fs::perm_options::replace);  // rw for everyone
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    const std::string fresh = archiveBytes(6);
    Error error;
    Error missing;
    asOrdinaryUser([&] {
        error = SaveArchive(file, bufferOf(fresh).data(), kArchiveSize);
        missing = SaveArchive(folder / "new.tdb", bufferOf(fresh).data(), kArchiveSize);
    });
    ASSERT_TRUE(error.ok()) << error.text();
    EXPECT_EQ(readBytes(file), fresh);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"radio.tdb"});
    // A new file cannot be made there; the error names the file chosen.
    EXPECT_EQ(missing.code(), ErrorCode::PermissionDenied);
    EXPECT_NE(missing.text().find((folder / "new.tdb").string()), std::string::npos) << missing.text();
    EXPECT_EQ(missing.text().find(".tmp"), std::string::npos) << missing.text();
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
}

// Names up to the system's limit: the temporary name must not be longer.
TEST_F(FileSafety, LongArchiveNamesWork) {
    for (const std::size_t stem : {236u, 251u}) {  // 240 and 255 bytes with ".tdb"
        const fs::path file = dir_ / (std::string(stem, 'r') + ".tdb");
        const std::string bytes = archiveBytes(static_cast<unsigned>(stem));
        const Error saved = SaveArchive(file, bufferOf(bytes).data(), kArchiveSize);
        ASSERT_TRUE(saved.ok()) << saved.text();
        ASSERT_TRUE(SaveArchive(file, bufferOf(bytes).data(), kArchiveSize).ok());  // over the existing one
        std::array<std::uint8_t, kArchiveSize> back{};
        ASSERT_TRUE(LoadArchive(file, back).ok());
        EXPECT_EQ(back, bufferOf(bytes));
        fs::remove(file);
    }
    EXPECT_TRUE(entries().empty());
}

// An archive name that is not valid UTF-8 opens and saves like any other.
TEST_F(FileSafety, NonUtf8NameWorks) {
    const fs::path file = dir_ / std::string("radio-\xFF\xFE-\xC3.tdb");
    const std::string bytes = archiveBytes(8);
    ASSERT_TRUE(SaveArchive(file, bufferOf(bytes).data(), kArchiveSize).ok());
    std::array<std::uint8_t, kArchiveSize> back{};
    const Error loaded = LoadArchive(file, back);
    ASSERT_TRUE(loaded.ok()) << loaded.text();
    EXPECT_EQ(back, bufferOf(bytes));
    EXPECT_NE(LoadArchive(dir_ / std::string("\xFF-missing.tdb"), back).text().find("\xFF-missing.tdb"),
              std::string::npos);
}

#endif  // !_WIN32

// UTF-16LE file of odd length: the key written at its end stays readable.
TEST_F(FileSafety, KeyWrittenIntoOddLengthUtf16FileIsKept) {
    const std::string bom("\xFF\xFE", 2);
    const std::string body = std::string("[\0s\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0", 20);
    const fs::path f = dir_ / "odd.ini";
    // A section header at the end, then half a unit.
    writeBytes(f, bom + body + std::string("[\0t\0]\0", 6) + "A");
    ASSERT_TRUE(WriteProfileString(f, "t", "added", "yes").ok());
    EXPECT_EQ(ReadProfileString(f, "t", "added"), "yes");
    EXPECT_EQ(ReadProfileString(f, "s", "k"), "v");
    // A missing section is appended after the half unit.
    writeBytes(f, bom + body + "B");
    ASSERT_TRUE(WriteProfileString(f, "new", "key", "value").ok());
    EXPECT_EQ(ReadProfileString(f, "new", "key"), "value");
    EXPECT_EQ(ReadProfileString(f, "s", "k"), "v");
}

// A broken GB18030 sequence reads the same at the end of the file as anywhere
// else: one replacement character, and the bytes after its first byte kept.
TEST_F(FileSafety, BrokenGb18030SequenceAtTheEndReadsLikeElsewhere) {
    const fs::path f = dir_ / "gb.lang";
    // "\xC4\xE3" is one Chinese character; "\x81\x30" starts a four-byte
    // sequence that is never finished.
    writeBytes(f, "[s]\r\na=\xC4\xE3\x81\x30\r\nb=\xC4\xE3\x81\x30");
    ASSERT_EQ(DetectProfileEncoding(readBytes(f)), ProfileEncoding::Gb18030);
    const std::string middle = ReadProfileString(f, "s", "a");
    const std::string end = ReadProfileString(f, "s", "b");
    EXPECT_EQ(middle, "\xE4\xBD\xA0\xEF\xBF\xBD" "0");
    EXPECT_EQ(end, middle);
    EXPECT_EQ(Gb18030ToUtf8("\x81"), "\xEF\xBF\xBD");
    EXPECT_EQ(Gb18030ToUtf8("x\x81\x30\x81"), "x\xEF\xBF\xBD" "0\xEF\xBF\xBD");
}

// Error chains in the interface language: keys of section Files are looked up
// in the current language file; a missing text keeps the English.
TEST_F(FileSafety, ErrorTextUsesTheLanguageFile) {
    SetProgramDirectory(dir_);
    writeBytes(dir_ / "english.lang", "[Files]\r\nOpenArchive=Archive refused\r\n");
    OpenLanguage(kLanguageEnglish);
    const Error error = LoadArchive(dir_ / "absent.tdb", archiveBuffer);
    const std::string text = ErrorText(error);
    EXPECT_EQ(text.rfind("Archive refused: ", 0), 0u) << text;
    EXPECT_NE(text.find((dir_ / "absent.tdb").string()), std::string::npos) << text;
    EXPECT_EQ(error.text().rfind("Cannot open the archive; nothing was loaded: ", 0), 0u) << error.text();
}

TEST_F(FileSafety, ErrorTextInChinese) {
    SetProgramDirectory(VARNEL_LANG_DIR);
    OpenLanguage(kLanguageChinese);
    const Error error = LoadArchive(dir_ / "absent.tdb", archiveBuffer);
    const std::string text = ErrorText(error);
    // "Cannot open the tuning archive; nothing was loaded" from chinese.lang.
    EXPECT_EQ(text.rfind("\xE6\x97\xA0\xE6\xB3\x95\xE6\x89\x93\xE5\xBC\x80", 0), 0u) << text;
    EXPECT_NE(text.find((dir_ / "absent.tdb").string()), std::string::npos) << text;
}

}  // namespace
}  // namespace varnel
