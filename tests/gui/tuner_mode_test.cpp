// Tuner-mode control on the virtual radio: entering, leaving, writing the
// whole image, a missing radio, a radio that never answers. The poll timers
// are driven by calling their handlers, one call per tick.
#include <QAction>
#include <QMdiSubWindow>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstring>

#include "app/TMainForm.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "dialogs/TFactroyForm.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "support/RadioFrames.h"
#include "support/TestEnvironment.h"
#include "support/TuningFixture.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using varnel::test::TestEnvironment;
using varnel::test::Tr;
using varnel::test::FrameCode;
using varnel::test::FrameCodes;

Q_DECLARE_METATYPE(varnel::VirtualPreset)

namespace {

// A picture of everything a refused or abandoned operation must leave alone.
struct Snapshot {
    RadioInfo info;
    TunerImage image;
    bool tunerMode;
    int bandValue;
    std::string fileName;
    QString button4, button4Hint, n2;
    bool n1, button1;
    int windows;
    TMDIChild* window;

    static Snapshot Take(TMainForm& form) {
        return {radioInfo,
                tunerImage,
                inTunerMode,
                band,
                currentFileName,
                form.SpeedButton4->text(),
                form.SpeedButton4->statusTip(),
                form.N2->text(),
                form.N1->isEnabled(),
                form.SpeedButton1->isEnabled(),
                static_cast<int>(form.openTuningWindows().size()),
                form.tuningWindow};
    }
    void check(TMainForm& form) const {
        QVERIFY(radioInfo.bytes == info.bytes);
        QVERIFY(tunerImage.bytes == image.bytes);
        QCOMPARE(inTunerMode, tunerMode);
        QCOMPARE(band, bandValue);
        QCOMPARE(currentFileName, fileName);
        QCOMPARE(form.SpeedButton4->text(), button4);
        QCOMPARE(form.SpeedButton4->statusTip(), button4Hint);
        QCOMPARE(form.N2->text(), n2);
        QCOMPARE(form.N1->isEnabled(), n1);
        QCOMPARE(form.SpeedButton1->isEnabled(), button1);
        QCOMPARE(static_cast<int>(form.openTuningWindows().size()), windows);
        QCOMPARE(form.tuningWindow.data(), window);
    }
};

void WriteArchiveFor(TestEnvironment& env, const QString& name, VirtualPreset preset, int seed) {
    QByteArray bytes = test::PatternArchive(seed);
    const RadioInfo info = VirtualPresetInfo(preset);
    std::memcpy(bytes.data(), info.bytes.data(), RadioInfo::kSize);
    // The frequency tables of both band halves (eight transmit and eight
    // receive frequencies, 64 bytes each) as the radio has them, so that the
    // archive is plausible.
    const TunerImage image = VirtualPresetImage(preset);
    for (std::size_t half = 0; half < 2; ++half) {
        std::memcpy(bytes.data() + RadioInfo::kSize + 256 * half, image.bytes.data() + 256 * half, 64);
    }
    env.writeFile(name, bytes);
}

}  // namespace

class TunerModeTest : public QObject {
    Q_OBJECT

private slots:
    void enterAndLeave_data();
    void enterAndLeave();
    void enterReplacesArchiveWindowWithoutQuestion();
    void noRadio_data();
    void noRadio();
    void permissionProblemIsExplained();
    void radioThatNeverAnswers_data();
    void radioThatNeverAnswers();
    void wrongRepliesAreNotAccepted();
    void entryResendsADroppedReply_data();
    void entryResendsADroppedReply();
    void writeAllFromArchive_data();
    void writeAllFromArchive();
    void factoryDialogOnlyInTunerMode();
};

// ---------------------------------------------------------------------------

void TunerModeTest::enterAndLeave_data() {
    QTest::addColumn<VirtualPreset>("preset");
    QTest::addColumn<int>("imageBytes");
    QTest::newRow("small model") << VirtualPreset::Variant0 << 512;
    QTest::newRow("small model, variant 1") << VirtualPreset::Variant1 << 512;
    QTest::newRow("large model") << VirtualPreset::LargeNewFirmware << 848;
}

void TunerModeTest::enterAndLeave() {
    QFETCH(VirtualPreset, preset);
    QFETCH(int, imageBytes);
    TestEnvironment env(preset);
    TMainForm form;
    VirtualRadio& radio = env.radio();

    // What memory held before: the tail of a small radio's image must survive.
    tunerImage.bytes.fill(0x5A);
    band = 1;
    currentFileName = "/somewhere/old.tdb";

    // The box comes once the tuning window is there: its text points at
    // the tree, which is on screen behind it, with the captions set.
    bool checkedAtBox = false;
    env.dialogs().onMessage = [&](const test::RecordedMessage& m) {
        if (m.text != Tr("MessageBox", "M001")) return;
        checkedAtBox = true;
        QVERIFY(form.tuningWindow != nullptr);
        QCOMPARE(form.openTuningWindows().size(), 1);
        QVERIFY(!form.tuningWindow->TreeView1()->isHidden());
        QVERIFY(form.tuningWindow->TreeView1()->topLevelItemCount() > 0);
        QVERIFY(inTunerMode);
        QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S004"));
        QVERIFY(form.N1->isEnabled());
        QVERIFY(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + imageBytes,
                           radio.liveImage().bytes.begin()));  // the image is in place before the box
    };

    form.SpeedButton4->click();
    QVERIFY(form.ReadInfoTimer->isActive());
    QCOMPARE(FrameCodes(radio), (QList<std::uint16_t>{cmd::kReadInfo}));
    QCOMPARE(pendingReplyLength, std::uint16_t(265));

    // One tick reads the information block and sends the enter command.
    form.ReadInfoTimerTimer();
    QVERIFY(!form.ReadInfoTimer->isActive());
    QVERIFY(form.EnterTunerModeTimer->isActive());
    QVERIFY(radioInfo.bytes == radio.info().bytes);
    QCOMPARE(FrameCodes(radio), (QList<std::uint16_t>{cmd::kReadInfo, cmd::kEnterTunerMode}));
    QCOMPARE(int(pendingReplyLength), imageBytes + 9);

    form.EnterTunerModeTimerTimer();
    QVERIFY(!form.pollRunning());
    QVERIFY(checkedAtBox);
    env.dialogs().onMessage = nullptr;
    QCOMPARE(env.dialogs().messages.size(), 1);
    const test::RecordedMessage box = env.dialogs().messages.first();
    QCOMPARE(box.kind, ui::MessageKind::Information);
    QCOMPARE(box.caption, QStringLiteral("Varnel"));
    QCOMPARE(box.text, Tr("MessageBox", "M001"));
    QVERIFY(!box.text.isEmpty());

    // The image: the radio's bytes, the rest kept.
    QVERIFY(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + imageBytes,
                       radio.liveImage().bytes.begin()));
    for (std::size_t i = static_cast<std::size_t>(imageBytes); i < TunerImage::kSize; ++i) {
        QCOMPARE(tunerImage.bytes[i], std::uint8_t(0x5A));
    }
    QVERIFY(inTunerMode);
    QVERIFY(radio.inTunerMode());
    QCOMPARE(band, 0);
    QVERIFY(currentFileName.empty());
    QVERIFY(form.tuningWindow != nullptr);
    QCOMPARE(form.openTuningWindows().size(), 1);
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("Untitled.tdb"));
    QVERIFY(form.tuningWindow->parentWidget() != nullptr);
    QVERIFY(qobject_cast<QMdiSubWindow*>(form.tuningWindow->parentWidget())->isMaximized());
    QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S004"));
    QCOMPARE(form.SpeedButton4->statusTip(), Tr("MainForm", "S0040"));
    QCOMPARE(form.N2->text(), Tr("MainForm", "S004"));
    QCOMPARE(form.N2->statusTip(), Tr("MainForm", "S0040"));
    QVERIFY(form.N1->isEnabled());
    // The tuning window's commands.
    QVERIFY(form.SpeedButton1->isEnabled());
    QVERIFY(form.SpeedButton3->isEnabled());
    QVERIFY(form.ParamItem->isEnabled());
    QVERIFY(form.FileSaveItem->isEnabled());
    QVERIFY(form.FileSaveAsItem->isEnabled());

    // Leave: the tuning window's periodic polls stop before the leave poll.
    TMDIChild* window = form.tuningWindow;
    test::TimerOf(*window, "CheckTimer")->start();
    test::TimerOf(*window, "MandownTimer")->start();
    test::TimerOf(*window, "ErrorRateTimer")->start();
    radio.clearReceivedFrames();
    env.dialogs().messages.clear();
    form.N2->trigger();
    QVERIFY(form.ExitTunerModeTimer->isActive());
    QVERIFY(!test::TimerOf(*window, "CheckTimer")->isActive());
    QVERIFY(!test::TimerOf(*window, "MandownTimer")->isActive());
    QVERIFY(!test::TimerOf(*window, "ErrorRateTimer")->isActive());
    QCOMPARE(FrameCodes(radio), (QList<std::uint16_t>{cmd::kExitTunerMode}));
    QCOMPARE(pendingReplyLength, std::uint16_t(9));

    test::RunMainWindowPolls(form);
    QVERIFY(!inTunerMode);
    QVERIFY(!radio.inTunerMode());
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().text, Tr("MessageBox", "M002"));
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Information);
    QCOMPARE(env.dialogs().messages.first().caption, QStringLiteral("Varnel"));
    QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S003"));
    QCOMPARE(form.SpeedButton4->statusTip(), Tr("MainForm", "S0030"));
    QCOMPARE(form.N2->text(), Tr("MainForm", "S003"));
    QVERIFY(!form.N1->isEnabled());
    QCOMPARE(pollTicks, std::uint16_t(0));
    QCOMPARE(pollRetries, std::uint8_t(0));
    // The window stays, showing the image read at entry; the link stays open.
    QCOMPARE(form.tuningWindow.data(), window);
    QCOMPARE(form.openTuningWindows().size(), 1);
    QVERIFY(linkHandle != nullptr);
    QVERIFY(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + imageBytes,
                       radio.storedImage().bytes.begin()));

    // And in again: a second entry replaces the window.
    QVERIFY(test::EnterTunerMode(form));
    QCOMPARE(form.openTuningWindows().size(), 1);
    QVERIFY(form.tuningWindow != nullptr);
}

void TunerModeTest::enterReplacesArchiveWindowWithoutQuestion() {
    TestEnvironment env;
    WriteArchiveFor(env, QStringLiteral("a.tdb"), VirtualPreset::Variant0, 3);
    TMainForm form;
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("a.tdb"))));
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("a.tdb"));
    QVERIFY(!currentFileName.empty());
    QVERIFY(env.dialogs().messages.isEmpty());

    QVERIFY(test::EnterTunerMode(form));
    // Only M001: the old window closed without a question.
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().text, Tr("MessageBox", "M001"));
    QCOMPARE(form.openTuningWindows().size(), 1);
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("Untitled.tdb"));
    QVERIFY(currentFileName.empty());

    // So the next save asks for a name.
    env.dialogs().saveNames << env.filePath(QStringLiteral("b.tdb"));
    form.FileSaveItemClick();
    QCOMPARE(env.dialogs().saveFilters.size(), 1);
    QVERIFY(env.fileExists(QStringLiteral("b.tdb")));
}

// ---------------------------------------------------------------------------

// Where an operation without a radio starts from.
enum class Start { Idle, Tuned, Archive };
Q_DECLARE_METATYPE(Start)

void TunerModeTest::noRadio_data() {
    QTest::addColumn<Start>("start");
    QTest::addColumn<bool>("writeAll");  // the write-all button, else the tuner-mode button
    QTest::newRow("enter") << Start::Idle << false;
    QTest::newRow("leave") << Start::Tuned << false;
    QTest::newRow("write all") << Start::Archive << true;
    QTest::newRow("write all in tuner mode") << Start::Tuned << true;
}

void TunerModeTest::noRadio() {
    QFETCH(Start, start);
    QFETCH(bool, writeAll);
    TestEnvironment env;
    TMainForm form;
    if (start == Start::Tuned) QVERIFY(test::EnterTunerMode(form));
    if (start == Start::Archive) {
        WriteArchiveFor(env, QStringLiteral("a.tdb"), VirtualPreset::Variant0, 5);
        QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("a.tdb"))));
    }
    env.dialogs().messages.clear();
    env.radio().clearReceivedFrames();
    env.setRadioPresent(false);
    const Snapshot before = Snapshot::Take(form);

    if (writeAll) QVERIFY(form.SpeedButton1->isEnabled());
    (writeAll ? form.SpeedButton1 : form.SpeedButton4)->click();

    QCOMPARE(env.dialogs().messages.size(), 1);
    const test::RecordedMessage box = env.dialogs().messages.first();
    QCOMPARE(box.kind, ui::MessageKind::Error);
    QCOMPARE(box.caption, QStringLiteral("Varnel"));
    QCOMPARE(box.text, Tr("MessageBox", "M010"));  // no radio: nothing to explain beyond it
    QVERIFY(!box.text.isEmpty());
    QVERIFY(!form.pollRunning());
    QVERIFY(linkHandle == nullptr);
    QVERIFY(env.radio().receivedFrames().empty());
    before.check(form);

    // With the radio back the same click works.
    env.setRadioPresent(true);
    env.dialogs().messages.clear();
    (writeAll ? form.SpeedButton1 : form.SpeedButton4)->click();
    test::RunMainWindowPolls(form);
    if (writeAll) {
        QCOMPARE(env.dialogs().messages.last().text, Tr("MessageBox", "M012"));
    } else {
        QCOMPARE(inTunerMode, start != Start::Tuned);
    }
}

void TunerModeTest::permissionProblemIsExplained() {
    TestEnvironment env;
    TMainForm form;
    env.backend().setOpenFailure(OpenError::Kind::PermissionDenied, "Permission denied");
    const Snapshot before = Snapshot::Take(form);
    form.SpeedButton4->click();
    QCOMPARE(env.dialogs().messages.size(), 1);
    const QString text = env.dialogs().messages.first().text;
    // The reason comes from the language file, with the device appended.
    const OpenError& failure = LastOpenError();
    QString where = QString::fromStdString(failure.device);
    if (!failure.detail.empty()) where += ": " + QString::fromStdString(failure.detail);
    const QString reason = TestEnvironment::text("Status", "O0002") + " (" + where + ")";
    QCOMPARE(LastOpenError().kind, OpenError::Kind::PermissionDenied);
    QVERIFY(!reason.isEmpty());
    // The box's own text, then a paragraph on the cause.
    QCOMPARE(text, Tr("MessageBox", "M010") + QStringLiteral("\n\n") + reason);
    QVERIFY(text.contains(QLatin1String("udev")));
    QVERIFY(text.contains(QLatin1String("permission")));
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Error);
    QVERIFY(!form.pollRunning());
    before.check(form);
}

// ---------------------------------------------------------------------------

// One exchange the radio leaves unanswered, and where it leads once the
// radio answers again.
struct Silence {
    bool tunedFirst;                    // the case starts in tuner mode
    QToolButton* TMainForm::*button;    // the click that starts the exchange
    bool blockArrives;                  // the information block is answered, the image never is
    QTimer* TMainForm::*timer;          // the poll that waits
    void (TMainForm::*tick)();          // its handler
    bool entering;                      // entry re-sends its command up to three times
    std::uint16_t command;              // the command re-sent
    int messagesAfter;                  // the boxes of the second click
    const char* lastMessage;            // ("MessageBox", key) of the last of them
    bool tunerModeAfter;
};
Q_DECLARE_METATYPE(Silence)

void TunerModeTest::radioThatNeverAnswers_data() {
    QTest::addColumn<Silence>("silence");
    QTest::newRow("information") << Silence{false, &TMainForm::SpeedButton4, false, &TMainForm::ReadInfoTimer,
                                            &TMainForm::ReadInfoTimerTimer, true, cmd::kReadInfo, 1, "M001", true};
    QTest::newRow("image") << Silence{false, &TMainForm::SpeedButton4, true, &TMainForm::EnterTunerModeTimer,
                                      &TMainForm::EnterTunerModeTimerTimer, true, cmd::kEnterTunerMode, 1, "M001",
                                      true};
    QTest::newRow("leave") << Silence{true, &TMainForm::SpeedButton4, false, &TMainForm::ExitTunerModeTimer,
                                      &TMainForm::ExitTunerModeTimerTimer, false, cmd::kReadInfo, 1, "M002", false};
    // The identity read that comes before the write goes unanswered.
    QTest::newRow("write all") << Silence{true, &TMainForm::SpeedButton1, false, &TMainForm::WriteAllCheckTimer,
                                          &TMainForm::WriteAllCheckTimerTimer, false, cmd::kReadInfo, 2, "M012",
                                          true};
}

void TunerModeTest::radioThatNeverAnswers() {
    QFETCH(Silence, silence);
    TestEnvironment env;
    TMainForm form;
    if (silence.tunedFirst) QVERIFY(test::EnterTunerMode(form));
    env.dialogs().messages.clear();
    const Snapshot before = Snapshot::Take(form);

    QTimer* timer = form.*silence.timer;
    if (silence.blockArrives) {
        (form.*silence.button)->click();
        env.radio().dropNextReplies(3);  // the enter command and both re-sends go unanswered
        form.ReadInfoTimerTimer();       // the block arrives; the image never does
        QVERIFY(form.EnterTunerModeTimer->isActive());
    } else {
        env.radio().setFault(Fault::NoAnswer);
        (form.*silence.button)->click();
    }
    QVERIFY(timer->isActive());
    QVERIFY(linkHandle != nullptr);

    // 99 ticks wait; the 100th gives up. Entering (information and image)
    // re-sends like every other exchange: the 100th tick of the first and
    // second attempt sends the command again, that of the third gives up.
    const int attempts = silence.entering ? 3 : 1;
    const std::uint16_t command = silence.command;
    const qsizetype sentBefore = FrameCodes(env.radio()).count(command);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        for (int i = 1; i < 100; ++i) {
            (form.*silence.tick)();
            QVERIFY2(timer->isActive(), qPrintable(QString::number(i)));
            QCOMPARE(int(pollTicks), i);
        }
        if (attempt == attempts) break;
        (form.*silence.tick)();
        QVERIFY(timer->isActive());
        QCOMPARE(int(pollTicks), 0);
        QCOMPARE(int(pollRetries), attempt);
        QCOMPARE(FrameCodes(env.radio()).count(command), sentBefore + attempt);
    }
    (form.*silence.tick)();
    if (silence.entering) QCOMPARE(FrameCodes(env.radio()).count(command), sentBefore + attempts - 1);
    QVERIFY(!timer->isActive());
    QVERIFY(!form.pollRunning());
    QVERIFY(linkHandle == nullptr);
    QCOMPARE(pollTicks, std::uint16_t(0));
    QCOMPARE(pollRetries, std::uint8_t(0));
    // Silently: no box; the outcome is noted in the status bar.
    QVERIFY(env.dialogs().messages.isEmpty());
    QVERIFY(!form.statusPanelText(1).isEmpty());
    if (silence.blockArrives) {
        // The block that did arrive is kept; everything else is as before.
        QVERIFY(radioInfo.bytes == env.radio().info().bytes);
        QVERIFY(tunerImage.bytes == before.image.bytes);
        QCOMPARE(inTunerMode, before.tunerMode);
        QCOMPARE(form.SpeedButton4->text(), before.button4);
    } else {
        before.check(form);
    }

    // A second click starts from the beginning, with a full budget.
    env.radio().setFault(Fault::None);
    (form.*silence.button)->click();
    QVERIFY(linkHandle != nullptr);
    QVERIFY(form.statusPanelText(1).isEmpty());
    const int ticks = test::RunMainWindowPolls(form);
    QVERIFY(ticks >= 1);
    QVERIFY(!form.pollRunning());
    // A write asks for consent first.
    QCOMPARE(env.dialogs().messages.size(), silence.messagesAfter);
    QCOMPARE(env.dialogs().messages.last().text, Tr("MessageBox", silence.lastMessage));
    QCOMPARE(inTunerMode, silence.tunerModeAfter);
    if (silence.entering) QVERIFY(form.tuningWindow != nullptr);
}

void TunerModeTest::wrongRepliesAreNotAccepted() {
    TestEnvironment env;
    TMainForm form;
    for (Fault fault : {Fault::WrongChecksum, Fault::WrongCommandCode}) {
        env.radio().setFault(fault);
        form.SpeedButton4->click();
        const int ticks = test::RunMainWindowPolls(form);
        QCOMPARE(ticks, 300);  // three attempts polled to expiry, never matched
        QVERIFY(!inTunerMode);
        QVERIFY(env.dialogs().messages.isEmpty());
    }
    // A late reply, within the budget, is taken.
    env.radio().setFault(Fault::AnswerAfterReads, 7);
    form.SpeedButton4->click();
    test::RunMainWindowPolls(form);
    QVERIFY(inTunerMode);
}

// ---------------------------------------------------------------------------

void TunerModeTest::writeAllFromArchive_data() {
    QTest::addColumn<VirtualPreset>("preset");
    QTest::addColumn<int>("imageBytes");
    QTest::newRow("small model") << VirtualPreset::Variant2 << 512;
    QTest::newRow("large model") << VirtualPreset::LargeNewFirmware << 848;
}

void TunerModeTest::writeAllFromArchive() {
    QFETCH(VirtualPreset, preset);
    QFETCH(int, imageBytes);
    TestEnvironment env(preset);
    WriteArchiveFor(env, QStringLiteral("saved.tdb"), preset, 11);
    TMainForm form;
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("saved.tdb"))));
    QCOMPARE(radioInfo.largeModel(), imageBytes == 848);
    QVERIFY(!inTunerMode);
    QVERIFY(form.SpeedButton1->isEnabled());

    form.SpeedButton1->click();
    // First the attached radio's information block, then, once the operator
    // has agreed, the image.
    QVERIFY(form.WriteAllCheckTimer->isActive());
    QCOMPARE(FrameCodes(env.radio()), (QList<std::uint16_t>{cmd::kReadInfo}));
    form.WriteAllCheckTimerTimer();
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Question);
    QVERIFY(env.dialogs().messages.first().text.contains(QStringLiteral("saved.tdb")));
    QVERIFY(env.dialogs().messages.first().text.contains(
        QString::fromStdString(VirtualPresetInfo(preset).modelName())));
    QVERIFY(form.WriteAllTunerDataTimer->isActive());
    QCOMPARE(env.radio().receivedFrames().size(), std::size_t(2));
    const std::vector<std::uint8_t>& frame = env.radio().receivedFrames().back();
    QCOMPARE(FrameCode(frame), cmd::kWriteAll);
    QCOMPARE(int(frame.size()), imageBytes + 8);
    QCOMPARE(int(frame[3] << 8 | frame[4]), imageBytes);
    QVERIFY(std::equal(frame.begin() + 5, frame.begin() + 5 + imageBytes, tunerImage.bytes.begin()));

    test::RunMainWindowPolls(form);
    QCOMPARE(env.dialogs().messages.size(), 2);
    QCOMPARE(env.dialogs().messages.last().text, Tr("MessageBox", "M012"));
    QCOMPARE(env.dialogs().messages.last().kind, ui::MessageKind::Information);
    QCOMPARE(env.dialogs().messages.last().caption, QStringLiteral("Varnel"));
    QVERIFY(std::equal(tunerImage.bytes.begin(), tunerImage.bytes.begin() + imageBytes,
                       env.radio().storedImage().bytes.begin()));
    QVERIFY(!inTunerMode);
    QCOMPARE(pollTicks, std::uint16_t(0));
    QCOMPARE(pollRetries, std::uint8_t(0));
}

void TunerModeTest::factoryDialogOnlyInTunerMode() {
    TestEnvironment env;
    TMainForm form;
    int shown = 0;
    env.dialogs().onDialog = [&shown](QDialog* dialog) {
        if (qobject_cast<TFactroyForm*>(dialog) != nullptr) ++shown;
        return int(QDialog::Rejected);
    };
    form.N1->trigger();
    QCOMPARE(shown, 0);
    QVERIFY(test::EnterTunerMode(form));
    form.N1->trigger();
    QCOMPARE(shown, 1);
    QVERIFY(test::LeaveTunerMode(form));
    form.N1->trigger();
    QCOMPARE(shown, 1);
}

QTEST_MAIN(TunerModeTest)
#include "tuner_mode_test.moc"

// ---------------------------------------------------------------------------

void TunerModeTest::entryResendsADroppedReply_data() {
    QTest::addColumn<int>("drops");
    QTest::addColumn<bool>("entered");
    QTest::addColumn<QList<std::uint16_t>>("codes");
    const std::uint16_t info = cmd::kReadInfo;
    const std::uint16_t enter = cmd::kEnterTunerMode;
    QTest::newRow("no drop: information, enter") << 0 << true << QList<std::uint16_t>{info, enter};
    QTest::newRow("one dropped reply: sent again") << 1 << true << QList<std::uint16_t>{info, info, enter};
    QTest::newRow("two dropped replies") << 2 << true << QList<std::uint16_t>{info, info, info, enter};
    QTest::newRow("three: given up") << 3 << false << QList<std::uint16_t>{info, info, info};
}

void TunerModeTest::entryResendsADroppedReply() {
    QFETCH(int, drops);
    QFETCH(bool, entered);
    QFETCH(QList<std::uint16_t>, codes);
    TestEnvironment env;
    TMainForm form;
    env.radio().dropNextReplies(static_cast<unsigned>(drops));
    form.SpeedButton4->click();
    test::RunMainWindowPolls(form);
    QCOMPARE(inTunerMode, entered);
    QCOMPARE(FrameCodes(env.radio()), codes);
    if (entered) {
        QCOMPARE(env.dialogs().messages.size(), 1);
        QCOMPARE(env.dialogs().messages[0].text, Tr("MessageBox", "M001"));
    } else {
        // Given up as an expiry: silently, the link closed.
        QVERIFY(env.dialogs().messages.isEmpty());
        QVERIFY(linkHandle == nullptr);
        QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S003"));
    }
}
