// Item selection: the tree double-click, for every row of the selection
// table in both bands, and the five page loaders.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "support/TuningFixture.h"
#include "tuning/PageTables.h"

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::TestEnvironment;

namespace {
// Records the point handler the selection runs last, instead of running it.
class RecordingWindow : public TMDIChild {
public:
    using TMDIChild::TMDIChild;
    void PointDoubleClicked(Page page, int point) override {
        calls << qMakePair(static_cast<int>(page), point);
        // What the selection had done by the time the handler runs.
        itemAtCall = currentItem;
    }
    QList<QPair<int, int>> calls;
    int itemAtCall = -1;
};

constexpr int kNone = -1;

// Known image: byte i holds (i * 7 + 3) mod 256; FSK words stay within 0..4096.
void FillImage() {
    varnel::test::FillImage();
    for (std::size_t block = 0; block < 6; ++block) {
        const std::size_t s = 512 + 56 * block;
        for (std::size_t k = 0; k < 8; ++k) {
            tunerImage.setWord(s + 24 + 2 * k, static_cast<std::uint16_t>(1000 + 300 * k + block));
            tunerImage.setWord(s + 40 + 2 * k, static_cast<std::uint16_t>(2 * k + 10 * block));
        }
    }
}

int Byte(int offset) { return tunerImage[static_cast<std::size_t>(offset)]; }
QString ChildText(const char* key) { return TestEnvironment::text("ChildForm", key); }

using varnel::test::NodeWithKey;

// The position (up-down), value (scroll bar) or number (label) a control shows.
int Shown(TMDIChild& w, const QString& name) {
    if (auto* upDown = w.control<TUpDown>(name)) return upDown->position();
    if (auto* bar = w.control<QScrollBar>(name)) return bar->value();
    if (auto* label = w.control<QLabel>(name)) {
        bool ok = false;
        const int v = label->text().toInt(&ok);
        return ok ? v : kNone;
    }
    return kNone - 1;
}

using Expected = QList<QPair<QString, int>>;

// What the page's loader must show, from the byte offsets of the item table
// written out here by hand (band 0 offsets; band 1 adds 256, FSK blocks 168).
Expected ExpectedControls(int key, int band, int variant) {
    Expected e;
    const int h = 256 * band;
    auto add = [&](const QString& name, int value) { e << qMakePair(name, value); };
    switch (key) {
        case 2: add("Label36", Byte(64 + h)); break;
        case 3: add("Label36", Byte(65 + h)); break;
        case 21: add("Label36", Byte(66 + h)); break;
        case 22: add("Label36", Byte(67 + h)); break;
        case 52: add("Label36", Byte(221 + h)); break;
        case 53: add("Label36", Byte(222 + h)); break;
        case 4:
        case 26: case 27: case 28: case 29: case 30: case 31: {
            const int first = (key == 4 ? 68 : 132 + 8 * (key - 26)) + h;
            const char* bars[] = {"ScrollBar2", "ScrollBar3", "ScrollBar4", "ScrollBar5", "ScrollBar7"};
            const char* labels[] = {"Label54", "Label57", "Label60", "Label63", "Label66"};
            for (int p = 0; p < 5; ++p) {
                add(bars[p], Byte(first + p));
                add(labels[p], Byte(first + p));
                add(QString("UpDown%1").arg(23 + p), Byte(first + p));
            }
            break;
        }
        case 5: case 6: case 7: case 8: {
            const int first = 76 + 8 * (key - 5) + h;
            const char* labels[] = {"Label46", "Label69", "Label72", "Label75", "Label78"};
            for (int p = 0; p < 5; ++p) add(labels[p], Byte(first + p));
            break;
        }
        case 23:
            add("ScrollBar1", Byte(220 + h));
            add("UpDown6", Byte(220 + h));
            add("Label28", Byte(220 + h));
            break;
        case 24:
            if (variant == 0) {
                for (int p = 0; p < 5; ++p) {
                    add(QString("UpDown%1").arg(7 + p), Byte(116 + h + p));  // low: item 10
                    add(QString("UpDown%1").arg(1 + p), Byte(108 + h + p));  // high: item 9
                }
            } else if (variant == 1) {
                const int middle[] = {22, 28, 29, 30, 31};
                for (int p = 0; p < 5; ++p) {
                    add(QString("UpDown%1").arg(17 + p), Byte(116 + h + p));  // low: item 10
                    add(QString("UpDown%1").arg(middle[p]), Byte(224 + h + p));  // middle: item 26
                    add(QString("UpDown%1").arg(12 + p), Byte(108 + h + p));  // high: item 9
                }
            }
            break;
        case 32: case 33: {
            const int low = (key == 32 ? 180 : 196) + h;
            for (int p = 0; p < 5; ++p) {
                add(QString("UpDown%1").arg(7 + p), Byte(low + p));
                add(QString("UpDown%1").arg(1 + p), Byte(low + 8 + p));
            }
            break;
        }
        case 35:
            // "1233" (codes 51 and 52) shows the arrays its codes share with
            // items 20 and 21; in band 1 it selects nothing.
            if (band == 0) {
                for (int p = 0; p < 5; ++p) {
                    add(QString("UpDown%1").arg(7 + p), Byte(196 + p));
                    add(QString("UpDown%1").arg(1 + p), Byte(204 + p));
                }
            }
            break;
        case 36: case 37: case 38: {
            const int s = (key == 36 ? 512 : key == 37 ? 624 : 568) + 168 * band;
            for (int p = 0; p < 5; ++p) {
                add(QString("UpDown%1").arg(47 + p), Byte(s + p));
                add(QString("UpDown%1").arg(42 + p), Byte(s + 8 + p));
                add(QString("UpDown%1").arg(52 + p), Byte(s + 16 + p));
                add(QString("UpDown%1").arg(57 + p), tunerImage.word(static_cast<std::size_t>(s + 24 + 2 * p)));
                add(QString("UpDown%1").arg(62 + p), tunerImage.word(static_cast<std::size_t>(s + 40 + 2 * p)));
            }
            break;
        }
        case 51:
            for (const char* name : {"Label98", "Label101", "Label104", "Label107", "Label110", "Label123", "Label124",
                                     "Label125", "Label126", "Label127", "Label133", "Label134", "Label135", "Label136",
                                     "Label137"}) {
                add(name, kNone);  // empty text
            }
            break;
        default: break;
    }
    return e;
}

}  // namespace

class ItemSelectionTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    std::unique_ptr<RecordingWindow> makeWindow(VirtualPreset preset) {
        FillImage();
        expertMode = true;  // the raw node "1233" is in the tree
        return test::OpenTuningWindow<RecordingWindow>(*env_, host_,
                                                       {.preset = preset, .image = test::WindowImage::Kept, .linked = false});
    }

    void select(RecordingWindow& w, int key) {
        QTreeWidgetItem* node = NodeWithKey(w.TreeView1(), key);
        QVERIFY2(node, qPrintable(QString("no node %1").arg(key)));
        w.TreeView1()->setCurrentItem(node);
        w.TreeView1DblClick();
    }

    void connectRadio(bool tunerMode) {
        QCOMPARE(ScanRadioDrives(), std::uint16_t{1});
        linkHandle = OpenRadio();
        QVERIFY(linkHandle);
        env_->radio().setTunerMode(tunerMode);
        env_->radio().clearReceivedFrames();
        inTunerMode = tunerMode;
    }

private slots:
    // ---- the selection table -----------------------------------------------

    void selectionRow_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("page");     // page in front, kNone: the show routine's sbox_ctcss stays
        QTest::addColumn<int>("item");     // currentItem afterwards
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("buttonKey");
        QTest::addColumn<int>("pointPage");  // page of the point handler run last, kNone: none
        QTest::addColumn<int>("point");

        const int v0 = int(VirtualPreset::Variant0);
        const int v1 = int(VirtualPreset::Variant1);
        const int v2 = int(VirtualPreset::Variant2);
        const int lg = int(VirtualPreset::LargeNewFirmware);
        struct Row {
            int preset;
            int key;
            int page;
            int item0;
            int item1;
            const char* button;
            const char* buttonKey;
            int pointPage;
            int point;
        };
        const Row rows[] = {
            {v0, 2, 0, 0, 60, "Button3", "C0008", 0, 3},
            {v0, 3, 0, 1, 61, "Button3", "C0008", 0, 3},
            {v0, 21, 0, 2, 62, "Button3", "C0007", 0, 3},
            {v0, 22, 0, 3, 63, "Button3", "C0007", 0, 3},
            {v0, 52, 0, 24, 84, "Button3", "C0008", 0, 3},
            {v0, 53, 0, 25, 85, "Button3", "C0008", 0, 3},
            {v0, 4, 2, 4, 64, "Button9", "C0008", 2, 1},
            {v0, 26, 2, 12, 72, "Button9", "C0007", 2, 1},
            {v0, 27, 2, 13, 73, "Button9", "C0007", 2, 1},
            {v0, 28, 2, 14, 74, "Button9", "C0007", 2, 1},
            {v0, 29, 2, 15, 75, "Button9", "C0007", 2, 1},
            {v0, 30, 2, 16, 76, "Button9", "C0007", 2, 1},
            {v0, 31, 2, 17, 77, "Button9", "C0007", 2, 1},
            {v0, 5, 3, 5, 65, "Button7", "C0008", 3, 1},
            {v0, 6, 3, 6, 66, "Button7", "C0008", 3, 1},
            {v0, 7, 3, 7, 67, "Button7", "C0008", 3, 1},
            {v0, 8, 3, 8, 68, "Button7", "C0008", 3, 1},
            {v0, 23, 4, 23, 83, "Button5", "C0007", 4, 3},
            {v0, 24, 1, 10, 70, "Button1", "C0007", 1, 1},
            {v1, 24, 5, 10, 70, "Button11", "C0007", 5, 1},
            {v2, 24, kNone, 10, 70, "", "", kNone, 0},
            {v0, 32, 1, 18, 78, "Button1", "C0007", 1, 1},
            {v0, 33, 1, 20, 80, "Button1", "C0007", 1, 1},
            {v0, 35, 1, 52, 78, "Button1", "C0007", 1, 1},
            {v1, 34, 8, 30, 87, "Button17", "C0007", 8, 3},
            {lg, 36, 9, 31, 91, "Button19", "C0007", 9, 1},
            {lg, 37, 9, 33, 93, "Button19", "C0007", 9, 1},
            {lg, 38, 9, 32, 92, "Button19", "C0007", 9, 1},
            {v0, 51, 6, 22, 82, "Button13", "C0008", 6, 1},
        };
        for (const Row& r : rows) {
            for (int band = 0; band < 2; ++band) {
                if (r.key == 35 && band == 1) {
                    // The raw codes exist in band 0 only: the neutral page,
                    // the show routine's item 4 stays, no point handler.
                    QTest::addRow("key %d, variant preset %d, band %d", r.key, r.preset, band)
                        << r.preset << r.key << band << kNone << 4 << QString() << QString() << kNone << 0;
                    continue;
                }
                QTest::addRow("key %d, variant preset %d, band %d", r.key, r.preset, band)
                    << r.preset << r.key << band << r.page << (band == 0 ? r.item0 : r.item1)
                    << QString::fromLatin1(r.button) << QString::fromLatin1(r.buttonKey) << r.pointPage << r.point;
            }
        }
    }
    void selectionRow() {
        QFETCH(int, preset);
        QFETCH(int, key);
        QFETCH(int, band);
        QFETCH(int, page);
        QFETCH(int, item);
        QFETCH(QString, button);
        QFETCH(QString, buttonKey);
        QFETCH(int, pointPage);
        QFETCH(int, point);

        auto w = makeWindow(static_cast<VirtualPreset>(preset));
        varnel::band = band;
        if (!button.isEmpty()) w->control<QPushButton>(button)->setText("stale");
        // A keyed, measuring state that the selection must end.
        txKeyed = rxKeyed = true;
        actionCode = 0;
        test::TimerOf(*w, "CheckTimer")->start();
        test::TimerOf(*w, "ErrorRateTimer")->start();
        test::TimerOf(*w, "MandownTimer")->start();
        w->control<QPushButton>("Button15")->setEnabled(true);
        w->control<QPushButton>("Button16")->setEnabled(true);
        w->control<QLabel>("Label81")->setText("stale");

        select(*w, key);

        QTreeWidgetItem* node = NodeWithKey(w->TreeView1(), key);
        // The raw node's caption says what it is for after its name.
        if (key == 35 && band == 0) {
            QVERIFY(w->Panel1()->text().startsWith(node->text(0) + "  "));
        } else {
            QCOMPARE(w->Panel1()->text(), node->text(0));
        }
        QVERIFY(!w->Panel1()->text().isEmpty());
        // A selection without a page of its own puts the neutral page in
        // front, so that the page left there cannot act for the item.
        QCOMPARE(w->frontPage(), page == kNone ? nullptr : w->pageList().at(page));
        QCOMPARE(currentItem, item);
        if (!button.isEmpty()) {
            QCOMPARE(w->control<QPushButton>(button)->text(), ChildText(buttonKey.toLatin1().constData()));
        }
        QCOMPARE(actionCode, 4);
        QVERIFY(!txKeyed && !rxKeyed);
        QVERIFY(!test::TimerOf(*w, "CheckTimer")->isActive() && !test::TimerOf(*w, "ErrorRateTimer")->isActive() && !test::TimerOf(*w, "MandownTimer")->isActive());
        QVERIFY(!w->control<QPushButton>("Button15")->isEnabled());
        QVERIFY(!w->control<QPushButton>("Button16")->isEnabled());
        // The selection scope of the frequency labels ran (sbox_power_mobile is in it).
        QCOMPARE(w->control<QLabel>("Label81")->text(),
                 QString::fromStdString(FormatMegahertz(rxFrequency(0))));
        // The point handler runs last, once, after currentItem was set.
        if (pointPage == kNone) {
            QVERIFY(w->calls.isEmpty());
        } else {
            QCOMPARE(w->calls, (QList<QPair<int, int>>{{pointPage, point}}));
            QCOMPARE(w->itemAtCall, item);
        }
        // What the loader put into the controls.
        for (const auto& [name, value] : ExpectedControls(key, band, radioInfo.modelVariant())) {
            if (value == kNone) {
                QVERIFY2(w->control<QLabel>(name)->text().isEmpty(), qPrintable(name));
            } else {
                QCOMPARE(Shown(*w, name), value);
            }
        }
        // The selection itself sends nothing outside tuner mode.
        QVERIFY(env_->radio().receivedFrames().empty());
    }

    void ctcssSelectionLeavesThePageLocked() {
        auto w = makeWindow(VirtualPreset::Variant0);
        for (const char* name : {"ScrollBar2", "Edit25", "UpDown27", "Button9", "Button10"}) {
            w->control(name)->setEnabled(true);
        }
        select(*w, 28);
        for (const char* name : {"ScrollBar2", "ScrollBar7", "Edit25", "UpDown27", "Button9", "Button10"}) {
            QVERIFY2(!w->control(name)->isEnabled(), name);
        }
    }

    void voxSelectionsShowTheItemByte() {
        auto w = makeWindow(VirtualPreset::Variant0);
        varnel::band = 1;
        select(*w, 2);  // "T0004" in band 1: item 60, byte 320
        QCOMPARE(currentItem, 60);
        QCOMPARE(w->control<QLabel>("Label36")->text(), QString::number(Byte(320)));
        QVERIFY(!w->control<QRadioButton>("RadioButton6")->isChecked());
        select(*w, 21);  // "T0011" also checks the point button
        QVERIFY(w->control<QRadioButton>("RadioButton6")->isChecked());
        QCOMPARE(w->control<QLabel>("Label36")->text(), QString::number(Byte(322)));
    }

    void powerCaptionsFollowThePair() {
        auto w = makeWindow(VirtualPreset::Variant0);
        select(*w, 32);
        QCOMPARE(w->control<QLabel>("Label20")->text(), ChildText("C0016"));
        QCOMPARE(w->control<QLabel>("Label23")->text(), ChildText("C0017"));
        select(*w, 24);
        QCOMPARE(w->control<QLabel>("Label20")->text(), ChildText("C0012"));
        QCOMPARE(w->control<QLabel>("Label23")->text(), ChildText("C0013"));
        select(*w, 33);
        QCOMPARE(w->control<QLabel>("Label20")->text(), ChildText("C0016"));
        QVERIFY(ChildText("C0016") != ChildText("C0012"));
    }

    void rowsSixToEightOfThePowerPage_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("visible");
        const int lg = int(VirtualPreset::LargeNewFirmware);  // firmware 2.3
        const int v0 = int(VirtualPreset::Variant0);          // firmware 2.1
        QTest::newRow("T0022, band 1, new firmware") << lg << 1 << 32 << true;
        QTest::newRow("T0023, band 1, new firmware") << lg << 1 << 33 << true;
        QTest::newRow("T0022, band 0, new firmware") << lg << 0 << 32 << false;
        QTest::newRow("T0022, band 1, old firmware") << v0 << 1 << 32 << false;
        QTest::newRow("1233, band 0, new firmware") << lg << 0 << 35 << false;
    }
    void rowsSixToEightOfThePowerPage() {
        QFETCH(int, preset);
        QFETCH(int, band);
        QFETCH(int, key);
        QFETCH(bool, visible);
        auto w = makeWindow(static_cast<VirtualPreset>(preset));
        w->show();
        w->ShowPage(1);
        varnel::band = band;
        select(*w, key);
        for (const char* name : {"RadioButton06", "RadioButton08", "Label013", "Label018", "Edit06", "Edit014",
                                 "UpDown07", "UpDown012"}) {
            QCOMPARE(w->control(name)->isVisible(), visible);
        }
        QVERIFY(w->control("RadioButton5")->isVisible());
    }

    void eightPointPowerRowsLoadFromTheBand1Arrays() {
        auto w = makeWindow(VirtualPreset::LargeNewFirmware);
        w->show();
        varnel::band = 1;
        select(*w, 32);  // "T0022": items 78 (low, 436-443) and 79 (high, 444-451)
        QCOMPARE(w->control<TUpDown>("UpDown012")->position(), Byte(441));
        QCOMPARE(w->control<TUpDown>("UpDown013")->position(), Byte(442));
        QCOMPARE(w->control<TUpDown>("UpDown014")->position(), Byte(443));
        QCOMPARE(w->control<TUpDown>("UpDown06")->position(), Byte(449));
        QCOMPARE(w->control<TUpDown>("UpDown07")->position(), Byte(450));
        QCOMPARE(w->control<TUpDown>("UpDown08")->position(), Byte(451));
        QCOMPARE(w->control<TValueEdit>("Edit08")->text(), QString::number(Byte(451)));
        QCOMPARE(w->control<QLabel>("Label017")->text(), QString("167.500000"));
        // A following "T0014" leaves them visible.
        select(*w, 24);
        QVERIFY(w->control("RadioButton08")->isVisible());
        QCOMPARE(currentItem, 70);
    }

    void node1233ShowsTheArraysItSends() {
        auto w = makeWindow(VirtualPreset::LargeNewFirmware);
        w->show();
        varnel::band = 1;
        select(*w, 32);
        QVERIFY(w->control("RadioButton06")->isVisible());
        varnel::band = 0;
        select(*w, 35);
        QCOMPARE(currentItem, 52);
        QVERIFY(!w->control("RadioButton06")->isVisible());
        // Not what the previous selection left: the bytes of codes 51 and 52.
        QCOMPARE(w->control<TUpDown>("UpDown7")->position(), Byte(196));
        QCOMPARE(w->control<TUpDown>("UpDown1")->position(), Byte(204));
        QCOMPARE(w->control<QLabel>("Label20")->text(), ChildText("C0016") + " (51)");
        QCOMPARE(w->control<QLabel>("Label23")->text(), ChildText("C0017") + " (52)");
        QCOMPARE(w->frontPage(), w->pageList().at(1));
    }

    void fskCaptionsAndItemMapping() {
        auto w = makeWindow(VirtualPreset::LargeNewFirmware);
        select(*w, 37);  // "T0045" selects item 33, not 32
        QCOMPARE(currentItem, 33);
        const char* headers[] = {"Label144", "Label143", "Label155", "Label156", "Label157"};
        const char* keys[] = {"C0033", "C0034", "C0035", "C0036", "C0037"};
        for (int c = 0; c < 5; ++c) QCOMPARE(w->control<QLabel>(headers[c])->text(), ChildText(keys[c]));
        // 16-bit values of 1000 and more show digit groups in their edits.
        QVERIFY(w->control<TUpDown>("UpDown57")->position() >= 1000);
        QVERIFY(w->control<TValueEdit>("Edit57")->text().size() == 5);
        select(*w, 38);
        QCOMPARE(currentItem, 32);
    }

    void loadersIgnoreItemsOfOtherPages() {
        auto w = makeWindow(VirtualPreset::LargeNewFirmware);
        w->control<TUpDown>("UpDown23")->setPosition(77);
        w->control<QLabel>("Label46")->setText("x");
        w->control<TUpDown>("UpDown7")->setPosition(66);
        w->control<TUpDown>("UpDown17")->setPosition(55);
        w->control<TUpDown>("UpDown47")->setPosition(44);
        w->control<QLabel>("Label20")->setText("caption");
        // (51 and 52 load the arrays they share: node1233ShowsTheArraysItSends.)
        for (const int item : {0, 22, 23, 30, 99}) {
            currentItem = item;
            w->LoadCtcssPage();
            w->LoadSquelchPage();
            w->LoadPowerPage();
            w->LoadMobilePowerPage();
            w->LoadFskPage();
        }
        QCOMPARE(w->control<TUpDown>("UpDown23")->position(), 77);
        QCOMPARE(w->control<QLabel>("Label46")->text(), QString("x"));
        QCOMPARE(w->control<TUpDown>("UpDown7")->position(), 66);
        QCOMPARE(w->control<QLabel>("Label20")->text(), QString("caption"));
        QCOMPARE(w->control<TUpDown>("UpDown17")->position(), 55);
        QCOMPARE(w->control<TUpDown>("UpDown47")->position(), 44);
        // Item 11 (no tree node) is a CTCSS-type array and loads.
        currentItem = 11;
        w->LoadCtcssPage();
        QCOMPARE(w->control<TUpDown>("UpDown23")->position(), Byte(124));
        // Any code of a pair or triple loads the whole group.
        currentItem = 9;
        w->LoadPowerPage();
        QCOMPARE(w->control<TUpDown>("UpDown7")->position(), Byte(116));
        currentItem = 86;
        w->LoadMobilePowerPage();
        QCOMPARE(w->control<TUpDown>("UpDown17")->position(), Byte(372));
        QCOMPARE(w->control<TUpDown>("UpDown22")->position(), Byte(480));
        QCOMPARE(w->control<TUpDown>("UpDown16")->position(), Byte(368));
    }

    // ---- group nodes and odd cases ---------------------------------------------

    void groupNodes_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("root") << 0;
        QTest::newRow("T0001") << 1;
        QTest::newRow("T0002") << 20;
        QTest::newRow("T0003") << 50;
        QTest::newRow("T0040") << 60;
    }
    void groupNodes() {
        QFETCH(int, key);
        auto w = makeWindow(VirtualPreset::Variant0);
        select(*w, 5);  // sbox_sql in front
        w->calls.clear();
        txKeyed = rxKeyed = true;
        test::TimerOf(*w, "CheckTimer")->start();
        w->control<QLabel>("Label96")->setText("stale");
        select(*w, key);
        QCOMPARE(w->Panel1()->text(), NodeWithKey(w->TreeView1(), key)->text(0));
        QCOMPARE(w->frontPage(), w->pageList().at(3));
        QCOMPARE(currentItem, 5);
        QVERIFY(!txKeyed && !rxKeyed);
        QCOMPARE(actionCode, 4);
        QVERIFY(!test::TimerOf(*w, "CheckTimer")->isActive());
        QVERIFY(w->calls.isEmpty());
        QCOMPARE(w->control<QLabel>("Label96")->text(), QString::fromStdString(FormatMegahertz(rxFrequency(0))));
    }

    void noSelectedNodeDoesNothing() {
        auto w = makeWindow(VirtualPreset::Variant0);
        w->TreeView1()->clearSelection();
        w->Panel1()->setText("kept");
        txKeyed = true;
        w->TreeView1DblClick();
        QCOMPARE(w->Panel1()->text(), QString("kept"));
        QVERIFY(txKeyed);
    }

    void doubleClickOnTheTreeSelects() {
        auto w = makeWindow(VirtualPreset::Variant0);
        w->show();
        QTreeWidgetItem* node = NodeWithKey(w->TreeView1(), 23);
        const QRect rect = w->TreeView1()->visualItemRect(node);
        QTest::mouseClick(w->TreeView1()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(w->TreeView1()->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(currentItem, 23);
        QCOMPARE(w->frontPage(), w->pageList().at(4));
    }

    void variant2PowerNodeShowsNoPage() {
        auto w = makeWindow(VirtualPreset::Variant2);
        connectRadio(true);
        select(*w, 24);
        QCOMPARE(currentItem, 10);
        QVERIFY(w->frontPage() == nullptr);
        QVERIFY(!w->NoPage()->isHidden());
        QCOMPARE(w->NoPage()->text(), TestEnvironment::text("Safety", "Z0001"));
        QVERIFY(w->calls.isEmpty());
        QVERIFY(env_->radio().receivedFrames().empty());
    }

    void pointButtonsDispatchTheirPageAndPoint() {
        auto w = makeWindow(VirtualPreset::LargeNewFirmware);
        w->show();
        w->ShowPage(1);
        w->calls.clear();
        QTest::mouseDClick(w->control<TPointButton>("RadioButton4"), Qt::LeftButton);
        QCOMPARE(w->calls, (QList<QPair<int, int>>{{1, 4}}));
        int buttons = 0;
        for (const PageSpec& spec : PageSpecs()) {
            for (const RowSpec& row : spec.rows) {
                if (row.button == nullptr) continue;
                w->calls.clear();
                emit w->control<TPointButton>(QString::fromLatin1(row.button))->doubleClicked();
                QCOMPARE(w->calls, (QList<QPair<int, int>>{{static_cast<int>(spec.page), row.point}}));
                ++buttons;
            }
        }
        QCOMPARE(buttons, 1 + 8 + 5 + 5 + 1 + 5 + 5 + 1 + 5);  // every page but sbox_mandown
    }

    // ---- man-down ------------------------------------------------------------

    void mandownInTunerModeSendsTheItemLive_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("offset");
        QTest::newRow("T0041 band 0") << 61 << 0 << 27 << 232;
        QTest::newRow("T0042 band 0") << 62 << 0 << 28 << 233;
        QTest::newRow("T0043 band 0") << 63 << 0 << 29 << 234;
        QTest::newRow("T0041 band 1") << 61 << 1 << 88 << 488;
        QTest::newRow("T0042 band 1") << 62 << 1 << 89 << 489;
        QTest::newRow("T0043 band 1") << 63 << 1 << 90 << 490;
    }
    void mandownInTunerModeSendsTheItemLive() {
        QFETCH(int, key);
        QFETCH(int, band);
        QFETCH(int, item);
        QFETCH(int, offset);
        auto w = makeWindow(VirtualPreset::Variant0);
        connectRadio(true);
        varnel::band = band;
        currentValue = 199;
        w->control<QPushButton>("Button15")->setText("stale");
        select(*w, key);

        QCOMPARE(w->frontPage(), w->pageList().at(7));
        QCOMPARE(currentItem, item);
        const int value = Byte(offset);
        // One live-set: item, action 4, point 1, frequency 0, the item's byte.
        const auto& frames = env_->radio().receivedFrames();
        QCOMPARE(frames.size(), std::size_t{1});
        const std::uint16_t sum16 = static_cast<std::uint16_t>(item + 4 + 1 + value);
        const std::vector<std::uint8_t> expected = {0xA1, 0x00, 0x62, 0x00, 0x08,
                                                    static_cast<std::uint8_t>(item), 0x04, 0x01, 0x00, 0x00, 0x00, 0x00,
                                                    static_cast<std::uint8_t>(value),
                                                    static_cast<std::uint8_t>(sum16 >> 8),
                                                    static_cast<std::uint8_t>(sum16), 0xA4};
        QCOMPARE(frames.front(), expected);
        QVERIFY(env_->radio().lastLiveSet().has_value());
        QCOMPARE(env_->radio().lastLiveSet()->item, item);
        QCOMPARE(env_->radio().lastLiveSet()->action, 4);
        QCOMPARE(w->control<QLabel>("Label113")->text(), QString::number(value));
        QCOMPARE(w->control<QPushButton>("Button15")->text(), ChildText("C0029"));
        QVERIFY(w->control<QPushButton>("Button15")->isEnabled());
        QVERIFY(w->control<QPushButton>("Button16")->isEnabled());
        QCOMPARE(currentValue, 199);  // not changed
        QVERIFY(w->calls.isEmpty());
        // The live-set is logged and its reply awaited.
        QCOMPARE(w->ListBox1()->count(), 1);
        QVERIFY(test::TimerOf(*w, "TimeOutTimer")->isActive());
        QCOMPARE(pendingReplyLength, std::uint16_t{9});
    }

    void mandownOutsideTunerModeOnlyShowsThePage() {
        auto w = makeWindow(VirtualPreset::Variant0);
        connectRadio(false);
        w->control<QPushButton>("Button15")->setText("stale");
        w->control<QLabel>("Label113")->setText("7");
        select(*w, 61);
        QCOMPARE(w->frontPage(), w->pageList().at(7));
        QCOMPARE(currentItem, 4);  // unchanged since the show routine
        QVERIFY(env_->radio().receivedFrames().empty());
        QCOMPARE(w->control<QPushButton>("Button15")->text(), QString("stale"));
        QCOMPARE(w->control<QLabel>("Label113")->text(), QString("7"));
        QVERIFY(!w->control<QPushButton>("Button15")->isEnabled());
        QVERIFY(!w->control<QPushButton>("Button16")->isEnabled());
        QCOMPARE(w->ListBox1()->count(), 0);
    }

    void onlyTheSelectionOfManDownSendsInTunerMode() {
        // Every other selection leaves the sending to its point handler.
        auto w = makeWindow(VirtualPreset::Variant0);
        connectRadio(true);
        for (const int key : {2, 4, 5, 23, 24, 32, 33, 35, 51, 1, 20}) {
            select(*w, key);
        }
        QVERIFY(env_->radio().receivedFrames().empty());
    }
};

QTEST_MAIN(ItemSelectionTest)
#include "item_selection_test.moc"
