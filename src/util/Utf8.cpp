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

std::string EscapedText(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        const std::size_t length = Utf8Sequence(text, at, code);
        const std::size_t taken = length == 0 ? 1 : length;
        const bool control = length == 0 || code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F);
        if (!control) {
            out.append(text, at, taken);
        } else {
            for (std::size_t i = at; i < at + taken; ++i) {
                const auto b = static_cast<unsigned char>(text[i]);
                out += "\\x";
                out += kHex[b >> 4];
                out += kHex[b & 15];
            }
        }
        at += taken;
    }
    return out;
}

}  // namespace varnel
