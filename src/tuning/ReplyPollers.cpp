#include "tuning/ReplyPollers.h"

#include <QTimer>

#include "data/Global.h"
#include "ui/Polling.h"
#include "ui/Selection.h"

namespace varnel::tuning {

ReplyPollers::ReplyPollers(QObject* parent) : QObject(parent) {
    liveSet_ = ui::NamedTimer(this, "TimeOutTimer", 10, &ReplyPollers::liveSetTick);
    save_ = ui::NamedTimer(this, "SaveTimer", 10, &ReplyPollers::saveTick);
    wideSave_ = ui::NamedTimer(this, "SaveItemTimer2", 10, &ReplyPollers::wideSaveTick);
}

void ReplyPollers::liveSetSent() {
    liveSetOperation_.sent();
    liveSet_->start();
}

void ReplyPollers::saveSent(bool wide) {
    saveOperation_.sent(wide);
    (wide ? wideSave_ : save_)->start();
}

bool ReplyPollers::verified(QTimer* timer, OpStatus status, const std::vector<std::uint8_t>& reply) {
    switch (status) {
        case OpStatus::Done:
            timer->stop();
            emit replyReceived(reply.data(), static_cast<std::uint16_t>(reply.size()));
            return true;
        case OpStatus::Failed:
            timer->stop();
            emit gaveUp(timer);
            return false;
        default: return false;
    }
}

void ReplyPollers::liveSetTick() {
    // The re-send is the live-set built afresh from the selection, always as
    // the 8-byte form with the transmit frequency, also after an FSK block
    // or a receive-frequency set.
    const LiveSetRequest again{currentItem, actionCode, currentPoint, currentValue, txFrequency(currentPoint - 1)};
    if (!verified(liveSet_, liveSetOperation_.tick(again), liveSetOperation_.reply())) return;
    emit liveSetAcknowledged(liveSetOperation_.status());
}

void ReplyPollers::saveTick() {
    if (!verified(save_, saveOperation_.tick(false), saveOperation_.reply())) return;
    emit saveAcknowledged(saveOperation_.record().item, saveOperation_.status());
}

void ReplyPollers::wideSaveTick() {
    if (!verified(wideSave_, saveOperation_.tick(true), saveOperation_.reply())) return;
    emit saveAcknowledged(saveOperation_.record().item, saveOperation_.status());
}

const ReadBackReply* ReplyPollers::readingTick() {
    return readBackOperation_.tick() == OpStatus::Done ? &readBackOperation_.reply() : nullptr;
}

void ReplyPollers::finish(QTimer* timer) {
    timer->stop();
    const std::vector<std::uint8_t>& frame = readBackOperation_.reply().frame;
    emit replyReceived(frame.data(), static_cast<std::uint16_t>(frame.size()));
}

}  // namespace varnel::tuning
