// The pollers that wait for the radio's replies to the tuning window's
// commands. The window never waits: a sender writes its frame and records
// the reply length; a timer then ticks the exchange's operation
// (protocol/RadioOperations.h) until the reply is in.
//
//   verifying pollers   live-set (TimeOutTimer) and save (SaveTimer, and
//                       SaveItemTimer2 for the mobile page's 24-byte save):
//                       the command goes again after 100 ticks without a
//                       reply, and the third time-out gives up
//   reading pollers     read-back replies: never give up
//
// Each tick is one call, so tests drive the pollers by calling them.
#pragma once

#include <QObject>
#include <cstdint>
#include <vector>

#include "data/ItemTable.h"
#include "protocol/RadioOperations.h"

class QTimer;

namespace varnel::tuning {

class ReplyPollers : public QObject {
    Q_OBJECT
public:
    explicit ReplyPollers(QObject* parent = nullptr);

    QTimer* liveSetTimer() const { return liveSet_; }
    QTimer* saveTimer() const { return save_; }
    QTimer* wideSaveTimer() const { return wideSave_; }

    // The item code and record of the last save command sent; a save that
    // times out is sent again with exactly these bytes.
    using SavedRecord = SaveOperation::Record;
    const SavedRecord& lastSave() const { return saveOperation_.record(); }
    // A live-set (or an FSK block) has just gone out: starts its poller.
    void liveSetSent();
    // A save command has just gone out (its frame is still in lastSentFrame):
    // keeps its record and starts the save's poller.
    void saveSent(bool wide);

    // One tick of each verifying poller.
    void liveSetTick();
    void saveTick();
    void wideSaveTick();
    // One tick of a reading poller: the decoded reply once it is in, else
    // nullptr. The caller shows it, then calls finish().
    const ReadBackReply* readingTick();
    const ReadBackOperation& readBack() const { return readBackOperation_; }
    // Stops a reading poller and reports its reply.
    void finish(QTimer* timer);

signals:
    // An accepted reply, for the log.
    void replyReceived(const std::uint8_t* bytes, std::uint16_t length);
    // `status`: the reply's status byte, 0 when the radio did it.
    void liveSetAcknowledged(int status);
    void saveAcknowledged(int itemCode, int status);
    // The third time-out of a verifying poller (already stopped).
    void gaveUp(QTimer* timer);

private:
    // A verifying poller's tick came to `status`; true when acknowledged.
    bool verified(QTimer* timer, OpStatus status, const std::vector<std::uint8_t>& reply);

    QTimer* liveSet_ = nullptr;
    QTimer* save_ = nullptr;
    QTimer* wideSave_ = nullptr;
    LiveSetOperation liveSetOperation_;
    SaveOperation saveOperation_;
    ReadBackOperation readBackOperation_;
};

}  // namespace varnel::tuning
