// Command frames, the shared poll state and the command senders.
//
// Frame: A1, code (16-bit BE), payload length L (16-bit BE), payload,
// checksum (16-bit BE sum of the payload bytes), A4. A reply carries the
// command code plus 0x8000. One command is outstanding at a time: a sender
// writes its frame and records the reply length; a timer then calls
// PollStep on every tick until a match or an expiry.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "device/Mass_storage.h"

namespace varnel {

inline constexpr std::size_t kReplyBufferSize = 4096;
inline constexpr std::size_t kFrameAreaSize = 1024;
inline constexpr std::uint16_t kPollBudget = 100;  // ticks per attempt
inline constexpr std::uint8_t kFrameStart = 0xA1;
inline constexpr std::uint8_t kFrameEnd = 0xA4;
// Where a reply's data starts: the second payload byte (the first, byte 5, is
// not examined).
inline constexpr std::size_t kReplyDataOffset = 6;

namespace cmd {
inline constexpr std::uint16_t kReadInfo = 0x0003;
inline constexpr std::uint16_t kEnterTunerMode = 0x0060;
inline constexpr std::uint16_t kExitTunerMode = 0x0061;
inline constexpr std::uint16_t kSetItem = 0x0062;
inline constexpr std::uint16_t kWriteAll = 0x0063;
inline constexpr std::uint16_t kWriteFactory = 0x0064;
inline constexpr std::uint16_t kReadFactory = 0x0065;
inline constexpr std::uint16_t kSaveItem = 0x0066;
inline constexpr std::uint16_t kReplyBit = 0x8000;
constexpr std::uint16_t reply(std::uint16_t code) { return static_cast<std::uint16_t>(code | kReplyBit); }
}  // namespace cmd

// Writes the frame into `frame` (room for length + 8 bytes) and returns its length.
std::uint16_t BuildFrame(std::uint8_t* frame, std::uint16_t code, const std::uint8_t* payload,
                         std::uint16_t length);
// The reply test: start byte, end byte at n - 1, code, a stated payload
// length of exactly n - 8, and the checksum over that payload. `bufferSize`
// is the number of readable bytes at `buffer` (the reply buffer's 4096 by
// default); an expected length beyond it is not a match.
bool MatchReply(const std::uint8_t* buffer, std::uint16_t expectedCode, std::uint16_t n,
                std::size_t bufferSize = kReplyBufferSize);

// The shared poll state.
extern std::uint16_t sentFrameLength;
extern std::uint16_t pendingReplyLength;
extern std::array<std::uint8_t, kReplyBufferSize> replyBuffer;
extern std::uint16_t pollTicks;
extern std::uint8_t pollRetries;
// The open link to the radio, or none. Shared: a transfer running on the
// I/O thread keeps the link it was started on until it returns.
extern std::shared_ptr<RadioLink> linkHandle;
// The last frame a sender wrote (its first sentFrameLength bytes are valid).
extern std::array<std::uint8_t, kFrameAreaSize> lastSentFrame;

enum class PollResult { Pending, Match, Expired };
// The silent end of an unanswered poll of the main window or the factory
// dialog: both counters to 0 and the link closed. A retry starts afresh.
void AbandonPoll();

// One poll tick: count it, read pendingReplyLength bytes into replyBuffer,
// expire on the tick on which pollTicks exceeds 99 (that read is not tested),
// otherwise test the reply. The caller resets the counters as its rules say.
// The exchange engine (protocol/Exchange.h) does the work; its tick() adds
// the rules of each kind of poll.
PollResult PollStep(std::uint16_t expectedCode);

// The tuning window's timers that a sender may enable, and the log hook.
enum class TuningTimer { TimeOut, Save, SaveItem2 };
struct SenderHooks {
    std::function<void(TuningTimer)> enableTimer;
    // frame bytes, count, direction (0 sent, other received)
    std::function<void(const std::uint8_t*, std::uint16_t, int)> logFrame;
};
// Installed by the tuning window while it exists; cleared (default) otherwise.
void SetSenderHooks(SenderHooks hooks);
const SenderHooks& CurrentSenderHooks();

// Sees every frame a sender wrote (received false) and every reply a poll
// step accepted (received true, pendingReplyLength bytes), whichever window
// sent it: the communication log and the status bar follow the traffic here.
using FrameWatcher = std::function<void(const std::uint8_t*, std::uint16_t, bool received)>;
void SetFrameWatcher(FrameWatcher watcher);

// Expected reply lengths.
std::uint16_t QueryReplyLength(int itemCode);
std::uint8_t SaveItemSize(int itemCode);
std::uint8_t SaveWideItemSize(int itemCode);

// Senders. Each builds its frame, records sentFrameLength, sends it on
// linkHandle, enables a tuning-window timer and logs where the command set
// says so, then sets pendingReplyLength.
void SendReadInfo();
void SendEnterTunerMode();
void SendExitTunerMode();
// Stores the value in the image first (StoreLiveValue), then sends.
void SendSetItem(int item, int action, int point, int value, std::uint32_t frequency);
void SendQueryItem(int item, int action, int point, int value, std::uint32_t frequency);
void SendSetItemBlock(int item, int action, int point, const std::uint8_t* data8,
                      std::uint32_t frequency);
void SendWriteAll();
void SendWriteFactory();
void SendReadFactory();
// `data` holds at least SaveItemSize(item) (or SaveWideItemSize) bytes.
void SendSaveItem(int item, const std::uint8_t* data);
void SendSaveWideItem(int item, const std::uint8_t* data);

// Back to program start: counters zero, buffers zero, link closed, no hooks.
void ResetPollState();

}  // namespace varnel
