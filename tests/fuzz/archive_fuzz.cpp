// The archive loader over arbitrary file contents: a refused file changes
// nothing, an accepted one comes back byte for byte.
#include <algorithm>
#include <array>
#include <cstring>

#include "FuzzSupport.h"
#include "data/Filemanage.h"
#include "data/Global.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = fuzz::ScratchDirectory() / "input.tdb";
    fuzz::WriteWhole(file, std::string_view(reinterpret_cast<const char*>(data), size));
    std::array<std::uint8_t, kArchiveSize> buffer;
    buffer.fill(0xC3);
    const Error error = LoadArchive(file, buffer);
    if (!error.ok()) {
        FUZZ_CHECK(size != kArchiveSize);
        FUZZ_CHECK(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xC3; }));
        FUZZ_CHECK(!error.text().empty());
        return 0;
    }
    FUZZ_CHECK(size == kArchiveSize);
    FUZZ_CHECK(std::memcmp(buffer.data(), data, kArchiveSize) == 0);
    UnpackArchive(buffer);
    (void)radioInfo.modelName();
    (void)radioInfo.newFirmware();
    (void)radioInfo.imageBytes();
    std::array<std::uint8_t, kArchiveSize> packed{};
    PackArchive(packed);
    FUZZ_CHECK(packed == buffer);
    return 0;
}
