#include "protocol/FrameDecode.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "data/ItemTable.h"
#include "data/TunerImage.h"
#include "protocol/Sendcmd.h"

namespace varnel {

namespace {

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string line;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!line.empty()) line += separator;
        line += part;
    }
    return line;
}

std::string Word(const TextLookup& text, const char* key) { return text ? text("Status", key) : std::string(); }

std::string BandName(int band) {
    if (band == 0) return "400-470 MHz";
    if (band == 1) return "136-174 MHz";
    return {};
}

// The caption of the tree node that selects `code` itself.
std::string NodeCaption(int code, const TextLookup& text) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->treeKey == nullptr || item->treeGroup == TreeGroup::None) return {};
    if (item->treeFixed) return item->treeKey;
    return text ? text("TreeView", item->treeKey) : std::string();
}

// A column of a power pair or the mobile triple, as its page heads it: the
// basic pair of the triple has its own low and high captions.
std::string ColumnCaption(int code, const TextLookup& text) {
    if (!text) return {};
    if (const std::optional<PowerTriple> triple = TripleOf(code)) {
        if (code == triple->middle) return text("ChildForm", "C0024");
        return text("ChildForm", code == triple->low ? "C0012" : "C0013");
    }
    if (const std::optional<PowerPair> pair = PairOf(code)) {
        std::string column = text("ChildForm", code == pair->low ? "C0016" : "C0017");
        const TuningItem* item = FindItem(code);
        // The raw codes are told apart by their number.
        if (item != nullptr && item->layout == ItemLayout::Shared) column += " " + std::to_string(code);
        return column;
    }
    return {};
}

// The caption the operator knows the item by: its tree node's, and for a
// column of a power pair or triple the node of the pair with the column.
std::string ItemCaption(int code, const TextLookup& text) {
    if (code < 0) return {};
    std::string caption = NodeCaption(code, text);
    const std::string column = ColumnCaption(code, text);
    if (!column.empty()) {
        std::vector<int> members;
        if (const std::optional<PowerTriple> triple = TripleOf(code)) members = {triple->low, triple->middle, triple->high};
        if (const std::optional<PowerPair> pair = PairOf(code)) members.insert(members.end(), {pair->low, pair->high});
        for (const int member : members) {
            if (caption.empty()) caption = NodeCaption(member, text);
        }
        if (!caption.empty()) caption += " (" + column + ")";
    }
    if (caption.empty()) {
        const char* key = ItemCaptionKey(code);
        caption = (key != nullptr && text) ? text("TreeView", key) : std::string();
    }
    if (caption.empty()) caption = Word(text, "F0013") + " " + std::to_string(code);
    return caption;
}

}  // namespace

std::string ItemNodeCaption(int code, const TextLookup& text) {
    std::string caption = NodeCaption(code, text);
    std::vector<int> members;
    if (const std::optional<PowerTriple> triple = TripleOf(code)) members = {triple->low, triple->middle, triple->high};
    if (const std::optional<PowerPair> pair = PairOf(code)) members.insert(members.end(), {pair->low, pair->high});
    for (const int member : members) {
        if (caption.empty()) caption = NodeCaption(member, text);
    }
    if (caption.empty()) {
        const char* key = ItemCaptionKey(code);
        caption = (key != nullptr && text) ? text("TreeView", key) : std::string();
    }
    return caption;
}

std::string ItemColumnCaption(int code, const TextLookup& text) { return ColumnCaption(code, text); }

std::string ItemCaptionText(int code, const TextLookup& text) { return ItemCaption(code, text); }

namespace {

bool PerPointItem(int code) {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    return bytes && (bytes->layout == ItemLayout::Array || bytes->layout == ItemLayout::FskBlock ||
                     bytes->layout == ItemLayout::Shared);
}

// The checksum of a frame whose stated length fits: the 16-bit sum of the
// payload bytes after them.
bool ChecksumMatches(const std::uint8_t* bytes, std::size_t stated) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < stated; ++i) sum = static_cast<std::uint16_t>(sum + bytes[5 + i]);
    return bytes[5 + stated] == static_cast<std::uint8_t>(sum >> 8) &&
           bytes[6 + stated] == static_cast<std::uint8_t>(sum);
}

// A command the program sent: the item, point and value it carries.
void DecodeCommand(DecodedFrame& frame, const std::uint8_t* p, std::size_t payload) {
    switch (frame.command) {
        case cmd::kSetItem:
            if (payload >= 8) {
                frame.item = p[0];
                frame.action = p[1];
                frame.point = p[2];
                frame.frequency = BigEndian32(p + 3);
                if (payload == 8) {
                    frame.value = p[7];
                } else {
                    frame.dataBytes = payload - 7;  // the FSK record
                }
            }
            break;
        case cmd::kSaveItem:
            if (payload >= 2) {
                frame.item = p[0];
                frame.dataBytes = p[1];
                if (p[1] == 1 && payload >= 3) frame.value = p[2];
            }
            break;
        case cmd::kWriteAll:
        case cmd::kWriteFactory:
            frame.dataBytes = payload;
            break;
        default:
            break;
    }
}

// A reply longer than a status byte: the readings of a read-back, the data of
// the reads.
void DecodeReply(DecodedFrame& frame, const std::uint8_t* p, std::size_t payload, std::size_t length) {
    switch (frame.command) {
        case cmd::kSetItem:
            if (payload >= 1) frame.item = p[0];
            if (length == 17 && payload >= 9) {
                frame.readings = {BigEndian32(p + 1), BigEndian32(p + 5)};
            } else if (length == 11 && payload >= 3) {
                frame.readings = {p[1], p[2]};
            } else if (payload >= 2) {
                frame.readings = {p[1]};
            }
            break;
        case cmd::kReadInfo:
        case cmd::kEnterTunerMode:
        case cmd::kReadFactory:
            if (payload >= 1) {
                frame.status = p[0];
                frame.dataBytes = payload - 1;
            }
            break;
        default:
            if (payload >= 1) frame.status = p[0];
            break;
    }
}

}  // namespace

DecodedFrame DecodeFrame(const std::uint8_t* bytes, std::size_t length, bool received) {
    DecodedFrame frame;
    frame.received = received;
    frame.length = length;
    if (bytes == nullptr || length < 8 || bytes[0] != kFrameStart) return frame;
    frame.command = static_cast<std::uint16_t>(((bytes[1] << 8) | bytes[2]) & ~cmd::kReplyBit);
    const std::size_t stated = (std::size_t{bytes[3]} << 8) | bytes[4];
    // A reply is read with the length its command expects; the stated length
    // decides where the payload ends.
    const std::size_t payload = std::min(stated, length - 8);
    frame.payloadLength = payload;
    if (stated + 8 <= length && bytes[length - 1] == kFrameEnd) frame.wellFormed = ChecksumMatches(bytes, stated);
    const std::uint8_t* p = bytes + 5;

    if (received && payload == 1) {  // a status reply
        frame.status = p[0];
        return frame;
    }
    if (received) {
        DecodeReply(frame, p, payload, length);
    } else {
        DecodeCommand(frame, p, payload);
    }
    if (frame.item >= 0) frame.band = BandOfCode(frame.item);
    return frame;
}

const char* CommandNameKey(std::uint16_t command, int action) {
    switch (command) {
        case cmd::kReadInfo: return "D0003";
        case cmd::kEnterTunerMode: return "D0060";
        case cmd::kExitTunerMode: return "D0061";
        case cmd::kSetItem: return action == 7 ? "D0067" : "D0062";
        case cmd::kWriteAll: return "D0063";
        case cmd::kWriteFactory: return "D0064";
        case cmd::kReadFactory: return "D0065";
        case cmd::kSaveItem: return "D0066";
        default: return "D0000";
    }
}

const char* ActionNameKey(int action) {
    switch (action) {
        case 0: return "A0000";
        case 1: return "A0001";
        case 2: return "A0002";
        case 3: return "A0003";
        case 4: return "A0004";
        case 5: return "A0005";
        case 7: return "A0007";
        case 8: return "A0008";
        case 9: return "A0009";
        default: return nullptr;
    }
}

const char* ItemCaptionKey(int itemCode) {
    const TuningItem* item = FindItem(itemCode);
    if (item == nullptr) return nullptr;
    return item->treeKey;
}

std::vector<std::string> DescribeFrameFields(const DecodedFrame& frame, const TextLookup& text) {
    std::vector<std::string> fields;
    // direction
    fields.push_back(Word(text, frame.received ? "D0002" : "D0001"));
    // command
    fields.push_back(Word(text, CommandNameKey(frame.command, frame.received ? -1 : frame.action)));
    // item caption and band
    fields.push_back(ItemCaption(frame.item, text));
    fields.push_back(BandName(frame.band));
    // action
    std::string action;
    if (const char* key = ActionNameKey(frame.action); key != nullptr && frame.action != 7) action = Word(text, key);
    fields.push_back(action);
    // point, frequency
    fields.push_back(frame.point > 0 ? Word(text, "F0002") + " " + std::to_string(frame.point) : std::string());
    fields.push_back(frame.frequency != 0 ? FormatMegahertz(frame.frequency) + " MHz" : std::string());
    // value, carried bytes, reply contents
    std::string value;
    if (frame.value >= 0) value = Word(text, "F0003") + " " + std::to_string(frame.value);
    if (frame.dataBytes > 0) {
        if (!value.empty()) value += ", ";
        value += std::to_string(frame.dataBytes) + " " + Word(text, "F0005");
    }
    if (frame.readings.size() == 1) {
        value = Word(text, "F0007") + " " + std::to_string(frame.readings[0]);
    } else if (frame.readings.size() == 2 && frame.length == 17) {
        // N frames of 264 bits each, E bit errors.
        const std::uint32_t bits = frame.readings[0] * 264u;
        value = std::to_string(bits) + " " + Word(text, "F0008") + ", " + std::to_string(frame.readings[1]) + " " +
                Word(text, "F0009");
    } else if (frame.readings.size() == 2) {
        value = Word(text, "F0007") + " " + std::to_string(frame.readings[0]) + " / " + std::to_string(frame.readings[1]);
    }
    if (frame.status >= 0) {
        if (!value.empty()) value += ", ";
        value += Word(text, frame.status == 0 ? "F0010" : "F0006") +
                 (frame.status == 0 ? std::string() : " " + std::to_string(frame.status));
    }
    fields.push_back(value);
    // what went wrong
    std::string problem;
    if (!frame.wellFormed && frame.length > 0) problem = Word(text, "F0011");
    if (!frame.failure.empty()) {
        if (!problem.empty()) problem += ", ";
        problem += Word(text, "F0012") + ": " + frame.failure;
    }
    fields.push_back(problem);
    return fields;
}

std::string DescribeFrame(const DecodedFrame& frame, const TextLookup& text) {
    return Join(DescribeFrameFields(frame, text), " \xC2\xB7 ");
}

std::string DescribeAcknowledged(const DecodedFrame& request, int point, const TextLookup& text) {
    std::string line;
    switch (request.command) {
        case cmd::kReadInfo: return Word(text, "K0003");
        case cmd::kEnterTunerMode: return Word(text, "K0060");
        case cmd::kExitTunerMode: return Word(text, "K0061");
        case cmd::kWriteAll: return Word(text, "K0063");
        case cmd::kWriteFactory: return Word(text, "K0064");
        case cmd::kReadFactory: return Word(text, "K0065");
        case cmd::kSaveItem:
            line = Word(text, "K0066") + " " + ItemCaption(request.item, text);
            if (point >= 1 && PerPointItem(request.item)) line += ", " + Word(text, "F0002") + " " + std::to_string(point);
            return line;
        case cmd::kSetItem:
            line = Word(text, request.action == 7 ? "K0067" : "K0062") + " " + ItemCaption(request.item, text);
            if (request.point > 0) line += ", " + Word(text, "F0002") + " " + std::to_string(request.point);
            if (request.value >= 0 && request.action != 7) line += " = " + std::to_string(request.value);
            return line;
        default: return Word(text, "D0000");
    }
}

}  // namespace varnel
