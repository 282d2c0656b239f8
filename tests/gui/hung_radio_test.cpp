// A radio that hangs every transfer, and transfers the system refuses, in the
// windows: with transfers on the I/O thread the windows keep running their
// timers, the polls expire after their ticks (not after the transfers), and
// the operator is told what the transfers reported.
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/RadioStatusBar.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/Loadlanguage.h"
#include "protocol/Exchange.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualFaults.h"
#include "support/FakeHost.h"
#include "support/TuningFixture.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using varnel::test::FakeHost;
using varnel::test::TestEnvironment;

namespace {
// Longer than the 100 ticks of a poll can take on a loaded machine, so that
// the poll is certainly over while the first transfer still blocks.
constexpr const char* kHang = "hang=6000";
}  // namespace

class HungRadioTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    std::unique_ptr<TMDIChild> openTuningWindow() {
        auto w = test::OpenTuningWindow(*env_, host_);
        w->ListBox1()->clear();
        test::EnableAdjustControls(*w);
        return w;
    }

private slots:
    void cleanup() {
        TuningWindowCase::cleanup();  // closes the link: what was queued behind the hung transfer is dropped
        Exchange().setTransport(ExchangeEngine::Transport::Inline);
    }

    void entryWithAHungRadioExpiresAfterItsTicks() {
        Exchange().setTransport(ExchangeEngine::Transport::IoThread);
        QVERIFY(ApplyVirtualFaults(env_->radio(), kHang).ok());
        TMainForm form;
        form.SpeedButton4Click();
        QVERIFY(form.ReadInfoTimer->isActive());
        const std::uint64_t stalledBefore = Exchange().stalledTicks();
        // The timer runs on the event loop; each tick returns at once.
        QTRY_VERIFY_WITH_TIMEOUT(!form.pollRunning(), 20000);
        // The poll ended on the 100th tick of its third attempt (entering
        // re-sends twice) while the first transfer was still blocked: no
        // tick waited for the device.
        QVERIFY(Exchange().busy());
        QCOMPARE(Exchange().stalledTicks() - stalledBefore, std::uint64_t{300});
        QVERIFY(!inTunerMode);
        QVERIFY(linkHandle == nullptr);
        QCOMPARE(pollTicks, std::uint16_t{0});
        // Silent as ever (no box), but the status bar says the radio hangs.
        QVERIFY(env_->dialogs().messages.isEmpty());
        QVERIFY2(form.statusPanelText(1).contains(QStringLiteral("hangs")), qPrintable(form.statusPanelText(1)));
        // The radio's own status says what helps, as the command-line tool does.
        const QString advice = TestEnvironment::text("Link", "L004");
        QVERIFY(!advice.isEmpty());
        QVERIFY2(form.RadioStatus->lastActionText().contains(advice), qPrintable(form.RadioStatus->lastActionText()));
        QVERIFY(form.RadioStatus->lastActionText().contains(TestEnvironment::text("Status", "S0024")));
    }

    void liveSetWithAHungRadioGivesUpAndSaysWhy() {
        auto w = openTuningWindow();
        Exchange().setTransport(ExchangeEngine::Transport::IoThread);
        QVERIFY(ApplyVirtualFaults(env_->radio(), kHang).ok());
        currentItem = 18;
        currentPoint = 2;
        currentValue = 40;
        actionCode = 5;
        SendSetItem(18, 5, 2, 40, txFrequency(1));
        QVERIFY(test::TimerOf(*w, "TimeOutTimer")->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!test::TimerOf(*w, "TimeOutTimer")->isActive(), 30000);
        QVERIFY(Exchange().busy());  // given up while the first send still blocks
        QCOMPARE(pollTicks, std::uint16_t{0});
        QCOMPARE(pollRetries, std::uint8_t{0});
        QCOMPARE(env_->dialogs().messages.size(), 1);
        const QString text = env_->dialogs().messages.front().text;
        QVERIFY2(text.startsWith(TestEnvironment::text("MessageBox", "M013")), qPrintable(text));
        QVERIFY2(text.contains(TestEnvironment::text("Link", "L004")), qPrintable(text));
        for (const char* name : test::kAdjustControls) QVERIFY2(!w->control<QWidget>(QString::fromLatin1(name))->isEnabled(), name);
    }

    void refusedCommandsAreLoggedAndNeverConfirmed() {
        auto w = openTuningWindow();
        QVERIFY(ApplyVirtualFaults(env_->radio(), "refuse").ok());
        currentItem = 18;
        currentPoint = 2;
        currentValue = 40;
        actionCode = 5;
        SendSetItem(18, 5, 2, 40, txFrequency(1));
        for (int i = 0; i < 300 && test::TimerOf(*w, "TimeOutTimer")->isActive(); ++i) w->TimeOutTimerTimer();
        QVERIFY(!test::TimerOf(*w, "TimeOutTimer")->isActive());
        QVERIFY(env_->radio().receivedFrames().empty());
        // Three sends, each with its failure line; never a received line.
        int failures = 0;
        for (int i = 0; i < w->ListBox1()->count(); ++i) {
            const QListWidgetItem* line = w->ListBox1()->item(i);
            if (!line->text().contains(TestEnvironment::text("Link", "L021"))) continue;
            ++failures;
            // The decoded column names the live-set that failed and why.
            const QString decoded = line->data(tuning::TuningLog::kDecodedRole).toString();
            QVERIFY2(decoded.contains(TestEnvironment::text("Status", "F0012")), qPrintable(decoded));
            QVERIFY2(decoded.contains(TestEnvironment::text("Status", "D0001")), qPrintable(decoded));
        }
        QCOMPARE(failures, 3);
        QCOMPARE(w->ListBox1()->count(), 6);
        QCOMPARE(env_->dialogs().messages.size(), 1);
        QVERIFY2(env_->dialogs().messages.front().text.contains(TestEnvironment::text("Link", "L002")),
                 qPrintable(env_->dialogs().messages.front().text));
    }

    void aSilentRadioKeepsTheMessageAsItWas() {
        auto w = openTuningWindow();
        env_->radio().setFault(Fault::NoAnswer);
        currentItem = 18;
        currentPoint = 2;
        SendSetItem(18, 5, 2, 40, txFrequency(1));
        for (int i = 0; i < 300 && test::TimerOf(*w, "TimeOutTimer")->isActive(); ++i) w->TimeOutTimerTimer();
        QCOMPARE(env_->dialogs().messages.size(), 1);
        QCOMPARE(env_->dialogs().messages.front().text, TestEnvironment::text("MessageBox", "M013"));
    }

    void virtualFaultsFromTheCommandLine() {
        const app::StartupOptions options = app::ParseStartupOptions({"--virtual-faults=hang,seed=3"});
        QVERIFY(options.error.empty());
        QVERIFY(options.virtualRadio);
        QCOMPARE(options.virtualFaults, std::string("hang,seed=3"));
        const app::StartupOptions bad = app::ParseStartupOptions({"--virtual-faults=sometimes"});
        QVERIFY(!bad.error.empty());
    }
};

QTEST_MAIN(HungRadioTest)
#include "hung_radio_test.moc"
