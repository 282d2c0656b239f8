#include "tuning/ReplyPollers.h"

#include <QTimer>

#include "data/Global.h"
#include "protocol/Exchange.h"
#include "protocol/Sendcmd.h"
#include "ui/Polling.h"
#include "ui/Selection.h"

namespace varnel::tuning {

ReplyPollers::ReplyPollers(QObject* parent) : QObject(parent) {
    liveSet_ = ui::NamedTimer(this, "TimeOutTimer", 10, &ReplyPollers::liveSetTick);
    save_ = ui::NamedTimer(this, "SaveTimer", 10, &ReplyPollers::saveTick);
    wideSave_ = ui::NamedTimer(this, "SaveItemTimer2", 10, &ReplyPollers::wideSaveTick);
}

void ReplyPollers::saveSent(bool wide) {
    // Payload: item code, size n, n data bytes.
    if (sentFrameLength >= 8 + 2) {
        const std::size_t size = lastSentFrame[6];
        if (7 + size + 3 <= sentFrameLength) {
            lastSave_.item = lastSentFrame[5];
            lastSave_.wide = wide;
            lastSave_.record.assign(lastSentFrame.begin() + 7,
                                    lastSentFrame.begin() + 7 + static_cast<std::ptrdiff_t>(size));
        }
    }
    (wide ? wideSave_ : save_)->start();
}

bool ReplyPollers::verifyTick(QTimer* timer, std::uint16_t expectedCode, const std::function<void()>& resend) {
    switch (Exchange().tick(expectedCode, PollRule::Verify, resend)) {
        case TickResult::Matched: return true;
        case TickResult::GaveUp:
            timer->stop();
            emit gaveUp(timer);
            return false;
        default: return false;
    }
}

bool ReplyPollers::readingTick(std::uint16_t expectedCode) {
    return Exchange().tick(expectedCode, PollRule::Reading) == TickResult::Matched;
}

void ReplyPollers::finish(QTimer* timer) {
    timer->stop();
    emit replyReceived(replyBuffer.data(), pendingReplyLength);
    replyBuffer.fill(0);
}

void ReplyPollers::liveSetTick() {
    // The re-send is the live-set built afresh from the selection, always as
    // the 8-byte form with the transmit frequency, also after an FSK block
    // or a receive-frequency set.
    const bool accepted = verifyTick(liveSet_, cmd::reply(cmd::kSetItem), [] {
        SendSetItem(currentItem, actionCode, currentPoint, currentValue, txFrequency(currentPoint - 1));
    });
    if (!accepted) return;
    finish(liveSet_);
    emit liveSetAcknowledged();
}

void ReplyPollers::resendSave(bool wide) {
    // The same item and the same bytes as the first attempt: the image may
    // have moved on since, the radio must store what was meant then.
    if (lastSave_.record.empty() || lastSave_.wide != wide) return;
    const std::size_t needed = wide ? SaveWideItemSize(lastSave_.item) : SaveItemSize(lastSave_.item);
    if (lastSave_.record.size() < needed) return;
    // A copy: the sender's hook replaces lastSave_ while it reads.
    const SavedRecord again = lastSave_;
    if (wide) {
        SendSaveWideItem(again.item, again.record.data());
    } else {
        SendSaveItem(again.item, again.record.data());
    }
}

void ReplyPollers::saveTick() {
    if (!verifyTick(save_, cmd::reply(cmd::kSaveItem), [this] { resendSave(false); })) return;
    finish(save_);
    emit saveAcknowledged(lastSave_.item);
}

void ReplyPollers::wideSaveTick() {
    if (!verifyTick(wideSave_, cmd::reply(cmd::kSaveItem), [this] { resendSave(true); })) return;
    finish(wideSave_);
    emit saveAcknowledged(lastSave_.item);
}

}  // namespace varnel::tuning
