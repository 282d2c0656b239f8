// Value adjustment on the power, mobile power, CTCSS and stability pages:
// which item a change belongs to, which image byte takes it, how typed text
// is checked, and the live-set command that reaches the virtual radio.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "support/TuningFixture.h"
#include "tuning/PageTables.h"
#include "tuning/ValueControls.h"

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::TestEnvironment;

namespace {
// Live-sets as the radio received them.
using LiveSet = varnel::test::SentLiveSet;
std::vector<LiveSet> LiveSets(const VirtualRadio& radio) { return varnel::test::SentLiveSets(radio); }

}  // namespace

class ValueAdjustTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    // A window on a radio in tuner mode, with `item` in force at `point`
    // and that row's value controls enabled (as the point selection leaves
    // them).
    void open(VirtualPreset preset, Page page, int item, int point) {
        // The pattern image on whichever radio the environment holds.
        w_ = test::OpenTuningWindow(*env_, host_, {.preset = preset, .image = test::WindowImage::Pattern, .linked = false});
        test::LinkTunerMode(*env_, true);
        QVERIFY(linkHandle);
        w_->ShowPage(static_cast<int>(page));
        select(page, item, point);
    }

    void select(Page page, int item, int point) {
        currentItem = item;
        currentPoint = point;
        actionCode = action::kItemSelected;
        for (const RowSpec& row : PageSpecOf(page).rows) {
            for (const CellSpec& cell : row.cells) {
                for (const char* name : {cell.name, cell.upDown}) {
                    if (name == nullptr) continue;
                    QWidget* c = w_->control(QString::fromLatin1(name));
                    // Value labels are never disabled; only the adjusting controls are.
                    if (c != nullptr && qobject_cast<QLabel*>(c) == nullptr) c->setEnabled(row.point == point);
                }
            }
        }
        radio().clearReceivedFrames();
    }

    TUpDown* upDown(const char* name) { return w_->control<TUpDown>(QString::fromLatin1(name)); }
    QLineEdit* edit(const char* name) { return w_->control<QLineEdit>(QString::fromLatin1(name)); }
    QScrollBar* bar(const char* name) { return w_->control<QScrollBar>(QString::fromLatin1(name)); }
    QString labelText(const char* name) { return w_->control<QLabel>(QString::fromLatin1(name))->text(); }
    static int byteAt(int offset) { return tunerImage[static_cast<std::size_t>(offset)]; }

    void enter(const char* editName, const QString& text) { test::EnterText(edit(editName), text); }

    // Centre of a sub-control of a bar (arrow or thumb).
    static QPoint subControlCentre(QScrollBar* b, QStyle::SubControl sc) {
        QStyleOptionSlider opt;
        opt.initFrom(b);
        opt.subControls = QStyle::SC_All;
        opt.orientation = b->orientation();
        opt.minimum = b->minimum();
        opt.maximum = b->maximum();
        opt.sliderPosition = b->sliderPosition();
        opt.sliderValue = b->value();
        opt.singleStep = b->singleStep();
        opt.pageStep = b->pageStep();
        opt.upsideDown = b->invertedAppearance();
        if (b->orientation() == Qt::Horizontal) opt.state |= QStyle::State_Horizontal;
        return b->style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc, b).center();
    }

private slots:
    // ---- up-downs: limits, slot, command ----------------------------------------

    void upDownStopsAtItsLimits_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("point");
        QTest::addColumn<QString>("upDown");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("sentItem");
        QTest::addColumn<int>("offset");  // the byte that must hold the value
        QTest::newRow("power high at 255 up") << int(Page::Power) << 9 << 2 << "UpDown2" << 255 << 1 << 255 << 9 << 109;
        QTest::newRow("power low at 0 down") << int(Page::Power) << 9 << 2 << "UpDown8" << 0 << -1 << 0 << 10 << 117;
        QTest::newRow("power low steps up") << int(Page::Power) << 18 << 4 << "UpDown10" << 41 << 1 << 42 << 18 << 183;
        QTest::newRow("ctcss at 255 up") << int(Page::Ctcss) << 12 << 1 << "UpDown23" << 255 << 1 << 255 << 12 << 132;
        QTest::newRow("ctcss at 0 down") << int(Page::Ctcss) << 72 << 5 << "UpDown27" << 0 << -1 << 0 << 72 << 392;
        QTest::newRow("stability down") << int(Page::FreqStability) << 23 << 3 << "UpDown6" << 100 << -1 << 99 << 23 << 220;
    }
    void upDownStopsAtItsLimits() {
        QFETCH(int, page);
        QFETCH(int, item);
        QFETCH(int, point);
        QFETCH(QString, upDown);
        QFETCH(int, start);
        QFETCH(int, direction);
        QFETCH(int, expected);
        QFETCH(int, sentItem);
        QFETCH(int, offset);
        open(VirtualPreset::Variant0, static_cast<Page>(page), item, point);
        TUpDown* u = w_->control<TUpDown>(upDown);
        QVERIFY(u);
        u->setPosition(start);
        u->step(direction);
        QCOMPARE(u->position(), expected);
        QCOMPARE(u->associate()->text(), QString::number(expected));
        QCOMPARE(byteAt(offset), expected);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, sentItem);
        QCOMPARE(sent[0].action, action::kValueAdjusted);
        QCOMPARE(sent[0].point, point);
        QCOMPARE(sent[0].frequency, txFrequency(point - 1));
        QCOMPARE(sent[0].value, expected);
        QCOMPARE(actionCode, action::kValueAdjusted);
        QCOMPARE(currentValue, expected);
        QCOMPARE(currentItem, sentItem);
    }

    // ---- typed entry -------------------------------------------------------------

    void enterClampsStoresAndSends_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("above the maximum") << "300" << 255 << "255";
        QTest::newRow("below the minimum") << "-7" << 0 << "0";
        QTest::newRow("in range") << "123" << 123 << "123";
        QTest::newRow("leading zeros") << "007" << 7 << "7";
    }
    void enterClampsStoresAndSends() {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QFETCH(QString, shown);
        open(VirtualPreset::Variant0, Page::Power, 9, 2);
        enter("Edit2", typed);
        QCOMPARE(byteAt(108 + 1), stored);  // item 9, point 2
        QCOMPARE(edit("Edit2")->text(), shown);
        QCOMPARE(upDown("UpDown2")->position(), stored);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, 9);
        QCOMPARE(sent[0].value, stored);
        QCOMPARE(sent[0].action, action::kItemSelected);  // Enter keeps the action in force
        QCOMPARE(actionCode, action::kItemSelected);
    }

    void textThatIsNoIntegerShowsTheStoredValue_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("empty") << "";
        QTest::newRow("sign only") << "-";
        QTest::newRow("blank inside") << "1 2";
        QTest::newRow("sign inside") << "1+2";
    }
    void textThatIsNoIntegerShowsTheStoredValue() {
        QFETCH(QString, typed);
        open(VirtualPreset::Variant0, Page::Power, 10, 3);
        tunerImage[116 + 2] = 77;  // item 10, point 3
        upDown("UpDown9")->setPosition(12);  // the edit shows something else
        const TunerImage before = tunerImage;
        enter("Edit9", typed);
        QCOMPARE(edit("Edit9")->text(), QString("77"));
        QCOMPARE(upDown("UpDown9")->position(), 77);
        QVERIFY(tunerImage.bytes == before.bytes);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, 10);
        QCOMPARE(sent[0].value, 77);
    }

    void applyTypedWordStoresLittleEndian() {
        open(VirtualPreset::Variant0, Page::Power, 9, 1);
        TUpDown u;
        QLineEdit e;
        u.setRange(0, 4096);
        u.setThousands(true);
        u.setAssociate(&e);
        std::uint8_t slot[2] = {0x34, 0x12};
        e.setText("5000");
        tuning::ValueControls::applyTypedWord(&e, &u, slot);
        QCOMPARE(int(slot[0]), 0x00);
        QCOMPARE(int(slot[1]), 0x10);
        QCOMPARE(u.position(), 4096);
        e.setText("4,096");  // shown grouped, but not an integer
        slot[0] = 0xE8;
        slot[1] = 0x03;  // 1000
        tuning::ValueControls::applyTypedWord(&e, &u, slot);
        QCOMPARE(u.position(), 1000);
        QCOMPARE(e.text(), u.displayText(1000));
        QCOMPARE(int(slot[0]), 0xE8);
        QCOMPARE(int(slot[1]), 0x03);
    }

    // ---- column mappings of the power pages -------------------------------------

    void powerColumnMakesItsCodeCurrent_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("inForce");
        QTest::addColumn<int>("point");
        QTest::addColumn<QString>("upDown");
        QTest::addColumn<int>("expectedItem");
        QTest::addColumn<int>("offset");  // slot of the expected item for the point
        const int v0 = int(VirtualPreset::Variant0);
        const int v1 = int(VirtualPreset::Variant1);
        const int lg = int(VirtualPreset::LargeNewFirmware);
        const int pw = int(Page::Power);
        const int pm = int(Page::PowerMobile);
        QTest::newRow("26 low") << v0 << pw << 26 << 1 << "UpDown7" << 10 << 116;
        QTest::newRow("26 high") << v0 << pw << 26 << 1 << "UpDown1" << 9 << 108;
        QTest::newRow("19 low") << v0 << pw << 19 << 2 << "UpDown8" << 18 << 181;
        QTest::newRow("20 high") << v0 << pw << 20 << 5 << "UpDown5" << 21 << 208;
        // The raw codes 51 and 52 are sent, but their bytes are items 20
        // and 21, which they must not change: no byte changes (-1).
        QTest::newRow("52 low: sent as 51, no slot") << v0 << pw << 52 << 1 << "UpDown7" << 51 << -1;
        QTest::newRow("51 high: sent as 52, no slot") << v0 << pw << 51 << 3 << "UpDown3" << 52 << -1;
        QTest::newRow("86 low") << v0 << pw << 86 << 4 << "UpDown10" << 70 << 375;
        QTest::newRow("78 high, point 7") << lg << pw << 78 << 7 << "UpDown07" << 79 << 450;
        QTest::newRow("81 low, point 8") << lg << pw << 81 << 8 << "UpDown014" << 80 << 459;
        QTest::newRow("mobile 9 middle") << v1 << pm << 9 << 1 << "UpDown22" << 26 << 224;
        QTest::newRow("mobile 26 low") << v1 << pm << 26 << 3 << "UpDown19" << 10 << 118;
        QTest::newRow("mobile 10 high") << v1 << pm << 10 << 5 << "UpDown16" << 9 << 112;
        QTest::newRow("mobile 69 middle") << v1 << pm << 69 << 2 << "UpDown28" << 86 << 481;
    }
    void powerColumnMakesItsCodeCurrent() {
        QFETCH(int, preset);
        QFETCH(int, page);
        QFETCH(int, inForce);
        QFETCH(int, point);
        QFETCH(QString, upDown);
        QFETCH(int, expectedItem);
        QFETCH(int, offset);
        open(static_cast<VirtualPreset>(preset), static_cast<Page>(page), inForce, point);
        TUpDown* u = w_->control<TUpDown>(upDown);
        QVERIFY(u);
        u->setPosition(200);
        TunerImage expected = tunerImage;
        if (offset >= 0) expected[static_cast<std::size_t>(offset)] = 201;
        u->step(+1);
        QCOMPARE(currentItem, expectedItem);
        QVERIFY2(tunerImage.bytes == expected.bytes, "exactly the column's slot changes");
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, expectedItem);
        QCOMPARE(sent[0].action, action::kValueAdjusted);
        QCOMPARE(sent[0].point, point);
        QCOMPARE(sent[0].frequency, txFrequency(point - 1));
        QCOMPARE(sent[0].value, 201);
    }

    void enterUnderSharedArraysStoresNothing_data() {
        QTest::addColumn<int>("inForce");
        QTest::addColumn<QString>("editName");
        QTest::addColumn<int>("sentItem");
        // The raw codes switch to the column touched, like the up-downs.
        QTest::newRow("51, high column") << 51 << "Edit1" << 52;
        QTest::newRow("52, low column") << 52 << "Edit7" << 51;
        QTest::newRow("26: only 9 and 10 are taken") << 26 << "Edit1" << 26;
    }
    void enterUnderSharedArraysStoresNothing() {
        QFETCH(int, inForce);
        QFETCH(QString, editName);
        QFETCH(int, sentItem);
        open(VirtualPreset::Variant0, Page::Power, inForce, 1);
        const TunerImage before = tunerImage;
        enter(editName.toLatin1().constData(), "100");
        QVERIFY(tunerImage.bytes == before.bytes);
        QCOMPARE(currentItem, sentItem);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, sentItem);
        QCOMPARE(sent[0].value, 100);
        QCOMPARE(sent[0].action, action::kItemSelected);
    }

    void enterInTheOtherColumnSwitchesTheCode() {
        open(VirtualPreset::Variant0, Page::Power, 19, 2);
        enter("Edit8", "42");  // low column
        QCOMPARE(currentItem, 18);
        QCOMPARE(byteAt(180 + 1), 42);
        enter("Edit2", "43");  // high column
        QCOMPARE(currentItem, 19);
        QCOMPARE(byteAt(188 + 1), 43);
        QCOMPARE(LiveSets(radio()).back().item, 19);
    }

    void doubleClickResendsAndSwitchesTheColumn() {
        open(VirtualPreset::Variant0, Page::Power, 10, 1);
        upDown("UpDown1")->setPosition(byteAt(108));
        const TunerImage before = tunerImage;
        QTest::mouseDClick(edit("Edit1"), Qt::LeftButton);
        QCOMPARE(currentItem, 9);
        QCOMPARE(actionCode, action::kValueAdjusted);
        QVERIFY(tunerImage.bytes == before.bytes);  // the same value again
        std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, 9);
        QCOMPARE(sent[0].value, byteAt(108));
        QTest::mouseDClick(edit("Edit1"), Qt::LeftButton);  // again: same code, sent again
        sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{2});
        QCOMPARE(sent[1].item, 9);
    }

    // ---- CTCSS and stability rows -------------------------------------------------

    void scrollBarArrowStepsByFiveAndSendsOnRelease() {
        open(VirtualPreset::Variant0, Page::Ctcss, 12, 2);
        w_->show();
        QScrollBar* b = bar("ScrollBar3");
        b->setValue(100);
        const QPoint arrow = subControlCentre(b, QStyle::SC_ScrollBarAddLine);
        QTest::mousePress(b, Qt::LeftButton, Qt::NoModifier, arrow);
        QCOMPARE(b->value(), 105);
        QVERIFY(LiveSets(radio()).empty());  // nothing while the button is down
        QTest::mouseRelease(b, Qt::LeftButton, Qt::NoModifier, arrow);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, 12);
        QCOMPARE(sent[0].action, action::kValueAdjusted);
        QCOMPARE(sent[0].point, 2);
        QCOMPARE(sent[0].value, 105);
        QCOMPARE(byteAt(132 + 1), 105);
        QCOMPARE(labelText("Label57"), QString("105"));
        QCOMPARE(upDown("UpDown24")->position(), 105);
        QCOMPARE(edit("Edit24")->text(), QString("105"));
    }

    void draggingTheThumbSendsOnceAtTheEnd() {
        open(VirtualPreset::Variant0, Page::Ctcss, 4, 1);
        w_->show();
        QScrollBar* b = bar("ScrollBar2");
        b->setValue(0);
        const QPoint thumb = subControlCentre(b, QStyle::SC_ScrollBarSlider);
        QTest::mousePress(b, Qt::LeftButton, Qt::NoModifier, thumb);
        for (int dx = 10; dx <= 60; dx += 10) QTest::mouseMove(b, thumb + QPoint(dx, 0));
        QVERIFY(LiveSets(radio()).empty());
        QTest::mouseRelease(b, Qt::LeftButton, Qt::NoModifier, thumb + QPoint(60, 0));
        const int value = b->value();
        QVERIFY(value > 0);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].value, value);
        QCOMPARE(byteAt(68), value);
        QCOMPARE(labelText("Label54"), QString::number(value));
    }

    void barRowUpDownMovesTheBarAndLabel() {
        open(VirtualPreset::Variant0, Page::Ctcss, 74, 4);
        upDown("UpDown26")->setPosition(50);
        upDown("UpDown26")->step(+1);
        QCOMPARE(bar("ScrollBar5")->value(), 51);
        QCOMPARE(labelText("Label63"), QString("51"));
        QCOMPARE(byteAt(404 + 3), 51);  // stored by the live-set itself
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});  // moving the bar from code sends nothing more
        QCOMPARE(sent[0].item, 74);
        QCOMPARE(sent[0].value, 51);
    }

    void barRowEnter_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("offset");
        QTest::newRow("page code 15") << 15 << 156 + 2;
        QTest::newRow("11, accepted though no node selects it") << 11 << 124 + 2;
    }
    void barRowEnter() {
        QFETCH(int, item);
        QFETCH(int, offset);
        open(VirtualPreset::Variant0, Page::Ctcss, item, 3);
        enter("Edit25", "999");
        QCOMPARE(byteAt(offset), 255);
        QCOMPARE(bar("ScrollBar4")->value(), 255);
        QCOMPARE(labelText("Label60"), QString("255"));
        QCOMPARE(currentValue, 255);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].value, 255);
        QCOMPARE(sent[0].action, action::kItemSelected);
    }

    void stabilityByteWhateverThePoint_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("point");
        QTest::addColumn<int>("offset");
        QTest::newRow("23 at point 3") << 23 << 3 << 220;
        QTest::newRow("23 at point 5") << 23 << 5 << 220;
        QTest::newRow("83 at point 1") << 83 << 1 << 476;
    }
    void stabilityByteWhateverThePoint() {
        QFETCH(int, item);
        QFETCH(int, point);
        QFETCH(int, offset);
        open(VirtualPreset::Variant0, Page::FreqStability, item, 3);
        currentPoint = point;
        band = item == 83 ? 1 : 0;
        TunerImage expected = tunerImage;
        expected[static_cast<std::size_t>(offset)] = 140;
        w_->ValueScrollBarEndScroll(bar("ScrollBar1"), 140);
        QVERIFY(tunerImage.bytes == expected.bytes);
        QCOMPARE(labelText("Label28"), QString("140"));
        QCOMPARE(upDown("UpDown6")->position(), 140);
        upDown("UpDown6")->step(+1);
        expected[static_cast<std::size_t>(offset)] = 141;
        QVERIFY(tunerImage.bytes == expected.bytes);
        QCOMPARE(bar("ScrollBar1")->value(), 141);
        const std::vector<LiveSet> sent = LiveSets(radio());
        QCOMPARE(sent.size(), std::size_t{2});
        for (const LiveSet& s : sent) {
            QCOMPARE(s.item, item);
            QCOMPARE(s.point, point);
            QCOMPARE(s.frequency, txFrequency(point - 1));
            QCOMPARE(s.action, action::kValueAdjusted);
        }
        QCOMPARE(sent[1].value, 141);
    }
};

QTEST_MAIN(ValueAdjustTest)
#include "value_adjust_test.moc"
