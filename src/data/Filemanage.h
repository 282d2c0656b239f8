// Tuner archive files (.tdb): the 256-byte radio information block followed
// by all 848 bytes of the tuner image, 1104 bytes, no header, no checksum.
//
// Loading is all or nothing: a file that is not exactly 1104 bytes is refused
// and nothing in memory changes. Saving never leaves a half-written archive
// behind: the bytes go to a temporary file beside the target, which replaces
// the target only once it is complete and flushed to disk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace varnel {

inline constexpr std::size_t kArchiveSize = 1104;

// The staging area of both directions; zero at program start and not cleared
// between uses.
extern std::array<std::uint8_t, kArchiveSize> archiveBuffer;

struct ArchiveError {
    enum class Kind { None, CannotOpen, WrongSize, CannotWrite };
    Kind kind = Kind::None;
    std::filesystem::path path;  // the file concerned
    std::uintmax_t size = 0;     // the file's length in bytes (WrongSize)
    std::string reason;          // the system's explanation (CannotOpen, CannotWrite)
};

// One English sentence (UTF-8) naming the file; the length for WrongSize and
// the system's reason otherwise.
std::string DescribeArchiveError(const ArchiveError& error);

// Reads the archive at `path` into `buffer`. Only a file of exactly
// kArchiveSize bytes is taken; on failure `buffer` is left untouched, false
// is returned and `error` (when given) says why.
bool LoadArchive(const std::filesystem::path& path, std::array<std::uint8_t, kArchiveSize>& buffer,
                 ArchiveError* error);

// Creates or replaces the file at `path` with `length` bytes from `data`.
// The previous file stays intact unless the new one was written completely.
bool SaveArchive(const std::filesystem::path& path, const std::uint8_t* data, std::size_t length,
                 ArchiveError* error);

// radioInfo then tunerImage (the globals) into the buffer, and back.
void PackArchive(std::array<std::uint8_t, kArchiveSize>& buffer);
void UnpackArchive(const std::array<std::uint8_t, kArchiveSize>& buffer);

// The file name without its directory, as shown in the tuning window's caption.
std::filesystem::path ArchiveDisplayName(const std::filesystem::path& path);

}  // namespace varnel
