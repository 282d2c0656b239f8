#include "protocol/RadioSession.h"

#include <algorithm>
#include <thread>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "protocol/Sendcmd.h"

namespace varnel {

RadioSession::RadioSession(std::chrono::milliseconds tick) : tick_(tick) {}

RadioSession::~RadioSession() {
    if (observer_ != 0) Exchange().removeObserver(observer_);
}

void RadioSession::SetFrameObserver(std::function<void(const FrameEvent&)> observer) {
    if (observer_ != 0) Exchange().removeObserver(observer_);
    observer_ = observer ? Exchange().addObserver(std::move(observer)) : 0;
}

Error RadioSession::Open() { return Exchange().open(); }

void RadioSession::Close() { Exchange().close(); }

Error RadioSession::ensureLink() {
    if (linkHandle) return {};
    // An expired poll closed the link; the next operation opens it again.
    return Exchange().open();
}

TickResult RadioSession::await(std::uint16_t expectedCode, PollRule rule, const std::function<void()>& resend) {
    lastTicks_ = 0;
    for (;;) {
        if (tick_.count() > 0) std::this_thread::sleep_for(tick_);
        if (idle_) idle_();
        const TickResult result = Exchange().tick(expectedCode, rule, resend);
        ++lastTicks_;
        switch (result) {
            case TickResult::Waiting:
            case TickResult::Resent:
                continue;
            case TickResult::TimedOut:
                // A read-back is asked three times, then reported.
                if (pollRetries < 3) {
                    if (resend) resend();
                    continue;
                }
                pollRetries = 0;
                pollTicks = 0;
                return TickResult::GaveUp;
            case TickResult::Matched:
            case TickResult::Expired:
            case TickResult::GaveUp:
                return result;
        }
    }
}

Error RadioSession::failed(const char* what) const { return Exchange().noAnswerError().Wrap(what); }

Result<RadioInfo> RadioSession::ReadInfo() {
    if (Error e = ensureLink(); !e.ok()) return e.Wrap("cannot read the information block");
    SendReadInfo();
    if (await(cmd::reply(cmd::kReadInfo), PollRule::OnceKeepRetries) != TickResult::Matched)
        return failed("cannot read the information block");
    RadioInfo info;
    info.assign(replyBuffer.data() + kReplyDataOffset);
    return info;
}

Error RadioSession::Enter() {
    Result<RadioInfo> info = ReadInfo();
    if (!info) return info.error().Wrapped("cannot enter tuner mode");
    radioInfo = *info;
    SendEnterTunerMode();  // the reply length follows the block just stored
    if (await(cmd::reply(cmd::kEnterTunerMode), PollRule::OnceKeepRetries) != TickResult::Matched)
        return failed("cannot enter tuner mode");
    band = 0;
    const std::size_t bytes = radioInfo.imageBytes();
    std::copy_n(replyBuffer.begin() + kReplyDataOffset, bytes, tunerImage.bytes.begin());
    inTunerMode = true;
    return {};
}

Error RadioSession::SetItem(int code, int action, int point, int value, std::uint32_t frequency) {
    if (Error e = ensureLink(); !e.ok()) return e.Wrap("cannot set the item");
    const auto send = [=] { SendSetItem(code, action, point, value, frequency); };
    send();
    if (await(cmd::reply(cmd::kSetItem), PollRule::Verify, send) != TickResult::Matched)
        return failed("the radio did not confirm the change");
    replyBuffer.fill(0);
    return {};
}

Result<std::vector<std::uint8_t>> RadioSession::Query(int code, int action, int point, int value,
                                                       std::uint32_t frequency) {
    if (Error e = ensureLink(); !e.ok()) return e.Wrap("cannot read back the item");
    const auto send = [=] { SendQueryItem(code, action, point, value, frequency); };
    send();
    pollRetries = 0;
    if (await(cmd::reply(cmd::kSetItem), PollRule::Reading, send) != TickResult::Matched)
        return failed("cannot read back the item");
    std::vector<std::uint8_t> reply(replyBuffer.begin(), replyBuffer.begin() + pendingReplyLength);
    replyBuffer.fill(0);
    return reply;
}

Error RadioSession::SaveItem(int code) {
    if (Error e = ensureLink(); !e.ok()) return e.Wrap("cannot save the item");
    // The mobile power triple (and the items whose save is only the wide
    // one) go as the 24-byte record.
    const bool wide = SaveWideItemSize(code) == 24 && (radioInfo.modelVariant() == 1 || SaveItemSize(code) == 1);
    const std::vector<std::uint8_t> record = wide ? WideSaveRecord(tunerImage, code) : SaveRecord(tunerImage, code);
    const std::size_t needed = wide ? SaveWideItemSize(code) : SaveItemSize(code);
    if (record.size() < needed)
        return Error::Make(ErrorCode::BadData, "the item has no record to save", std::to_string(code));
    const auto send = [record, code, wide] {
        if (wide) {
            SendSaveWideItem(code, record.data());
        } else {
            SendSaveItem(code, record.data());
        }
    };
    send();
    if (await(cmd::reply(cmd::kSaveItem), PollRule::Verify, send) != TickResult::Matched)
        return failed("the radio did not confirm the save");
    replyBuffer.fill(0);
    return {};
}

Error RadioSession::WriteAll() {
    if (Error e = ensureLink(); !e.ok()) return e.Wrap("cannot write the tuner data");
    SendWriteAll();
    if (await(cmd::reply(cmd::kWriteAll), PollRule::Once) != TickResult::Matched)
        return failed("cannot write the tuner data");
    return {};
}

Error RadioSession::ReadFactory() {
    if (Error e = ensureLink(); !e.ok()) return e.Wrap("cannot read the factory data");
    SendReadFactory();
    if (await(cmd::reply(cmd::kReadFactory), PollRule::Once) != TickResult::Matched)
        return failed("cannot read the factory data");
    std::copy_n(replyBuffer.begin() + kReplyDataOffset, TunerImage::kSmallSize, tunerImage.bytes.begin());
    return {};
}

Error RadioSession::Leave() {
    if (Error e = ensureLink(); !e.ok()) return e.Wrap("cannot leave tuner mode");
    SendExitTunerMode();
    if (await(cmd::reply(cmd::kExitTunerMode), PollRule::Once) != TickResult::Matched)
        return failed("cannot leave tuner mode");
    inTunerMode = false;
    return {};
}

}  // namespace varnel
