// The pollers that wait for the radio's replies to the tuning window's
// commands. The window never waits: a sender writes its frame and records
// the reply length; a timer then reads on every tick until the reply
// matches.
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
#include <functional>
#include <vector>

#include "data/ItemTable.h"

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
    struct SavedRecord {
        int item = kNoCode;
        bool wide = false;  // SendSaveWideItem
        std::vector<std::uint8_t> record;
    };
    const SavedRecord& lastSave() const { return lastSave_; }
    // A save command has just gone out (its frame is still in lastSentFrame):
    // keeps its record and starts the save's poller.
    void saveSent(bool wide);

    // One tick of each verifying poller.
    void liveSetTick();
    void saveTick();
    void wideSaveTick();
    // One tick of a reading poller; true when the reply matched. The caller
    // takes the readings from replyBuffer, then calls finish().
    static bool readingTick(std::uint16_t expectedCode);
    // Stops the poller, reports the accepted reply and clears the reply buffer.
    void finish(QTimer* timer);

signals:
    // An accepted reply, for the log.
    void replyReceived(const std::uint8_t* bytes, std::uint16_t length);
    void liveSetAcknowledged();
    void saveAcknowledged(int itemCode);
    // The third time-out of a verifying poller (already stopped).
    void gaveUp(QTimer* timer);

private:
    bool verifyTick(QTimer* timer, std::uint16_t expectedCode, const std::function<void()>& resend);
    void resendSave(bool wide);

    QTimer* liveSet_ = nullptr;
    QTimer* save_ = nullptr;
    QTimer* wideSave_ = nullptr;
    SavedRecord lastSave_;
};

}  // namespace varnel::tuning
