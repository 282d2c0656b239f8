#include "util/Utf8.h"

namespace varnel {

std::size_t Utf8Sequence(const std::string& s, std::size_t at, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char first = byte(at);
    std::size_t length = 0;
    if (first < 0x80) return code = first, 1;
    if (first >= 0xC2 && first <= 0xDF) length = 2, code = first & 0x1F;
    else if (first >= 0xE0 && first <= 0xEF) length = 3, code = first & 0x0F;
    else if (first >= 0xF0 && first <= 0xF4) length = 4, code = first & 0x07;
    else return 0;
    if (at + length > s.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace varnel
