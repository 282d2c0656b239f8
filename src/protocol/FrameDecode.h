// Reading a command frame back into words: which command, which item, band,
// point and value it carries, or what the radio reported in its reply. The
// communication log shows the result beside each hexadecimal line, and the
// status bar names the last acknowledged action with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnel {

struct DecodedFrame {
    bool received = false;       // a reply from the radio (else a frame sent to it)
    bool wellFormed = false;     // start and end byte, stated length and checksum agree
    std::uint16_t command = 0;   // command code without the reply bit
    std::size_t length = 0;      // bytes given
    std::size_t payloadLength = 0;
    // Live-set and read-back requests (0x0062), save requests (0x0066):
    int item = -1;               // item code, -1 when the frame has none
    int band = -1;               // 0 or 1 from the item code, -1 when unknown
    int action = -1;             // second payload byte of 0x0062
    int point = 0;               // calibration point (1-based), 0 when none
    std::uint32_t frequency = 0; // hertz
    int value = -1;              // value byte of a live-set, -1 when none
    std::size_t dataBytes = 0;   // record, block or image bytes carried
    // Replies:
    int status = -1;             // the single payload byte of a short reply, -1 when none
    std::vector<std::uint32_t> readings;  // read-back: reading(s); bit-error test: N then E
    // Why the transfer of this frame failed, as the link reports it; empty
    // when it went through. Decoding never fills it.
    std::string failure;
};

// Decodes `length` bytes of a frame. A reply of command 0x8062 is read by its
// length: 9 bytes an acknowledgement, 10 one reading, 11 two readings, 17 the
// bit-error counters.
DecodedFrame DecodeFrame(const std::uint8_t* bytes, std::size_t length, bool received);

// Key in section "Status" that names the command of a frame (action 7 of
// 0x0062 is the read-back request).
const char* CommandNameKey(std::uint16_t command, int action);
// Key in section "Status" that names an action code of the live-set, or nullptr.
const char* ActionNameKey(int action);
// Key in section "TreeView" of the item's tree caption, or nullptr.
const char* ItemCaptionKey(int itemCode);

// (section, key) -> text; the program passes its language lookup.
using TextLookup = std::function<std::string(const char* section, const char* key)>;

// The caption the operator knows an item by, as the log and the status bar
// name it: its tree node's, a column of a power pair or triple with its
// column ("Digital TX Power (High Level)"), else "item N".
std::string ItemCaptionText(int itemCode, const TextLookup& text);
// The caption of the item's tree node alone; for a column of a power pair or
// triple, the node of the pair ("Digital TX Power"). Empty when none.
std::string ItemNodeCaption(int itemCode, const TextLookup& text);
// The column of a power pair or triple ("Low Level"), empty for any other item.
std::string ItemColumnCaption(int itemCode, const TextLookup& text);

// One line of words for the log: direction, command, item caption, band,
// point, frequency, value, reply contents and a failed transfer's reason,
// joined by " · ".
std::string DescribeFrame(const DecodedFrame& frame, const TextLookup& text);
// The parts of that line, in order (for a CSV file).
std::vector<std::string> DescribeFrameFields(const DecodedFrame& frame, const TextLookup& text);

// Short words for an acknowledged request, for the status bar: "Saved TX
// power", "Set Low power, point 3 = 120", "Entered tuner mode". `point` is
// added for saves of per-point items when it is 1 or more.
std::string DescribeAcknowledged(const DecodedFrame& request, int point, const TextLookup& text);

}  // namespace varnel
