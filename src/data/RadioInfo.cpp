#include "data/RadioInfo.h"

#include <algorithm>

namespace varnel {

namespace {
std::string textUpToNul(const std::uint8_t* begin, const std::uint8_t* end) {
    const std::uint8_t* nul = std::find(begin, end, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(nul - begin));
}
}  // namespace

std::string RadioInfo::modelName() const {
    // The name area ends where the firmware version begins.
    return textUpToNul(bytes.data() + kModelNameOffset, bytes.data() + kFirmwareOffset);
}

std::string RadioInfo::firmwareVersion() const {
    const std::uint8_t* start = bytes.data() + kFirmwareOffset;
    return textUpToNul(start, start + kFirmwareSize);
}

bool RadioInfo::largeModel() const {
    return (featureFlags() & 0x01) != 0 && modelCode() == kLargeModelCode;
}

bool RadioInfo::newFirmware() const {
    const std::uint8_t major = bytes[kFirmwareOffset + 1];
    const std::uint8_t minor = bytes[kFirmwareOffset + 3];
    if (major > '2') return true;
    return major == '2' && minor >= '2';
}

}  // namespace varnel
