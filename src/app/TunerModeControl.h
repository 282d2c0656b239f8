// Tuner-mode control of the main window: entering and leaving tuner mode and
// writing the whole image back, each one operation of
// protocol/RadioOperations.h ticked by the window's 10 ms poll timers. A
// click opens the radio and starts the operation; the timer's handler ticks
// it and does the window's part once it is done (captions, the tuning
// window, the boxes). A poll that gets no answer ends quietly: the status
// bar says why and the operator may click again.
#pragma once

#include <QObject>
#include <QString>

#include "data/RadioInfo.h"
#include "protocol/RadioOperations.h"

class QTimer;
class TMainForm;

namespace varnel::app {

class ArchiveCommands;

class TunerModeControl : public QObject {
public:
    TunerModeControl(TMainForm& window, ArchiveCommands& archive);

    // SpeedButton4 / N2: enter when tuner mode is off, leave when it is on.
    void toggle();
    // SpeedButton1: the identity check, the operator's consent, the image.
    void writeAll();

    // The poll timers (10 ms; named as the tests find them).
    QTimer* ReadInfoTimer = nullptr;
    QTimer* EnterTunerModeTimer = nullptr;
    QTimer* ExitTunerModeTimer = nullptr;
    QTimer* WriteAllTunerDataTimer = nullptr;
    // Reads the attached radio's information block before a write-all, so
    // that the image goes only into the radio it belongs to.
    QTimer* WriteAllCheckTimer = nullptr;
    void ReadInfoTimerTimer();
    void EnterTunerModeTimerTimer();
    void ExitTunerModeTimerTimer();
    void WriteAllCheckTimerTimer();
    void WriteAllTunerDataTimerTimer();
    // Reads the radio's image back after a write-all that got no
    // acknowledgement, to compare it with the image sent.
    QTimer* WriteAllReadBackTimer = nullptr;
    void WriteAllReadBackTimerTimer();
    // True while one of the poll timers runs.
    bool pollRunning() const;

    // The captions and hints of SpeedButton4 and N2 for the state of
    // inTunerMode; after the tuning window left tuner mode; after the radio
    // went away.
    void showCaptions();
    void showLeftCaptions();
    void showRadioLostCaptions();

private:
    void setCaptions(const char* captionKey, const char* hintKey);
    // Closes an earlier link, scans and opens the radio; box M010 on failure.
    bool openRadioLink();
    // True when an operation's tick came to `wanted`; the timer is then
    // stopped. A failure ends the poll as pollExpired does.
    bool reached(OpStatus status, OpStatus wanted, QTimer* timer);
    // A poll gave up: the timer stopped, the cause in the status bar.
    void pollExpired(QTimer* timer);
    // The write-all questions: identity and plausibility, then consent.
    bool confirmWriteAll(const RadioInfo& attached, bool sameRadio);
    // The write-all went out and no acknowledgement came: the outcome is
    // unknown; a read-back is offered.
    void writeAllUnanswered();
    void logNote(const QString& text);

    TMainForm& window_;
    ArchiveCommands& archive_;
    EnterOperation enter_{PollRule::Verify};
    LeaveOperation leave_;
    WriteAllOperation writeAll_;
    ImageReadBackOperation readBack_;
    TunerImage sentImage_;    // the image the last write-all sent
    QString writtenTo_;       // the radio it went to, as the texts name it
};

}  // namespace varnel::app
