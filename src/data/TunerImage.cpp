#include "data/TunerImage.h"

#include <cstdio>

namespace varnel {

namespace {
std::uint32_t readBigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}
void writeBigEndian32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
std::size_t txOffset(int band, int i) {
    return TunerImage::kHalfSize * static_cast<std::size_t>(band != 0) + 4 * static_cast<std::size_t>(i & 7);
}
}  // namespace

std::uint32_t TunerImage::txFrequencyIn(int band, int i) const {
    return readBigEndian32(bytes.data() + txOffset(band, i));
}
std::uint32_t TunerImage::rxFrequencyIn(int band, int i) const {
    return readBigEndian32(bytes.data() + txOffset(band, i) + 32);
}
void TunerImage::setTxFrequencyIn(int band, int i, std::uint32_t hertz) {
    writeBigEndian32(bytes.data() + txOffset(band, i), hertz);
}
void TunerImage::setRxFrequencyIn(int band, int i, std::uint32_t hertz) {
    writeBigEndian32(bytes.data() + txOffset(band, i) + 32, hertz);
}

std::uint16_t TunerImage::word(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}
void TunerImage::setWord(std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::string FormatMegahertz(std::uint32_t hertz) {
    // Whole hertz, so integer arithmetic gives the exact six decimals.
    const std::int64_t signedHertz = static_cast<std::int32_t>(hertz);
    const bool negative = signedHertz < 0;
    const std::int64_t magnitude = negative ? -signedHertz : signedHertz;
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%06lld", negative ? "-" : "",
                  static_cast<long long>(magnitude / 1000000), static_cast<long long>(magnitude % 1000000));
    return text;
}

}  // namespace varnel
