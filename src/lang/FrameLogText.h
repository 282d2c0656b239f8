// The text of one communication-log line after its date and time: two
// spaces, the direction label ("ChildForm" C0021 for a frame sent, C0020 for
// one received), a colon and three spaces, then every byte as two upper-case
// hexadecimal digits followed by two spaces.
#pragma once

#include <cstdint>
#include <string>

namespace varnel {

std::string FrameLogText(const std::uint8_t* bytes, std::uint16_t length, int direction);

}  // namespace varnel
