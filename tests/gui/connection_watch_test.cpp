// The tuning window's connection watch and close query on the virtual
// radio. Pulling the virtual cable is announced through HotplugWatch, as
// the program's start-up wires it; ConnetTimer is then driven by calling its
// handler, one call per tick.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/TMainForm.h"
#include "support/TuningFixture.h"
#include "tuning/HotplugWatch.h"

using namespace varnel;
using varnel::test::TestEnvironment;

class ConnectionWatchTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    std::unique_ptr<TMDIChild> open() {
        return test::OpenTuningWindow(*env_, host_);
    }

private slots:
    void init() {
        TuningWindowCase::init();
        env_->backend().setPlugListener([](bool) { HotplugWatch::notifyAll(); });
    }

    void unplugInTunerModeLocksAndPlugStopsTheWatch() {
        auto w = open();
        test::EnableAdjustControls(*w);
        QVERIFY(!test::TimerOf(*w, "ConnetTimer")->isActive());
        QCOMPARE(test::TimerOf(*w, "ConnetTimer")->interval(), 10);
        env_->unplugRadio();
        QVERIFY(test::TimerOf(*w, "ConnetTimer")->isActive());
        w->ConnetTimerTimer();
        QVERIFY(!inTunerMode);
        QCOMPARE(host_.lostCaptions, 1);
        for (const char* name : test::kAdjustControls) QVERIFY2(!w->control<QWidget>(name)->isEnabled(), name);
        // No message, and the watch goes on while the radio is away, without
        // setting captions and locks again on every tick.
        QVERIFY(env_->dialogs().messages.isEmpty());
        w->ConnetTimerTimer();
        w->ConnetTimerTimer();
        QCOMPARE(host_.lostCaptions, 1);
        QVERIFY(test::TimerOf(*w, "ConnetTimer")->isActive());
        env_->plugRadio();
        QVERIFY(test::TimerOf(*w, "ConnetTimer")->isActive());
        w->ConnetTimerTimer();
        QVERIFY(!test::TimerOf(*w, "ConnetTimer")->isActive());
        QCOMPARE(host_.lostCaptions, 1);
        QVERIFY(!inTunerMode);  // entered again from the main window only
    }

    void lossEndsKeyingAndItsPollers() {
        // Nothing answers any more: keying ends, and no late "no answer"
        // message follows the loss the window has already announced.
        auto w = open();
        currentItem = 5;
        rxKeyed = true;
        test::TimerOf(*w, "CheckTimer")->start();
        SendSetItem(5, 3, 1, 0, txFrequency(0));
        env_->unplugRadio();
        w->ConnetTimerTimer();
        QVERIFY(!test::TimerOf(*w, "CheckTimer")->isActive());
        QVERIFY(!test::TimerOf(*w, "TimeOutTimer")->isActive());
        QVERIFY(!rxKeyed);
        QVERIFY(linkHandle != nullptr);  // the handle stays open
    }

    void anotherDeviceStopsTheWatchOnItsFirstTick() {
        auto w = open();
        test::EnableAdjustControls(*w);
        HotplugWatch::notifyAll();  // a USB device other than the radio
        QVERIFY(test::TimerOf(*w, "ConnetTimer")->isActive());
        w->ConnetTimerTimer();
        QVERIFY(!test::TimerOf(*w, "ConnetTimer")->isActive());
        QVERIFY(inTunerMode);
        QCOMPARE(host_.lostCaptions, 0);
        for (const char* name : test::kAdjustControls) QVERIFY2(w->control<QWidget>(name)->isEnabled(), name);
    }

    void watchRunsOnTheEventLoop() {
        auto w = open();
        env_->unplugRadio();
        QTRY_VERIFY(host_.lostCaptions >= 1);
        QTest::qWait(100);  // several more ticks of the 10 ms watch
        QVERIFY(test::TimerOf(*w, "ConnetTimer")->isActive());
        QCOMPARE(host_.lostCaptions, 1);
        env_->plugRadio();
        QTRY_VERIFY(!test::TimerOf(*w, "ConnetTimer")->isActive());
    }

    void aSecondLossIsActedOnAgain() {
        auto w = open();
        env_->unplugRadio();
        w->ConnetTimerTimer();
        env_->plugRadio();
        w->ConnetTimerTimer();
        QVERIFY(!test::TimerOf(*w, "ConnetTimer")->isActive());
        inTunerMode = true;  // entered again
        env_->unplugRadio();
        w->ConnetTimerTimer();
        QCOMPARE(host_.lostCaptions, 2);
        QVERIFY(!inTunerMode);
    }

    void mainWindowCaptionsAfterLoss() {
        TMainForm form;
        QVERIFY(varnel::test::EnterTunerMode(form));
        TMDIChild* w = form.tuningWindow;
        QVERIFY(w != nullptr);
        env_->unplugRadio();
        QVERIFY(test::TimerOf(*w, "ConnetTimer")->isActive());
        w->ConnetTimerTimer();
        QVERIFY(!inTunerMode);
        QCOMPARE(form.N2->text(), TestEnvironment::text("MainMenu", "M0022"));
        QCOMPARE(form.SpeedButton4->text(), TestEnvironment::text("MainForm", "S003"));
        QVERIFY(!w->control<QWidget>("Button9")->isEnabled());
        env_->plugRadio();
        w->ConnetTimerTimer();
        QVERIFY(!test::TimerOf(*w, "ConnetTimer")->isActive());
    }

    // ---- close query ---------------------------------------------------------

    void closeOutsideTunerModeAsksNothing() {
        auto w = open();
        inTunerMode = false;
        w->show();
        QVERIFY(w->close());
        QVERIFY(env_->dialogs().messages.isEmpty());
        QVERIFY(env_->radio().receivedFrames().empty());
    }
};

QTEST_MAIN(ConnectionWatchTest)
#include "connection_watch_test.moc"
