// Frames as the virtual radio receives them: building the expected ones and
// splitting the recorded ones, for comparing byte for byte.
#pragma once

#include <QList>
#include <array>
#include <cstdint>
#include <vector>

#include "sim/VirtualRadio.h"

namespace varnel::test {

using Frame = std::vector<std::uint8_t>;

// A whole frame of `code` around `payload`.
Frame BuiltFrame(std::uint16_t code, const Frame& payload);
// The live-set (8-byte payload), its FSK form (15 bytes) and a save command.
Frame LiveSet(int item, int action, int point, std::uint32_t frequency, int value);
Frame BlockSet(int item, int action, int point, std::uint32_t frequency,
               const std::array<std::uint8_t, 8>& data);
Frame Save(int item, const std::vector<std::uint8_t>& record);

// One recorded frame: its command code and payload.
struct Sent {
    int code = -1;
    std::vector<std::uint8_t> payload;
    // Payload bytes 3 to 6 of a live-set, big-endian.
    std::uint32_t frequency() const;
};
// Every well-formed frame the radio received, in order.
std::vector<Sent> SentFrames(const VirtualRadio& radio);
// The command code of a frame (0 for one too short to have one), and the
// codes of every frame the radio received, in order.
std::uint16_t FrameCode(const Frame& frame);
QList<std::uint16_t> FrameCodes(const VirtualRadio& radio);

// One live-set (8-byte payload) or FSK live-set (15 bytes) as the radio
// received it: the fields of the payload, and the 8-byte record of the FSK form.
struct SentLiveSet {
    int item = -1;
    int action = -1;
    int point = -1;
    std::uint32_t frequency = 0;
    int value = -1;  // payload byte 7 (the record's first byte in the FSK form)
    bool block = false;
    std::array<std::uint8_t, 8> record{};
};
// Every live-set the radio received, in order.
std::vector<SentLiveSet> SentLiveSets(const VirtualRadio& radio);

}  // namespace varnel::test
