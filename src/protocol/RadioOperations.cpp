#include "protocol/RadioOperations.h"

#include <algorithm>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "data/Safety.h"
#include "protocol/RadioValues.h"
#include "protocol/Sendcmd.h"

namespace varnel {

namespace {

// One engine tick for `command`'s reply with `rule`.
TickResult Tick(std::uint16_t command, PollRule rule, const std::function<void()>& resend = {}) {
    return Exchange().tick(cmd::reply(command), rule, resend);
}

// A one-attempt exchange: done on the match, failed on the expiry.
OpStatus OnceStatus(TickResult result) {
    if (result == TickResult::Matched) return OpStatus::Done;
    return result == TickResult::Expired ? OpStatus::Failed : OpStatus::Running;
}

bool Ended(TickResult result) { return result == TickResult::Expired || result == TickResult::GaveUp; }

// The reply as long as the command expected it.
std::vector<std::uint8_t> TakeReply() {
    std::vector<std::uint8_t> reply(replyBuffer.begin(), replyBuffer.begin() + pendingReplyLength);
    replyBuffer.fill(0);
    return reply;
}

}  // namespace

// ---- the link ---------------------------------------------------------------------------

bool OpenRadioLink(OpenError* error) {
    // Only the newest link is ever used; an older one is closed first so
    // that the volume is not held open twice.
    linkHandle.reset();
    ScanRadioDrives();
    linkHandle = OpenRadio(error);
    return linkHandle != nullptr;
}

bool EnsureRadioLink(OpenError* error) {
    // An expired poll closed the link that tuner mode opened; without this
    // a second attempt could never reach the radio.
    if (linkHandle) return true;
    return OpenRadioLink(error);
}

// ---- replies ------------------------------------------------------------------------------

int ReplyDataByte(const std::vector<std::uint8_t>& frame, std::size_t index) {
    const std::size_t at = kReplyDataOffset + index;
    return at < frame.size() ? frame[at] : 0;
}

int AcknowledgementStatus(const std::vector<std::uint8_t>& reply) { return reply.size() == 9 ? reply[5] : 0; }

std::uint32_t ReadBackReply::counter(std::size_t index) const {
    // N and E, 32-bit big-endian after the item byte.
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<std::uint32_t>(ReplyDataByte(frame, 4 * index + i));
    }
    return value;
}

// ---- information block --------------------------------------------------------------------

void ReadInfoOperation::start() { SendReadInfo(); }

OpStatus ReadInfoOperation::tick() {
    const TickResult result = Tick(cmd::kReadInfo, rule_, [] { SendReadInfo(); });
    if (result == TickResult::Matched) {
        // The block follows the reply's first payload byte (frame bytes 6 to 261).
        info_.assign(replyBuffer.data() + kReplyDataOffset);
        return OpStatus::Done;
    }
    if (Ended(result)) {
        // Counters 0 and the link closed, as an expiry of rule Once leaves them.
        AbandonPoll();
        return OpStatus::Failed;
    }
    return OpStatus::Running;
}

// ---- entering tuner mode ------------------------------------------------------------------

void EnterOperation::start() {
    stage_ = Stage::ReadingInfo;
    failedStage_ = Stage::Idle;
    info_.start();
}

OpStatus EnterOperation::failed(Stage at) {
    failedStage_ = at;
    stage_ = Stage::Failed;
    return OpStatus::Failed;
}

OpStatus EnterOperation::tick() {
    switch (stage_) {
        case Stage::ReadingInfo:
            switch (info_.tick()) {
                case OpStatus::Done:
                    radioInfo = info_.info();
                    SendEnterTunerMode();  // expects 857 or 521 bytes, from the block just stored
                    stage_ = Stage::Entering;
                    return OpStatus::NextStep;
                case OpStatus::Failed: return failed(Stage::ReadingInfo);
                default: return OpStatus::Running;
            }
        case Stage::Entering: {
            const TickResult result = Tick(cmd::kEnterTunerMode, rule_, [] { SendEnterTunerMode(); });
            if (Ended(result)) {
                AbandonPoll();
                return failed(Stage::Entering);
            }
            if (result != TickResult::Matched) return OpStatus::Running;
            band = 0;
            // The rest of the image is kept for a small model.
            std::copy_n(replyBuffer.begin() + kReplyDataOffset, radioInfo.imageBytes(), tunerImage.bytes.begin());
            HeldValues().entered(tunerImage);
            stage_ = Stage::Entered;
            return OpStatus::Done;
        }
        case Stage::Entered: return OpStatus::Done;
        case Stage::Failed: return OpStatus::Failed;
        case Stage::Idle: break;
    }
    return OpStatus::Running;
}

// ---- leaving tuner mode -------------------------------------------------------------------

void LeaveOperation::start() { SendExitTunerMode(); }

OpStatus LeaveOperation::tick() {
    const OpStatus status = OnceStatus(Tick(cmd::kExitTunerMode, PollRule::Once));
    // Out of tuner mode the radio runs what it stores; nothing more is followed.
    if (status == OpStatus::Done) HeldValues().forget();
    return status;
}

// ---- writing the whole image --------------------------------------------------------------

void WriteAllOperation::start() {
    stage_ = Stage::Checking;
    failedStage_ = Stage::Idle;
    check_.start();
}

bool WriteAllOperation::sameRadio() const { return SameRadio(attached(), radioInfo); }

void WriteAllOperation::proceed() {
    SendWriteAll();  // 848 or 512 image bytes, as the information block says
    stage_ = Stage::Writing;
}

OpStatus WriteAllOperation::tick() {
    switch (stage_) {
        case Stage::Checking:
            switch (check_.tick()) {
                case OpStatus::Done: stage_ = Stage::AwaitingConsent; return OpStatus::NeedsConsent;
                case OpStatus::Failed:
                    failedStage_ = Stage::Checking;
                    stage_ = Stage::Failed;
                    return OpStatus::Failed;
                default: return OpStatus::Running;
            }
        case Stage::Writing: {
            // The single payload byte of the reply is not examined.
            const OpStatus status = OnceStatus(Tick(cmd::kWriteAll, PollRule::Once));
            if (status == OpStatus::Done) {
                stage_ = Stage::Written;
                HeldValues().wroteAll(tunerImage, radioInfo.imageBytes());
            }
            if (status == OpStatus::Failed) {
                // The image went out; whether the radio took it is not known.
                failedStage_ = Stage::Writing;
                stage_ = Stage::Failed;
                HeldValues().writeUnconfirmed();
            }
            return status;
        }
        case Stage::AwaitingConsent: return OpStatus::NeedsConsent;
        case Stage::Written: return OpStatus::Done;
        case Stage::Declined:
        case Stage::Failed: return OpStatus::Failed;
        case Stage::Idle: break;
    }
    return OpStatus::Running;
}

// ---- reading the image back -----------------------------------------------------------------

void ImageReadBackOperation::start(bool leaveAfter) {
    leaveAfter_ = leaveAfter;
    left_ = false;
    bytes_ = 0;
    stage_ = Stage::Reading;
    SendEnterTunerMode();
}

int ImageReadBackOperation::differences(const TunerImage& sent) const {
    int n = 0;
    for (std::size_t i = 0; i < bytes_; ++i) n += image_[i] != sent[i];
    return n;
}

OpStatus ImageReadBackOperation::tick() {
    switch (stage_) {
        case Stage::Reading: {
            const TickResult result = Tick(cmd::kEnterTunerMode, PollRule::Verify, [] { SendEnterTunerMode(); });
            if (Ended(result)) {
                AbandonPoll();
                stage_ = Stage::Failed;
                return OpStatus::Failed;
            }
            if (result != TickResult::Matched) return OpStatus::Running;
            bytes_ = radioInfo.imageBytes();
            std::copy_n(replyBuffer.begin() + kReplyDataOffset, bytes_, image_.bytes.begin());
            replyBuffer.fill(0);
            HeldValues().writeReadBack();
            if (!leaveAfter_) {
                stage_ = Stage::Done;
                return OpStatus::Done;
            }
            SendExitTunerMode();
            stage_ = Stage::Leaving;
            return OpStatus::NextStep;
        }
        case Stage::Leaving: {
            const OpStatus status = OnceStatus(Tick(cmd::kExitTunerMode, PollRule::Once));
            if (status == OpStatus::Running) return status;
            left_ = status == OpStatus::Done;
            stage_ = Stage::Done;
            return OpStatus::Done;  // the image is in either way
        }
        case Stage::Done: return OpStatus::Done;
        case Stage::Failed: return OpStatus::Failed;
        case Stage::Idle: break;
    }
    return OpStatus::Running;
}

// ---- the factory copy -----------------------------------------------------------------------

void FactoryReadOperation::start() { SendReadFactory(); }

OpStatus FactoryReadOperation::tick() {
    const OpStatus status = OnceStatus(Tick(cmd::kReadFactory, PollRule::Once));
    if (status != OpStatus::Done) return status;
    // The two band halves; the status byte is not examined.
    std::copy_n(replyBuffer.begin() + kReplyDataOffset, TunerImage::kSmallSize, tunerImage.bytes.begin());
    return OpStatus::Done;
}

void FactoryWriteOperation::start() { SendWriteFactory(); }

OpStatus FactoryWriteOperation::tick() { return OnceStatus(Tick(cmd::kWriteFactory, PollRule::Once)); }

// ---- live-sets, saves, read-backs -------------------------------------------------------------

void LiveSetOperation::start(const LiveSetRequest& r) {
    sent();
    SendSetItem(r.item, r.action, r.point, r.value, r.frequency);
}

OpStatus LiveSetOperation::tick(const LiveSetRequest& again) {
    const TickResult result = Tick(cmd::kSetItem, PollRule::Verify, [&again] {
        SendSetItem(again.item, again.action, again.point, again.value, again.frequency);
    });
    if (result == TickResult::GaveUp) {
        HeldValues().liveSetAbandoned();
        return OpStatus::Failed;
    }
    if (result != TickResult::Matched) return OpStatus::Running;
    reply_ = TakeReply();
    // A live-set the radio refused (status byte not 0) changed nothing there.
    if (status() == 0) {
        HeldValues().liveSetAcknowledged();
    } else {
        HeldValues().liveSetAbandoned();
    }
    return OpStatus::Done;
}

bool SaveOperation::start(int item) {
    // The mobile power triple (and the items whose save is only the wide
    // one) go as the 24-byte record.
    const bool wide = SaveWideItemSize(item) == 24 && (radioInfo.modelVariant() == 1 || SaveItemSize(item) == 1);
    std::vector<std::uint8_t> bytes = wide ? WideSaveRecord(tunerImage, item) : SaveRecord(tunerImage, item);
    const std::size_t needed = wide ? SaveWideItemSize(item) : SaveItemSize(item);
    if (bytes.size() < needed) return false;
    record_ = Record{item, wide, std::move(bytes)};
    reply_.clear();
    send();
    return true;
}

void SaveOperation::sent(bool wide) {
    // Payload: item code, size n, n data bytes.
    reply_.clear();
    if (sentFrameLength < 8 + 2) return;
    const std::size_t size = lastSentFrame[6];
    if (7 + size + 3 > sentFrameLength) return;
    record_.item = lastSentFrame[5];
    record_.wide = wide;
    record_.record.assign(lastSentFrame.begin() + 7, lastSentFrame.begin() + 7 + static_cast<std::ptrdiff_t>(size));
}

void SaveOperation::send() const {
    // The same item and the same bytes as the first attempt: the image may
    // have moved on since, the radio must store what was meant then.
    if (record_.record.empty()) return;
    const std::size_t needed = record_.wide ? SaveWideItemSize(record_.item) : SaveItemSize(record_.item);
    if (record_.record.size() < needed) return;
    // A copy: a sender's hook may replace the record while it reads.
    const Record again = record_;
    if (again.wide) {
        SendSaveWideItem(again.item, again.record.data());
    } else {
        SendSaveItem(again.item, again.record.data());
    }
}

OpStatus SaveOperation::tick(bool wide) {
    const TickResult result = Tick(cmd::kSaveItem, PollRule::Verify, [this, wide] {
        if (record_.wide == wide) send();
    });
    if (result == TickResult::GaveUp) return OpStatus::Failed;
    if (result != TickResult::Matched) return OpStatus::Running;
    reply_ = TakeReply();
    if (status() == 0) HeldValues().saveAcknowledged(record_.item, record_.record);
    return OpStatus::Done;
}

void ReadBackOperation::start(const LiveSetRequest& r) {
    request_ = r;
    SendQueryItem(r.item, r.action, r.point, r.value, r.frequency);
    if (asks_ > 0) pollRetries = 0;
}

void ReadBackOperation::takeReadingAsValue(int item, int point) const {
    if (const int at = PointByteOfCode(item, point); at >= 0) {
        tunerImage[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(reply_.reading(0));
    }
}

OpStatus ReadBackOperation::tick() {
    const TickResult result = Tick(cmd::kSetItem, PollRule::Reading);
    if (result == TickResult::Matched) {
        reply_.frame = TakeReply();
        return OpStatus::Done;
    }
    if (result != TickResult::TimedOut || asks_ <= 0) return OpStatus::Running;
    // Asked `asks` times, then reported.
    if (pollRetries < asks_) {
        if (request_) SendQueryItem(request_->item, request_->action, request_->point, request_->value, request_->frequency);
        return OpStatus::Running;
    }
    pollRetries = 0;
    pollTicks = 0;
    return OpStatus::Failed;
}

}  // namespace varnel
