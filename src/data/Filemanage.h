// Tuner archive files (.tdb): the 256-byte radio information block followed
// by all 848 bytes of the tuner image, 1104 bytes, no header, no checksum.
//
// Loading is all or nothing: a file that is not exactly 1104 bytes, or that
// is not a regular file at all (a folder, a FIFO, a device), is refused and
// nothing in memory changes. Saving goes through WriteFileSafely
// (util/FileAccess.h): it never leaves a half-written archive behind, writes
// through a symbolic link to its target, refuses a read-only archive with the
// reason, and still saves a writable archive in a folder that is not
// writable. Every error names the file the operator chose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "util/Error.h"

namespace varnel {

inline constexpr std::size_t kArchiveSize = 1104;

// The staging area of both directions; zero at program start and not cleared
// between uses.
extern std::array<std::uint8_t, kArchiveSize> archiveBuffer;

// Reads the archive at `path` into `buffer`. Only a regular file of exactly
// kArchiveSize bytes is taken; on failure `buffer` is left untouched and the
// error says why (ErrorCode::WrongSize with the file's length, NotAFile, or
// the system's reason).
Error LoadArchive(const std::filesystem::path& path, std::array<std::uint8_t, kArchiveSize>& buffer);

// Creates or replaces the file at `path` with `length` bytes from `data`.
// The previous file stays intact unless the new one was written completely.
Error SaveArchive(const std::filesystem::path& path, const std::uint8_t* data, std::size_t length);

// radioInfo then tunerImage (the globals) into the buffer, and back.
void PackArchive(std::array<std::uint8_t, kArchiveSize>& buffer);
void UnpackArchive(const std::array<std::uint8_t, kArchiveSize>& buffer);

// The file name without its directory, as shown in the tuning window's caption.
std::filesystem::path ArchiveDisplayName(const std::filesystem::path& path);

}  // namespace varnel
