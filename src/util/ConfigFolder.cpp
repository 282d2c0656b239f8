#include "util/ConfigFolder.h"

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace varnel {

std::string EnvOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

namespace {

std::filesystem::path HomeFolder() {
#ifdef _WIN32
    const std::string profile = EnvOrEmpty("USERPROFILE");
    return profile.empty() ? std::filesystem::path(".") : std::filesystem::path(profile);
#else
    const std::string home = EnvOrEmpty("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return ".";
#endif
}

}  // namespace

std::filesystem::path UserDataFolder() {
#ifdef _WIN32
    const std::string appData = EnvOrEmpty("APPDATA");
    return (appData.empty() ? HomeFolder() : std::filesystem::path(appData)) / "varnel-tuner";
#else
    const std::string xdg = EnvOrEmpty("XDG_DATA_HOME");
    if (!xdg.empty() && std::filesystem::path(xdg).is_absolute()) return std::filesystem::path(xdg) / "varnel-tuner";
    return HomeFolder() / ".local" / "share" / "varnel-tuner";
#endif
}

std::filesystem::path UserConfigFolder() {
#ifdef _WIN32
    return UserDataFolder();
#else
    const std::string xdg = EnvOrEmpty("XDG_CONFIG_HOME");
    if (!xdg.empty() && std::filesystem::path(xdg).is_absolute()) return std::filesystem::path(xdg) / "varnel-tuner";
    return HomeFolder() / ".config" / "varnel-tuner";
#endif
}

}  // namespace varnel
