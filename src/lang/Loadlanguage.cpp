// Source unit Loadlanguage: the current language file and the lookups.
#include "lang/Loadlanguage.h"

#include <system_error>

#include "lang/Profile.h"

#include "util/Win32.h"

namespace fs = std::filesystem;

namespace varnel {

fs::path languageFile;
int languageIndex = kLanguageEnglish;
fs::path settingsFile;

namespace {

fs::path programDirectory;  // empty: not set, use executableDirectory()

constexpr std::string_view kSettingsSection = "setup";
constexpr std::string_view kSettingsKey = "language";
constexpr std::string_view kEnglishValue = "english";
constexpr std::string_view kChineseValue = "chinese";

fs::path executableDirectory() {
    std::error_code ec;
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n > 0 && n < buffer.size()) {
        buffer.resize(n);
        return fs::path(buffer).parent_path();
    }
#else
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && !self.empty()) return self.parent_path();
#endif
    const fs::path cwd = fs::current_path(ec);
    return ec ? fs::path(".") : cwd;
}

}  // namespace

std::string Text(std::string_view section, std::string_view key) {
    if (languageFile.empty()) return {};
    return ReadProfileString(languageFile, section, key, {});
}

fs::path ProgramDirectory() {
    if (programDirectory.empty()) programDirectory = executableDirectory();
    return programDirectory;
}

void SetProgramDirectory(const fs::path& directory) {
    programDirectory = directory;
}

void OpenLanguage(int index) {
    if (index == kLanguageChinese) {
        languageFile = ProgramDirectory() / "chinese.lang";
        languageIndex = kLanguageChinese;
    } else {
        languageFile = ProgramDirectory() / "english.lang";
        languageIndex = kLanguageEnglish;
    }
}

namespace {
fs::path settingsDirectory;  // empty: the program directory
}  // namespace

void SetSettingsDirectory(const fs::path& directory) { settingsDirectory = directory; }

void OpenSettings() {
    settingsFile = (settingsDirectory.empty() ? ProgramDirectory() : settingsDirectory) / "setting.ini";
}

int ChooseStartupLanguage() {
    OpenSettings();
    if (ReadProfileString(settingsFile, kSettingsSection, kSettingsKey, {}) == kEnglishValue) {
        OpenLanguage(kLanguageEnglish);
    } else if (ReadProfileString(settingsFile, kSettingsSection, kSettingsKey, {}) == kChineseValue) {
        OpenLanguage(kLanguageChinese);
    } else {
        // Neither name exactly: English, which is also what close will store.
        OpenLanguage(kLanguageEnglish);
    }
    return languageIndex;
}

Error StoreLanguageSetting() {
    if (settingsFile.empty()) OpenSettings();
    const std::string_view value = languageIndex == kLanguageChinese ? kChineseValue : kEnglishValue;
    return WriteProfileString(settingsFile, kSettingsSection, kSettingsKey, value)
        .wrap("Cannot store the language in the settings file", {}, "Files:StoreSettings");
}

Error CheckLanguageFiles() {
    if (!settingsFile.empty()) {
        if (Error e = CheckProfileFile(settingsFile); !e.ok()) {
            return e.wrap("Cannot read the settings file; English is used", {}, "Files:ReadSettings");
        }
    }
    if (!languageFile.empty()) {
        if (Error e = CheckProfileFile(languageFile); !e.ok()) {
            return e.wrap("Cannot read the language file; its texts stay empty", {}, "Files:ReadLanguage");
        }
    }
    return {};
}

std::string ErrorText(const Error& error) {
    return error.text([](std::string_view key) -> std::string {
        const std::size_t colon = key.find(':');
        if (colon == std::string_view::npos) return Text("Errors", key);
        return Text(key.substr(0, colon), key.substr(colon + 1));
    });
}

int FontPointsForMainWindow() {
    return languageIndex == kLanguageChinese ? 9 : 8;
}

int FontPointsForDialogs() {
    return languageIndex == kLanguageChinese ? 10 : 8;
}

void ResetLanguageState() {
    languageFile.clear();
    languageIndex = kLanguageEnglish;
    settingsFile.clear();
    settingsDirectory.clear();
    programDirectory.clear();
}

}  // namespace varnel
