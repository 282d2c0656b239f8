#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/support/TempFiles.h"
#include "lang/Profile.h"

namespace fs = std::filesystem;
using varnel::DetectProfileEncoding;
using varnel::ProfileEncoding;
using varnel::ReadProfileString;
using varnel::WriteProfileString;

namespace {

using varnel::test::TempDir;
using varnel::test::readBytes;
using varnel::test::writeBytes;
using varnel::test::directoryEntries;

// UTF-8 to UTF-16LE for building fixtures (valid input only).
std::string utf16le(const std::string& utf8) {
    std::string out;
    const auto put = [&](unsigned u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(utf8[i + k]); };
        unsigned cp;
        if (b(0) < 0x80) {
            cp = b(0);
            i += 1;
        } else if (b(0) < 0xE0) {
            cp = ((b(0) & 0x1Fu) << 6) | (b(1) & 0x3Fu);
            i += 2;
        } else if (b(0) < 0xF0) {
            cp = ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
            i += 3;
        } else {
            cp = ((b(0) & 0x07u) << 18) | ((b(1) & 0x3Fu) << 12) | ((b(2) & 0x3Fu) << 6) | (b(3) & 0x3Fu);
            i += 4;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

const std::string kBomUtf8 = "\xEF\xBB\xBF";
const std::string kBomUtf16 = "\xFF\xFE";

// "你好，对讲机" and "中文值" in GB18030, and a character outside the BMP
// ("😀", four bytes in GB18030).
const std::string kHelloGb = "\xC4\xE3\xBA\xC3\xA3\xAC\xB6\xD4\xBD\xB2\xBB\xFA";
const std::string kHelloUtf8 = "你好，对讲机";
const std::string kSmileGb = "\x94\x39\xFC\x36";
const std::string kSmileUtf8 = "😀";

}  // namespace

// ---- encodings ----

struct EncodingCase {
    const char* name;
    ProfileEncoding encoding;
    const char* lineEnd;
};

class ProfileEncodings : public ::testing::TestWithParam<EncodingCase> {
protected:
    // The file's bytes for a UTF-8 text, in the case's encoding.
    static std::string encode(const EncodingCase& c, const std::string& text) {
        switch (c.encoding) {
            case ProfileEncoding::Utf8:
                return text;
            case ProfileEncoding::Utf8Bom:
                return kBomUtf8 + text;
            case ProfileEncoding::Utf16LeBom:
                return kBomUtf16 + utf16le(text);
            case ProfileEncoding::Gb18030:
                return varnel::Utf8ToGb18030(text);
        }
        return text;
    }
    static std::string sample(const std::string& eol) {
        return "; 注释 comment" + eol + "[Setup]" + eol + "Language=chinese" + eol + "[Text]" + eol +
               "Greeting = " + kHelloUtf8 + eol + "Smile=" + kSmileUtf8 + eol + "Plain=ascii only" + eol;
    }
    TempDir dir;
};

TEST_P(ProfileEncodings, DetectsAndReadsAsUtf8) {
    const EncodingCase& c = GetParam();
    const fs::path file = dir / "sample.ini";
    const std::string bytes = encode(c, sample(c.lineEnd));
    writeBytes(file, bytes);

    EXPECT_EQ(DetectProfileEncoding(bytes), c.encoding);
    EXPECT_EQ(ReadProfileString(file, "Setup", "Language"), "chinese");
    EXPECT_EQ(ReadProfileString(file, "Text", "Greeting"), kHelloUtf8);
    EXPECT_EQ(ReadProfileString(file, "Text", "Smile"), kSmileUtf8);
    EXPECT_EQ(ReadProfileString(file, "Text", "Plain"), "ascii only");
    EXPECT_EQ(ReadProfileString(file, "Text", "Missing", "dflt"), "dflt");
}

TEST_P(ProfileEncodings, WriteKeepsTheFileEncodingAndOtherLines) {
    const EncodingCase& c = GetParam();
    const fs::path file = dir / "sample.ini";
    const std::string eol = c.lineEnd;
    writeBytes(file, encode(c, sample(eol)));

    ASSERT_TRUE(WriteProfileString(file, "Text", "Greeting", "中文值").ok());
    ASSERT_TRUE(WriteProfileString(file, "Text", "Added", "新").ok());

    // Exactly the old file with the one value replaced and the key added at
    // the end of its section, in the same encoding and line ends.
    const std::string expected = "; 注释 comment" + eol + "[Setup]" + eol + "Language=chinese" + eol +
                                 "[Text]" + eol + "Greeting = 中文值" + eol + "Smile=" + kSmileUtf8 +
                                 eol + "Plain=ascii only" + eol + "Added=新" + eol;
    EXPECT_EQ(readBytes(file), encode(c, expected));
    EXPECT_EQ(DetectProfileEncoding(readBytes(file)), c.encoding);
    EXPECT_EQ(ReadProfileString(file, "Text", "Greeting"), "中文值");
    EXPECT_EQ(ReadProfileString(file, "Text", "Added"), "新");
}

INSTANTIATE_TEST_SUITE_P(
    AllEncodings, ProfileEncodings,
    ::testing::Values(EncodingCase{"Utf8Crlf", ProfileEncoding::Utf8, "\r\n"},
                      EncodingCase{"Utf8Lf", ProfileEncoding::Utf8, "\n"},
                      EncodingCase{"Utf8BomCrlf", ProfileEncoding::Utf8Bom, "\r\n"},
                      EncodingCase{"Utf8BomLf", ProfileEncoding::Utf8Bom, "\n"},
                      EncodingCase{"Utf16LeCrlf", ProfileEncoding::Utf16LeBom, "\r\n"},
                      EncodingCase{"Utf16LeLf", ProfileEncoding::Utf16LeBom, "\n"},
                      EncodingCase{"Gb18030Crlf", ProfileEncoding::Gb18030, "\r\n"},
                      EncodingCase{"Gb18030Lf", ProfileEncoding::Gb18030, "\n"}),
    [](const ::testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

TEST(ProfileGb18030, ConvertsKnownBytesBothWays) {
    EXPECT_EQ(varnel::Gb18030ToUtf8(kHelloGb), kHelloUtf8);
    EXPECT_EQ(varnel::Utf8ToGb18030(kHelloUtf8), kHelloGb);
    EXPECT_EQ(varnel::Gb18030ToUtf8(kSmileGb), kSmileUtf8);
    EXPECT_EQ(varnel::Utf8ToGb18030(kSmileUtf8), kSmileGb);
    // A lead byte without its trail byte is replaced, not dropped silently
    // along with what follows.
    EXPECT_EQ(varnel::Gb18030ToUtf8("A\xC4"), "A\xEF\xBF\xBD");
}

TEST(ProfileGb18030, ChineseAnsiFileRoundTrip) {
    TempDir dir;
    const fs::path file = dir / "gbk.ini";
    // Bytes as a Chinese Windows editor saves them in the ANSI code page.
    const std::string original = "; \xD7\xA2\xCA\xCD\r\n[Text]\r\nHello=" + kHelloGb + "\r\nOther=1\r\n";
    writeBytes(file, original);
    ASSERT_EQ(DetectProfileEncoding(original), ProfileEncoding::Gb18030);
    EXPECT_EQ(ReadProfileString(file, "Text", "Hello"), kHelloUtf8);

    ASSERT_TRUE(WriteProfileString(file, "Text", "Hello", "中文值").ok());
    EXPECT_EQ(readBytes(file), "; \xD7\xA2\xCA\xCD\r\n[Text]\r\nHello=\xD6\xD0\xCE\xC4\xD6\xB5\r\nOther=1\r\n");
    EXPECT_EQ(ReadProfileString(file, "Text", "Hello"), "中文值");
}

TEST(ProfileUtf8, StrictValidation) {
    struct Case {
        const char* bytes;
        bool valid;
    };
    const Case cases[] = {
        {"plain ascii", true},
        {"\xE4\xB8\xAD\xE6\x96\x87", true},  // 中文
        {"\xF0\x9F\x98\x80", true},          // U+1F600
        {"\xC0\xAF", false},                 // overlong '/'
        {"\xE0\x80\xAF", false},             // overlong, three bytes
        {"\xED\xA0\x80", false},             // surrogate
        {"\xF4\x90\x80\x80", false},         // above U+10FFFF
        {"\xE4\xB8", false},                 // truncated
        {"\x80", false},                     // lone continuation byte
        {"\xC4\xE3\xBA\xC3", false},         // GBK "你好"
    };
    for (const Case& c : cases) EXPECT_EQ(varnel::IsValidUtf8(c.bytes), c.valid) << c.bytes;
}

// ---- reading rules ----

class ProfileRead : public ::testing::Test {
protected:
    fs::path file(const std::string& content) {
        const fs::path f = dir / "read.ini";
        writeBytes(f, content);
        return f;
    }
    TempDir dir;
};

TEST_F(ProfileRead, SectionsAndKeysIgnoreAsciiCase) {
    const fs::path f = file("[mainform]\r\ns003=Enter\r\n[SETUP]\r\nLanguage=chinese\r\n");
    EXPECT_EQ(ReadProfileString(f, "MainForm", "S003"), "Enter");
    EXPECT_EQ(ReadProfileString(f, "MAINFORM", "s003"), "Enter");
    EXPECT_EQ(ReadProfileString(f, "setup", "LANGUAGE"), "chinese");
}

TEST_F(ProfileRead, MissingFileSectionOrKeyGivesTheDefault) {
    const fs::path f = file("[A]\r\nKey=1\r\n");
    struct Case {
        fs::path file;
        const char* section;
        const char* key;
    };
    const Case cases[] = {
        {dir / "absent.ini", "A", "Key"},
        {dir.path(), "A", "Key"},  // a directory is no profile file
        {f, "B", "Key"},
        {f, "A", "Other"},
        {f, "", "Key"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadProfileString(c.file, c.section, c.key, "dflt"), "dflt") << c.section << "/" << c.key;
        EXPECT_EQ(ReadProfileString(c.file, c.section, c.key), "");
    }
    EXPECT_EQ(ReadProfileString(f, "A", "Key", "dflt"), "1");
}

TEST_F(ProfileRead, FirstOccurrenceOfAKeyWins) {
    const fs::path f = file("[A]\r\nKey=first\r\nkey=second\r\n");
    EXPECT_EQ(ReadProfileString(f, "A", "Key"), "first");
}

TEST_F(ProfileRead, DuplicatedSectionIsSearchedInFileOrder) {
    const fs::path f = file(
        "[A]\r\nShared=from first block\r\n"
        "[B]\r\nShared=other section\r\n"
        "[a]\r\nShared=from second block\r\nOnlySecond=found\r\n");
    EXPECT_EQ(ReadProfileString(f, "A", "Shared"), "from first block");
    EXPECT_EQ(ReadProfileString(f, "A", "OnlySecond"), "found");
    EXPECT_EQ(ReadProfileString(f, "B", "OnlySecond", "none"), "none");
}

TEST_F(ProfileRead, CommentsAndMalformedLinesAreSkipped) {
    const fs::path f = file(
        "Orphan=before any section\r\n"
        "[A]\r\n"
        "; Title=commented out\r\n"
        "   ;Indented=comment\r\n"
        "no equals sign here\r\n"
        "=value without key\r\n"
        "[broken header\r\n"
        "\r\n"
        "   \t\r\n"
        "Title=real\r\n"
        "Indented=real too\r\n");
    EXPECT_EQ(ReadProfileString(f, "A", "Title"), "real");
    EXPECT_EQ(ReadProfileString(f, "A", "Indented"), "real too");
    EXPECT_EQ(ReadProfileString(f, "A", "Orphan", "dflt"), "dflt");
    EXPECT_EQ(ReadProfileString(f, "A", "no equals sign here", "dflt"), "dflt");
    EXPECT_EQ(ReadProfileString(f, "broken header", "Title", "dflt"), "dflt");
}

TEST_F(ProfileRead, ValueTrimmingAndQuotes) {
    const fs::path f = file(
        "  [ A ]  \r\n"
        "  Spaced   =   Hello World   \r\n"
        "Tabbed\t=\tTab\t\r\n"
        "Empty=\r\n"
        "Blank=    \r\n"
        "Eq=a=b=c\r\n"
        "Quoted=\"  kept blanks  \"\r\n"
        "Single='x'\r\n"
        "Half=\"open\r\n"
        "Mixed=\"a'\r\n"
        "Inner=a \"b\" c\r\n"
        "Hint=Open|Open a file\r\n"
        "Lf=unix\n");
    struct Case {
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"Spaced", "Hello World"},
        {"Tabbed", "Tab"},
        {"Empty", ""},
        {"Blank", ""},
        {"Eq", "a=b=c"},
        {"Quoted", "  kept blanks  "},
        {"Single", "x"},
        {"Half", "\"open"},
        {"Mixed", "\"a'"},
        {"Inner", "a \"b\" c"},
        {"Hint", "Open|Open a file"},
        {"Lf", "unix"},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadProfileString(f, "A", c.key, "dflt"), c.value) << c.key;
}

TEST_F(ProfileRead, NothingIsCached) {
    const fs::path f = file("[A]\r\nKey=old\r\n");
    EXPECT_EQ(ReadProfileString(f, "A", "Key"), "old");
    writeBytes(f, "[A]\r\nKey=new\r\n");
    EXPECT_EQ(ReadProfileString(f, "A", "Key"), "new");
    fs::remove(f);
    EXPECT_EQ(ReadProfileString(f, "A", "Key", "gone"), "gone");
}

TEST_F(ProfileRead, LastLineWithoutLineEnd) {
    const fs::path f = file("[A]\r\nKey=last");
    EXPECT_EQ(ReadProfileString(f, "A", "Key"), "last");
}

// ---- writing ----

class ProfileWrite : public ::testing::Test {
protected:
    TempDir dir;
    fs::path f = dir / "setting.ini";
};

TEST_F(ProfileWrite, ReplacesOnlyTheValueAndKeepsEverythingElseByteForByte) {
    const std::string before =
        "; setting file\r\n"
        "[other]\n"
        "language=not this one\r\n"
        "\r\n"
        "[Setup]\r\n"
        "  Language =  english  \r\n"
        "Extra=keep\n"
        ";trailing comment\r\n";
    writeBytes(f, before);
    ASSERT_TRUE(WriteProfileString(f, "setup", "LANGUAGE", "chinese").ok());
    EXPECT_EQ(readBytes(f),
              "; setting file\r\n"
              "[other]\n"
              "language=not this one\r\n"
              "\r\n"
              "[Setup]\r\n"
              "  Language =  chinese\r\n"
              "Extra=keep\n"
              ";trailing comment\r\n");
    EXPECT_EQ(directoryEntries(dir.path()), std::vector<std::string>{"setting.ini"});  // no temporary left
}

TEST_F(ProfileWrite, AddsAMissingKeyAfterTheLastKeyOfItsSection) {
    writeBytes(f,
               "[Setup]\r\n"
               "A=1\r\n"
               "; comment inside\r\n"
               "B=2\r\n"
               "\r\n"
               "; about the next section\r\n"
               "[Next]\r\n"
               "C=3\r\n");
    ASSERT_TRUE(WriteProfileString(f, "SETUP", "language", "english").ok());
    EXPECT_EQ(readBytes(f),
              "[Setup]\r\n"
              "A=1\r\n"
              "; comment inside\r\n"
              "B=2\r\n"
              "language=english\r\n"
              "\r\n"
              "; about the next section\r\n"
              "[Next]\r\n"
              "C=3\r\n");
}

TEST_F(ProfileWrite, DuplicatedKeysAndSectionsChangeTheOccurrenceTheReaderSees) {
    writeBytes(f, "[A]\nK=1\nK=2\n[B]\nX=0\n[A]\nK=3\nOnly2=4\n");
    ASSERT_TRUE(WriteProfileString(f, "A", "K", "one").ok());
    ASSERT_TRUE(WriteProfileString(f, "A", "Only2", "four").ok());
    ASSERT_TRUE(WriteProfileString(f, "A", "New", "n").ok());
    EXPECT_EQ(readBytes(f), "[A]\nK=one\nK=2\nNew=n\n[B]\nX=0\n[A]\nK=3\nOnly2=four\n");
    EXPECT_EQ(ReadProfileString(f, "A", "K"), "one");
    EXPECT_EQ(ReadProfileString(f, "A", "Only2"), "four");
}

TEST_F(ProfileWrite, CreatesTheFileAndMissingSections) {
    ASSERT_FALSE(fs::exists(f));
    ASSERT_TRUE(WriteProfileString(f, "setup", "language", "english").ok());
    EXPECT_EQ(readBytes(f), "[setup]\r\nlanguage=english\r\n");
    ASSERT_TRUE(WriteProfileString(f, "extra", "key", "value").ok());
    EXPECT_EQ(readBytes(f), "[setup]\r\nlanguage=english\r\n[extra]\r\nkey=value\r\n");
    EXPECT_EQ(ReadProfileString(f, "setup", "language"), "english");
    EXPECT_EQ(ReadProfileString(f, "extra", "key"), "value");
}

TEST_F(ProfileWrite, FollowsTheLineEndsOfTheFile) {
    writeBytes(f, "; unix file\n[A]\nK=1");  // LF, last line without line end
    ASSERT_TRUE(WriteProfileString(f, "A", "L", "2").ok());
    EXPECT_EQ(readBytes(f), "; unix file\n[A]\nK=1\nL=2\n");
}

TEST_F(ProfileWrite, HeaderWithoutKeysGetsTheKeyRightAfterIt) {
    writeBytes(f, "[Setup]\r\n\r\n[Next]\r\n");
    ASSERT_TRUE(WriteProfileString(f, "Setup", "language", "chinese").ok());
    EXPECT_EQ(readBytes(f), "[Setup]\r\nlanguage=chinese\r\n\r\n[Next]\r\n");
}

TEST_F(ProfileWrite, Utf8BomIsKept) {
    writeBytes(f, kBomUtf8 + "[Setup]\r\nlanguage=english\r\n");
    ASSERT_TRUE(WriteProfileString(f, "Setup", "language", "chinese").ok());
    EXPECT_EQ(readBytes(f), kBomUtf8 + "[Setup]\r\nlanguage=chinese\r\n");
}

TEST_F(ProfileWrite, RejectsArgumentsThatWouldBreakTheFile) {
    const std::string before = "[Setup]\r\nlanguage=english\r\n";
    writeBytes(f, before);
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"Setup", "language", "two\r\nlines"},
        {"Setup", "language", "line\nfeed"},
        {"Setup", "", "v"},
        {"Setup", "   ", "v"},
        {"Setup", "a=b", "v"},
        {"Setup", "[x", "v"},
        {"Setup", ";x", "v"},
        {"Se]tup", "k", "v"},
        {"Set\nup", "k", "v"},
    };
    for (const Case& c : cases) {
        const varnel::Error error = WriteProfileString(f, c.section, c.key, c.value);
        EXPECT_FALSE(error.ok()) << c.key;
        EXPECT_FALSE(error.text().empty());
    }
    EXPECT_EQ(readBytes(f), before);
}

TEST_F(ProfileWrite, ReadOnlyFileIsLeftAlone) {
    const std::string before = "[Setup]\r\nlanguage=english\r\n";
    writeBytes(f, before);
    fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);
    const varnel::Error error = WriteProfileString(f, "Setup", "language", "chinese");
    EXPECT_FALSE(error.ok());
    EXPECT_NE(error.text().find("read-only"), std::string::npos) << error.text();
    fs::permissions(f, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(readBytes(f), before);
}

TEST_F(ProfileWrite, UnwritableLocationsReportFailure) {
    // A directory that does not exist.
    varnel::Error error = WriteProfileString(dir / "no-such-dir" / "setting.ini", "s", "k", "v");
    EXPECT_FALSE(error.ok());
    EXPECT_NE(error.text().find("setting.ini"), std::string::npos) << error.text();
    EXPECT_FALSE(fs::exists(dir / "no-such-dir"));

    // A directory where the file should be.
    fs::create_directory(dir / "folder.ini");
    error = WriteProfileString(dir / "folder.ini", "s", "k", "v");
    EXPECT_EQ(error.code(), varnel::ErrorCode::NotAFile);
    EXPECT_TRUE(fs::is_directory(dir / "folder.ini"));
}

TEST_F(ProfileWrite, NameAtTheSystemLimitIsWritten) {
    // 251 bytes plus ".ini": the longest name the file system takes. The
    // temporary file beside it must not make the name longer.
    const fs::path longName = dir / (std::string(251, 'x') + ".ini");
    writeBytes(longName, "; keep me\r\n[Setup]\r\nlanguage=english\r\n");
    const varnel::Error error = WriteProfileString(longName, "Setup", "language", "chinese");
    ASSERT_TRUE(error.ok()) << error.text();
    EXPECT_EQ(readBytes(longName), "; keep me\r\n[Setup]\r\nlanguage=chinese\r\n");
    EXPECT_EQ(directoryEntries(dir.path()).size(), 1u);
}

// Found by fuzzing: a section name that is not UTF-8 turned a UTF-8 file
// into one detected as GB18030, and the key written was not found again.
TEST_F(ProfileWrite, ArgumentsThatAreNotUtf8AreRefused) {
    const std::string before = "[A]\r\nText=\xE4\xB8\xAD\r\n";
    writeBytes(f, before);
    EXPECT_FALSE(WriteProfileString(f, "\x80", "Main", "v2").ok());
    EXPECT_FALSE(WriteProfileString(f, "A", "K\xFF", "v2").ok());
    EXPECT_FALSE(WriteProfileString(f, "A", "K", "\xC3").ok());
    EXPECT_EQ(readBytes(f), before);
    EXPECT_EQ(ReadProfileString(f, "A", "Text"), "\xE4\xB8\xAD");
}

TEST_F(ProfileWrite, ReadBackAfterManyWrites) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(WriteProfileString(f, "S", "K" + std::to_string(i % 5), std::to_string(i)).ok());
    }
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(ReadProfileString(f, "S", "K" + std::to_string(k)), std::to_string(15 + k));
    }
    EXPECT_EQ(directoryEntries(dir.path()).size(), 1u);
}
