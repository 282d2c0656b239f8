// Point selection, keying and saving on the item pages, against the
// virtual radio: the frames each button sends, byte for byte, the flags and
// captions it changes, the controls it enables, and the arrow-key filter of
// the point buttons.
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>

#include "support/TuningFixture.h"
#include "tuning/PageTables.h"

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::TestEnvironment;

Q_DECLARE_METATYPE(varnel::Page)

namespace {
using namespace varnel::test;

int Byte(int offset) { return tunerImage[static_cast<std::size_t>(offset)]; }
int ArrayByte(int code, int point) { return Byte(ItemBytes(code)->offset + point - 1); }
QString ChildText(const char* key) { return TestEnvironment::text("ChildForm", key); }

}  // namespace

class KeyingTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    std::unique_ptr<TMDIChild> open(VirtualPreset preset = VirtualPreset::Variant0, bool tunerMode = true) {
        return test::OpenTuningWindow(*env_, host_, {.preset = preset, .tunerMode = tunerMode});
    }
    // Answers the outstanding live-set or save, as the event loop would.
    void settle(TMDIChild& w) { test::SettleVerifyingPolls(w); }
    QPushButton* button(TMDIChild& w, const char* name) { return w.control<QPushButton>(QString::fromLatin1(name)); }

private slots:
    // ---- point double-click ----------------------------------------------------

    void powerPointFourSendsTheStoredValue_data() {
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<int>("action");
        QTest::newRow("unkeyed") << false << 1;
        QTest::newRow("keyed") << true << 0;
    }
    void powerPointFourSendsTheStoredValue() {
        QFETCH(bool, keyed);
        QFETCH(int, action);
        auto w = open();
        currentItem = 18;
        txKeyed = keyed;
        const int value = ArrayByte(18, 4);
        w->PointDoubleClicked(Page::Power, 4);
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(frames()[0], LiveSet(18, action, 4, txFrequency(3), value));
        QCOMPARE(currentPoint, 4);
        QCOMPARE(currentValue, value);
        QCOMPARE(actionCode, action);
        QVERIFY(w->control<TPointButton>("RadioButton4")->isChecked());
        for (const char* name : {"Button1", "Button2", "Edit10", "UpDown10", "Edit4", "UpDown4"}) {
            QVERIFY2(w->control<QWidget>(name)->isEnabled(), name);
        }
        for (const char* name : {"Edit7", "UpDown7", "Edit1", "Edit9", "Edit11", "Edit5", "Edit012", "Edit08"}) {
            QVERIFY2(!w->control<QWidget>(name)->isEnabled(), name);
        }
        QVERIFY(TimerOf(*w, "TimeOutTimer")->isActive());
        QCOMPARE(w->ListBox1()->count(), 1);
    }

    void movingToAnotherPointDisablesTheOldRow() {
        auto w = open();
        currentItem = 10;
        w->PointDoubleClicked(Page::Power, 2);
        settle(*w);
        QVERIFY(w->control<QWidget>("Edit8")->isEnabled());
        w->PointDoubleClicked(Page::Power, 5);
        QVERIFY(!w->control<QWidget>("Edit8")->isEnabled());
        QVERIFY(!w->control<QWidget>("UpDown2")->isEnabled());
        QVERIFY(w->control<QWidget>("Edit11")->isEnabled());
        QVERIFY(w->control<QWidget>("Edit5")->isEnabled());
        QVERIFY(!w->control<TPointButton>("RadioButton2")->isChecked());
    }

    void pointValueLoadedPerPageAndItem_data() {
        QTest::addColumn<VirtualPreset>("preset");
        QTest::addColumn<Page>("page");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("point");
        QTest::addColumn<int>("sourceItem");  // -1: currentValue kept
        QTest::newRow("power 9 at 2") << VirtualPreset::Variant0 << Page::Power << 9 << 2 << 9;
        QTest::newRow("power 52 at 3 (item 21)") << VirtualPreset::Variant0 << Page::Power << 52 << 3 << 21;
        QTest::newRow("power 51 at 1 (item 20)") << VirtualPreset::Variant0 << Page::Power << 51 << 1 << 20;
        QTest::newRow("power 26 at 5") << VirtualPreset::Variant0 << Page::Power << 26 << 5 << 26;
        QTest::newRow("power 26 at 4 keeps") << VirtualPreset::Variant0 << Page::Power << 26 << 4 << -1;
        QTest::newRow("power 78 at 7") << VirtualPreset::LargeNewFirmware << Page::Power << 78 << 7 << 78;
        QTest::newRow("power 70 at 6 keeps") << VirtualPreset::LargeNewFirmware << Page::Power << 70 << 6 << -1;
        QTest::newRow("mobile 86 at 2") << VirtualPreset::Variant1 << Page::PowerMobile << 86 << 2 << 86;
        QTest::newRow("ctcss 11 at 4") << VirtualPreset::Variant0 << Page::Ctcss << 11 << 4 << 11;
        QTest::newRow("squelch 67 at 5") << VirtualPreset::Variant0 << Page::Sql << 67 << 5 << 67;
        QTest::newRow("vox 25") << VirtualPreset::Variant0 << Page::Vox << 25 << 3 << 25;
        QTest::newRow("stability 23") << VirtualPreset::Variant0 << Page::FreqStability << 23 << 3 << 23;
        QTest::newRow("temperature keeps") << VirtualPreset::Variant1 << Page::Temp << 30 << 3 << -1;
    }
    void pointValueLoadedPerPageAndItem() {
        QFETCH(VirtualPreset, preset);
        QFETCH(Page, page);
        QFETCH(int, item);
        QFETCH(int, point);
        QFETCH(int, sourceItem);
        auto w = open(preset);
        if (preset == VirtualPreset::LargeNewFirmware) band = BandOfCode(item);
        currentItem = item;
        currentValue = 0xEE;
        const int expected = sourceItem < 0 ? 0xEE : ArrayByte(sourceItem, ItemBytes(sourceItem)->length == 1 ? 1 : point);
        w->PointDoubleClicked(page, point);
        QCOMPARE(currentValue, expected);
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(static_cast<int>(frames()[0][12]), expected);  // the value byte of the live-set
    }

    void actionAndFrequencyPerPage_data() {
        QTest::addColumn<Page>("page");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("point");
        QTest::addColumn<bool>("tx");
        QTest::addColumn<bool>("rx");
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("receiveFrequency");
        QTest::newRow("squelch, rx keyed") << Page::Sql << 6 << 2 << false << true << 2 << true;
        QTest::newRow("squelch, unkeyed") << Page::Sql << 6 << 2 << true << false << 3 << true;
        QTest::newRow("vox 2, tx keyed") << Page::Vox << 2 << 3 << true << false << 0 << true;
        QTest::newRow("vox 0 follows txKeyed") << Page::Vox << 0 << 3 << true << false << 2 << true;
        QTest::newRow("vox 24, rx keyed only") << Page::Vox << 24 << 3 << false << true << 3 << true;
        QTest::newRow("ctcss 4, rx keyed") << Page::Ctcss << 4 << 5 << false << true << 2 << false;
        QTest::newRow("ctcss 13, tx keyed") << Page::Ctcss << 13 << 1 << true << false << 0 << false;
        QTest::newRow("ctcss 11 unchanged") << Page::Ctcss << 11 << 1 << true << true << 4 << false;
        QTest::newRow("stability") << Page::FreqStability << 23 << 3 << false << false << 1 << false;
        QTest::newRow("temperature 30") << Page::Temp << 30 << 3 << true << false << 0 << true;
        QTest::newRow("temperature, other item") << Page::Temp << 5 << 3 << true << false << 4 << true;
    }
    void actionAndFrequencyPerPage() {
        QFETCH(Page, page);
        QFETCH(int, item);
        QFETCH(int, point);
        QFETCH(bool, tx);
        QFETCH(bool, rx);
        QFETCH(int, action);
        QFETCH(bool, receiveFrequency);
        auto w = open();
        currentItem = item;
        txKeyed = tx;
        rxKeyed = rx;
        actionCode = action::kItemSelected;
        w->PointDoubleClicked(page, point);
        QCOMPARE(actionCode, action);
        QCOMPARE(frames().size(), std::size_t{1});
        const std::uint32_t f = receiveFrequency ? rxFrequency(point - 1) : txFrequency(point - 1);
        QCOMPARE(frames()[0], LiveSet(item, action, point, f, currentValue));
    }

    void ctcssItemElevenLeavesActionAndCaption() {
        auto w = open();
        currentItem = 11;
        actionCode = 5;
        button(*w, "Button9")->setText("before");
        w->PointDoubleClicked(Page::Ctcss, 2);
        QCOMPARE(actionCode, 5);
        QCOMPARE(button(*w, "Button9")->text(), QString("before"));
        settle(*w);
        env_->radio().clearReceivedFrames();
        w->KeyingButtonClick(Page::Ctcss);
        QVERIFY(frames().empty());
        QVERIFY(!txKeyed && !rxKeyed);
        QCOMPARE(button(*w, "Button9")->text(), QString("before"));
    }

    void ctcssCaptionFollowsTheItem() {
        auto w = open();
        button(*w, "Button9")->setText("x");
        currentItem = 64;
        w->PointDoubleClicked(Page::Ctcss, 1);
        QCOMPARE(button(*w, "Button9")->text(), ChildText("C0008"));
        currentItem = 72;
        w->PointDoubleClicked(Page::Ctcss, 1);
        QCOMPARE(button(*w, "Button9")->text(), ChildText("C0007"));
    }

    void outsideTunerModeOnlyTheEarlyLocks() {
        auto w = open(VirtualPreset::Variant0, false);
        for (const char* name : {"Button9", "Edit23", "Button5", "Edit6", "Button1", "Button7"}) {
            w->control<QWidget>(name)->setEnabled(true);
        }
        currentItem = 4;
        w->PointDoubleClicked(Page::Ctcss, 1);
        currentItem = 23;
        w->PointDoubleClicked(Page::FreqStability, 3);
        currentItem = 10;
        w->PointDoubleClicked(Page::Power, 1);
        currentItem = 5;
        w->PointDoubleClicked(Page::Sql, 1);
        QVERIFY(frames().empty());
        QVERIFY(!button(*w, "Button9")->isEnabled());
        QVERIFY(!w->control<QWidget>("Edit23")->isEnabled());
        QVERIFY(!button(*w, "Button5")->isEnabled());
        QVERIFY(!w->control<QWidget>("Edit6")->isEnabled());
        // The pages that lock after the test keep their controls.
        QVERIFY(button(*w, "Button1")->isEnabled());
        QVERIFY(button(*w, "Button7")->isEnabled());
        QCOMPARE(currentPoint, 1);
    }

    void mobilePointLeavesOtherPagesButtons() {
        auto w = open(VirtualPreset::Variant1);
        currentItem = 10;
        w->PointDoubleClicked(Page::Power, 2);
        settle(*w);
        w->PointDoubleClicked(Page::PowerMobile, 5);
        QVERIFY(w->control<TPointButton>("RadioButton22")->isChecked());
        QVERIFY(w->control<TPointButton>("RadioButton2")->isChecked());
        for (const char* name : {"Button11", "Button12", "Edit21", "Edit31", "Edit16", "UpDown31"}) {
            QVERIFY2(w->control<QWidget>(name)->isEnabled(), name);
        }
        QVERIFY(!w->control<QWidget>("Edit17")->isEnabled());
    }

    void fskPointSendsItsRecord() {
        auto w = open(VirtualPreset::LargeNewFirmware);
        currentItem = 31;
        const int s = ItemBytes(31)->offset;
        const std::array<std::uint8_t, 8> record = FskRecord(tunerImage, 31, 2);
        QCOMPARE(record[3], std::uint8_t{0});
        QCOMPARE(record[4], tunerImage[static_cast<std::size_t>(s + 24 + 2)]);
        QCOMPARE(record[5], tunerImage[static_cast<std::size_t>(s + 24 + 3)]);
        QCOMPARE(record[6], tunerImage[static_cast<std::size_t>(s + 40 + 2)]);
        QCOMPARE(record[7], tunerImage[static_cast<std::size_t>(s + 40 + 3)]);
        w->PointDoubleClicked(Page::Fsk, 2);
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(frames()[0], BlockSet(31, 1, 2, txFrequency(1), record));
        // The point's cells in every column are enabled, the other points' not.
        for (const char* name : {"Edit48", "UpDown48", "Edit43", "Edit53", "Edit58", "Edit63", "UpDown63", "Button19", "Button20"}) {
            QVERIFY2(w->control<QWidget>(name)->isEnabled(), name);
        }
        for (const char* name : {"Edit47", "Edit49", "Edit42", "Edit57", "Edit66", "UpDown62"}) {
            QVERIFY2(!w->control<QWidget>(name)->isEnabled(), name);
        }
        settle(*w);
        // The transmit button builds the record of the current item.
        currentItem = 33;
        w->KeyingButtonClick(Page::Fsk);
        QCOMPARE(frames().size(), std::size_t{2});
        QCOMPARE(frames()[1], BlockSet(33, 0, 2, txFrequency(1), FskRecord(tunerImage, 33, 2)));
        QCOMPARE(button(*w, "Button19")->text(), ChildText("C0014"));
    }

    void errorRatePointsGoToTheTestPage() {
        // The bit-error-rate page's own handler runs; it sends at point 3.
        auto w = open();
        currentItem = 22;
        w->PointDoubleClicked(Page::ErrorRate, 3);
        QCOMPARE(currentPoint, 3);
    }

    // ---- single click --------------------------------------------------------------

    void singleClickClearsTheCheckOutsideTunerMode_data() {
        QTest::addColumn<bool>("tunerMode");
        QTest::newRow("outside") << false;
        QTest::newRow("tuner mode") << true;
    }
    void singleClickClearsTheCheckOutsideTunerMode() {
        QFETCH(bool, tunerMode);
        auto w = open(VirtualPreset::Variant0, tunerMode);
        auto* b = w->control<TPointButton>("RadioButton14");
        w->show();
        QTest::mouseClick(b, Qt::LeftButton);
        // In tuner mode too no point of the page is selected yet, so the
        // clicked one must not look selected either.
        QVERIFY(!b->isChecked());
        QVERIFY(frames().empty());
    }

    void singleClickInTunerModeKeepsTheLivePointChecked() {
        auto w = open(VirtualPreset::Variant0, true);
        w->show();
        w->PointDoubleClicked(Page::Ctcss, 2);
        auto* live = w->control<TPointButton>("RadioButton14");
        auto* other = w->control<TPointButton>("RadioButton16");
        QVERIFY(live->isChecked());
        QTest::mouseClick(other, Qt::LeftButton);
        QVERIFY(live->isChecked());
        QVERIFY(!other->isChecked());
        QCOMPARE(currentPoint, 2);
    }

    // ---- keying ----------------------------------------------------------------------

    void keyingButtonsToggle_data() {
        QTest::addColumn<Page>("page");
        QTest::addColumn<int>("item");
        QTest::addColumn<bool>("transmit");
        QTest::addColumn<bool>("receiveFrequency");
        QTest::addColumn<bool>("readBack");
        QTest::newRow("Button1") << Page::Power << 18 << true << false << false;
        QTest::newRow("Button5") << Page::FreqStability << 83 << true << false << false;
        QTest::newRow("Button11") << Page::PowerMobile << 9 << true << false << false;
        QTest::newRow("Button9 item 4") << Page::Ctcss << 4 << false << true << false;
        QTest::newRow("Button9 item 77") << Page::Ctcss << 77 << true << false << false;
        QTest::newRow("Button3 item 1") << Page::Vox << 1 << false << false << true;
        QTest::newRow("Button3 item 63") << Page::Vox << 63 << true << false << true;
        QTest::newRow("Button7") << Page::Sql << 7 << false << false << true;
        QTest::newRow("Button17") << Page::Temp << 87 << true << false << true;
    }
    void keyingButtonsToggle() {
        QFETCH(Page, page);
        QFETCH(int, item);
        QFETCH(bool, transmit);
        QFETCH(bool, receiveFrequency);
        QFETCH(bool, readBack);
        auto w = open();
        currentItem = item;
        currentPoint = 5;
        currentValue = 99;
        QPushButton* b = button(*w, PageSpecOf(page).keyingButton);
        const std::uint32_t f = receiveFrequency ? rxFrequency(4) : txFrequency(4);
        bool& flag = transmit ? txKeyed : rxKeyed;

        w->KeyingButtonClick(page);
        QVERIFY(flag);
        QCOMPARE(b->text(), ChildText(transmit ? "C0014" : "C0015"));
        QCOMPARE(actionCode, transmit ? 0 : 2);
        QCOMPARE(frames().back(), LiveSet(item, transmit ? 0 : 2, 5, f, 99));
        QCOMPARE(TimerOf(*w, "CheckTimer")->isActive(), readBack);
        if (readBack) {
            w->CheckTimerTimer();  // read-back in between: actionCode 7
            QVERIFY(TimerOf(*w, "ReadTimer")->isActive());
            QCOMPARE(actionCode, 7);
        }
        settle(*w);

        w->KeyingButtonClick(page);
        QVERIFY(!flag);
        QCOMPARE(b->text(), ChildText(transmit ? "C0007" : "C0008"));
        QCOMPARE(actionCode, transmit ? 1 : 3);
        QCOMPARE(frames().back(), LiveSet(item, transmit ? 1 : 3, 5, f, 99));
        QVERIFY(!TimerOf(*w, "CheckTimer")->isActive());
        QVERIFY(!TimerOf(*w, "ReadTimer")->isActive());
        QVERIFY(TimerOf(*w, "TimeOutTimer")->isActive());
    }

    void readBackButtonsIgnoreOtherItems_data() {
        QTest::addColumn<Page>("page");
        QTest::addColumn<int>("item");
        QTest::newRow("Button3, item 5") << Page::Vox << 5;
        QTest::newRow("Button17, item 2") << Page::Temp << 2;
        QTest::newRow("Button9, item 11") << Page::Ctcss << 11;
        QTest::newRow("Button9, item 23") << Page::Ctcss << 23;
    }
    void readBackButtonsIgnoreOtherItems() {
        QFETCH(Page, page);
        QFETCH(int, item);
        auto w = open();
        currentItem = item;
        actionCode = 4;
        QPushButton* b = button(*w, PageSpecOf(page).keyingButton);
        b->setText("idle");
        w->KeyingButtonClick(page);
        QVERIFY(frames().empty());
        QCOMPARE(b->text(), QString("idle"));
        QCOMPARE(actionCode, 4);
        QVERIFY(!txKeyed && !rxKeyed);
        QVERIFY(!TimerOf(*w, "CheckTimer")->isActive());
    }

    void keyingIgnoresTunerMode() {
        auto w = open(VirtualPreset::Variant0, false);
        currentItem = 10;
        w->KeyingButtonClick(Page::Power);
        QCOMPARE(frames().size(), std::size_t{1});
        QVERIFY(txKeyed);
    }

    // ---- saving ---------------------------------------------------------------------------

    void saveButtonsSendTheirRecord_data() {
        QTest::addColumn<VirtualPreset>("preset");
        QTest::addColumn<Page>("page");
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("saved");  // the item code in the frame, -1: nothing sent
        QTest::addColumn<bool>("wide");
        QTest::newRow("Button2 pair 69") << VirtualPreset::Variant0 << Page::Power << 69 << 69 << false;
        QTest::newRow("Button2 pair 19") << VirtualPreset::Variant0 << Page::Power << 19 << 19 << false;
        QTest::newRow("Button2 pair 80") << VirtualPreset::Variant0 << Page::Power << 80 << 80 << false;
        QTest::newRow("Button2 item 26: the triple") << VirtualPreset::Variant0 << Page::Power << 26 << 26 << true;
        QTest::newRow("Button2 item 52: nothing") << VirtualPreset::Variant0 << Page::Power << 52 << -1 << false;
        QTest::newRow("Button2 item 4: nothing") << VirtualPreset::Variant0 << Page::Power << 4 << -1 << false;
        QTest::newRow("Button12 item 86") << VirtualPreset::Variant1 << Page::PowerMobile << 86 << 86 << true;
        QTest::newRow("Button12 item 18: nothing") << VirtualPreset::Variant1 << Page::PowerMobile << 18 << -1 << false;
        QTest::newRow("Button10 item 71") << VirtualPreset::Variant0 << Page::Ctcss << 71 << 71 << false;
        QTest::newRow("Button10 item 5: nothing") << VirtualPreset::Variant0 << Page::Ctcss << 5 << -1 << false;
        QTest::newRow("Button6 item 23") << VirtualPreset::Variant0 << Page::FreqStability << 23 << 23 << false;
        QTest::newRow("Button6 item 24: nothing") << VirtualPreset::Variant0 << Page::FreqStability << 24 << -1 << false;
        QTest::newRow("Button20 item 93") << VirtualPreset::LargeNewFirmware << Page::Fsk << 93 << 93 << false;
        QTest::newRow("Button20 item 9: nothing") << VirtualPreset::LargeNewFirmware << Page::Fsk << 9 << -1 << false;
        QTest::newRow("Button8 item 22: nothing") << VirtualPreset::Variant0 << Page::Sql << 22 << -1 << false;
        QTest::newRow("Button14 item 22: nothing") << VirtualPreset::Variant0 << Page::ErrorRate << 22 << -1 << false;
        QTest::newRow("Button4 item 9: nothing") << VirtualPreset::Variant0 << Page::Vox << 9 << -1 << false;
    }
    void saveButtonsSendTheirRecord() {
        QFETCH(VirtualPreset, preset);
        QFETCH(Page, page);
        QFETCH(int, item);
        QFETCH(int, saved);
        QFETCH(bool, wide);
        auto w = open(preset);
        currentItem = item;
        currentPoint = 2;
        // Values the radio does not hold yet (frequencies kept).
        for (std::size_t i = 64; i < TunerImage::kSize; ++i) tunerImage[i] ^= 0x55;
        const TunerImage before = tunerImage;
        w->SaveButtonClick(page);
        QVERIFY(tunerImage.bytes == before.bytes);
        if (saved < 0) {
            QVERIFY(frames().empty());
            QVERIFY(!TimerOf(*w, "SaveTimer")->isActive() && !TimerOf(*w, "SaveItemTimer2")->isActive());
            return;
        }
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(frames()[0], Save(saved, wide ? WideSaveRecord(tunerImage, item) : SaveRecord(tunerImage, item)));
        QCOMPARE(TimerOf(*w, "SaveTimer")->isActive(), !wide);
        QCOMPARE(TimerOf(*w, "SaveItemTimer2")->isActive(), wide);
        QVERIFY(!TimerOf(*w, "TimeOutTimer")->isActive());  // no live-set
        settle(*w);
        QVERIFY(!TimerOf(*w, "SaveTimer")->isActive() && !TimerOf(*w, "SaveItemTimer2")->isActive());
        QVERIFY(env_->dialogs().messages.isEmpty());
    }

    void squelchSaveStoresTheReadingAndUnkeys() {
        auto w = open();
        currentItem = 6;
        w->PointDoubleClicked(Page::Sql, 4);
        settle(*w);
        env_->radio().setReading(6, {201});
        w->KeyingButtonClick(Page::Sql);  // receive on
        settle(*w);
        w->CheckTimerTimer();
        w->ReadTimerTimer();
        QCOMPARE(currentValue, 201);
        TimerOf(*w, "CheckTimer")->start();
        env_->radio().clearReceivedFrames();
        w->SaveButtonClick(Page::Sql);
        QCOMPARE(button(*w, "Button7")->text(), ChildText("C0008"));
        QVERIFY(!rxKeyed);
        QVERIFY(!TimerOf(*w, "CheckTimer")->isActive());
        QVERIFY(!TimerOf(*w, "ReadTimer")->isActive());
        QCOMPARE(ArrayByte(6, 4), 201);
        // Only the save goes out: no receive-off command.
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(frames()[0], Save(6, SaveRecord(tunerImage, 6)));
        settle(*w);
        QCOMPARE(static_cast<int>(env_->radio().storedImage()[static_cast<std::size_t>(ItemBytes(6)->offset + 3)]), 201);
    }

    void voxSaveSendsTheValueInForce() {
        auto w = open();
        currentItem = 62;
        currentValue = 0x3C;
        TimerOf(*w, "CheckTimer")->start();
        TimerOf(*w, "ReadTimer")->start();
        w->SaveButtonClick(Page::Vox);
        QVERIFY(!TimerOf(*w, "CheckTimer")->isActive() && !TimerOf(*w, "ReadTimer")->isActive());
        QCOMPARE(Byte(ItemBytes(62)->offset), 0x3C);
        QCOMPARE(frames().size(), std::size_t{1});
        QCOMPARE(frames()[0], Save(62, {0x3C}));
    }

    // ---- arrow keys -------------------------------------------------------------------------

    void arrowKeysOnFilteredPointButtons_data() {
        QTest::addColumn<Page>("page");
        QTest::addColumn<QString>("focused");
        QTest::addColumn<QString>("next");
        QTest::addColumn<bool>("filtered");
        QTest::newRow("RadioButton3") << Page::Power << "RadioButton3" << "RadioButton4" << true;
        QTest::newRow("RadioButton15") << Page::Ctcss << "RadioButton15" << "RadioButton16" << true;
        QTest::newRow("RadioButton19") << Page::Sql << "RadioButton19" << "RadioButton20" << true;
        // The other pages' point buttons move the same way.
        QTest::newRow("RadioButton9") << Page::PowerMobile << "RadioButton9" << "RadioButton10" << true;
        QTest::newRow("RadioButton35") << Page::Fsk << "RadioButton35" << "RadioButton36" << true;
    }
    void arrowKeysOnFilteredPointButtons() {
        QFETCH(Page, page);
        QFETCH(QString, focused);
        QFETCH(QString, next);
        QFETCH(bool, filtered);
        auto w = open();
        w->show();
        w->ShowPage(static_cast<int>(page));
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        auto* b = w->control<TPointButton>(focused);
        auto* n = w->control<TPointButton>(next);
        b->setChecked(true);
        b->setFocus();
        QTRY_VERIFY(b->hasFocus());
        // Down and Right move to the next point, Up and Left back: two on,
        // two back, one on ends on the next point.
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left, Qt::Key_Down}) {
            QTest::keyClick(QApplication::focusWidget(), key);
        }
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(n));
        // The check stays off points that no double-click has made live:
        // coming back to b acts as a click on it and takes the stray check off.
        Q_UNUSED(filtered);
        QVERIFY(!b->isChecked());
        QVERIFY(!n->isChecked());
    }

    void filterIsRemovedWithTheWindow() {
        {
            auto w = open();
            QVERIFY(w->ApplicationEvents1 != nullptr);
        }
        // A widget named like a filtered button outside any tuning window.
        TPointButton stray;
        stray.setObjectName("RadioButton3");
        TPointButton other;
        other.setObjectName("RadioButton3b");
        bool handled = false;
        auto w = open();
        QKeyEvent arrow(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        w->ApplicationEvents1Message(&stray, &arrow, handled);
        QVERIFY(!handled);
        w->ApplicationEvents1Message(w->control("RadioButton3"), &arrow, handled);
        QVERIFY(handled);
        handled = false;
        QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
        w->ApplicationEvents1Message(w->control("RadioButton3"), &letter, handled);
        QVERIFY(!handled);
        // The single point of a page: the arrow is taken, the focus stays.
        w->ApplicationEvents1Message(w->control("RadioButton6"), &arrow, handled);
        QVERIFY(handled);
    }

    // ---- look ------------------------------------------------------------------------------

    void keyingThePowerPageAtPointFourShowsTheKeyedCaption() {
        auto w = open();
        QVERIFY(test::KeyPowerPageAtPointFour(*w));
        QCOMPARE(button(*w, "Button1")->text(), ChildText("C0014"));
        w->KeyingButtonClick(Page::Power);
        settle(*w);
        QCOMPARE(button(*w, "Button1")->text(), ChildText("C0007"));
    }
};

QTEST_MAIN(KeyingTest)
#include "keying_test.moc"
