// The 848-byte tuner image: two band halves and six FSK blocks.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace varnel {

class TunerImage {
public:
    static constexpr std::size_t kSize = 848;
    static constexpr std::size_t kHalfSize = 256;
    static constexpr std::size_t kSmallSize = 512;   // what a small-model radio exchanges
    static constexpr std::size_t kFskStart = 512;
    static constexpr std::size_t kFskBlockSize = 56;
    static constexpr int kPoints = 8;

    std::array<std::uint8_t, kSize> bytes{};

    std::uint8_t& operator[](std::size_t i) { return bytes[i]; }
    std::uint8_t operator[](std::size_t i) const { return bytes[i]; }
    void clear() { bytes.fill(0); }

    // Transmit / receive frequency in hertz of 0-based point index i (0..7)
    // in the given band half (0 or 1); 32-bit big-endian in the image.
    std::uint32_t txFrequencyIn(int band, int i) const;
    std::uint32_t rxFrequencyIn(int band, int i) const;
    void setTxFrequencyIn(int band, int i, std::uint32_t hertz);
    void setRxFrequencyIn(int band, int i, std::uint32_t hertz);

    // 16-bit little-endian value at an absolute offset (FSK columns D and E).
    std::uint16_t word(std::size_t offset) const;
    void setWord(std::size_t offset, std::uint16_t value);
};

// Hertz as megahertz with six decimals ("435.050000"); the value is taken as
// a signed 32-bit number.
std::string FormatMegahertz(std::uint32_t hertz);

}  // namespace varnel
