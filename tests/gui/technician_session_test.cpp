// One session through the real windows, as a technician works: enter tuner
// mode, pick "Digital TX Power" in the tree, select point 4, key the
// transmitter, step the high-power value up three times and save. The
// virtual radio must then hold the change in its stored image exactly in
// the pair's save record, and nowhere else.
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "app/TMainForm.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "protocol/Sendcmd.h"
#include "support/RadioFrames.h"
#include "support/TestEnvironment.h"
#include "support/TuningFixture.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::TestEnvironment;

namespace {

using varnel::test::Sent;
using varnel::test::SentFrames;



// Runs the tuning window's verifying pollers until they are done, as their
// 10 ms timers would (bounded).
void SettlePolls(TMDIChild& w) { varnel::test::SettleVerifyingPolls(w, 1000); }

}  // namespace

class TechnicianSessionTest : public QObject {
    Q_OBJECT

private slots:
    // The same session on every virtual radio preset.
    void raiseDigitalPowerAtPointFourAndSave_data() {
        QTest::addColumn<int>("preset");
        QTest::newRow("variant0") << static_cast<int>(VirtualPreset::Variant0);
        QTest::newRow("variant1") << static_cast<int>(VirtualPreset::Variant1);
        QTest::newRow("variant2") << static_cast<int>(VirtualPreset::Variant2);
        QTest::newRow("large") << static_cast<int>(VirtualPreset::LargeNewFirmware);
    }
    void raiseDigitalPowerAtPointFourAndSave() {
        QFETCH(int, preset);
        TestEnvironment env(static_cast<VirtualPreset>(preset));  // the radio on "E:"
        VirtualRadio& radio = env.radio();
        TMainForm form;
        form.resize(1200, 800);
        form.show();
        QVERIFY(test::EnterTunerMode(form));
        TMDIChild* w = form.tuningWindow;
        QVERIFY(w != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const TunerImage flashBefore = radio.storedImage();
        radio.clearReceivedFrames();
        const qsizetype messagesBefore = env.dialogs().messages.size();

        // The tree: double-click "Digital TX Power" (items 18 and 19).
        const QString caption = TestEnvironment::text("TreeView", "T0022");
        QVERIFY(!caption.isEmpty());
        const QList<QTreeWidgetItem*> nodes = w->TreeView1()->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(nodes.size(), 1);
        w->TreeView1()->scrollToItem(nodes.first());
        const QRect rect = w->TreeView1()->visualItemRect(nodes.first());
        QTest::mouseClick(w->TreeView1()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        QTest::mouseDClick(w->TreeView1()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        QCOMPARE(w->frontPage(), w->page(Page::Power));
        QVERIFY(currentItem == 18 || currentItem == 19);
        SettlePolls(*w);

        // Point 4.
        auto* point4 = w->control<TPointButton>("RadioButton4");
        QVERIFY(point4);
        QTest::mouseDClick(point4, Qt::LeftButton, Qt::NoModifier, QPoint(8, point4->height() / 2));
        QCOMPARE(currentPoint, 4);
        SettlePolls(*w);
        auto* high = w->control<TUpDown>("UpDown4");
        QVERIFY(high->isEnabled());
        QVERIFY(!w->control<TUpDown>("UpDown3")->isEnabled());

        // Key the transmitter.
        auto* keying = w->control<QPushButton>("Button1");
        QVERIFY(keying->isEnabled());
        QTest::mouseClick(keying, Qt::LeftButton);
        SettlePolls(*w);
        QVERIFY(radio.transmitting());

        // Step the high-power value up three times with the up arrow.
        const int start = tunerImage[188 + 3];  // item 19, point 4
        QVERIFY(start <= 252);
        QList<QToolButton*> arrows = high->findChildren<QToolButton*>();
        QToolButton* up = nullptr;
        for (QToolButton* b : arrows) {
            if (b->arrowType() == Qt::UpArrow) up = b;
        }
        QVERIFY(up);
        radio.clearReceivedFrames();
        for (int i = 0; i < 3; ++i) {
            QTest::mouseClick(up, Qt::LeftButton);
            SettlePolls(*w);
        }
        QCOMPARE(high->position(), start + 3);
        QCOMPARE(currentItem, 19);
        std::vector<Sent> sent = SentFrames(radio);
        QCOMPARE(sent.size(), std::size_t{3});
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(sent[i].code, int(cmd::kSetItem));
            QCOMPARE(int(sent[i].payload[0]), 19);
            QCOMPARE(int(sent[i].payload[1]), action::kValueAdjusted);
            QCOMPARE(int(sent[i].payload[2]), 4);
            QCOMPARE(int(sent[i].payload[7]), start + 1 + static_cast<int>(i));
        }
        QCOMPARE(int(radio.liveImage()[191]), start + 3);

        // Save.
        radio.clearReceivedFrames();
        auto* save = w->control<QPushButton>("Button2");
        QVERIFY(save->isEnabled());
        QTest::mouseClick(save, Qt::LeftButton);
        SettlePolls(*w);
        sent = SentFrames(radio);
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].code, int(cmd::kSaveItem));
        QCOMPARE(int(sent[0].payload[0]), 19);
        // Item, record size, then the pair's record: the low array
        // (180-187) and the high (188-195).
        QCOMPARE(sent[0].payload.size(), std::size_t{2 + 16});
        QCOMPARE(int(sent[0].payload[1]), 16);
        for (int k = 0; k < 16; ++k) {
            QCOMPARE(int(sent[0].payload[static_cast<std::size_t>(2 + k)]), int(tunerImage[static_cast<std::size_t>(180 + k)]));
        }

        // The radio's flash changed at item 19 point 4 and nowhere else.
        const TunerImage& flash = radio.storedImage();
        for (std::size_t i = 0; i < TunerImage::kSize; ++i) {
            if (i == 191) continue;
            if (flash[i] != flashBefore[i]) QFAIL(qPrintable(QString("stored byte %1 changed").arg(i)));
        }
        QCOMPARE(int(flash[191]), start + 3);
        QCOMPARE(env.dialogs().messages.size(), messagesBefore);  // every command was confirmed
    }
};

QTEST_MAIN(TechnicianSessionTest)
#include "technician_session_test.moc"
