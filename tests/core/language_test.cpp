#include <cstdio>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/support/TempFiles.h"
#include "lang/Loadlanguage.h"
#include "lang/Profile.h"

namespace fs = std::filesystem;
using namespace varnel;

namespace {

using varnel::test::TempDir;
using varnel::test::readBytes;
using varnel::test::writeBytes;

// A program directory with two small language files.
class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLanguageState();
        SetProgramDirectory(dir.path());
        writeBytes(dir.path() / "english.lang", "; test texts\r\n[MainForm]\r\nS003=Enter Tuning\r\n");
        writeBytes(dir.path() / "chinese.lang", "[MainForm]\r\ns003=进入调测\r\n");
    }
    void TearDown() override { ResetLanguageState(); }
    fs::path settings() const { return dir.path() / "setting.ini"; }

    TempDir dir;
};

}  // namespace

TEST_F(LanguageTest, OpenLanguagePicksTheFileBesideTheProgram) {
    OpenLanguage(kLanguageChinese);
    EXPECT_EQ(languageFile, dir.path() / "chinese.lang");
    EXPECT_EQ(languageIndex, kLanguageChinese);
    EXPECT_EQ(Text("MainForm", "S003"), "进入调测");  // s003 in the file, S003 asked for

    OpenLanguage(kLanguageEnglish);
    EXPECT_EQ(languageFile, dir.path() / "english.lang");
    EXPECT_EQ(languageIndex, kLanguageEnglish);
    EXPECT_EQ(Text("MainForm", "S003"), "Enter Tuning");

    OpenLanguage(7);  // not a language: English
    EXPECT_EQ(languageFile, dir.path() / "english.lang");
    EXPECT_EQ(languageIndex, kLanguageEnglish);
}

TEST_F(LanguageTest, MissingTextsAreEmpty) {
    EXPECT_TRUE(languageFile.empty());
    EXPECT_EQ(Text("MainForm", "S003"), "");  // no language file open
    OpenLanguage(kLanguageEnglish);
    EXPECT_EQ(Text("MainForm", "S999"), "");
    EXPECT_EQ(Text("NoSection", "S003"), "");
    fs::remove(dir.path() / "english.lang");
    EXPECT_EQ(Text("MainForm", "S003"), "");
    writeBytes(dir.path() / "english.lang", "");  // an empty file
    EXPECT_EQ(Text("MainForm", "S003"), "");
}

TEST_F(LanguageTest, LookupsReadTheFileEveryTime) {
    OpenLanguage(kLanguageEnglish);
    EXPECT_EQ(Text("MainForm", "S003"), "Enter Tuning");
    writeBytes(dir.path() / "english.lang", "[MainForm]\r\nS003=Changed\r\n");
    EXPECT_EQ(Text("MainForm", "S003"), "Changed");
}

struct StartupCase {
    const char* name;
    bool settingsExist;
    const char* settings;
    int index;
};

class StartupLanguage : public LanguageTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupLanguage, ChoosesByTheExactSetting) {
    const StartupCase& c = GetParam();
    if (c.settingsExist) writeBytes(settings(), c.settings);

    EXPECT_EQ(ChooseStartupLanguage(), c.index);
    EXPECT_EQ(languageIndex, c.index);
    EXPECT_EQ(settingsFile, settings());
    const char* expectedFile = c.index == kLanguageChinese ? "chinese.lang" : "english.lang";
    EXPECT_EQ(languageFile, dir.path() / expectedFile);
    EXPECT_EQ(Text("MainForm", "S003"), c.index == kLanguageChinese ? "进入调测" : "Enter Tuning");
    EXPECT_EQ(FontPointsForMainWindow(), c.index == kLanguageChinese ? 9 : 8);
    EXPECT_EQ(FontPointsForDialogs(), c.index == kLanguageChinese ? 10 : 8);
    // Choosing reads, it never writes.
    EXPECT_EQ(fs::exists(settings()), c.settingsExist);
    if (c.settingsExist) {
        EXPECT_EQ(readBytes(settings()), c.settings);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, StartupLanguage,
    ::testing::Values(
        StartupCase{"Chinese", true, "[setup]\r\nlanguage=chinese\r\n", kLanguageChinese},
        StartupCase{"English", true, "[setup]\r\nlanguage=english\r\n", kLanguageEnglish},
        StartupCase{"NoFile", false, "", kLanguageEnglish},
        StartupCase{"EmptyFile", true, "", kLanguageEnglish},
        StartupCase{"EmptyValue", true, "[setup]\r\nlanguage=\r\n", kLanguageEnglish},
        StartupCase{"NoKey", true, "[setup]\r\nother=chinese\r\n", kLanguageEnglish},
        StartupCase{"Garbage", true, "\x01\x02 not an ini file \xFF", kLanguageEnglish},
        StartupCase{"UnknownLanguage", true, "[setup]\r\nlanguage=klingon\r\n", kLanguageEnglish},
        StartupCase{"CapitalisedEnglish", true, "[setup]\r\nlanguage=English\r\n", kLanguageEnglish},
        StartupCase{"CapitalisedChinese", true, "[setup]\r\nlanguage=Chinese\r\n", kLanguageEnglish},
        // The names of section and key are not case-sensitive, and the reader
        // trims blanks around the value like the Windows reader does.
        StartupCase{"UpperCaseNames", true, "[SETUP]\r\nLANGUAGE = chinese \r\n", kLanguageChinese}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

TEST_F(LanguageTest, Utf16SettingsFileIsRead) {
    // setting.ini as Windows' own writer may leave it: UTF-16LE with BOM.
    const std::string utf16 = std::string("\xFF\xFE", 2) +
                              std::string("[\0s\0e\0t\0u\0p\0]\0\r\0\n\0", 18) +
                              std::string("l\0a\0n\0g\0u\0a\0g\0e\0=\0c\0h\0i\0n\0e\0s\0e\0\r\0\n\0", 36);
    writeBytes(settings(), utf16);
    EXPECT_EQ(ChooseStartupLanguage(), kLanguageChinese);
    OpenLanguage(kLanguageEnglish);
    ASSERT_TRUE(StoreLanguageSetting().ok());
    const std::string expected = std::string("\xFF\xFE", 2) +
                                 std::string("[\0s\0e\0t\0u\0p\0]\0\r\0\n\0", 18) +
                                 std::string("l\0a\0n\0g\0u\0a\0g\0e\0=\0e\0n\0g\0l\0i\0s\0h\0\r\0\n\0", 36);
    EXPECT_EQ(readBytes(settings()), expected);
}

TEST_F(LanguageTest, StoreAfterSwitchingAndRestart) {
    writeBytes(settings(), "; written by the tuner\r\n[setup]\r\nlanguage=chinese\r\n");
    ASSERT_EQ(ChooseStartupLanguage(), kLanguageChinese);

    OpenLanguage(kLanguageEnglish);  // the language switch
    EXPECT_EQ(FontPointsForMainWindow(), 8);
    const Error stored = StoreLanguageSetting();
    ASSERT_TRUE(stored.ok()) << stored.text();
    EXPECT_EQ(readBytes(settings()), "; written by the tuner\r\n[setup]\r\nlanguage=english\r\n");

    // Next start.
    ResetLanguageState();
    SetProgramDirectory(dir.path());
    EXPECT_EQ(ChooseStartupLanguage(), kLanguageEnglish);

    OpenLanguage(kLanguageChinese);
    ASSERT_TRUE(StoreLanguageSetting().ok());
    EXPECT_EQ(ReadProfileString(settings(), "setup", "language"), "chinese");
}

TEST_F(LanguageTest, StoreCreatesTheSettingsFile) {
    ASSERT_EQ(ChooseStartupLanguage(), kLanguageEnglish);  // no setting.ini: English
    ASSERT_FALSE(fs::exists(settings()));
    ASSERT_TRUE(StoreLanguageSetting().ok());
    EXPECT_EQ(readBytes(settings()), "[setup]\r\nlanguage=english\r\n");
}

TEST_F(LanguageTest, StoreWithoutOpenSettingsUsesTheProgramDirectory) {
    languageIndex = kLanguageChinese;
    ASSERT_TRUE(settingsFile.empty());
    ASSERT_TRUE(StoreLanguageSetting().ok());
    EXPECT_EQ(settingsFile, settings());
    EXPECT_EQ(ReadProfileString(settings(), "setup", "language"), "chinese");
}

TEST_F(LanguageTest, StoreFailureIsReported) {
    SetProgramDirectory(dir.path() / "missing-directory");
    OpenSettings();
    const Error error = StoreLanguageSetting();
    EXPECT_FALSE(error.ok());
    // The chain names the settings file the program chose.
    EXPECT_NE(error.text().find((dir.path() / "missing-directory" / "setting.ini").string()), std::string::npos)
        << error.text();
}

TEST_F(LanguageTest, ResetRestoresTheStartState) {
    OpenSettings();
    OpenLanguage(kLanguageChinese);
    ResetLanguageState();
    EXPECT_TRUE(languageFile.empty());
    EXPECT_TRUE(settingsFile.empty());
    EXPECT_EQ(languageIndex, kLanguageEnglish);
    EXPECT_EQ(FontPointsForMainWindow(), 8);
    EXPECT_EQ(FontPointsForDialogs(), 8);
    EXPECT_FALSE(ProgramDirectory().empty());  // back to the executable's directory
    EXPECT_NE(ProgramDirectory(), dir.path());
}

// ---- the shipped language files ----

namespace {

// Every (section, key) the program looks up, in the order of the files.
std::vector<std::pair<std::string, std::string>> allLanguageKeys() {
    std::vector<std::pair<std::string, std::string>> keys;
    const auto add = [&](const char* section, std::initializer_list<const char*> names) {
        for (const char* n : names) keys.emplace_back(section, n);
    };
    const auto range = [&](const char* section, char prefix, int first, int last) {
        for (int i = first; i <= last; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "%c%04d", prefix, i);
            keys.emplace_back(section, name);
        }
    };
    add("Application", {"Title"});
    add("MainForm", {"S001", "S0001", "S002", "S0002", "S003", "S0030", "S004", "S0040", "S005", "S006", "S008",
                     "S009"});
    add("MainMenu", {"M0001", "M0002", "M0003", "M0007", "M0008", "M0009", "M0012", "M00120",
                     "M0015", "M00150", "M0016", "M00160", "M0017", "M00170", "M0020", "M00200",
                     "M00201", "M0021", "M0022", "M0025", "M0026", "M0027", "M0028", "M00280"});
    add("MessageBox", {"M001", "M002", "M010", "M011", "M012", "M013"});
    add("About", {"A000", "A001", "A002", "A003"});
    add("Factroy", {"F0001", "F0002", "F0003", "F0004"});
    range("Param", 'P', 1, 16);
    range("ChildForm", 'C', 1, 6);
    add("ChildForm", {"C00061", "C00062", "C00063"});
    range("ChildForm", 'C', 7, 30);
    range("ChildForm", 'C', 33, 37);
    range("TreeView", 'T', 1, 30);
    range("TreeView", 'T', 40, 62);
    return keys;
}

fs::path shipped(const char* name) {
    return fs::path(VARNEL_LANG_DIR) / name;
}

// Lines of a file split at CR LF; false when a line ends in a bare LF or the
// file does not end with CR LF.
bool splitCrLf(const std::string& bytes, std::vector<std::string>& lines) {
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        if (lf == std::string::npos || lf == start || bytes[lf - 1] != '\r') return false;
        lines.push_back(bytes.substr(start, lf - 1 - start));
        start = lf + 1;
    }
    return true;
}

}  // namespace

TEST(ShippedLanguageFiles, KeyListHas158Keys) {
    const auto keys = allLanguageKeys();
    EXPECT_EQ(keys.size(), 158u);
    using KeySet = std::set<std::pair<std::string, std::string>>;
    EXPECT_EQ(KeySet(keys.begin(), keys.end()).size(), 158u) << "no (section, key) twice";
}

class ShippedLanguageFile : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedLanguageFile, EveryKeyHasText) {
    const fs::path file = shipped(GetParam());
    ASSERT_TRUE(fs::exists(file)) << file;
    int found = 0;
    for (const auto& [section, key] : allLanguageKeys()) {
        const std::string text = ReadProfileString(file, section, key, "\x01missing");
        EXPECT_NE(text, "\x01missing") << section << "/" << key;
        EXPECT_FALSE(text.empty()) << section << "/" << key;
        if (!text.empty() && text != "\x01missing") ++found;
    }
    EXPECT_EQ(found, 158);
}

TEST_P(ShippedLanguageFile, LayoutIsUtf8CrLfOneBlockPerSectionInTableOrder) {
    const std::string bytes = readBytes(shipped(GetParam()));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(DetectProfileEncoding(bytes), ProfileEncoding::Utf8);  // valid UTF-8, no BOM
    std::vector<std::string> lines;
    ASSERT_TRUE(splitCrLf(bytes, lines)) << "every line must end with CR LF";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().substr(0, 1), ";") << "the file opens with a comment line";

    // Sections and keys exactly as the program looks them up, in order.
    std::vector<std::pair<std::string, std::string>> seen;
    std::vector<std::string> sections;
    std::string current;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            ASSERT_EQ(line.back(), ']') << line;
            current = line.substr(1, line.size() - 2);
            sections.push_back(current);
            continue;
        }
        const std::size_t eq = line.find('=');
        ASSERT_NE(eq, std::string::npos) << line;
        ASSERT_FALSE(current.empty()) << line;
        seen.emplace_back(current, line.substr(0, eq));
        // No blanks or quotes the reader would strip: the text is what is shown.
        const std::string value = line.substr(eq + 1);
        ASSERT_FALSE(value.empty()) << line;
        EXPECT_NE(value.front(), ' ') << line;
        EXPECT_NE(value.back(), ' ') << line;
        EXPECT_NE(value.front(), '"') << line;
    }
    // The windows' keys first, in table order. After them come only sections
    // the program added later (the virtual radio's menu, file messages,
    // safety questions, status bar, ...), each one block, each known here.
    const std::vector<std::string> laterSections = {"VirtualRadio", "Files",   "Safety", "Status",
                                                    "StatusLog",    "Link",    "Errors", "Records",
                                                    "Align",        "Cli",    "Tuner",  "Pages",
                                                    "Report"};
    const auto isLater = [&](const std::string& section) {
        return std::find(laterSections.begin(), laterSections.end(), section) != laterSections.end();
    };
    std::vector<std::pair<std::string, std::string>> extra;
    while (!seen.empty() && isLater(seen.back().first)) {
        extra.insert(extra.begin(), seen.back());
        seen.pop_back();
    }
    EXPECT_EQ(seen, allLanguageKeys());
    ASSERT_GE(extra.size(), 3u);
    EXPECT_EQ(extra[0], (std::pair<std::string, std::string>{"VirtualRadio", "V0001"}));
    EXPECT_EQ(extra[1], (std::pair<std::string, std::string>{"VirtualRadio", "V0002"}));
    EXPECT_EQ(extra[2], (std::pair<std::string, std::string>{"VirtualRadio", "V0003"}));
    const std::vector<std::string> windowSections = {"Application", "MainForm", "MainMenu",
                                                     "MessageBox",  "About",    "Factroy",
                                                     "Param",       "ChildForm", "TreeView"};
    ASSERT_GE(sections.size(), windowSections.size() + 1);
    EXPECT_EQ(std::vector<std::string>(sections.begin(), sections.begin() + 9), windowSections);
    std::set<std::string> distinct;
    for (std::size_t i = 9; i < sections.size(); ++i) {
        EXPECT_TRUE(isLater(sections[i])) << "unexpected section " << sections[i];
        EXPECT_TRUE(distinct.insert(sections[i]).second) << "section twice: " << sections[i];
    }
}

// Both files carry the same keys in the later sections, so no text is
// missing in one language.
TEST(ShippedLanguageFiles, LaterSectionsHaveTheSameKeysInBothLanguages) {
    const auto keysOf = [](const char* name) {
        std::set<std::pair<std::string, std::string>> keys;
        const std::string bytes = readBytes(shipped(name));
        std::vector<std::string> lines;
        if (!splitCrLf(bytes, lines)) return keys;
        std::string current;
        for (const std::string& line : lines) {
            if (line.empty() || line[0] == ';') continue;
            if (line[0] == '[') {
                current = line.substr(1, line.size() - 2);
                continue;
            }
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos) keys.emplace(current, line.substr(0, eq));
        }
        return keys;
    };
    const auto english = keysOf("english.lang");
    const auto chinese = keysOf("chinese.lang");
    EXPECT_GT(english.size(), 158u);
    for (const auto& key : english) EXPECT_TRUE(chinese.count(key)) << "chinese.lang lacks " << key.first << "/" << key.second;
    for (const auto& key : chinese) EXPECT_TRUE(english.count(key)) << "english.lang lacks " << key.first << "/" << key.second;
}

TEST_P(ShippedLanguageFile, MenuCaptionsHaveAcceleratorsAndHintsHaveTwoParts) {
    const fs::path file = shipped(GetParam());
    const std::vector<std::pair<const char*, const char*>> menuCaptions = {
        {"MainMenu", "M0001"}, {"MainMenu", "M0002"}, {"MainMenu", "M0003"},  {"MainMenu", "M0007"},
        {"MainMenu", "M0008"}, {"MainMenu", "M0009"}, {"MainMenu", "M0012"},  {"MainMenu", "M0015"},
        {"MainMenu", "M0016"}, {"MainMenu", "M0017"}, {"MainMenu", "M0020"},  {"MainMenu", "M0021"},
        {"MainMenu", "M0022"}, {"MainMenu", "M0025"}, {"MainMenu", "M0026"},  {"MainMenu", "M0027"},
        {"MainMenu", "M0028"}, {"MainMenu", "M00280"}, {"MainForm", "S009"}, {"ChildForm", "C0022"},
        {"ChildForm", "C0023"}};
    for (const auto& [section, key] : menuCaptions) {
        const std::string text = ReadProfileString(file, section, key);
        const std::size_t amp = text.find('&');
        ASSERT_NE(amp, std::string::npos) << key << ": " << text;
        EXPECT_LT(amp + 1, text.size()) << key;
        EXPECT_EQ(text.find('|'), std::string::npos) << key;
    }
    const std::vector<std::pair<const char*, const char*>> statusHints = {
        {"MainForm", "S0001"},  {"MainForm", "S0002"},  {"MainForm", "S0030"},  {"MainForm", "S0040"},
        {"MainForm", "S008"},   {"MainMenu", "M00120"}, {"MainMenu", "M00150"}, {"MainMenu", "M00160"},
        {"MainMenu", "M00170"}, {"MainMenu", "M00200"}, {"MainMenu", "M00201"}};
    for (const auto& [section, key] : statusHints) {
        const std::string text = ReadProfileString(file, section, key);
        const std::size_t bar = text.find('|');
        ASSERT_NE(bar, std::string::npos) << key << ": " << text;
        EXPECT_GT(bar, 0u) << key;
        EXPECT_LT(bar + 1, text.size()) << key;
    }
    // Captions that double as tool-bar captions or hints carry neither '&' nor '|'.
    for (const char* key : {"S001", "S002", "S003", "S004", "S005", "S006"}) {
        const std::string text = ReadProfileString(file, "MainForm", key);
        EXPECT_EQ(text.find('&'), std::string::npos) << key;
        EXPECT_EQ(text.find('|'), std::string::npos) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, ShippedLanguageFile, ::testing::Values("english.lang", "chinese.lang"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, std::string(info.param).find('.'));
                         });

TEST(ShippedLanguageFiles, ChineseTextsAreChineseAndEnglishTextsAreNot) {
    const fs::path english = shipped("english.lang");
    const fs::path chinese = shipped("chinese.lang");
    const auto hasNonAscii = [](const std::string& s) {
        for (unsigned char c : s) {
            if (c >= 0x80) return true;
        }
        return false;
    };
    for (const auto& [section, key] : allLanguageKeys()) {
        const std::string zh = ReadProfileString(chinese, section, key);
        const std::string en = ReadProfileString(english, section, key);
        // "English(&E)" names the English language in both files; "简体中文"
        // names the Chinese one in both.
        if (key != "M0026") {
            EXPECT_TRUE(hasNonAscii(zh)) << section << "/" << key << ": " << zh;
        }
        if (key != "M0025") {
            EXPECT_FALSE(hasNonAscii(en)) << section << "/" << key << ": " << en;
        }
    }
    // The log direction labels are short words.
    EXPECT_EQ(ReadProfileString(english, "ChildForm", "C0021"), "Send");
    EXPECT_EQ(ReadProfileString(english, "ChildForm", "C0020"), "Receive");
    EXPECT_EQ(ReadProfileString(chinese, "ChildForm", "C0021"), "发送");
    EXPECT_EQ(ReadProfileString(chinese, "ChildForm", "C0020"), "接收");
}

TEST(ShippedLanguageFiles, LookedUpThroughTheProgramDirectory) {
    ResetLanguageState();
    SetProgramDirectory(VARNEL_LANG_DIR);
    OpenLanguage(kLanguageChinese);
    EXPECT_EQ(Text("MainForm", "S003"), "进入调测");
    EXPECT_EQ(Text("MainMenu", "M0001"), "文件(&F)");
    OpenLanguage(kLanguageEnglish);
    EXPECT_EQ(Text("MainMenu", "M0001"), "&File");
    EXPECT_EQ(Text("mainform", "s003"), "Enter Tuning");
    ResetLanguageState();
}
