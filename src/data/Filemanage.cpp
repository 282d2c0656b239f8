#include "data/Filemanage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

#include "data/Global.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace varnel {

namespace fs = std::filesystem;

static_assert(RadioInfo::kSize + TunerImage::kSize == kArchiveSize,
              "an archive is the information block followed by the whole image");

std::array<std::uint8_t, kArchiveSize> archiveBuffer{};

namespace {

std::string errnoText(int code) {
    if (code == 0) return "unknown error";
    return std::generic_category().message(code);
}

std::string pathText(const fs::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

bool fail(ArchiveError* error, ArchiveError::Kind kind, const fs::path& path, std::string reason,
          std::uintmax_t size = 0) {
    if (error != nullptr) {
        error->kind = kind;
        error->path = path;
        error->size = size;
        error->reason = std::move(reason);
    }
    return false;
}

void succeed(ArchiveError* error, const fs::path& path) {
    if (error != nullptr) *error = ArchiveError{ArchiveError::Kind::None, path, 0, {}};
}

std::FILE* openForReading(const fs::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

// A name beside the target that no other file has; the exclusive create
// below rejects a clash and the caller tries another.
fs::path temporaryNameFor(const fs::path& target, unsigned attempt) {
    static unsigned counter = 0;
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%llx-%x-%x.tmp", ticks & 0xFFFFFFFFFFFFull, ++counter, attempt);
    fs::path name(".");
    name += target.filename().native();
    name += suffix;
    return target.parent_path() / name;
}

// Writes `length` bytes to a new file at `temp` and forces them to disk.
// Returns 0 or the errno of the step that failed; `created` tells whether the
// file exists and must be removed on failure.
int writeTemporary(const fs::path& temp, const fs::path& target, const std::uint8_t* data, std::size_t length,
                   bool& created) {
    created = false;
#ifdef _WIN32
    (void)target;
    std::FILE* file = _wfopen(temp.c_str(), L"wbx");
    if (file == nullptr) return errno != 0 ? errno : EIO;
    created = true;
    int result = 0;
    if (length > 0 && std::fwrite(data, 1, length, file) != length) result = errno != 0 ? errno : EIO;
    if (result == 0 && std::fflush(file) != 0) result = errno != 0 ? errno : EIO;
    if (result == 0 && _commit(_fileno(file)) != 0) result = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && result == 0) result = errno != 0 ? errno : EIO;
    return result;
#else
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno != 0 ? errno : EIO;
    created = true;
    int result = 0;
    // Keep the permissions of the archive being replaced.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            result = errno != 0 ? errno : EIO;
            break;
        }
        if (n == 0) {
            result = EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (result == 0 && ::fsync(fd) != 0) result = errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && result == 0) result = errno != 0 ? errno : EIO;
    return result;
#endif
}

void syncDirectory([[maybe_unused]] const fs::path& directory) {
#ifndef _WIN32
    // Makes the rename itself durable; a failure here loses nothing that the
    // rename has not already made visible, so it is not reported.
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        (void)::close(fd);
    }
#endif
}

}  // namespace

std::string DescribeArchiveError(const ArchiveError& error) {
    static const std::string open = "\xE2\x80\x9C";   // left double quotation mark
    static const std::string close = "\xE2\x80\x9D";  // right double quotation mark
    const std::string name = open + pathText(error.path) + close;
    switch (error.kind) {
        case ArchiveError::Kind::None:
            return name + " was handled without error.";
        case ArchiveError::Kind::CannotOpen:
            return name + " could not be opened for reading: " + error.reason + ". Nothing was loaded.";
        case ArchiveError::Kind::WrongSize: {
            const std::string size = error.size == 0   ? std::string("is empty")
                                     : error.size == 1 ? std::string("is 1 byte long")
                                                       : "is " + std::to_string(error.size) + " bytes long";
            return name + " " + size + "; a tuner archive is exactly " + std::to_string(kArchiveSize) +
                   " bytes. Nothing was loaded.";
        }
        case ArchiveError::Kind::CannotWrite:
            return name + " could not be saved: " + error.reason + ". Any earlier file of that name is unchanged.";
    }
    return name + ": unknown archive error.";
}

bool LoadArchive(const fs::path& path, std::array<std::uint8_t, kArchiveSize>& buffer, ArchiveError* error) {
    using Kind = ArchiveError::Kind;
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        return fail(error, Kind::CannotOpen, path, std::make_error_code(std::errc::is_a_directory).message());
    }
    errno = 0;
    std::FILE* file = openForReading(path);
    if (file == nullptr) return fail(error, Kind::CannotOpen, path, errnoText(errno));

    // One byte more than an archive holds tells a long file from an exact one.
    std::array<std::uint8_t, kArchiveSize + 1> local{};
    std::size_t count = 0;
    while (count < local.size()) {
        const std::size_t n = std::fread(local.data() + count, 1, local.size() - count, file);
        if (n == 0) break;
        count += n;
    }
    const bool readError = std::ferror(file) != 0;
    const int readErrno = errno;
    std::fclose(file);
    if (readError) return fail(error, Kind::CannotOpen, path, errnoText(readErrno));

    if (count != kArchiveSize) {
        std::uintmax_t size = count;
        if (count > kArchiveSize) {
            const std::uintmax_t onDisk = fs::file_size(path, ec);
            if (!ec && onDisk > kArchiveSize) size = onDisk;
        }
        return fail(error, Kind::WrongSize, path, {}, size);
    }
    std::copy(local.begin(), local.begin() + kArchiveSize, buffer.begin());
    succeed(error, path);
    return true;
}

bool SaveArchive(const fs::path& path, const std::uint8_t* data, std::size_t length, ArchiveError* error) {
    using Kind = ArchiveError::Kind;
    if (data == nullptr && length > 0) {
        return fail(error, Kind::CannotWrite, path, std::make_error_code(std::errc::invalid_argument).message());
    }
    std::error_code ec;
    if (path.empty() || !path.has_filename()) {
        return fail(error, Kind::CannotWrite, path, std::make_error_code(std::errc::invalid_argument).message());
    }
    if (fs::is_directory(path, ec)) {
        return fail(error, Kind::CannotWrite, path, std::make_error_code(std::errc::is_a_directory).message());
    }

    fs::path temp;
    int result = EEXIST;
    bool created = false;
    for (unsigned attempt = 0; attempt < 16 && result == EEXIST; ++attempt) {
        temp = temporaryNameFor(path, attempt);
        result = writeTemporary(temp, path, data, length, created);
        if (result == EEXIST && created) break;  // the file was ours after all: a real failure
    }
    if (result != 0) {
        if (created) fs::remove(temp, ec);
        return fail(error, Kind::CannotWrite, path, errnoText(result));
    }

    fs::rename(temp, path, ec);
    if (ec) {
        const std::string reason = ec.message();
        std::error_code ignored;
        fs::remove(temp, ignored);
        return fail(error, Kind::CannotWrite, path, reason);
    }
    syncDirectory(path.parent_path());
    succeed(error, path);
    return true;
}

void PackArchive(std::array<std::uint8_t, kArchiveSize>& buffer) {
    std::copy(radioInfo.bytes.begin(), radioInfo.bytes.end(), buffer.begin());
    std::copy(tunerImage.bytes.begin(), tunerImage.bytes.end(), buffer.begin() + RadioInfo::kSize);
}

void UnpackArchive(const std::array<std::uint8_t, kArchiveSize>& buffer) {
    std::copy(buffer.begin(), buffer.begin() + RadioInfo::kSize, radioInfo.bytes.begin());
    std::copy(buffer.begin() + RadioInfo::kSize, buffer.end(), tunerImage.bytes.begin());
}

fs::path ArchiveDisplayName(const fs::path& path) { return path.filename(); }

}  // namespace varnel
