#include "protocol/Sendcmd.h"

#include "protocol/RadioValues.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "protocol/Exchange.h"

namespace varnel {

std::uint16_t sentFrameLength = 0;
std::uint16_t pendingReplyLength = 0;
std::array<std::uint8_t, kReplyBufferSize> replyBuffer{};
std::uint16_t pollTicks = 0;
std::uint8_t pollRetries = 0;
std::shared_ptr<RadioLink> linkHandle;
std::array<std::uint8_t, kFrameAreaSize> lastSentFrame{};

namespace {

SenderHooks g_hooks;
FrameWatcher g_watcher;

std::uint16_t sum16(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
    return sum;
}

void putBigEndian32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// What a sender does after its payload is ready.
struct SendOptions {
    std::uint16_t replyLength = 9;
    bool logged = false;
    std::optional<TuningTimer> timer;
};

void sendCommand(std::uint16_t code, const std::uint8_t* payload, std::uint16_t length,
                 const SendOptions& options) {
    lastSentFrame.fill(0);
    sentFrameLength = BuildFrame(lastSentFrame.data(), code, payload, length);
    Exchange().send(lastSentFrame.data(), sentFrameLength);
    // A live-set on its way (not a read-back): it waits for its acknowledgement.
    if (code == cmd::kSetItem && options.timer == TuningTimer::TimeOut)
        HeldValues().liveSetSent(lastSentFrame.data(), sentFrameLength);
    if (options.timer && g_hooks.enableTimer) g_hooks.enableTimer(*options.timer);
    if (options.logged && g_hooks.logFrame) g_hooks.logFrame(lastSentFrame.data(), sentFrameLength, 0);
    pendingReplyLength = options.replyLength;
    if (g_watcher) g_watcher(lastSentFrame.data(), sentFrameLength, false);
}

// Layout A: item, action, point, frequency (BE), value.
std::array<std::uint8_t, 8> layoutA(int item, int action, int point, int value, std::uint32_t frequency) {
    std::array<std::uint8_t, 8> payload{};
    payload[0] = static_cast<std::uint8_t>(item);
    payload[1] = static_cast<std::uint8_t>(action);
    payload[2] = static_cast<std::uint8_t>(point);
    putBigEndian32(&payload[3], frequency);
    payload[7] = static_cast<std::uint8_t>(value);
    return payload;
}

void sendLayoutC(int item, const std::uint8_t* data, std::uint8_t size, TuningTimer timer) {
    std::array<std::uint8_t, kFrameAreaSize> payload{};
    payload[0] = static_cast<std::uint8_t>(item);
    payload[1] = size;
    if (data != nullptr) std::memcpy(&payload[2], data, size);
    sendCommand(cmd::kSaveItem, payload.data(), static_cast<std::uint16_t>(size + 2),
                {.replyLength = 9, .logged = true, .timer = timer});
}

}  // namespace

std::uint16_t BuildFrame(std::uint8_t* frame, std::uint16_t code, const std::uint8_t* payload,
                         std::uint16_t length) {
    frame[0] = kFrameStart;
    frame[1] = static_cast<std::uint8_t>(code >> 8);
    frame[2] = static_cast<std::uint8_t>(code);
    frame[3] = static_cast<std::uint8_t>(length >> 8);
    frame[4] = static_cast<std::uint8_t>(length);
    if (length > 0) std::memcpy(frame + 5, payload, length);
    const std::uint16_t sum = sum16(frame + 5, length);
    frame[5 + length] = static_cast<std::uint8_t>(sum >> 8);
    frame[6 + length] = static_cast<std::uint8_t>(sum);
    frame[7 + length] = kFrameEnd;
    return static_cast<std::uint16_t>(length + 8);
}

bool MatchReply(const std::uint8_t* buffer, std::uint16_t expectedCode, std::uint16_t n,
                std::size_t bufferSize) {
    // The end byte is sought at the expected length; a length the buffer
    // cannot hold never matches.
    bufferSize = std::min(bufferSize, kReplyBufferSize);
    if (n < 8 || n > bufferSize) return false;
    if (buffer[0] != kFrameStart) return false;
    if (buffer[n - 1] != kFrameEnd) return false;
    if (buffer[1] != static_cast<std::uint8_t>(expectedCode >> 8) ||
        buffer[2] != static_cast<std::uint8_t>(expectedCode))
        return false;
    // Every reply states exactly the payload that fills the expected length.
    // A shorter frame whose checksum byte happens to be 0xA4 at n - 1 is an
    // older reply still in the radio (a read-back answer where a live-set
    // acknowledgement is expected), never the answer to this command.
    const std::size_t stated = (std::size_t{buffer[3]} << 8) | buffer[4];
    if (stated + 8 != n) return false;
    const std::uint16_t sum = sum16(buffer + 5, stated);
    return buffer[5 + stated] == static_cast<std::uint8_t>(sum >> 8) &&
           buffer[6 + stated] == static_cast<std::uint8_t>(sum);
}

PollResult PollStep(std::uint16_t expectedCode) { return Exchange().step(expectedCode); }

void AbandonPoll() {
    pollTicks = 0;
    pollRetries = 0;
    linkHandle.reset();
}

void SetSenderHooks(SenderHooks hooks) { g_hooks = std::move(hooks); }
const SenderHooks& CurrentSenderHooks() { return g_hooks; }
void SetFrameWatcher(FrameWatcher watcher) {
    g_watcher = std::move(watcher);
    // Accepted replies reach the watcher from the engine, whichever poll took them.
    static const int observer = Exchange().addObserver([](const FrameEvent& event) {
        if (event.kind == FrameEvent::Kind::Received && g_watcher && !event.bytes.empty())
            g_watcher(event.bytes.data(), static_cast<std::uint16_t>(event.bytes.size()), true);
    });
    (void)observer;
}

// Reply lengths and record sizes are facts of the item table.
std::uint16_t QueryReplyLength(int itemCode) { return static_cast<std::uint16_t>(QueryReplyLengthOf(itemCode)); }

std::uint8_t SaveItemSize(int itemCode) { return static_cast<std::uint8_t>(SaveSizeOf(itemCode)); }

std::uint8_t SaveWideItemSize(int itemCode) { return static_cast<std::uint8_t>(WideSaveSizeOf(itemCode)); }

void SendReadInfo() { sendCommand(cmd::kReadInfo, nullptr, 0, {.replyLength = 265, .logged = false, .timer = std::nullopt}); }

void SendEnterTunerMode() {
    sendCommand(cmd::kEnterTunerMode, nullptr, 0,
                {.replyLength = static_cast<std::uint16_t>(radioInfo.largeModel() ? 857 : 521), .logged = false, .timer = std::nullopt});
}

void SendExitTunerMode() { sendCommand(cmd::kExitTunerMode, nullptr, 0, {.replyLength = 9, .logged = false, .timer = std::nullopt}); }

void SendSetItem(int item, int action, int point, int value, std::uint32_t frequency) {
    StoreLiveValue(tunerImage, item, point, static_cast<std::uint8_t>(value));
    const auto payload = layoutA(item, action, point, value, frequency);
    sendCommand(cmd::kSetItem, payload.data(), 8,
                {.replyLength = 9, .logged = true, .timer = TuningTimer::TimeOut});
}

void SendQueryItem(int item, int action, int point, int value, std::uint32_t frequency) {
    const auto payload = layoutA(item, action, point, value, frequency);
    sendCommand(cmd::kSetItem, payload.data(), 8,
                {.replyLength = QueryReplyLength(item), .logged = true, .timer = std::nullopt});
}

void SendSetItemBlock(int item, int action, int point, const std::uint8_t* data8,
                      std::uint32_t frequency) {
    std::array<std::uint8_t, 15> payload{};
    const auto head = layoutA(item, action, point, 0, frequency);
    std::copy(head.begin(), head.begin() + 7, payload.begin());
    if (data8 != nullptr) std::copy(data8, data8 + 8, payload.begin() + 7);
    sendCommand(cmd::kSetItem, payload.data(), 15,
                {.replyLength = 9, .logged = true, .timer = TuningTimer::TimeOut});
}

void SendWriteAll() {
    sendCommand(cmd::kWriteAll, tunerImage.bytes.data(),
                static_cast<std::uint16_t>(radioInfo.imageBytes()), {.replyLength = 9, .logged = false, .timer = std::nullopt});
}

void SendWriteFactory() {
    sendCommand(cmd::kWriteFactory, tunerImage.bytes.data(),
                static_cast<std::uint16_t>(TunerImage::kSize), {.replyLength = 9, .logged = false, .timer = std::nullopt});
}

void SendReadFactory() { sendCommand(cmd::kReadFactory, nullptr, 0, {.replyLength = 521, .logged = false, .timer = std::nullopt}); }

void SendSaveItem(int item, const std::uint8_t* data) {
    sendLayoutC(item, data, SaveItemSize(item), TuningTimer::Save);
}

void SendSaveWideItem(int item, const std::uint8_t* data) {
    sendLayoutC(item, data, SaveWideItemSize(item), TuningTimer::SaveItem2);
}

void ResetPollState() {
    sentFrameLength = 0;
    pendingReplyLength = 0;
    replyBuffer.fill(0);
    pollTicks = 0;
    pollRetries = 0;
    linkHandle.reset();
    lastSentFrame.fill(0);
    g_hooks = SenderHooks{};
    Exchange().reset();
}

}  // namespace varnel
