// Careful whole-file reads and writes; the rules are described in FileAccess.h.
#include "util/FileAccess.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include "util/Win32.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace varnel {

namespace {

ErrorCode codeOf(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ErrorCode::PermissionDenied;
        case EBUSY:
            return ErrorCode::Busy;
        case EISDIR:
            return ErrorCode::NotAFile;
        default:
            return ErrorCode::FileError;
    }
}

std::string reasonOf(int err) {
    if (err == 0) err = EIO;
    return std::generic_category().message(err);
}

// A failure of the system with errno `err` on the file the caller named.
Error systemError(int err, const fs::path& path) {
    return Error::make(codeOf(err), reasonOf(err), PathText(path));
}

Error readOnlyError(const fs::path& path) {
    return Error::make(ErrorCode::PermissionDenied, "%1 is read-only; it was not replaced", PathText(path),
                       "Files:ReadOnly");
}

bool noWriteBit(fs::perms p) {
    return (p & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
}

// A short name beside the target: the target's own name may already be as
// long as the file system allows.
fs::path temporaryIn(const fs::path& directory) {
    static std::atomic<unsigned> counter{0};
    const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
    const unsigned long long pid = GetCurrentProcessId();
#else
    const unsigned long long pid = static_cast<unsigned long long>(::getpid());
#endif
    char name[48];
    std::snprintf(name, sizeof name, ".vt%llx%llx%x.tmp", pid & 0xFFFFFull, ticks & 0xFFFFFFull,
                  counter.fetch_add(1) & 0xFFFu);
    return directory.empty() ? fs::path(name) : directory / name;
}

// The failure of an in-place rewrite (the folder allowed no temporary file),
// saying whether the file's earlier contents were put back.
Error inPlaceFailure(int err, const fs::path& named, bool restored) {
    Error e = systemError(err, named);
    if (restored) {
        e.wrap("the folder allows no temporary file, so %1 was rewritten in place; its earlier contents were put back",
               PathText(named), "Files:Restored");
    } else {
        e.wrap("the folder allows no temporary file, so %1 was rewritten in place; its earlier contents could not be "
               "put back",
               PathText(named), "Files:NotRestored");
    }
    return e;
}

// The existing file may be replaced only when it is a regular file with a
// write bit.
Error checkReplaceable(const fs::path& path, const fs::path& target, const fs::file_status& old) {
    if (Error e = CheckRegularFile(target, false); !e.ok()) {
        // Name the file the caller gave.
        Error named = CheckRegularFile(path, false);
        return named.ok() ? e : named;
    }
    if (noWriteBit(old.permissions())) return readOnlyError(path);
    return {};
}

#ifdef _WIN32

// Rewrites the existing file in place, keeping its old contents to put back
// when the new ones cannot be written whole.
Error rewriteInPlace(const fs::path& target, const fs::path& named, std::string_view bytes) {
    FILE* file = _wfopen(target.c_str(), L"r+b");
    if (file == nullptr) return systemError(errno, named);
    std::string kept;
    char chunk[8192];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) kept.append(chunk, n);
    std::rewind(file);
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int err = errno;
    if (ok) ok = std::fflush(file) == 0 && _chsize_s(_fileno(file), static_cast<long long>(bytes.size())) == 0 &&
                 _commit(_fileno(file)) == 0;
    if (!ok) {
        err = errno;
        std::rewind(file);
        const bool restored = (kept.empty() || std::fwrite(kept.data(), 1, kept.size(), file) == kept.size()) &&
                              std::fflush(file) == 0 &&
                              _chsize_s(_fileno(file), static_cast<long long>(kept.size())) == 0;
        std::fclose(file);
        return inPlaceFailure(err, named, restored);
    }
    if (std::fclose(file) != 0) return systemError(errno, named);
    return {};
}

// A new temporary file in the folder (another name is tried while the one
// chosen exists); null with `err` set when none can be made.
FILE* createTemporary(const fs::path& directory, fs::path& temp, int& err) {
    FILE* out = nullptr;
    for (int attempt = 0; attempt < 16 && out == nullptr; ++attempt) {
        temp = temporaryIn(directory);
        errno = 0;
        out = _wfopen(temp.c_str(), L"wbx");
        err = errno;
        if (out == nullptr && err != EEXIST) break;
    }
    return out;
}

// Writes the bytes to the temporary file, commits them and closes it; on a
// failure the temporary file is removed.
Error writeTemporary(FILE* out, const fs::path& temp, const fs::path& named, std::string_view bytes) {
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (ok) ok = std::fflush(out) == 0;
    if (ok) ok = _commit(_fileno(out)) == 0;
    int err = errno;
    if (std::fclose(out) != 0 && ok) ok = false, err = errno;
    if (!ok) {
        std::error_code ec;
        fs::remove(temp, ec);
        return systemError(err, named);
    }
    return {};
}

// Moves the written temporary file over the target.
Error replaceWithTemporary(const fs::path& temp, const fs::path& target, const fs::path& named) {
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        std::error_code ec;
        fs::remove(temp, ec);
        return Error::make(code == ERROR_ACCESS_DENIED ? ErrorCode::PermissionDenied : ErrorCode::FileError,
                           std::system_category().message(static_cast<int>(code)), PathText(named));
    }
    return {};
}

#else  // !_WIN32

Error typeError(mode_t mode, const fs::path& path) {
    const std::string subject = PathText(path);
    if (S_ISDIR(mode)) return Error::make(ErrorCode::NotAFile, "%1 is a folder, not a file", subject, "Files:Folder");
    if (S_ISFIFO(mode)) {
        return Error::make(ErrorCode::NotAFile, "%1 is a pipe (FIFO), not a file; it was not opened", subject,
                           "Files:Pipe");
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return Error::make(ErrorCode::NotAFile, "%1 is a device, not a file; it was not opened", subject,
                           "Files:Device");
    }
    return Error::make(ErrorCode::NotAFile, "%1 is not a regular file; it was not opened", subject, "Files:Special");
}

bool writeAll(int fd, const char* data, std::size_t length, off_t offset, int& err) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, data + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno != 0 ? errno : EIO;
            return false;
        }
        if (n == 0) {
            err = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads the open file from its start: up to `limit` bytes.
bool readAll(int fd, std::string& out, std::size_t limit, int& err) {
    out.clear();
    char chunk[8192];
    while (out.size() < limit) {
        const std::size_t want = std::min(sizeof chunk, limit - out.size());
        const ssize_t n = ::pread(fd, chunk, want, static_cast<off_t>(out.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno != 0 ? errno : EIO;
            return false;
        }
        if (n == 0) break;
        out.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

void syncDirectory(const fs::path& directory) {
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd >= 0) {
        (void)::fsync(fd);
        (void)::close(fd);
    }
}

// Rewrites the existing file in place, keeping its old contents to put back
// when the new ones cannot be written whole.
Error rewriteInPlace(const fs::path& target, const fs::path& named, std::string_view bytes) {
    const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return systemError(errno, named);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const Error e = systemError(errno, named);
        ::close(fd);
        return e;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return typeError(st.st_mode, named);
    }
    std::string old;
    int err = 0;
    if (!readAll(fd, old, static_cast<std::size_t>(st.st_size), err)) {
        ::close(fd);
        return systemError(err, named);
    }
    bool ok = writeAll(fd, bytes.data(), bytes.size(), 0, err);
    if (ok && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) ok = false, err = errno;
    if (ok && ::fsync(fd) != 0) ok = false, err = errno;
    if (ok) {
        if (::close(fd) != 0) return systemError(errno, named);
        return {};
    }
    int ignored = 0;
    const bool restored = writeAll(fd, old.data(), old.size(), 0, ignored) &&
                          ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    return inPlaceFailure(err, named, restored);
}

// A new temporary file in the folder (another name is tried while the one
// chosen exists); -1 with `err` set when none can be made.
int createTemporary(const fs::path& directory, fs::path& temp, int& err) {
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = temporaryIn(directory);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        err = errno;
        if (fd < 0 && err != EEXIST) break;
    }
    return fd;
}

// Writes the bytes to the temporary file, syncs and closes it; on a failure
// the temporary file is removed.
Error writeTemporary(int fd, const fs::path& temp, const fs::path& named, std::string_view bytes) {
    int err = 0;
    bool ok = writeAll(fd, bytes.data(), bytes.size(), 0, err);
    if (ok && ::fsync(fd) != 0) ok = false, err = errno;
    if (::close(fd) != 0 && ok) ok = false, err = errno;
    if (!ok) {
        ::unlink(temp.c_str());
        return systemError(err, named);
    }
    return {};
}

// Renames the written temporary file over the target and syncs the folder.
Error replaceWithTemporary(const fs::path& temp, const fs::path& target, const fs::path& named) {
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return systemError(err, named);
    }
    syncDirectory(target.parent_path());
    return {};
}

#endif  // !_WIN32

// When no temporary file can be made: an existing file in a folder that
// allows no new file is rewritten in place.
Error noTemporaryFile(int err, bool exists, const fs::path& target, const fs::path& named, std::string_view bytes) {
    if (exists && (err == EACCES || err == EPERM)) return rewriteInPlace(target, named, bytes);
    return systemError(err, named);
}

}  // namespace

std::string PathText(const fs::path& path) {
#ifdef _WIN32
    const std::u8string u = path.u8string();
    return std::string(u.begin(), u.end());
#else
    return path.native();
#endif
}

fs::path ResolveWriteTarget(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
        const fs::path next = fs::read_symlink(current, ec);
        if (ec) return current;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current;
}

Error CheckRegularFile(const fs::path& path, bool missingIsOk) {
#ifdef _WIN32
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) {
        if (missingIsOk) return {};
        return systemError(ENOENT, path);
    }
    if (fs::is_directory(st)) {
        return Error::make(ErrorCode::NotAFile, "%1 is a folder, not a file", PathText(path), "Files:Folder");
    }
    if (!fs::is_regular_file(st)) {
        return Error::make(ErrorCode::NotAFile, "%1 is not a regular file; it was not opened", PathText(path),
                           "Files:Special");
    }
    return {};
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT && missingIsOk) return {};
        return systemError(err, path);
    }
    if (!S_ISREG(st.st_mode)) return typeError(st.st_mode, path);
    return {};
#endif
}

Result<FileBytes> ReadRegularFile(const fs::path& path, std::size_t limit) {
    if (Error e = CheckRegularFile(path, false); !e.ok()) return e;
    FileBytes out;
#ifdef _WIN32
    errno = 0;
    FILE* in = _wfopen(path.c_str(), L"rb");
    if (in == nullptr) return systemError(errno, path);
    struct _stat64 st {};
    if (_fstat64(_fileno(in), &st) != 0 || (st.st_mode & _S_IFREG) == 0) {
        std::fclose(in);
        return Error::make(ErrorCode::NotAFile, "%1 is not a regular file; it was not opened", PathText(path),
                           "Files:Special");
    }
    out.size = static_cast<std::uintmax_t>(st.st_size);
    const std::size_t want = static_cast<std::size_t>(std::min<std::uintmax_t>(out.size, limit));
    out.bytes.resize(want);
    const std::size_t got = want == 0 ? 0 : std::fread(out.bytes.data(), 1, want, in);
    out.bytes.resize(got);
    const bool failed = std::ferror(in) != 0;
    const int err = errno;
    std::fclose(in);
    if (failed) return systemError(err, path);
    return out;
#else
    // O_NONBLOCK: should the name have become a FIFO since the check above,
    // the open still returns at once instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return systemError(errno, path);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return systemError(err, path);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return typeError(st.st_mode, path);
    }
    out.size = static_cast<std::uintmax_t>(st.st_size);
    int err = 0;
    const bool ok = readAll(fd, out.bytes, limit, err);
    ::close(fd);
    if (!ok) return systemError(err, path);
    return out;
#endif
}

Error CheckWritableTarget(const fs::path& path) {
    if (path.empty() || !path.has_filename()) {
        return Error::make(ErrorCode::FileError, reasonOf(EINVAL), PathText(path));
    }
    const fs::path target = ResolveWriteTarget(path);
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    if (!fs::exists(old)) return {};
    return checkReplaceable(path, target, old);
}

Error WriteFileSafely(const fs::path& path, std::string_view bytes) {
    if (Error e = CheckWritableTarget(path); !e.ok()) return e;
    const fs::path target = ResolveWriteTarget(path);
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    const bool exists = fs::exists(old);
    const fs::path directory = target.parent_path();
    fs::path temp;
    int err = 0;

#ifdef _WIN32
    FILE* out = createTemporary(directory, temp, err);
    if (out == nullptr) return noTemporaryFile(err, exists, target, path, bytes);
    if (Error e = writeTemporary(out, temp, path, bytes); !e.ok()) return e;
    if (exists) fs::permissions(temp, old.permissions(), fs::perm_options::replace, ec);
#else
    const int fd = createTemporary(directory, temp, err);
    if (fd < 0) return noTemporaryFile(err, exists, target, path, bytes);
    // The replacement keeps the permissions of the file it replaces.
    if (exists) (void)::fchmod(fd, static_cast<mode_t>(old.permissions()) & 07777);
    if (Error e = writeTemporary(fd, temp, path, bytes); !e.ok()) return e;
#endif
    return replaceWithTemporary(temp, target, path);
}

Error WriteFileStreamed(const fs::path& path, const std::function<Error(const PieceWriter& write)>& produce) {
    if (Error e = CheckWritableTarget(path); !e.ok()) return e;
    const fs::path target = ResolveWriteTarget(path);
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    const bool exists = fs::exists(old);
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000;
    const fs::path temp = target.parent_path() / ("." + std::to_string(stamp) + "-" + std::to_string(counter++) + ".part");
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return systemError(errno ? errno : EACCES, path);
    Error e = produce([&](std::string_view piece) -> Error {
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        if (!out) return systemError(errno ? errno : EIO, path);
        return {};
    });
    out.close();
    if (e.ok() && out.fail()) e = systemError(errno ? errno : EIO, path);
    if (e.ok() && exists) fs::permissions(temp, old.permissions(), fs::perm_options::replace, ec);
    if (e.ok()) {
        fs::rename(temp, target, ec);
        if (ec) e = systemError(ec.value(), path);
    }
    if (!e.ok()) fs::remove(temp, ec);
    return e;
}

}  // namespace varnel
