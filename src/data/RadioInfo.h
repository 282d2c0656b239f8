// The radio's 256-byte information block.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace varnel {

// The block is kept byte for byte; only a handful of fields are interpreted and
// every other byte travels unchanged through memory and archives.
class RadioInfo {
public:
    static constexpr std::size_t kSize = 256;
    static constexpr std::size_t kModelNameOffset = 0;
    static constexpr std::size_t kFirmwareOffset = 64;
    static constexpr std::size_t kFirmwareSize = 8;
    static constexpr std::size_t kModelCodeOffset = 88;
    static constexpr std::size_t kModelVariantOffset = 89;
    static constexpr std::size_t kFeatureFlagsOffset = 128;
    static constexpr std::uint8_t kLargeModelCode = 5;

    std::array<std::uint8_t, kSize> bytes{};

    // Narrow text up to the first NUL (or the whole 64-byte name area).
    std::string modelName() const;
    // The 8 bytes at offset 64 up to the first NUL.
    std::string firmwareVersion() const;
    std::uint8_t modelCode() const { return bytes[kModelCodeOffset]; }
    std::uint8_t modelVariant() const { return bytes[kModelVariantOffset]; }
    std::uint8_t featureFlags() const { return bytes[kFeatureFlagsOffset]; }
    // 848-byte image: bit 0 of featureFlags set and modelCode 5.
    bool largeModel() const;
    // Version 2.2 or later, read from the characters at offsets 65 and 67.
    bool newFirmware() const;
    // Number of image bytes this radio exchanges (848 or 512).
    std::size_t imageBytes() const { return largeModel() ? 848 : 512; }

    void clear() { bytes.fill(0); }
    void assign(const std::uint8_t* src) { std::copy(src, src + kSize, bytes.begin()); }
};

}  // namespace varnel
