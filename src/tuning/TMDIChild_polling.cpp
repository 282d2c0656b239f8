// The tuning window's side of reply polling (ReplyPollers.h): what a reading
// or a give-up shows; the periodic read-back; the connection watch.
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "ui/Records.h"
#include "ui/DialogSeam.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/ErrorText.h"
#include "lang/Loadlanguage.h"
#include "protocol/Exchange.h"
#include "protocol/FrameDecode.h"
#include "protocol/Sendcmd.h"
#include "tuning/HotplugWatch.h"
#include "tuning/TuningFeedback.h"
#include "ui/FeedbackTexts.h"
#include "tuning/TMDIChild.h"
#include "tuning/TuningPages.h"
#include "protocol/TunerMode.h"

using namespace varnel;
using namespace varnel::tuning;

namespace {

// Without USB notices the watch looks for the radio this often.
constexpr int kWatchFallbackMs = 1000;
// The notice that the USB watch could not start is shown once per run.
bool g_watchFailureShown = false;


}  // namespace

// ---- the key filter of the point buttons --------------------------------------

namespace {

// Installed on the application while the window exists: sees every event of
// the program before its receiver does.
class TApplicationEvents : public QObject {
public:
    explicit TApplicationEvents(TMDIChild* window) : QObject(window), window_(window) {
        setObjectName(QStringLiteral("ApplicationEvents1"));
        qApp->installEventFilter(this);
    }
    ~TApplicationEvents() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        bool handled = false;
        window_->ApplicationEvents1Message(watched, event, handled);
        return handled;
    }

private:
    TMDIChild* window_;
};

// The point buttons whose arrow keys are swallowed: those of sbox_power,
// sbox_ctcss and sbox_sql. The single-point buttons and the pages of the
// mobile radio, the bit-error-rate test and FSK keep Qt's arrow keys.
constexpr const char* kArrowFilteredButtons[] = {
    "RadioButton1",  "RadioButton2",  "RadioButton3",  "RadioButton4",  "RadioButton5",  "RadioButton13",
    "RadioButton14", "RadioButton15", "RadioButton16", "RadioButton17", "RadioButton12", "RadioButton18",
    "RadioButton19", "RadioButton20", "RadioButton21", "RadioButton06", "RadioButton07", "RadioButton08",
};

bool IsArrowKey(int key) { return key == Qt::Key_Left || key == Qt::Key_Up || key == Qt::Key_Right || key == Qt::Key_Down; }

}  // namespace

void TMDIChild::ApplicationEvents1Message(QObject* receiver, QEvent* event, bool& handled) {
    if (receiver == nullptr || event == nullptr) return;
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return;
    if (!IsArrowKey(static_cast<QKeyEvent*>(event)->key())) return;
    // Arrow keys on a point button move to the neighbouring point.
    if (MovePointFocus(receiver, static_cast<QKeyEvent*>(event))) {
        handled = true;
        return;
    }
    const QString name = receiver->objectName();
    for (const char* filtered : kArrowFilteredButtons) {
        // Only this window's buttons: another window may reuse the names.
        if (name == QLatin1String(filtered) && control(name) == receiver) {
            handled = true;
            return;
        }
    }
}

// ---- wiring -------------------------------------------------------------------

void TMDIChild::ConnectPollers() {
    connect(pollers_, &ReplyPollers::replyReceived, this, [this](const std::uint8_t* bytes, std::uint16_t length) {
        LogFrame(bytes, length, 1);
    });
    // What the radio holds follows the operations' outcomes (HeldValues);
    // the window records them.
    connect(pollers_, &ReplyPollers::liveSetAcknowledged, this, [](int) { ui::RecordLiveSetAcknowledged(); });
    connect(pollers_, &ReplyPollers::saveAcknowledged, this, [this](int item, int status) {
        ui::RecordSaveAcknowledged(item);
        if (savingLive_) {
            if (status == 0) {
                sendNextLiveSave();
            } else {
                liveSavesStopped();  // refused: the radio stays in tuner mode
            }
        }
    });
    connect(pollers_, &ReplyPollers::gaveUp, this, &TMDIChild::GiveUp);

    // Any USB device arriving or leaving starts the rescan.
    hotplug_ = new HotplugWatch(this);
    connect(hotplug_, &HotplugWatch::deviceChanged, connetTimer_, qOverload<>(&QTimer::start));
    if (!hotplug_->platformWatchActive()) {
        // No notices will come: say so once, and look for the radio every
        // second instead while tuner mode is on.
        if (!g_watchFailureShown) {
            g_watchFailureShown = true;
            QString note = QString::fromStdString(Text("Link", "L020"));
            if (note.isEmpty()) note = QStringLiteral("USB notices are not available; the radio is looked for every second.");
            const QString reason = hotplug_->platformFailure();
            if (!reason.isEmpty()) note += QStringLiteral(" (") + reason + QStringLiteral(")");
            // Said once the main window listens (the window is still being built).
            QTimer::singleShot(0, this, [this, note] { emit linkNote(note); });
        }
        watchFallback_ = new QTimer(this);
        watchFallback_->setObjectName(QStringLiteral("WatchFallbackTimer"));
        watchFallback_->setInterval(kWatchFallbackMs);
        connect(watchFallback_, &QTimer::timeout, this, [this] {
            if (inTunerMode && !connetTimer_->isActive() && ScanRadioDrives() == 0) connetTimer_->start();
        });
        watchFallback_->start();
    }

    // Transfers that fail are written to the log (a failing read once per
    // attempt, as the engine reports it).
    QPointer<TMDIChild> self(this);
    linkObserver_ = Exchange().addObserver([self](const FrameEvent& event) {
        if (!self || event.kind != FrameEvent::Kind::Failed) return;
        self->LogTransferFailure(event.outcome);
        // A device that went away mid-exchange is looked for at once, as a
        // USB removal notice would have it (some removals send none).
        if (event.outcome.kind() == TransferOutcome::Kind::Gone && inTunerMode && !self->connetTimer_->isActive()) {
            self->connetTimer_->start();
        }
    });
    connect(this, &QObject::destroyed, [id = linkObserver_] { Exchange().removeObserver(id); });

    ApplicationEvents1 = new TApplicationEvents(this);
}

// ---- the common poll step --------------------------------------------------------

void TMDIChild::FinishReply(QTimer* timer) { pollers_->finish(timer); }

void TMDIChild::GiveUp(QTimer* timer) {
    // The screen and the image go back to what the radio confirmed.
    if (timer == timeOutTimer_) liveSetUnconfirmed(false);
    if (timer != timeOutTimer_) liveSavesStopped();
    QString text = QString::fromStdString(Text("MessageBox", "M013"));
    // A radio that merely stayed silent gets the message as it always was;
    // when the transfers themselves failed, the cause follows.
    if (Exchange().failure() || Exchange().busy())
        text += QStringLiteral("\n\n") + QString::fromStdString(TranslatedErrorText(Exchange().noAnswerError()));
    // The man-down page has no point to select again: say what helps there.
    if (timer == saveTimer_ && InFamily(currentItem, Page::Mandown)) {
        text += QStringLiteral("\n\n") + QString::fromStdString(Text("Status", "S0013"));
    }
    emit exchangeFailed(QStringLiteral("S0011"),
                        QString::fromStdString(Text("Status", CommandNameKey(lastSentFrame[2], lastSentFrame[6]))));
    ui::Dialogs().message(this, ui::MessageKind::Plain, QGuiApplication::applicationDisplayName(), text,
                          ui::MessageButtons::Ok);
    pages_->lockAdjustControls();
}

// ---- verifying pollers --------------------------------------------------------------

void TMDIChild::TimeOutTimerTimer() { pollers_->liveSetTick(); }

void TMDIChild::SaveItemTimer() { pollers_->saveTick(); }

void TMDIChild::SaveItemTimer2Timer() { pollers_->wideSaveTick(); }

// ---- reading poller -------------------------------------------------------------------

void TMDIChild::ReadTimerTimer() {
    const ReadBackReply* reply = pollers_->readingTick();
    if (reply == nullptr) return;
    const int reading = reply->reading(0);
    if (InFamily(currentItem, Page::Vox)) {
        control<QLabel>(QStringLiteral("Label36"))->setText(QString::number(reading));
    } else if (InFamily(currentItem, Page::Sql)) {
        // The measured level becomes the item's value at the point.
        pollers_->readBack().takeReadingAsValue(currentItem, currentPoint);
    } else if (InFamily(currentItem, Page::Temp)) {
        control<QLabel>(QStringLiteral("Label130"))->setText(QString::number(reading));
        control<QLabel>(QStringLiteral("Label132"))->setText(QString::number(reply->reading(1)));
    }
    if (const RowSpec* row = FindRow(Page::Sql, currentPoint); row != nullptr && currentPoint <= 5) {
        control<QLabel>(QString::fromLatin1(row->cells.front().name))->setText(QString::number(reading));
    }
    // A following save stores the reading.
    currentValue = reading;
    FinishReply(readTimer_);
}

// ---- periodic read-back -----------------------------------------------------------------

void TMDIChild::CheckTimerTimer() {
    actionCode = action::kReadBack;
    if (InFamily(currentItem, Page::Mandown)) {
        // The man-down sensor has no frequency points.
        SendQueryItem(currentItem, actionCode, 1, currentValue, txFrequency(0));
        mandownTimer_->start();
        return;
    }
    SendQueryItem(currentItem, actionCode, currentPoint, currentValue, txFrequency(currentPoint - 1));
    if (InFamily(currentItem, Page::ErrorRate)) {
        errorRateTimer_->start();
    } else {
        readTimer_->start();
    }
}

// ---- connection watch ----------------------------------------------------------------------

void TMDIChild::ConnetTimerTimer() {
    if (ScanRadioDrives() > 0) {
        connetTimer_->stop();
        radioAway_ = false;
        RadioBack();
        return;
    }
    // The radio is gone: tuner mode with it. The watch keeps scanning until
    // a radio volume is back; the operator then enters tuner mode again.
    // Captions and locks are set once per loss, not on every tick: they
    // cannot change while the radio stays away, except by the operator
    // entering tuner mode again, which the flag notices.
    if (radioAway_ && !inTunerMode) return;
    radioAway_ = true;
    LeftTunerMode();
    liveSavesStopped();
    liveSetUnconfirmed(true);
    HeldValues().forget();
    emit radioLost();
    pages_->lockAdjustControls();
    StopForLostRadio();
}

namespace {

// Keying captions while keyed, and the caption each goes back to.
struct CaptionReset {
    const char* on;
    const char* off;
};
constexpr CaptionReset kCaptionResets[] = {{"C0014", "C0007"}, {"C0015", "C0008"}, {"C0030", "C0029"}};

}  // namespace

void TMDIChild::StopForLostRadio() {
    if (feedback_ == nullptr || feedback_->radioLost()) return;
    // Nothing is keyed any more, and nothing will answer.
    for (QTimer* timer : {checkTimer_, readTimer_, errorRateTimer_, mandownTimer_, timeOutTimer_, saveTimer_, saveItemTimer2_}) {
        if (timer != nullptr) timer->stop();
    }
    txKeyed = false;
    rxKeyed = false;
    for (QPushButton* button : findChildren<QPushButton*>()) {
        for (const CaptionReset& reset : kCaptionResets) {
            const QString on = QString::fromStdString(Text("ChildForm", reset.on));
            if (!on.isEmpty() && button->text() == on) button->setText(QString::fromStdString(Text("ChildForm", reset.off)));
        }
        // Keying, save and test buttons all need the radio.
        if (button->objectName().startsWith(QLatin1String("Button"))) button->setEnabled(false);
    }
    pages_->lockMeasureButtons();
    LogNote(feedback_->showRadioLost());
    emit radioPresenceChanged(false);
}

void TMDIChild::RadioBack() {
    if (feedback_ == nullptr || !feedback_->radioLost()) return;
    // The notice follows what entering tuner mode can do now.
    LogNote(feedback_->showRadioFound(ui::RadioOpenProblem()));
    emit radioPresenceChanged(true);
}
