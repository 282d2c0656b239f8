// The desktop program made to end from outside: SIGTERM and SIGHUP (a
// service manager, kill, a closed terminal) with the transmitter keyed in
// tuner mode. The radio is unkeyed and leaves tuner mode without any
// question on screen, and the event loop is told to end with 128 + signal.
#include <QTest>

#include <csignal>

#include "app/RadioShutdown.h"
#include "data/Global.h"
#include "protocol/Sendcmd.h"
#include "support/TuningFixture.h"
#include "tuning/PageTables.h"
#include "tuning/TMDIChild.h"
#include "ui/Selection.h"

using namespace varnel;

namespace {
constexpr std::uint16_t kLiveSet = 0x0062;
constexpr std::uint16_t kLeave = 0x0061;

std::uint16_t CodeOf(const std::vector<std::uint8_t>& frame) {
    return frame.size() >= 3 ? static_cast<std::uint16_t>((frame[1] << 8) | frame[2]) : 0;
}
}  // namespace

class TerminationTest : public test::TuningWindowCase {
    Q_OBJECT

private slots:
    void cleanup() { TuningWindowCase::cleanup(); }

    void signalLeavesTheKeyedRadioWithoutAQuestion_data() {
        QTest::addColumn<int>("number");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalLeavesTheKeyedRadioWithoutAQuestion() {
        QFETCH(int, number);
        auto w = test::OpenTuningWindow(*env_, host_);
        test::EnableAdjustControls(*w);
        currentItem = 10;
        currentPoint = 2;
        currentValue = 40;
        w->KeyingButtonClick(Page::Power);
        test::SettleVerifyingPolls(*w);
        QVERIFY(radio().transmitting());
        QVERIFY(txKeyed);
        const std::size_t before = frames().size();

        app::TerminationWatch watch;
        bool confirmed = false;
        connect(&watch, &app::TerminationWatch::radioLeft, this, [&confirmed](bool ok) { confirmed = ok; });
        std::raise(number);
        QTRY_COMPARE_WITH_TIMEOUT(watch.signalReceived(), number, 10000);

        QVERIFY(confirmed);
        QVERIFY(!radio().transmitting());
        QVERIFY(!radio().receiving());
        QVERIFY(!radio().inTunerMode());
        QVERIFY(!inTunerMode);
        QVERIFY(!txKeyed);
        // The transmit-off on the keyed point, then the leave; nothing asked.
        QVERIFY(frames().size() >= before + 2);
        const auto& unkey = frames()[frames().size() - 2];
        QCOMPARE(CodeOf(unkey), kLiveSet);
        QCOMPARE(int(unkey[6]), action::kTransmitOff);
        QCOMPARE(int(unkey[7]), 2);
        QCOMPARE(CodeOf(frames().back()), kLeave);
        QVERIFY(env_->dialogs().messages.isEmpty());
        // Nothing re-sends the keying afterwards.
        const std::size_t after = frames().size();
        QTest::qWait(300);
        for (std::size_t i = after; i < frames().size(); ++i) QVERIFY(CodeOf(frames()[i]) != kLiveSet || frames()[i][6] != action::kTransmitOn);
    }
};

QTEST_MAIN(TerminationTest)
#include "termination_test.moc"
