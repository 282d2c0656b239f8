#include "support/RadioFrames.h"

#include "protocol/Sendcmd.h"

namespace varnel::test {

namespace {
Frame Head(int item, int action, int point, std::uint32_t f) {
    // Room for the longest payload, so appending never reallocates.
    Frame payload;
    payload.reserve(15);
    for (const std::uint32_t byte : {std::uint32_t(item), std::uint32_t(action), std::uint32_t(point), f >> 24,
                                     f >> 16, f >> 8, f})
        payload.push_back(static_cast<std::uint8_t>(byte));
    return payload;
}
}  // namespace

Frame BuiltFrame(std::uint16_t code, const Frame& payload) {
    Frame frame(payload.size() + 8);
    frame.resize(BuildFrame(frame.data(), code, payload.data(), static_cast<std::uint16_t>(payload.size())));
    return frame;
}

Frame LiveSet(int item, int action, int point, std::uint32_t frequency, int value) {
    Frame payload = Head(item, action, point, frequency);
    payload.push_back(static_cast<std::uint8_t>(value));
    return BuiltFrame(cmd::kSetItem, payload);
}

Frame BlockSet(int item, int action, int point, std::uint32_t frequency,
               const std::array<std::uint8_t, 8>& data) {
    Frame payload = Head(item, action, point, frequency);
    payload.insert(payload.end(), data.begin(), data.end());
    return BuiltFrame(cmd::kSetItem, payload);
}

Frame Save(int item, const std::vector<std::uint8_t>& record) {
    Frame payload;
    payload.reserve(record.size() + 2);
    payload.push_back(static_cast<std::uint8_t>(item));
    payload.push_back(static_cast<std::uint8_t>(record.size()));
    payload.insert(payload.end(), record.begin(), record.end());
    return BuiltFrame(cmd::kSaveItem, payload);
}

std::uint32_t Sent::frequency() const {
    return (std::uint32_t{payload[3]} << 24) | (std::uint32_t{payload[4]} << 16) |
           (std::uint32_t{payload[5]} << 8) | payload[6];
}

std::vector<Sent> SentFrames(const VirtualRadio& radio) {
    std::vector<Sent> out;
    for (const Frame& f : radio.receivedFrames()) {
        if (f.size() < 8) continue;
        const std::size_t n = static_cast<std::size_t>((f[3] << 8) | f[4]);
        if (f.size() < n + 8) continue;
        out.push_back(Sent{(f[1] << 8) | f[2], Frame(f.begin() + 5, f.begin() + 5 + static_cast<long>(n))});
    }
    return out;
}

std::uint16_t FrameCode(const Frame& frame) {
    return frame.size() >= 3 ? static_cast<std::uint16_t>(frame[1] << 8 | frame[2]) : 0;
}

QList<std::uint16_t> FrameCodes(const VirtualRadio& radio) {
    QList<std::uint16_t> codes;
    for (const Frame& frame : radio.receivedFrames()) codes << FrameCode(frame);
    return codes;
}

std::vector<SentLiveSet> SentLiveSets(const VirtualRadio& radio) {
    std::vector<SentLiveSet> out;
    for (const Sent& s : SentFrames(radio)) {
        if (s.code != cmd::kSetItem || s.payload.size() < 8) continue;
        SentLiveSet l{s.payload[0], s.payload[1], s.payload[2], s.frequency(), s.payload[7], s.payload.size() == 15, {}};
        if (l.block) std::copy(s.payload.begin() + 7, s.payload.end(), l.record.begin());
        out.push_back(l);
    }
    return out;
}

}  // namespace varnel::test
