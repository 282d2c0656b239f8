// What the screen shows is what the radio has, through the real windows on
// the virtual radio: live values the radio has not stored are asked about
// before it leaves tuner mode (Exit Tuning, closing the tuning window,
// closing the program); a radio that vanishes mid-exchange leaves no keyed,
// tuned or changed state behind; a live-set the radio never confirmed is
// taken back on screen and in the image. Each case has its positive control:
// the normal path sends exactly the frames it always did.
//
// Timers are driven by calling their handlers, one call per tick.
#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/RadioStatusBar.h"
#include "app/TMainForm.h"
#include "support/TuningFixture.h"
#include "tuning/HotplugWatch.h"
#include "ui/FeedbackTexts.h"

using namespace varnel;
using namespace varnel::test;
using varnel::tuning::TUpDown;

namespace {

// The virtual radio's TX power item (tree key 24): low column 10, high 9;
// its first point is point 1, whose low byte is image byte 116.
constexpr int kTxPowerNode = 24;
constexpr int kLowCode = 10;
constexpr std::size_t kLowPoint1 = 116;

// Ticks every poll of the main window and the tuning window that runs, and
// lets posted calls run, until none is left (or `rounds` ticks).
void Drive(TMainForm& form, int rounds = 2000) {
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        RunMainWindowPolls(form, 1);
        bool any = form.pollRunning();
        if (TMDIChild* w = form.tuningWindow) {
            if (TimerOf(*w, "ConnetTimer")->isActive()) {
                w->ConnetTimerTimer();
                // A radio that stays away keeps the watch running: one scan says enough.
                if (!inTunerMode) TimerOf(*w, "ConnetTimer")->stop();
                any = true;
            }
            for (QTimer* timer : {TimerOf(*w, "TimeOutTimer"), TimerOf(*w, "SaveTimer"), TimerOf(*w, "SaveItemTimer2")}) {
                if (!timer->isActive()) continue;
                any = true;
                if (timer == TimerOf(*w, "TimeOutTimer")) w->TimeOutTimerTimer();
                else if (timer == TimerOf(*w, "SaveTimer")) w->SaveItemTimer();
                else w->SaveItemTimer2Timer();
            }
        }
        if (!any) {
            QCoreApplication::processEvents();
            if (!form.pollRunning()) return;
        }
    }
}

// Lines of the tuning window's log.
QStringList LogLines(TMDIChild& w) {
    QStringList lines;
    for (int i = 0; i < w.ListBox1()->count(); ++i) lines << w.ListBox1()->item(i)->text();
    return lines;
}

}  // namespace

class RadioTruthTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<TMainForm> form_;

    VirtualRadio& radio() { return env_->radio(); }
    TMDIChild* window() { return form_->tuningWindow; }

    // The program as the operator starts it, in tuner mode on TX power with
    // point 1 selected and the transmitter keyed.
    void startKeyedOnTxPower(const QString& language = QStringLiteral("english")) {
        env_ = std::make_unique<TestEnvironment>();
        env_->backend().setPlugListener([](bool) { HotplugWatch::notifyAll(); });
        env_->writeSettingsLanguage(language);
        form_ = std::make_unique<TMainForm>();
        form_->attachVirtualRadio(&env_->backend());
        QVERIFY(EnterTunerMode(*form_));
        QVERIFY(window() != nullptr);
        QVERIFY(SelectNode(*window(), kTxPowerNode));
        Drive(*form_);
        window()->KeyingButtonClick(Page::Power);
        Drive(*form_);
        QVERIFY(txKeyed);
        QCOMPARE(currentPoint, 1);
        radio().clearReceivedFrames();
        env_->dialogs().messages.clear();
    }

    TUpDown* lowUpDown() { return window()->control<TUpDown>(QStringLiteral("UpDown7")); }
    QLineEdit* lowEdit() { return window()->control<QLineEdit>(QStringLiteral("Edit7")); }
    std::uint32_t point1Frequency() { return tunerImage.txFrequencyIn(0, 0); }

    // One press of the low column's up arrow, answered as far as the radio answers.
    void pressUp() {
        QVERIFY(lowUpDown()->isEnabled());
        lowUpDown()->step(+1);
        Drive(*form_);
    }

    // The state a lost radio must leave, whatever took it away.
    void checkLostState(int acknowledged) {
        QVERIFY(!inTunerMode);
        QVERIFY(!txKeyed);
        QCOMPARE(form_->RadioStatus->linkText(), Tr("Status", "S0001"));
        QVERIFY(form_->RadioStatus->keyingText().isEmpty());
        QCOMPARE(window()->control<QPushButton>(QStringLiteral("Button1"))->text(), Tr("ChildForm", "C0007"));
        QVERIFY(!lowUpDown()->isEnabled());
        QVERIFY(!lowEdit()->isEnabled());
        QCOMPARE(form_->SpeedButton4->text(), Tr("MainForm", "S003"));
        QCOMPARE(int(tunerImage[kLowPoint1]), acknowledged);
        QCOMPARE(lowEdit()->text(), QString::number(acknowledged));
        QVERIFY(!form_->VirtualCable->isChecked());
    }

private slots:
    void cleanup() {
        form_.reset();
        env_.reset();
    }

    // ---- a radio that vanishes ----------------------------------------------

    void vanishingRadioLeavesNoFalseState_data() {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("cable pulled from the menu") << true;
        QTest::newRow("radio gone mid-exchange (unplug-after)") << false;
    }
    void vanishingRadioLeavesNoFalseState() {
        QFETCH(bool, byMenu);
        startKeyedOnTxPower();
        const int before = tunerImage[kLowPoint1];
        pressUp();  // acknowledged
        // Positive control: the adjustment is exactly the live-set of the
        // value, and the radio runs it.
        const std::vector<SentLiveSet> sent = SentLiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, kLowCode);
        QCOMPARE(sent[0].action, int(action::kValueAdjusted));
        QCOMPARE(sent[0].point, 1);
        QCOMPARE(sent[0].frequency, point1Frequency());
        QCOMPARE(sent[0].value, before + 1);
        QCOMPARE(int(radio().liveImage()[kLowPoint1]), before + 1);
        QCOMPARE(int(tunerImage[kLowPoint1]), before + 1);

        if (byMenu) {
            form_->VirtualCable->setChecked(false);
            Drive(*form_);
        } else {
            // The next command is the radio's last: it goes away before it
            // answers, and no USB notice says so.
            LinkFaults faults;
            faults.unplugAfter = static_cast<unsigned>(radio().commandCount() + 1);
            radio().setLinkFaults(faults);
            lowUpDown()->step(+1);
            Drive(*form_);
        }
        // The image, the edit and the keying are what the radio confirmed;
        // nothing else reached it.
        checkLostState(before + 1);
        QCOMPARE(SentLiveSets(radio()).size(), byMenu ? std::size_t{1} : std::size_t{2});
        // No late "no answer" box after the loss was announced.
        for (const RecordedMessage& m : env_->dialogs().messages) QVERIFY2(!m.text.contains(Tr("MessageBox", "M013")), qPrintable(m.text));
        // Exit Tuning now offers to enter again; the cable brings the radio back.
        radio().setLinkFaults({});
        form_->VirtualCable->setChecked(true);
        Drive(*form_);
        QVERIFY(!inTunerMode);
        env_->dialogs().answers << ui::MessageResult::Discard;  // the image's changes since entry
        QVERIFY(EnterTunerMode(*form_));
    }

    // ---- a live-set given up under drops ----------------------------------------

    void giveUpShowsTheLastConfirmedValue_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("English") << QStringLiteral("english");
        QTest::newRow("Chinese") << QStringLiteral("chinese");
    }
    void giveUpShowsTheLastConfirmedValue() {
        QFETCH(QString, language);
        startKeyedOnTxPower(language);
        const int confirmed = tunerImage[kLowPoint1];
        // Every reply to the next live-set is lost: sent, re-sent twice, given up.
        radio().dropNextReplies(3);
        pressUp();
        const std::vector<SentLiveSet> sent = SentLiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{3});
        for (const SentLiveSet& set : sent) {
            QCOMPARE(set.item, kLowCode);
            QCOMPARE(set.point, 1);
            QCOMPARE(set.value, confirmed + 1);
        }
        QCOMPARE(env_->dialogs().messages.size(), 1);
        QVERIFY(env_->dialogs().messages[0].text.startsWith(Tr("MessageBox", "M013")));
        // Screen and image: the last value the radio confirmed.
        QCOMPARE(int(tunerImage[kLowPoint1]), confirmed);
        QCOMPARE(lowEdit()->text(), QString::number(confirmed));
        QCOMPARE(lowUpDown()->position(), confirmed);
        QCOMPARE(int(currentValue), confirmed);
        // Said in the log and the status bar, naming the value the radio holds.
        const QString said = Tr("Tuner", "U0006")
                                 .replace(QStringLiteral("%1"), TMDIChild::ValueName(kLowCode, 1))
                                 .replace(QStringLiteral("%2"), QString::number(confirmed));
        QVERIFY(!said.isEmpty());
        QVERIFY2(LogLines(*window()).last().endsWith(said), qPrintable(LogLines(*window()).last()));
        QCOMPARE(form_->statusPanelText(1), said);
        QVERIFY(TMDIChild::ValueName(kLowCode, 1).startsWith(Tr("Param", "P0013")));
        // Selecting the point again sends the confirmed value.
        radio().clearReceivedFrames();
        window()->PointDoubleClicked(Page::Power, 1);
        Drive(*form_);
        QCOMPARE(SentLiveSets(radio()).size(), std::size_t{1});
        QCOMPARE(SentLiveSets(radio())[0].value, confirmed);
    }

    // ---- leaving tuner mode with live values not saved ----------------------------

    void exitWithoutLiveChangesAsksNothing() {
        startKeyedOnTxPower();
        pressUp();
        lowUpDown()->step(-1);  // back to what the radio stores
        Drive(*form_);
        radio().clearReceivedFrames();
        QVERIFY(window()->unsavedLiveChanges().isEmpty());
        QVERIFY(LeaveTunerMode(*form_));
        // Exactly the leave command, and only the "left" box.
        QCOMPARE(FrameCodes(radio()), QList<std::uint16_t>{cmd::kExitTunerMode});
        QCOMPARE(env_->dialogs().messages.size(), 1);
        QCOMPARE(env_->dialogs().messages[0].text, Tr("MessageBox", "M002"));
    }

    void exitAsksAboutLiveChanges_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("Save them") << int(ui::MessageResult::Ok);
        QTest::newRow("Leave without saving") << int(ui::MessageResult::Discard);
        QTest::newRow("Cancel") << int(ui::MessageResult::Cancel);
    }
    void exitAsksAboutLiveChanges() {
        QFETCH(int, answer);
        startKeyedOnTxPower();
        const int stored = tunerImage[kLowPoint1];
        pressUp();
        pressUp();
        radio().clearReceivedFrames();
        env_->dialogs().answers << static_cast<ui::MessageResult>(answer);
        form_->SpeedButton4Click();
        Drive(*form_);

        // The question names the item with its column, the point and both values.
        QVERIFY(!env_->dialogs().messages.isEmpty());
        const RecordedMessage question = env_->dialogs().messages[0];
        QCOMPARE(question.buttons, ui::MessageButtons::SaveDiscardCancel);
        QVERIFY(question.text.startsWith(Tr("Tuner", "U0001")));
        const QString line = Tr("Tuner", "U0003")
                                 .replace(QStringLiteral("%1"), Tr("Param", "P0013") + QStringLiteral(", ") +
                                                                    Tr("Status", "F0002") + QStringLiteral(" 1"))
                                 .replace(QStringLiteral("%2"), QString::number(stored + 2))
                                 .replace(QStringLiteral("%3"), QString::number(stored));
        QVERIFY2(question.text.contains(line), qPrintable(question.text));

        switch (static_cast<ui::MessageResult>(answer)) {
            case ui::MessageResult::Cancel:
                QVERIFY(inTunerMode);
                QVERIFY(FrameCodes(radio()).isEmpty());
                QCOMPARE(int(radio().storedImage()[kLowPoint1]), stored);
                break;
            case ui::MessageResult::Discard:
                QVERIFY(!inTunerMode);
                QCOMPARE(FrameCodes(radio()), QList<std::uint16_t>{cmd::kExitTunerMode});
                QCOMPARE(int(radio().storedImage()[kLowPoint1]), stored);
                break;
            case ui::MessageResult::Ok: {
                // The page's own save of the pair (low array, then high), verified,
                // then the leave; the radio stores the value.
                QVERIFY(!inTunerMode);
                const QList<std::uint16_t> codes{cmd::kSaveItem, cmd::kExitTunerMode};
                QCOMPARE(FrameCodes(radio()), codes);
                std::vector<std::uint8_t> record(16);
                std::copy_n(tunerImage.bytes.begin() + 116, 8, record.begin());      // low column (10)
                std::copy_n(tunerImage.bytes.begin() + 108, 8, record.begin() + 8);  // high column (9)
                QCOMPARE(radio().receivedFrames()[0], Save(kLowCode, record));
                QCOMPARE(int(radio().storedImage()[kLowPoint1]), stored + 2);
                break;
            }
        }
    }

    void savedItemIsNotAskedAbout() {
        startKeyedOnTxPower();
        pressUp();
        window()->SaveButtonClick(Page::Power);  // the page's Save
        Drive(*form_);
        QVERIFY(window()->unsavedLiveChanges().isEmpty());
        radio().clearReceivedFrames();
        QVERIFY(LeaveTunerMode(*form_));
        QCOMPARE(FrameCodes(radio()), QList<std::uint16_t>{cmd::kExitTunerMode});
    }

    void closingTheTuningWindowAsks() {
        startKeyedOnTxPower();
        const int stored = tunerImage[kLowPoint1];
        pressUp();
        radio().clearReceivedFrames();
        // Save them; then (image changed since entry) the archive question is
        // left, and the leave is agreed.
        env_->dialogs().answers << ui::MessageResult::Ok << ui::MessageResult::Discard << ui::MessageResult::Ok;
        QVERIFY(form_->FileCloseItem->isEnabled());
        form_->FileCloseItem->trigger();
        Drive(*form_);
        QVERIFY(!inTunerMode);
        QVERIFY(form_->openTuningWindows().isEmpty());
        QCOMPARE(FrameCodes(radio()), (QList<std::uint16_t>{cmd::kSaveItem, cmd::kExitTunerMode}));
        QCOMPARE(int(radio().storedImage()[kLowPoint1]), stored + 1);
        QVERIFY(!form_->FileCloseItem->isEnabled());
    }

    void closingTheProgramAsks() {
        startKeyedOnTxPower();
        const int stored = tunerImage[kLowPoint1];
        pressUp();
        radio().clearReceivedFrames();
        // Cancel keeps everything running; Leave without saving closes.
        env_->dialogs().answers << ui::MessageResult::Cancel;
        QVERIFY(!form_->close());
        QVERIFY(inTunerMode);
        QVERIFY(FrameCodes(radio()).isEmpty());
        env_->dialogs().answers << ui::MessageResult::Discard << ui::MessageResult::Discard;
        QVERIFY(form_->close());
        QVERIFY(!inTunerMode);
        QCOMPARE(FrameCodes(radio()), QList<std::uint16_t>{cmd::kExitTunerMode});
        QCOMPARE(int(radio().storedImage()[kLowPoint1]), stored);
    }

    // ---- times are the exchange's -------------------------------------------------

    void entryIsStampedWhenItHappened() {
        env_ = std::make_unique<TestEnvironment>();
        form_ = std::make_unique<TMainForm>();
        QString atReply;
        QString afterBox;
        env_->dialogs().onMessage = [&atReply, &afterBox](const RecordedMessage& m) {
            if (m.text != Tr("MessageBox", "M001")) return;
            atReply = ui::InterfaceDateTime(QDateTime::currentDateTime());
            // The operator reads the box for a while: at least into the next second.
            while (ui::InterfaceDateTime(QDateTime::currentDateTime()) == atReply) QTest::qSleep(20);
            afterBox = ui::InterfaceDateTime(QDateTime::currentDateTime());
        };
        // Start early in a second, so that the exchange and the box share it.
        const QTime start = QTime::currentTime();
        while (QTime::currentTime().second() == start.second()) QTest::qSleep(5);
        QVERIFY(EnterTunerMode(*form_));
        QVERIFY(!atReply.isEmpty());
        QVERIFY(afterBox != atReply);
        const QStringList lines = LogLines(*window());
        QVERIFY(lines.size() >= 5);  // information and enter, sent and received, the entry note
        for (const QString& line : lines) QVERIFY2(line.startsWith(atReply), qPrintable(line + QStringLiteral(" / ") + atReply));
    }
};

QTEST_MAIN(RadioTruthTest)
#include "radio_truth_test.moc"
