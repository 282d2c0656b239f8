// The bit-error-rate and man-down pages against the virtual radio: point
// selection, the receiver buttons, the reading pollers with their
// arithmetic, and the man-down save.
#include <algorithm>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "support/TuningFixture.h"
#include "tuning/PageTables.h"

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::TestEnvironment;

namespace {
using varnel::test::Sent;
using varnel::test::SentFrames;

std::vector<std::uint8_t> Counters(std::uint32_t n, std::uint32_t e) {
    return {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n),
            std::uint8_t(e >> 24), std::uint8_t(e >> 16), std::uint8_t(e >> 8), std::uint8_t(e)};
}

const char* const kFrames[] = {"Label98", "Label101", "Label104", "Label107", "Label110"};
const char* const kErrors[] = {"Label123", "Label124", "Label125", "Label126", "Label127"};
const char* const kRates[] = {"Label133", "Label134", "Label135", "Label136", "Label137"};

}  // namespace

class MeasureTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    void open(int item, int point) {
        tunerImage = VirtualPresetImage(VirtualPreset::Variant0);
        test::FillFrequencies();
        w_ = test::OpenTuningWindow(*env_, host_, {.image = test::WindowImage::Kept});
        QVERIFY(linkHandle);
        currentItem = item;
        currentPoint = point;
        currentValue = 0;
        actionCode = action::kItemSelected;
        radio().clearReceivedFrames();
    }

    QString text(const char* name) {
        if (auto* label = w_->control<QLabel>(QString::fromLatin1(name))) return label->text();
        if (auto* button = w_->control<QAbstractButton>(QString::fromLatin1(name))) return button->text();
        return QStringLiteral("<none>");
    }

    // The read-back that CheckTimer sends, then the poller's ticks until it
    // stops (bounded).
    int readBack(QTimer* poller, void (TMDIChild::*tick)()) {
        w_->CheckTimerTimer();
        int ticks = 0;
        while (poller->isActive() && ticks < 300) {
            (w_.get()->*tick)();
            ++ticks;
        }
        return ticks;
    }

    void readErrorCounters(std::uint32_t n, std::uint32_t e) {
        radio().setReading(22, Counters(n, e));
        readBack(test::TimerOf(*w_, "ErrorRateTimer"), &TMDIChild::ErrorRateTimerTimer);
    }

private slots:
    // ---- bit-error-rate page ---------------------------------------------------

    void pointSelectionSendsTheReceiveState_data() {
        QTest::addColumn<bool>("rxOn");
        QTest::addColumn<int>("point");
        QTest::addColumn<int>("action");
        QTest::newRow("receiver off, point 3") << false << 3 << action::kReceiveOff;
        QTest::newRow("receiver on, point 5") << true << 5 << action::kReceiveOn;
    }
    void pointSelectionSendsTheReceiveState() {
        QFETCH(bool, rxOn);
        QFETCH(int, point);
        QFETCH(int, action);
        open(22, 1);
        rxKeyed = rxOn;
        currentValue = 99;
        w_->control<QPushButton>("Button3")->setEnabled(true);
        w_->ErrorRatePointSelected(point);
        QCOMPARE(currentPoint, point);
        QCOMPARE(currentValue, 0);
        QCOMPARE(actionCode, action);
        QVERIFY(w_->control<QPushButton>("Button13")->isEnabled());
        QVERIFY(!w_->control<QPushButton>("Button3")->isEnabled());  // the measure buttons are locked first
        QVERIFY(!w_->control<QPushButton>("Button14")->isEnabled());
        QVERIFY(w_->control<QRadioButton>(QString("RadioButton%1").arg(22 + point))->isChecked());
        const std::vector<Sent> sent = SentFrames(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].code, int(cmd::kSetItem));
        QCOMPARE(int(sent[0].payload[0]), 22);
        QCOMPARE(int(sent[0].payload[1]), action);
        QCOMPARE(int(sent[0].payload[2]), point);
        QCOMPARE(sent[0].frequency(), rxFrequency(point - 1));
        QCOMPARE(int(sent[0].payload[7]), 0);
    }

    void pointSelectionOutsideTunerModeDoesNothing() {
        open(22, 1);
        inTunerMode = false;
        w_->ErrorRatePointSelected(4);
        QCOMPARE(currentPoint, 1);
        QVERIFY(radio().receivedFrames().empty());
        QVERIFY(!w_->control<QPushButton>("Button13")->isEnabled());
    }

    void button13SwitchesTheReceiver() {
        open(82, 2);
        band = 1;
        w_->Button13Click();
        QVERIFY(rxKeyed);
        QCOMPARE(text("Button13"), TestEnvironment::text("ChildForm", "C0015"));
        QCOMPARE(actionCode, action::kReceiveOn);
        QVERIFY(test::TimerOf(*w_, "CheckTimer")->isActive());
        QVERIFY(radio().receiving());
        w_->CheckTimerTimer();
        QVERIFY(test::TimerOf(*w_, "ErrorRateTimer")->isActive());
        w_->Button13Click();
        QVERIFY(!rxKeyed);
        QCOMPARE(text("Button13"), TestEnvironment::text("ChildForm", "C0008"));
        QCOMPARE(actionCode, action::kReceiveOff);
        QVERIFY(!test::TimerOf(*w_, "CheckTimer")->isActive());
        QVERIFY(!test::TimerOf(*w_, "ErrorRateTimer")->isActive());
        const std::vector<Sent> sent = SentFrames(radio());
        QCOMPARE(sent.size(), std::size_t{3});  // on, read-back, off
        for (std::size_t i : {std::size_t{0}, std::size_t{2}}) {
            QCOMPARE(int(sent[i].payload[0]), 82);
            QCOMPARE(int(sent[i].payload[2]), 2);
            QCOMPARE(sent[i].frequency(), txFrequency(1));
        }
        QCOMPARE(int(sent[0].payload[1]), action::kReceiveOn);
        QCOMPARE(int(sent[2].payload[1]), action::kReceiveOff);
    }

    void errorRateCells_data() {
        QTest::addColumn<int>("point");
        QTest::addColumn<uint>("n");
        QTest::addColumn<uint>("e");
        QTest::addColumn<QString>("frames");
        QTest::addColumn<QString>("errors");
        QTest::addColumn<QString>("rate");
        QTest::newRow("one frame, one error at point 2") << 2 << 1u << 1u << "264" << "1" << "0.38%";
        QTest::newRow("no frames") << 1 << 0u << 7u << "0" << "7" << "0.0%";
        QTest::newRow("clean") << 5 << 1000u << 0u << "264000" << "0" << "0.00%";
        // 17 000 000 x 264 = 4 488 000 000, shown and used modulo 2^32.
        QTest::newRow("T wraps") << 3 << 17000000u << 5000000u << "193032704" << "5000000" << "2.59%";
        // 50 000 000 x 100 = 5 000 000 000 wraps to 705 032 704 before the division.
        QTest::newRow("E x 100 wraps") << 4 << 10000000u << 50000000u << "2640000000" << "50000000" << "0.27%";
        QTest::newRow("largest counters") << 1 << 0xFFFFFFFFu << 0xFFFFFFFFu << "4294967032" << "4294967295" << "1.00%";
    }
    void errorRateCells() {
        QFETCH(int, point);
        QFETCH(uint, n);
        QFETCH(uint, e);
        QFETCH(QString, frames);
        QFETCH(QString, errors);
        QFETCH(QString, rate);
        open(22, point);
        const int lines = w_->ListBox1()->count();
        readErrorCounters(n, e);
        QVERIFY(!test::TimerOf(*w_, "ErrorRateTimer")->isActive());
        QCOMPARE(text(kFrames[point - 1]), frames);
        QCOMPARE(text(kErrors[point - 1]), errors);
        QCOMPARE(text(kRates[point - 1]), rate);
        for (int p = 1; p <= 5; ++p) {
            if (p == point) continue;
            QCOMPARE(text(kFrames[p - 1]), QString());  // other rows stay empty
        }
        QCOMPARE(pollTicks, std::uint16_t{0});
        QCOMPARE(pollRetries, std::uint8_t{0});
        QCOMPARE(w_->ListBox1()->count(), lines + 2);  // the request and the reply
        QVERIFY(std::all_of(replyBuffer.begin(), replyBuffer.end(), [](std::uint8_t b) { return b == 0; }));
    }

    void countersFromTheRadioWhileReceiving() {
        // The radio starts counting when its receiver goes on.
        open(22, 2);
        w_->Button13Click();
        radio().setErrorCounters(1, 1);
        readBack(test::TimerOf(*w_, "ErrorRateTimer"), &TMDIChild::ErrorRateTimerTimer);
        QCOMPARE(text("Label101"), QString("264"));
        QCOMPARE(text("Label124"), QString("1"));
        QCOMPARE(text("Label134"), QString("0.38%"));
    }

    void pointOutsideTheTableShowsNothing() {
        open(22, 6);
        readErrorCounters(5, 5);
        QVERIFY(!test::TimerOf(*w_, "ErrorRateTimer")->isActive());
        for (int p = 0; p < 5; ++p) {
            QCOMPARE(text(kFrames[p]), QString());
            QCOMPARE(text(kRates[p]), QString());
        }
    }

    void errorRatePollerKeepsWaitingAfterATimeOut() {
        // 100 ticks without a reply: a new wait starts, so the reply to the
        // next request is still shown.
        open(22, 1);
        radio().setFault(Fault::NoAnswer);
        w_->CheckTimerTimer();
        for (int i = 0; i < 100; ++i) w_->ErrorRateTimerTimer();
        QCOMPARE(pollTicks, std::uint16_t{0});
        QCOMPARE(pollRetries, std::uint8_t{1});
        QVERIFY(test::TimerOf(*w_, "ErrorRateTimer")->isActive());
        radio().setFault(Fault::None);
        radio().setReading(22, Counters(2, 0));
        readBack(test::TimerOf(*w_, "ErrorRateTimer"), &TMDIChild::ErrorRateTimerTimer);
        QCOMPARE(text("Label98"), QString("528"));
        QCOMPARE(pollRetries, std::uint8_t{0});
    }

    void errorRatePollerRecoversFromCountersLeftHigh() {
        // Another poll that expired left pollTicks at its budget.
        open(22, 3);
        pollTicks = 150;
        radio().setReading(22, Counters(1, 0));
        readBack(test::TimerOf(*w_, "ErrorRateTimer"), &TMDIChild::ErrorRateTimerTimer);
        QCOMPARE(text("Label104"), QString("264"));
    }

    // ---- man-down page ------------------------------------------------------------

    void button15ActsOnlyForManDownItems_data() {
        QTest::addColumn<int>("item");
        QTest::newRow("30 (temperature)") << 30;
        QTest::newRow("22 (bit-error-rate)") << 22;
        QTest::newRow("87") << 87;
    }
    void button15ActsOnlyForManDownItems() {
        QFETCH(int, item);
        open(item, 1);
        w_->control<QPushButton>("Button15")->setText("idle");
        w_->Button15Click();
        QVERIFY(!rxKeyed);
        QCOMPARE(actionCode, action::kItemSelected);
        QCOMPARE(text("Button15"), QString("idle"));
        QVERIFY(!test::TimerOf(*w_, "CheckTimer")->isActive());
        QVERIFY(radio().receivedFrames().empty());
    }

    void manDownReceiverAlwaysAtPointOne_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("bandOfItem");
        QTest::newRow("27") << 27 << 0;
        QTest::newRow("29") << 29 << 0;
        QTest::newRow("89") << 89 << 1;
    }
    void manDownReceiverAlwaysAtPointOne() {
        QFETCH(int, item);
        QFETCH(int, bandOfItem);
        open(item, 4);
        band = bandOfItem;
        currentValue = 33;
        w_->Button15Click();
        QVERIFY(rxKeyed);
        QCOMPARE(text("Button15"), TestEnvironment::text("ChildForm", "C0030"));
        QCOMPARE(actionCode, action::kMandownOn);
        QVERIFY(test::TimerOf(*w_, "CheckTimer")->isActive());
        QVERIFY(radio().mandownReceiving());
        w_->Button15Click();
        QVERIFY(!rxKeyed);
        QCOMPARE(text("Button15"), TestEnvironment::text("ChildForm", "C0029"));
        QCOMPARE(actionCode, action::kMandownOff);
        QVERIFY(!test::TimerOf(*w_, "CheckTimer")->isActive());
        QVERIFY(!test::TimerOf(*w_, "MandownTimer")->isActive());
        QCOMPARE(currentPoint, 4);
        const std::vector<Sent> sent = SentFrames(radio());
        QCOMPARE(sent.size(), std::size_t{2});
        QCOMPARE(int(sent[0].payload[1]), action::kMandownOn);
        QCOMPARE(int(sent[1].payload[1]), action::kMandownOff);
        for (const Sent& s : sent) {
            QCOMPARE(int(s.payload[0]), item);
            QCOMPARE(int(s.payload[2]), 1);
            QCOMPARE(s.frequency(), txFrequency(0));
            QCOMPARE(int(s.payload[7]), 33);
        }
    }

    void manDownReadingIsShownAndBecomesTheValue() {
        open(28, 1);
        w_->Button15Click();
        radio().setReading(28, {201});
        const int lines = w_->ListBox1()->count();
        readBack(test::TimerOf(*w_, "MandownTimer"), &TMDIChild::MandownTimerTimer);
        QVERIFY(!test::TimerOf(*w_, "MandownTimer")->isActive());
        QCOMPARE(text("Label113"), QString("201"));
        QCOMPARE(currentValue, 201);
        QCOMPARE(w_->ListBox1()->count(), lines + 2);
        QVERIFY(test::TimerOf(*w_, "CheckTimer")->isActive());
    }

    void manDownPollerKeepsPolling() {
        open(27, 1);
        radio().setFault(Fault::NoAnswer);
        w_->CheckTimerTimer();
        for (int i = 0; i < 250; ++i) w_->MandownTimerTimer();
        QVERIFY(test::TimerOf(*w_, "MandownTimer")->isActive());
        QCOMPARE(pollRetries, std::uint8_t{2});
        QCOMPARE(pollTicks, std::uint16_t{50});
    }

    void saveStoresTheLastReadingAndReadingGoesOn() {
        open(29, 1);
        w_->Button15Click();
        radio().setReading(29, {77});
        readBack(test::TimerOf(*w_, "MandownTimer"), &TMDIChild::MandownTimerTimer);
        w_->CheckTimerTimer();  // a new request is outstanding
        QVERIFY(test::TimerOf(*w_, "MandownTimer")->isActive());
        radio().clearReceivedFrames();
        w_->Button16Click();
        QVERIFY(!test::TimerOf(*w_, "MandownTimer")->isActive());
        QVERIFY(test::TimerOf(*w_, "CheckTimer")->isActive());
        QVERIFY(test::TimerOf(*w_, "SaveTimer")->isActive());
        const std::vector<Sent> sent = SentFrames(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].code, int(cmd::kSaveItem));
        QCOMPARE(int(sent[0].payload[0]), 29);
        QCOMPARE(int(sent[0].payload.back()), 77);
        // The save is confirmed; the next read-back tick starts the poller again.
        for (int i = 0; i < 300 && test::TimerOf(*w_, "SaveTimer")->isActive(); ++i) w_->SaveItemTimer();
        QCOMPARE(int(radio().storedImage()[234]), 77);
        w_->CheckTimerTimer();
        QVERIFY(test::TimerOf(*w_, "MandownTimer")->isActive());
    }
};

QTEST_MAIN(MeasureTest)
#include "measure_test.moc"
