// Careful whole-file reads and writes for the files the operator names:
// archives, language files, setting.ini.
//
// Reading
// - Only a regular file is opened. A folder, a FIFO, a device or a socket is
//   refused at once with an error that says what it is; a FIFO is never
//   opened in a way that waits for a writer.
//
// Writing (WriteFileSafely)
// - A symbolic link is followed: its final target is written and the link
//   stays a link.
// - A file without any write permission bit is not replaced (refused with the
//   reason), even for a user whom permissions do not bind.
// - The new bytes go to a temporary file with a short name beside the target
//   (so a name up to the system's limit still works), flushed and synced,
//   then renamed over the target: a failed save leaves the old file intact.
// - When the folder refuses the temporary file but the file itself is
//   writable, the file is rewritten in place: its old contents are kept in
//   memory first, the new bytes are written, flushed and synced, and on a
//   failure the old contents are written back.
// - Every error names the file the caller passed, never the temporary file.
//
// Error links carry keys of section "Files" of the language files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "util/Error.h"

namespace varnel {

struct FileBytes {
    std::string bytes;        // at most the limit given to ReadRegularFile
    std::uintmax_t size = 0;  // the file's whole length
};

// The path as UTF-8 text for messages (bytes that are not UTF-8 are kept as
// they are on POSIX systems).
std::string PathText(const std::filesystem::path& path);

// Why `path` is not something to read or write as a file, or success when it
// is a regular file or (with `missingIsOk`) does not exist. A symbolic link
// is judged by its target.
Error CheckRegularFile(const std::filesystem::path& path, bool missingIsOk);

// Reads up to `limit` bytes of the regular file at `path`.
Result<FileBytes> ReadRegularFile(const std::filesystem::path& path, std::size_t limit);

// Why WriteFileSafely would refuse `path` before writing a byte: it (or the
// target of its link) exists and is not a regular file, or is read-only.
// Success when it does not exist yet. For callers that should find out
// before a long job rather than after it.
Error CheckWritableTarget(const std::filesystem::path& path);

// Creates or replaces the file at `path` with `bytes` (see above).
Error WriteFileSafely(const std::filesystem::path& path, std::string_view bytes);

// Creates or replaces the file at `path` with bytes that come in pieces, in
// memory that does not grow with the file: `produce` hands each piece to
// `write`. The pieces go to a temporary file beside the target (links
// followed, the old file's permissions kept), which replaces the target only
// when `produce` succeeded; a failure leaves the old file as it was.
using PieceWriter = std::function<Error(std::string_view piece)>;
Error WriteFileStreamed(const std::filesystem::path& path, const std::function<Error(const PieceWriter& write)>& produce);

// The file a write to `path` ends up in: symbolic links followed to their
// final target (which need not exist yet). Returns `path` itself when it is
// not a link.
std::filesystem::path ResolveWriteTarget(const std::filesystem::path& path);

}  // namespace varnel
