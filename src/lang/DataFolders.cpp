#include "lang/DataFolders.h"

#include <system_error>

#include "util/ConfigFolder.h"

#ifdef _WIN32
#include "util/Win32.h"
#else
#include <unistd.h>
#endif

#ifndef VARNEL_INSTALLED_DATA_DIR
#define VARNEL_INSTALLED_DATA_DIR "/usr/share/varnel-tuner"
#endif

namespace fs = std::filesystem;

namespace varnel {

fs::path ExecutableDirectory() {
#ifdef _WIN32
    wchar_t buffer[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return fs::path(buffer).parent_path();
#else
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
#endif
}

fs::path InstalledDataFolder() { return fs::path(VARNEL_INSTALLED_DATA_DIR); }

fs::path LanguageFolder(const fs::path& executableDirectory) {
    std::error_code ec;
    if (fs::is_regular_file(executableDirectory / "english.lang", ec)) return executableDirectory;
    // <prefix>/bin beside <prefix>/share/varnel-tuner: an installation under any prefix.
    const fs::path relative = (executableDirectory / ".." / "share" / "varnel-tuner").lexically_normal();
    if (fs::is_regular_file(relative / "english.lang", ec)) return relative;
    const fs::path installed = InstalledDataFolder();
    if (fs::is_regular_file(installed / "english.lang", ec)) return installed;
    return executableDirectory;
}

fs::path SettingsFolder(const fs::path& executableDirectory) {
#ifdef _WIN32
    const bool writable = [&] {
        const fs::path probe = executableDirectory / ".varnel-write-test";
        HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }();
#else
    const bool writable = !executableDirectory.empty() && access(executableDirectory.c_str(), W_OK) == 0;
#endif
    if (writable) return executableDirectory;
    const fs::path config = UserConfigFolder();
    std::error_code ec;
    fs::create_directories(config, ec);
    return config;
}

}  // namespace varnel
