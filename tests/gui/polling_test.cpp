// Reply polling of the tuning window on the virtual radio: the verifying
// pollers with their re-sends and the give-up message, the read-back request
// and the reading poller with what it shows and stores. The timers are
// driven by calling their handlers, one call per tick.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "support/TuningFixture.h"

using namespace varnel;
using varnel::test::TestEnvironment;

Q_DECLARE_METATYPE(varnel::Page)

namespace {
using namespace varnel::test;

// Calls `tick` while `timer` runs, at most `limit` times; returns the calls.
int Run(QTimer* timer, const std::function<void()>& tick, int limit = 1000) {
    int n = 0;
    while (timer->isActive() && n < limit) {
        tick();
        ++n;
    }
    return n;
}

bool AllZero(const std::array<std::uint8_t, kReplyBufferSize>& buffer) {
    return std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

class PollingTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    // A window on a radio in tuner mode, with the radio's own image.
    std::unique_ptr<TMDIChild> open(VirtualPreset preset = VirtualPreset::Variant0) {
        auto w = test::OpenTuningWindow(*env_, host_, {.preset = preset});
        w->ListBox1()->clear();
        return w;
    }

private slots:
    // ---- verifying pollers -------------------------------------------------

    void replyOnTheHundredthTickIsNotExamined_data() {
        QTest::addColumn<unsigned>("readsUntilReply");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("99th tick: accepted") << 99u << true;
        QTest::newRow("100th tick: sent again") << 100u << false;
    }
    void replyOnTheHundredthTickIsNotExamined() {
        QFETCH(unsigned, readsUntilReply);
        QFETCH(bool, accepted);
        auto w = open();
        env_->radio().setFault(Fault::AnswerAfterReads, readsUntilReply);
        currentItem = 18;
        currentPoint = 2;
        currentValue = 40;
        actionCode = 1;
        SendSetItem(18, 1, 2, 40, txFrequency(1));
        QVERIFY(TimerOf(*w, "TimeOutTimer")->isActive());
        for (unsigned i = 0; i < readsUntilReply; ++i) w->TimeOutTimerTimer();
        if (accepted) {
            QVERIFY(!TimerOf(*w, "TimeOutTimer")->isActive());
            QCOMPARE(frames().size(), std::size_t{1});
            QCOMPARE(w->ListBox1()->count(), 2);  // sent and received
        } else {
            QVERIFY(TimerOf(*w, "TimeOutTimer")->isActive());
            QCOMPARE(frames().size(), std::size_t{2});
            QCOMPARE(frames()[1], frames()[0]);
            QCOMPARE(pollRetries, std::uint8_t{1});
            QCOMPARE(w->ListBox1()->count(), 2);  // both sends, no reply
        }
        QCOMPARE(pollTicks, std::uint16_t{0});
    }

    void silentRadioGetsThreeSendsAndOneMessage() {
        auto w = open();
        env_->radio().setFault(Fault::NoAnswer);
        w->PointDoubleClicked(Page::Power, 1);  // enables Button1, Edit7...
        w->control<QPushButton>("Button9")->setEnabled(true);
        w->control<QWidget>("Edit6")->setEnabled(true);
        QVERIFY(w->control<QWidget>("Edit7")->isEnabled());
        const Frame first = frames().front();
        const int ticks = Run(TimerOf(*w, "TimeOutTimer"), [&] { w->TimeOutTimerTimer(); });
        QCOMPARE(ticks, 300);
        QCOMPARE(frames().size(), std::size_t{3});
        // The re-sends rebuild the same live-set from the selection.
        QCOMPARE(frames()[1], first);
        QCOMPARE(frames()[2], first);
        QCOMPARE(env_->dialogs().messages.size(), 1);
        const auto& box = env_->dialogs().messages.first();
        QCOMPARE(box.kind, ui::MessageKind::Plain);
        QCOMPARE(box.text, TestEnvironment::text("MessageBox", "M013"));
        QCOMPARE(box.caption, QGuiApplication::applicationDisplayName());
        QCOMPARE(pollTicks, std::uint16_t{0});
        QCOMPARE(pollRetries, std::uint8_t{0});
        for (const char* name : {"Edit7", "UpDown7", "Button1", "Button2", "Button9", "Button10", "Edit6", "ScrollBar1"}) {
            QVERIFY2(!w->control<QWidget>(name)->isEnabled(), name);
        }
        // The selection is left as it was.
        QCOMPARE(currentPoint, 1);
        QVERIFY(inTunerMode);
    }

    void giveUpAfterAReplyOnlyTheThirdSendGets() {
        // The third attempt is answered: no message, counters back to 0.
        auto w = open();
        env_->radio().dropNextReplies(2);
        SendSetItem(10, 1, 1, 9, txFrequency(0));
        Run(TimerOf(*w, "TimeOutTimer"), [&] { w->TimeOutTimerTimer(); });
        QCOMPARE(frames().size(), std::size_t{3});
        QVERIFY(env_->dialogs().messages.isEmpty());
        QCOMPARE(pollRetries, std::uint8_t{0});
        QVERIFY(AllZero(replyBuffer));
    }

    void liveSetResendUsesTheSelectionAsItIsNow() {
        // CheckTimer's 7 and a moved point are what the re-send carries.
        auto w = open();
        env_->radio().dropNextReplies(1);
        currentItem = 12;
        SendSetItem(12, 0, 3, 50, rxFrequency(2));
        currentPoint = 4;
        currentValue = 61;
        actionCode = action::kReadBack;
        for (int i = 0; i < 100; ++i) w->TimeOutTimerTimer();
        QCOMPARE(frames().size(), std::size_t{2});
        QCOMPARE(frames()[1], LiveSet(12, 7, 4, txFrequency(3), 61));
    }

    void fskLiveSetIsResentAsTheEightByteForm() {
        auto w = open(VirtualPreset::LargeNewFirmware);
        env_->radio().dropNextReplies(1);
        currentItem = 31;
        currentValue = 77;
        w->PointDoubleClicked(Page::Fsk, 2);
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(frames()[0].size(), std::size_t{15 + 8});
        Run(TimerOf(*w, "TimeOutTimer"), [&] { w->TimeOutTimerTimer(); });
        QCOMPARE(frames().size(), std::size_t{2});
        QCOMPARE(frames()[1], LiveSet(31, action::kTransmitOff, 2, txFrequency(1), 77));
        QVERIFY(env_->dialogs().messages.isEmpty());
    }

    void saveIsResentWithTheSameRecord_data() {
        QTest::addColumn<VirtualPreset>("preset");
        QTest::addColumn<Page>("page");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("recordSize");
        QTest::addColumn<bool>("wide");
        QTest::newRow("pair 18/19") << VirtualPreset::Variant0 << Page::Power << 18 << 16 << false;
        QTest::newRow("array 5") << VirtualPreset::Variant0 << Page::Sql << 5 << 8 << false;
        QTest::newRow("array 64") << VirtualPreset::Variant0 << Page::Ctcss << 64 << 8 << false;
        QTest::newRow("single 0") << VirtualPreset::Variant0 << Page::Vox << 0 << 1 << false;
        QTest::newRow("single 83") << VirtualPreset::Variant0 << Page::FreqStability << 83 << 1 << false;
        QTest::newRow("FSK 92") << VirtualPreset::LargeNewFirmware << Page::Fsk << 92 << 56 << false;
        QTest::newRow("mobile triple 70") << VirtualPreset::Variant1 << Page::PowerMobile << 70 << 24 << true;
    }
    void saveIsResentWithTheSameRecord() {
        QFETCH(VirtualPreset, preset);
        QFETCH(Page, page);
        QFETCH(int, item);
        QFETCH(int, recordSize);
        QFETCH(bool, wide);
        auto w = open(preset);
        env_->radio().dropNextReplies(1);
        currentItem = item;
        currentPoint = 3;
        currentValue = 0x5A;
        w->SaveButtonClick(page);
        QCOMPARE(frames().size(), std::size_t{1});
        const Frame first = frames()[0];
        QCOMPARE(first.size(), static_cast<std::size_t>(recordSize + 10));
        QCOMPARE(static_cast<int>(first[5]), item);
        QCOMPARE(static_cast<int>(first[6]), recordSize);
        QCOMPARE(w->lastSave().item, item);
        QCOMPARE(static_cast<int>(w->lastSave().record.size()), recordSize);
        QCOMPARE(w->lastSave().wide, wide);
        // The operator changes the image while the save waits: the re-send
        // must still carry the first bytes.
        for (std::size_t i = 0; i < TunerImage::kSize; ++i) tunerImage[i] = static_cast<std::uint8_t>(~tunerImage[i]);
        QTimer* timer = wide ? TimerOf(*w, "SaveItemTimer2") : TimerOf(*w, "SaveTimer");
        QVERIFY(timer->isActive());
        QVERIFY(!(wide ? TimerOf(*w, "SaveTimer") : TimerOf(*w, "SaveItemTimer2"))->isActive());
        const int ticks = Run(timer, [&] { wide ? w->SaveItemTimer2Timer() : w->SaveItemTimer(); });
        QCOMPARE(ticks, 101);  // 100 without a reply, then the re-send answered
        QCOMPARE(frames().size(), std::size_t{2});
        QCOMPARE(frames()[1], first);
        QCOMPARE(pollRetries, std::uint8_t{0});
        QVERIFY(env_->dialogs().messages.isEmpty());
    }

    void saveGivesUpAfterThreeSends() {
        auto w = open();
        env_->radio().setFault(Fault::NoAnswer);
        currentItem = 20;
        w->SaveButtonClick(Page::Power);
        Run(TimerOf(*w, "SaveTimer"), [&] { w->SaveItemTimer(); });
        QCOMPARE(frames().size(), std::size_t{3});
        QCOMPARE(frames()[2], Save(20, SaveRecord(VirtualPresetImage(VirtualPreset::Variant0), 20)));
        QCOMPARE(env_->dialogs().messages.size(), 1);
        QCOMPARE(env_->dialogs().messages.first().text, TestEnvironment::text("MessageBox", "M013"));
        QCOMPARE(pollRetries, std::uint8_t{0});
    }

    void acceptedReplyIsLoggedAndCleared() {
        auto w = open();
        SendSetItem(4, 3, 1, 12, txFrequency(0));
        w->TimeOutTimerTimer();
        QVERIFY(!TimerOf(*w, "TimeOutTimer")->isActive());
        QCOMPARE(w->ListBox1()->count(), 2);
        QCOMPARE(env_->radio().pendingReply().size(), std::size_t{9});
        const QString body = tuning::TuningLog::lineBody(env_->radio().pendingReply().data(), 9, 1);
        QVERIFY2(w->ListBox1()->item(1)->text().endsWith(body), qPrintable(w->ListBox1()->item(1)->text()));
        QVERIFY(AllZero(replyBuffer));
        QCOMPARE(pollTicks, std::uint16_t{0});
    }

    // ---- read-back ---------------------------------------------------------

    void readBackRequestPerItem_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("pointSent");
        QTest::addColumn<int>("replyLength");
        QTest::addColumn<QString>("poller");
        QTest::newRow("squelch 5") << 5 << 3 << 10 << "ReadTimer";
        QTest::newRow("temperature 30") << 30 << 3 << 11 << "ReadTimer";
        QTest::newRow("bit errors 22") << 22 << 3 << 17 << "ErrorRateTimer";
        QTest::newRow("man-down 28") << 28 << 1 << 10 << "MandownTimer";
    }
    void readBackRequestPerItem() {
        QFETCH(int, item);
        QFETCH(int, pointSent);
        QFETCH(int, replyLength);
        QFETCH(QString, poller);
        auto w = open();
        currentItem = item;
        currentPoint = 3;
        currentValue = 21;
        actionCode = action::kTransmitOn;
        w->CheckTimerTimer();
        QCOMPARE(actionCode, action::kReadBack);
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(frames()[0], LiveSet(item, 7, pointSent, txFrequency(pointSent - 1), 21));
        QCOMPARE(pendingReplyLength, static_cast<std::uint16_t>(replyLength));
        for (QTimer* t : {TimerOf(*w, "ReadTimer"), TimerOf(*w, "ErrorRateTimer"), TimerOf(*w, "MandownTimer")}) {
            QCOMPARE(t->isActive(), t->objectName() == poller);
        }
        QVERIFY(!TimerOf(*w, "TimeOutTimer")->isActive());
    }

    void squelchReadingIsStoredInTheImage() {
        auto w = open();
        currentItem = 5;
        currentPoint = 3;
        env_->radio().setReading(5, {123});
        const TunerImage before = tunerImage;
        w->CheckTimerTimer();
        QCOMPARE(Run(TimerOf(*w, "ReadTimer"), [&] { w->ReadTimerTimer(); }), 1);
        const int offset = ItemBytes(5)->offset + 2;
        QCOMPARE(static_cast<int>(tunerImage[static_cast<std::size_t>(offset)]), 123);
        for (std::size_t i = 0; i < TunerImage::kSize; ++i) {
            if (static_cast<int>(i) != offset) QCOMPARE(tunerImage[i], before[i]);
        }
        QCOMPARE(w->control<QLabel>("Label72")->text(), QString("123"));
        QCOMPARE(currentValue, 123);
        QCOMPARE(w->ListBox1()->count(), 2);
        QVERIFY(AllZero(replyBuffer));
    }

    void readingsShownPerItem_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("point");
        QTest::addColumn<QByteArray>("reading");
        QTest::addColumn<QStringList>("labels");  // "Label=text"
        QTest::newRow("temperature 30") << 30 << 3 << QByteArray("\x11\xC8", 2)
                                        << QStringList{"Label130=17", "Label132=200", "Label72=17"};
        QTest::newRow("temperature 87") << 87 << 3 << QByteArray("\x05\xFF", 2)
                                        << QStringList{"Label130=5", "Label132=255", "Label72=5"};
        QTest::newRow("VOX 2 at 3") << 2 << 3 << QByteArray("\x2A", 1) << QStringList{"Label36=42", "Label72=42"};
        QTest::newRow("VOX 84") << 84 << 3 << QByteArray("\xFE", 1) << QStringList{"Label36=254", "Label72=254"};
        QTest::newRow("squelch 8 at 5") << 8 << 5 << QByteArray("\x09", 1) << QStringList{"Label78=9"};
        // Point 6 has no squelch cell; the ctcss item shows nowhere.
        QTest::newRow("other item at 6") << 12 << 6 << QByteArray("\x33", 1) << QStringList{};
    }
    void readingsShownPerItem() {
        QFETCH(int, item);
        QFETCH(int, point);
        QFETCH(QByteArray, reading);
        QFETCH(QStringList, labels);
        auto w = open();
        const QStringList watched = {"Label36", "Label130", "Label132", "Label46", "Label69", "Label72", "Label75", "Label78"};
        for (const QString& name : watched) w->control<QLabel>(name)->setText("-");
        const TunerImage before = tunerImage;
        currentItem = item;
        currentPoint = point;
        env_->radio().setReading(item, std::vector<std::uint8_t>(reading.begin(), reading.end()));
        w->CheckTimerTimer();
        Run(TimerOf(*w, "ReadTimer"), [&] { w->ReadTimerTimer(); });
        for (const QString& name : watched) {
            QString expected = "-";
            for (const QString& l : labels) {
                if (l.section('=', 0, 0) == name) expected = l.section('=', 1);
            }
            QCOMPARE(w->control<QLabel>(name)->text(), expected);
        }
        QCOMPARE(currentValue, static_cast<int>(static_cast<std::uint8_t>(reading[0])));
        // Only squelch readings are stored in the image.
        TunerImage expectedImage = before;
        if (ItemBytes(item) && item % 60 >= 5 && item % 60 <= 8) {
            expectedImage[static_cast<std::size_t>(ItemBytes(item)->offset + point - 1)] = static_cast<std::uint8_t>(reading[0]);
        }
        QVERIFY(tunerImage.bytes == expectedImage.bytes);
        QVERIFY(tunerImage.bytes != before.bytes || item != 8);
    }

    void readingPollerNeverGivesUp() {
        auto w = open();
        env_->radio().setFault(Fault::NoAnswer);
        currentItem = 6;
        w->CheckTimerTimer();
        for (int i = 0; i < 250; ++i) w->ReadTimerTimer();
        QVERIFY(TimerOf(*w, "ReadTimer")->isActive());
        QCOMPARE(pollRetries, std::uint8_t{2});
        QCOMPARE(pollTicks, std::uint16_t{50});
        QCOMPARE(frames().size(), std::size_t{1});  // no re-send
        QVERIFY(env_->dialogs().messages.isEmpty());
    }

    void timersTickTheirHandlers() {
        // The real timers are wired to the handlers: a live-set on a silent
        // radio, left to the event loop, ends in the message. The longest
        // gap between ticks is logged (the main thread's stall per tick).
        auto w = open();
        env_->radio().setFault(Fault::NoAnswer);
        QElapsedTimer clock;
        qint64 last = -1;
        qint64 longest = 0;
        int ticks = 0;
        connect(TimerOf(*w, "TimeOutTimer"), &QTimer::timeout, this, [&] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0) longest = std::max(longest, now - last);
            last = now;
            ++ticks;
        });
        clock.start();
        SendSetItem(10, 1, 1, 5, txFrequency(0));
        QTRY_VERIFY_WITH_TIMEOUT(!TimerOf(*w, "TimeOutTimer")->isActive(), 30000);
        QCOMPARE(ticks, 300);
        QCOMPARE(env_->dialogs().messages.size(), 1);
        qInfo("TimeOutTimer on a silent radio: 300 ticks in %.1f ms, longest gap between ticks %.2f ms",
              clock.nsecsElapsed() / 1e6, longest / 1e6);
    }
};

QTEST_MAIN(PollingTest)
#include "polling_test.moc"
