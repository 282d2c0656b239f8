#include "data/Filemanage.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "data/Global.h"
#include "util/FileAccess.h"

namespace varnel {

namespace fs = std::filesystem;

static_assert(RadioInfo::kSize + TunerImage::kSize == kArchiveSize,
              "an archive is the information block followed by the whole image");

std::array<std::uint8_t, kArchiveSize> archiveBuffer{};

Error LoadArchive(const fs::path& path, std::array<std::uint8_t, kArchiveSize>& buffer) {
    // One byte more than an archive holds tells a long file from an exact one.
    Result<FileBytes> file = ReadRegularFile(path, kArchiveSize + 1);
    if (!file) return file.error().wrapped("Cannot open the archive; nothing was loaded", {}, "Files:OpenArchive");
    if (file->bytes.size() != kArchiveSize || file->size != kArchiveSize) {
        const std::uintmax_t size = std::max<std::uintmax_t>(file->size, file->bytes.size());
        return Error::make(ErrorCode::WrongSize, "the file holds %1 byte(s); a tuner archive is exactly 1104 bytes",
                           std::to_string(size), "Files:ArchiveSize")
            .wrap("%1", PathText(path))
            .wrap("Cannot open the archive; nothing was loaded", {}, "Files:OpenArchive");
    }
    std::copy(file->bytes.begin(), file->bytes.end(), buffer.begin());
    return {};
}

Error SaveArchive(const fs::path& path, const std::uint8_t* data, std::size_t length) {
    if (data == nullptr && length > 0) {
        return Error::make(ErrorCode::Other, "nothing to save", PathText(path))
            .wrap("Cannot save the archive", {}, "Files:SaveArchive");
    }
    Error e = WriteFileSafely(path, std::string_view(reinterpret_cast<const char*>(data), length));
    return e.wrap("Cannot save the archive", {}, "Files:SaveArchive");
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
