#include "app/TunerModeControl.h"

#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "app/AppTexts.h"
#include "app/ArchiveCommands.h"
#include "app/RadioStatusBar.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "data/Safety.h"
#include "lang/ErrorText.h"
#include "protocol/RadioValues.h"
#include "tuning/TMDIChild.h"
#include "ui/DialogSeam.h"
#include "ui/FeedbackTexts.h"
#include "ui/Polling.h"
#include "ui/Records.h"
#include "protocol/TunerMode.h"

using varnel::ui::Dialogs;
using varnel::ui::MessageButtons;
using varnel::ui::MessageKind;

namespace varnel::app {

TunerModeControl::TunerModeControl(TMainForm& window, ArchiveCommands& archive)
    : QObject(&window), window_(window), archive_(archive) {
    setObjectName(QStringLiteral("TunerModeControl"));
    using C = TunerModeControl;
    ReadInfoTimer = ui::NamedTimer(this, "ReadInfoTimer", 10, &C::ReadInfoTimerTimer);
    EnterTunerModeTimer = ui::NamedTimer(this, "EnterTunerModeTimer", 10, &C::EnterTunerModeTimerTimer);
    ExitTunerModeTimer = ui::NamedTimer(this, "ExitTunerModeTimer", 10, &C::ExitTunerModeTimerTimer);
    WriteAllTunerDataTimer = ui::NamedTimer(this, "WriteAllTunerDataTimer", 10, &C::WriteAllTunerDataTimerTimer);
    WriteAllCheckTimer = ui::NamedTimer(this, "WriteAllCheckTimer", 10, &C::WriteAllCheckTimerTimer);
    WriteAllReadBackTimer = ui::NamedTimer(this, "WriteAllReadBackTimer", 10, &C::WriteAllReadBackTimerTimer);
}

bool TunerModeControl::pollRunning() const {
    return ReadInfoTimer->isActive() || EnterTunerModeTimer->isActive() || ExitTunerModeTimer->isActive() ||
           WriteAllTunerDataTimer->isActive() || WriteAllCheckTimer->isActive() || WriteAllReadBackTimer->isActive();
}

void TunerModeControl::logNote(const QString& text) {
    if (window_.tuningWindow != nullptr) window_.tuningWindow->LogNote(text, {});
}

// ---- captions -----------------------------------------------------------------------

void TunerModeControl::setCaptions(const char* captionKey, const char* hintKey) {
    window_.SpeedButton4->setText(Tr("MainForm", captionKey));
    SetHint(window_.SpeedButton4, Tr("MainForm", hintKey));
    window_.N2->setText(Tr("MainForm", captionKey));
    SetHint(window_.N2, Tr("MainForm", hintKey));
}

void TunerModeControl::showCaptions() {
    if (inTunerMode) {
        setCaptions("S004", "S0040");
    } else {
        setCaptions("S003", "S0030");
    }
}

void TunerModeControl::showLeftCaptions() {
    // The hints follow the captions, so that they do not offer to leave a
    // mode that is already off.
    setCaptions("S003", "S0030");
}

void TunerModeControl::showRadioLostCaptions() {
    window_.SpeedButton4->setText(Tr("MainForm", "S003"));
    SetHint(window_.SpeedButton4, Tr("MainForm", "S0030"));
    window_.N2->setText(Tr("MainMenu", "M0022"));
    SetHint(window_.N2, Tr("MainForm", "S0030"));
}

// ---- the link and unanswered polls --------------------------------------------------------

bool TunerModeControl::openRadioLink() {
    window_.showStatusNote(QString());
    OpenError error;
    if (OpenRadioLink(&error)) return true;

    const QString text = ui::OpenRadioFailedText(error);
    window_.setRadioPresent(error.kind != OpenError::Kind::NoRadio);
    window_.RadioStatus->failed("S0001",
                                error.kind == OpenError::Kind::NoRadio ? QString() : ui::OpenFailureReason(LastOpenError()));
    window_.refreshRadioStatus();
    Dialogs().message(&window_, MessageKind::Error, kBoxCaption, text, MessageButtons::Ok);
    return false;
}

void TunerModeControl::pollExpired(QTimer* timer) {
    // The operation has set both counters to 0 and closed the link.
    timer->stop();
    // No box: the expiry stays silent. The status bar says what the
    // transfers reported when they failed, or that the radio hangs.
    // When the transfers themselves failed or hang, both say why and what
    // helps (a hung radio: unplug and plug in again), as the CLI does.
    QString cause;
    if (Exchange().failure() || Exchange().busy())
        cause = QString::fromStdString(TranslatedErrorText(Exchange().noAnswerError()));
    window_.showStatusNote(cause.isEmpty() ? ui::StatusText("S0009") : cause);
    if (cause.isEmpty()) {
        window_.RadioStatus->failed("S0009");
    } else {
        window_.RadioStatus->failed("S0024", cause);
    }
}

bool TunerModeControl::reached(OpStatus status, OpStatus wanted, QTimer* timer) {
    if (status == OpStatus::Failed) pollExpired(timer);
    if (status != wanted) return false;
    timer->stop();
    return true;
}

// ---- entering and leaving -----------------------------------------------------------------

void TunerModeControl::toggle() {
    // Entry replaces the image: unsaved changes are offered for saving first.
    if (!inTunerMode && !archive_.confirmImageReplaced()) return;
    // Leaving drops the live values the radio has not stored: asked first;
    // after "Save them" the leave runs again once the saves are acknowledged.
    if (inTunerMode && window_.tuningWindow != nullptr &&
        !window_.tuningWindow->confirmLeavingTunerMode([this] { if (inTunerMode) toggle(); })) {
        return;
    }
    // The radio's serial is asked before anything is sent to it, so that
    // the backup of its image and every record of the session carry it.
    if (!inTunerMode) ui::AskSerialBeforeEntering(&window_);
    if (!openRadioLink()) return;
    if (!inTunerMode) {
        enter_.start();
        ReadInfoTimer->start();
    } else {
        leave_.start();
        ExitTunerModeTimer->start();
        if (window_.tuningWindow != nullptr) window_.tuningWindow->stopMeasuring();
    }
}

void TunerModeControl::ReadInfoTimerTimer() {
    if (enter_.stage() != EnterOperation::Stage::ReadingInfo) return;
    // Entering re-sends like every other exchange: a dropped reply costs
    // one more attempt, and the third time-out gives up as an expiry does.
    // Once the block is in radioInfo, the enter command has gone out.
    if (reached(enter_.tick(), OpStatus::NextStep, ReadInfoTimer)) EnterTunerModeTimer->start();
}

void TunerModeControl::EnterTunerModeTimerTimer() {
    if (enter_.stage() != EnterOperation::Stage::Entering) return;
    if (!reached(enter_.tick(), OpStatus::Done, EnterTunerModeTimer)) return;
    // Log lines and the entry record carry the time of the exchange, not
    // that of the box below being closed.
    const QDateTime entered = QDateTime::currentDateTime();
    // The operation has taken the image into tunerImage (a small model's
    // bytes 512 to 847 are what memory held, as in any archive) and set
    // band 0. The backup holds the image as the radio sent it.
    archive_.backupEntry(radioInfo, tunerImage);
    ui::RecordEntered(&window_, tunerImage);

    setCaptions("S004", "S0040");
    window_.N1->setEnabled(true);

    // The new tuning window, tuner mode; then the box, whose text points at
    // the tree that is now on screen.
    archive_.imageReadFromRadio(entered.time().toString(QStringLiteral("HH:mm")));
    window_.OpenTuningWindow(kUntitled);
    EnteredTunerMode();
    if (window_.tuningWindow != nullptr) window_.tuningWindow->radioEntered();
    archive_.forgetFile();
    if (window_.tuningWindow != nullptr) {
        window_.tuningWindow->LogNote(Fill(Tr("Safety", "L0001"), {DescribeRadioText(radioInfo)}),
                                      entered);
        if (!archive_.lastBackupPath().isEmpty())
            window_.tuningWindow->LogNote(Fill(Tr("Safety", "B0001"), {archive_.lastBackupPath()}), entered);
    }
    // The status bar says "in tuner mode" at once, not at its next refresh.
    window_.refreshRadioStatus();
    Dialogs().message(&window_, MessageKind::Information, kBoxCaption, Tr("MessageBox", "M001"), MessageButtons::Ok);
}

void TunerModeControl::ExitTunerModeTimerTimer() {
    // An unanswered leave keeps tuner mode on.
    if (!reached(leave_.tick(), OpStatus::Done, ExitTunerModeTimer)) return;
    LeftTunerMode();
    if (window_.tuningWindow != nullptr) window_.tuningWindow->radioLeftTunerMode();
    setCaptions("S003", "S0030");
    window_.N1->setEnabled(false);
    ui::RecordLeft();
    Dialogs().message(&window_, MessageKind::Information, kBoxCaption, Tr("MessageBox", "M002"), MessageButtons::Ok);
}

// ---- writing the whole image ----------------------------------------------------------------

void TunerModeControl::writeAll() {
    if (!openRadioLink()) return;
    // First ask the attached radio who it is (0x0003); the write follows
    // only when it is the image's radio and the operator agrees.
    writeAll_.start();
    WriteAllCheckTimer->start();
}

void TunerModeControl::WriteAllCheckTimerTimer() {
    if (writeAll_.stage() != WriteAllOperation::Stage::Checking) return;
    if (!reached(writeAll_.tick(), OpStatus::NeedsConsent, WriteAllCheckTimer)) return;
    const RadioInfo attached = writeAll_.attached();
    if (!confirmWriteAll(attached, writeAll_.sameRadio())) {
        writeAll_.decline();
        return;
    }
    sentImage_ = tunerImage;
    writtenTo_ = DescribeRadioText(attached);
    writeAll_.proceed();
    WriteAllTunerDataTimer->start();
    // On its way, not yet written: the acknowledgement tells.
    logNote(Fill(Tr("Safety", "L0010"), {writtenTo_}));
}

bool TunerModeControl::confirmWriteAll(const RadioInfo& attached, bool same) {
    const QString attachedName = DescribeRadioText(attached);
    const QString imageName = DescribeRadioText(radioInfo);
    const std::vector<PlausibilityProblem> problems = PlausibilityProblems(radioInfo, tunerImage);
    if (same && problems.empty()) {
        const QString text = Fill(Tr("Safety", "W0006"), {archive_.imageSource(), attachedName});
        return Dialogs().message(&window_, MessageKind::Question, kBoxCaption, text, MessageButtons::OkCancel) ==
               ui::MessageResult::Ok;
    }
    QStringList lines;
    if (!same) {
        lines << Tr("Safety", "W0001") << QString() << Fill(Tr("Safety", "W0002"), {attachedName})
              << Fill(Tr("Safety", "W0003"), {imageName});
    }
    if (!problems.empty()) {
        if (!lines.isEmpty()) lines << QString();
        lines << Tr("Safety", "W0008");
        for (const PlausibilityProblem& problem : problems) lines << DescribeProblem(problem);
    }
    if (!expertMode) {
        Dialogs().message(&window_, MessageKind::Error, kBoxCaption, lines.join(QLatin1Char('\n')), MessageButtons::Ok);
        return false;
    }
    lines << QString() << Tr("Safety", same ? "W0009" : "W0004");
    if (Dialogs().message(&window_, MessageKind::Question, kBoxCaption, lines.join(QLatin1Char('\n')),
                          MessageButtons::OkCancel) != ui::MessageResult::Ok) {
        return false;
    }
    // The override is a second, explicit decision.
    return Dialogs().message(&window_, MessageKind::Question, kBoxCaption, Fill(Tr("Safety", "W0005"), {attachedName}),
                             MessageButtons::OkCancel) == ui::MessageResult::Ok;
}

void TunerModeControl::WriteAllTunerDataTimerTimer() {
    if (writeAll_.stage() != WriteAllOperation::Stage::Writing) return;
    const OpStatus status = writeAll_.tick();
    if (!reached(status, OpStatus::Done, WriteAllTunerDataTimer)) {
        if (status == OpStatus::Failed) writeAllUnanswered();
        return;
    }
    ui::RecordWroteAll();
    logNote(Tr("Safety", "L0003"));
    Dialogs().message(&window_, MessageKind::Information, kBoxCaption, Tr("MessageBox", "M012"), MessageButtons::Ok);
}

}  // namespace varnel::app

namespace varnel::app {

void TunerModeControl::writeAllUnanswered() {
    // Not sent again: the radio may have taken the image, and only its own
    // image tells.
    ui::RecordWriteAllUnconfirmed("outcome unknown: no acknowledgement");
    const QString unknown = Fill(Tr("Safety", "L0011"), {writtenTo_});
    logNote(unknown);
    window_.showStatusNote(unknown);
    if (Dialogs().message(&window_, MessageKind::Question, kBoxCaption, Fill(Tr("Safety", "W0010"), {writtenTo_}),
                          MessageButtons::OkCancel) != ui::MessageResult::Ok) {
        return;
    }
    if (!openRadioLink()) return;
    // Out of tuner mode the read-back (an entry's image) is followed by the leave.
    readBack_.start(!inTunerMode);
    WriteAllReadBackTimer->start();
}

void TunerModeControl::WriteAllReadBackTimerTimer() {
    const OpStatus status = readBack_.tick();
    if (status == OpStatus::Running || status == OpStatus::NextStep) return;
    WriteAllReadBackTimer->stop();
    if (status == OpStatus::Failed) {
        ui::RecordWriteAllUnconfirmed("outcome unknown: no acknowledgement, read-back failed");
        const QString text = Fill(Tr("Safety", "L0014"), {writtenTo_});
        logNote(text);
        window_.showStatusNote(text);
        Dialogs().message(&window_, MessageKind::Error, kBoxCaption, text, MessageButtons::Ok);
        return;
    }
    const int differences = readBack_.differences(sentImage_);
    const QString bytes = QString::number(readBack_.bytes());
    if (differences == 0) {
        // The radio stores and runs the image sent.
        HeldValues().wroteAll(sentImage_, readBack_.bytes());
        ui::RecordWroteAll("no acknowledgement; read back: the radio holds it");
        const QString text = Fill(Tr("Safety", "L0012"), {writtenTo_, bytes});
        logNote(text);
        window_.showStatusNote(text);
        Dialogs().message(&window_, MessageKind::Information, kBoxCaption, text, MessageButtons::Ok);
        return;
    }
    ui::RecordWriteAllUnconfirmed("no acknowledgement; read back: " + std::to_string(differences) + " of " +
                                  bytes.toStdString() + " bytes differ, not written");
    const QString text = Fill(Tr("Safety", "L0013"), {writtenTo_, QString::number(differences), bytes});
    logNote(text);
    window_.showStatusNote(text);
    Dialogs().message(&window_, MessageKind::Error, kBoxCaption, text, MessageButtons::Ok);
}

}  // namespace varnel::app
