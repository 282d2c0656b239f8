// Where the program finds its language files and keeps setting.ini, both for
// a build tree (everything beside the executable) and for an installed
// program (/usr/bin/varnel-tuner with its data in /usr/share/varnel-tuner).
#pragma once

#include <filesystem>

namespace varnel {

// The folder of the running executable (empty when the platform does not say).
std::filesystem::path ExecutableDirectory();
// The installed data folder (<prefix>/share/varnel-tuner), fixed at build time.
std::filesystem::path InstalledDataFolder();
// The language files: beside the executable when english.lang is there,
// else in <executable>/../share/varnel-tuner, else in the installed data
// folder when it has one, else beside the executable.
std::filesystem::path LanguageFolder(const std::filesystem::path& executableDirectory);
// setting.ini: beside the executable when that folder is writable, else the
// user's config folder ($XDG_CONFIG_HOME/varnel-tuner, created on demand).
std::filesystem::path SettingsFolder(const std::filesystem::path& executableDirectory);

}  // namespace varnel
