// The user's own folders for the program's data and configuration, below
// every layer that keeps files there (records, settings).
#pragma once

#include <filesystem>
#include <string>

namespace varnel {

// The environment variable's value, empty when it is not set.
std::string EnvOrEmpty(const char* name);

// $XDG_DATA_HOME/varnel-tuner (else ~/.local/share/varnel-tuner; %APPDATA% on Windows).
std::filesystem::path UserDataFolder();
// $XDG_CONFIG_HOME/varnel-tuner (else ~/.config/varnel-tuner; %APPDATA% on Windows).
std::filesystem::path UserConfigFolder();

}  // namespace varnel
