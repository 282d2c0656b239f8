// The reply test and the poll step over arbitrary reply bytes and lengths.
#include <algorithm>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "device/Mass_storage.h"
#include "protocol/Sendcmd.h"

using namespace varnel;

namespace {

// A link whose reads return slices of the fuzzer's input, and whose
// transfers end as the input says (done, short, failed with any status).
class ScriptedLink : public RadioLink {
public:
    explicit ScriptedLink(fuzz::Input& in) : in_(in) {}
    void issue(ScsiCommand& command) override {
        const std::uint16_t length = command.length;
        if (command.direction == TransferDirection::ToRadio) {
            command.outcome = outcome(TransferDirection::ToRadio, length, length);
            return;
        }
        const std::string_view chunk = in_.bytes(length);
        if (command.data != nullptr) std::memcpy(command.data, chunk.data(), chunk.size());
        command.outcome = outcome(TransferDirection::FromRadio, length, static_cast<std::uint32_t>(chunk.size()));
    }

private:
    TransferOutcome outcome(TransferDirection direction, std::uint16_t length, std::uint32_t moved) {
        TransferOutcome o = TransferOutcome::done(direction, length);
        const std::uint8_t how = in_.byte();
        if (how & 0x80) {
            o.transferred = moved;
            o.residual = static_cast<std::int32_t>(length) - static_cast<std::int32_t>(moved);
        }
        if (how & 0x40) o.osError = how & 0x0F;
        if (how & 0x20) o.scsiStatus = static_cast<std::uint8_t>(how & 0x0E);
        if (how & 0x10) o.timedOut = true;
        (void)o.describe();
        return o;
    }

private:
    fuzz::Input& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    // The reply test straight over the bytes, with any code, length and
    // stated buffer size.
    const std::uint16_t code = in.u16();
    const std::uint16_t n = in.u16();
    const std::size_t room = in.u16();
    const std::string_view frame = in.bytes(255);
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[std::max<std::size_t>(frame.size(), 1)]);
    std::memcpy(copy.get(), frame.data(), frame.size());
    const bool matched = MatchReply(copy.get(), code, n, std::min(room, frame.size()));
    if (matched) {
        // A match is a well-formed frame of the expected code within the length.
        FUZZ_CHECK(n >= 8 && n <= frame.size());
        FUZZ_CHECK(copy[0] == kFrameStart && copy[n - 1] == kFrameEnd);
    }

    // The poll step: any pending length, replies from the input.
    ResetPollState();
    pendingReplyLength = in.u16();
    const std::uint16_t expected = in.u16();
    linkHandle = std::make_unique<ScriptedLink>(in);
    for (int tick = 0; tick < 120 && in.left() > 0; ++tick) {
        const PollResult r = PollStep(expected);
        if (r == PollResult::Expired) {
            FUZZ_CHECK(pollTicks >= kPollBudget);
            break;
        }
        if (r == PollResult::Match) {
            FUZZ_CHECK(pendingReplyLength <= kReplyBufferSize);
            FUZZ_CHECK(replyBuffer[0] == kFrameStart && replyBuffer[pendingReplyLength - 1] == kFrameEnd);
            break;
        }
    }
    linkHandle.reset();
    ResetPollState();
    return 0;
}
