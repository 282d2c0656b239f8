// Text lookup: every caption, hint, menu text, tree item, log label and
// message of the program is looked up by (section, key) in the current
// language file, english.lang or chinese.lang beside the executable. Which one
// is current is remembered in setting.ini (section "setup", key "language",
// "english" or "chinese").
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "util/Error.h"

namespace varnel {

inline constexpr int kLanguageEnglish = 0;
inline constexpr int kLanguageChinese = 1;

extern std::filesystem::path languageFile;  // current language file, empty = none
extern int languageIndex;                   // kLanguageEnglish or kLanguageChinese
extern std::filesystem::path settingsFile;  // setting.ini, empty until OpenSettings

// The text of (section, key) in `languageFile`, empty when the file, the
// section or the key is missing. Nothing is cached: every call reads the file.
// Callers set the result even when it is empty, so a missing text blanks the
// control instead of leaving a stale caption.
std::string Text(std::string_view section, std::string_view key);

// Directory of the language files and setting.ini. The program sets it to the
// directory of its executable; until then it is that directory as far as the
// platform tells (else the working directory). Tests point it at a temporary
// directory.
std::filesystem::path ProgramDirectory();
void SetProgramDirectory(const std::filesystem::path& directory);

// Makes english.lang (index 0) or chinese.lang (index 1) of the program
// directory the current language file; any other index counts as English.
void OpenLanguage(int index);

// settingsFile = <settings directory>/setting.ini; the settings directory is
// the program directory unless SetSettingsDirectory named another one.
void OpenSettings();
void SetSettingsDirectory(const std::filesystem::path& directory);

// The start-up rule: open setting.ini, read (setup, language); exactly
// "english" opens english.lang, exactly "chinese" opens chinese.lang. Anything
// else (no file, no key, empty, "English", garbage) opens english.lang too, so
// that the main window gets texts and the "english" stored at close matches
// what was shown. Returns the chosen languageIndex.
int ChooseStartupLanguage();

// Writes (setup, language) = "english" or "chinese" from languageIndex to
// settingsFile (opening the default one first if none is open). An error
// naming the file when it cannot be written.
Error StoreLanguageSetting();

// After ChooseStartupLanguage or OpenLanguage: why setting.ini or the current
// language file cannot be used (a folder, FIFO or device in its place, or a
// file that cannot be read), or success. Such a file is never waited on: it
// reads as missing, and this says why.
Error CheckLanguageFiles();

// The text of an error chain in the interface language: a link's key
// "Section:Key" (or "Key" for section "Errors") is looked up in the current
// language file; a missing text keeps the English.
std::string ErrorText(const Error& error);

// Font sizes that follow the language: the main window 8 points in English,
// 9 in Chinese (applied at start-up only); the tuning window and the dialogs
// 8 in English, 10 in Chinese (applied on every show).
int FontPointsForMainWindow();
int FontPointsForDialogs();

// Back to the state at program start, with the program directory unset.
void ResetLanguageState();

}  // namespace varnel
