#include "lang/FrameLogText.h"

#include "lang/Loadlanguage.h"

namespace varnel {

std::string FrameLogText(const std::uint8_t* bytes, std::uint16_t length, int direction) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line = "  ";
    line += Text("ChildForm", direction == 0 ? "C0021" : "C0020");
    line += ":   ";
    line.reserve(line.size() + 4u * length);
    for (std::uint16_t i = 0; bytes != nullptr && i < length; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0x0F];
        line += "  ";
    }
    return line;
}

}  // namespace varnel
