// The FSK grid: five columns by five points, one-byte columns A to C and
// 16-bit little-endian columns D and E, every change sent as the point's
// 8-byte record built from the image after the store.
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "support/TuningFixture.h"
#include "tuning/PageTables.h"

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::TestEnvironment;

namespace {
// One FSK live-set (15-byte payload) as the radio received it.
using BlockSet = varnel::test::SentLiveSet;
std::vector<BlockSet> BlockSets(const VirtualRadio& radio) {
    std::vector<BlockSet> out;
    for (const BlockSet& s : varnel::test::SentLiveSets(radio)) {
        if (s.block) out.push_back(s);
    }
    return out;
}

// The pattern image with its own multiplier, FSK words within 0..4096.
void FillImage() {
    varnel::test::FillImage(11, 5);
    for (std::size_t block = 0; block < 6; ++block) {
        const std::size_t s = 512 + 56 * block;
        for (std::size_t k = 0; k < 8; ++k) {
            tunerImage.setWord(s + 24 + 2 * k, static_cast<std::uint16_t>(500 + 10 * k + block));
            tunerImage.setWord(s + 40 + 2 * k, static_cast<std::uint16_t>(20 * k + block));
        }
    }
}

// Cell names: column A to E (0..4) of point p (1..5).
QString EditName(int column, int point) {
    static constexpr int kFirst[] = {47, 42, 52, 57, 62};
    return QStringLiteral("Edit%1").arg(kFirst[column] + point - 1);
}
QString UpDownName(int column, int point) {
    static constexpr int kFirst[] = {47, 42, 52, 57, 62};
    return QStringLiteral("UpDown%1").arg(kFirst[column] + point - 1);
}

}  // namespace

class FskGridTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    void open(int item, int point) {
        FillImage();
        band = item >= 60 ? 1 : 0;
        w_ = test::OpenTuningWindow(*env_, host_, {.preset = VirtualPreset::LargeNewFirmware, .image = test::WindowImage::Kept, .linked = false});
        band = item >= 60 ? 1 : 0;
        test::LinkTunerMode(*env_, true);
        QVERIFY(linkHandle);
        w_->ShowPage(static_cast<int>(Page::Fsk));
        currentItem = item;
        currentPoint = point;
        actionCode = action::kItemSelected;
        for (const RowSpec& row : PageSpecOf(Page::Fsk).rows) {
            for (int c = 0; c < 5; ++c) {
                const std::uint16_t v = fskValue(item, c, row.point);
                upDown(c, row.point)->setPosition(v);
                edit(c, row.point)->setEnabled(row.point == point);
                upDown(c, row.point)->setEnabled(row.point == point);
            }
        }
        radio().clearReceivedFrames();
    }

    // The stored value of column c of point p of `item`, read by offsets
    // written out by hand (S + 0, 8, 16 bytes; S + 24, 40 words).
    static std::uint16_t fskValue(int item, int column, int point) {
        const int starts[] = {512, 568, 624, 680, 736, 792};
        const int s = starts[item < 60 ? item - 31 : item - 91 + 3];
        const int k = point - 1;
        switch (column) {
            case 0: return tunerImage[static_cast<std::size_t>(s + k)];
            case 1: return tunerImage[static_cast<std::size_t>(s + 8 + k)];
            case 2: return tunerImage[static_cast<std::size_t>(s + 16 + k)];
            case 3: return static_cast<std::uint16_t>(tunerImage[static_cast<std::size_t>(s + 24 + 2 * k)] |
                                                      (tunerImage[static_cast<std::size_t>(s + 25 + 2 * k)] << 8));
            default: return static_cast<std::uint16_t>(tunerImage[static_cast<std::size_t>(s + 40 + 2 * k)] |
                                                       (tunerImage[static_cast<std::size_t>(s + 41 + 2 * k)] << 8));
        }
    }

    TUpDown* upDown(int column, int point) { return w_->control<TUpDown>(UpDownName(column, point)); }
    QLineEdit* edit(int column, int point) { return w_->control<QLineEdit>(EditName(column, point)); }

    void enter(int column, int point, const QString& text) { test::EnterText(edit(column, point), text); }

    static void checkRecord(const BlockSet& s, int item, int point) {
        QCOMPARE(int(s.record[0]), int(fskValue(item, 0, point)));
        QCOMPARE(int(s.record[1]), int(fskValue(item, 1, point)));
        QCOMPARE(int(s.record[2]), int(fskValue(item, 2, point)));
        QCOMPARE(int(s.record[3]), 0);
        QCOMPARE(s.record[4] | (s.record[5] << 8), int(fskValue(item, 3, point)));
        QCOMPARE(s.record[6] | (s.record[7] << 8), int(fskValue(item, 4, point)));
    }

private slots:
    void upDownStoresAndSendsTheRecord_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("point");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("offset");  // first image byte of the cell
        QTest::newRow("31 A point 1") << 31 << 1 << 0 << 10 << 1 << 11 << 512;
        QTest::newRow("32 B at 255 up") << 32 << 3 << 1 << 255 << 1 << 255 << 578;
        QTest::newRow("33 C at 0 down") << 33 << 2 << 2 << 0 << -1 << 0 << 641;
        QTest::newRow("31 D reaches 4096") << 31 << 1 << 3 << 4095 << 1 << 4096 << 536;
        QTest::newRow("91 D at 4096 up") << 91 << 4 << 3 << 4096 << 1 << 4096 << 710;
        QTest::newRow("93 E point 5: the image's last block") << 93 << 5 << 4 << 299 << 1 << 300 << 840;
    }
    void upDownStoresAndSendsTheRecord() {
        QFETCH(int, item);
        QFETCH(int, point);
        QFETCH(int, column);
        QFETCH(int, start);
        QFETCH(int, direction);
        QFETCH(int, expected);
        QFETCH(int, offset);
        open(item, point);
        upDown(column, point)->setPosition(start);
        TunerImage want = tunerImage;
        want[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(expected & 0xFF);
        if (column >= 3) want[static_cast<std::size_t>(offset + 1)] = static_cast<std::uint8_t>(expected >> 8);
        upDown(column, point)->step(direction);
        QVERIFY2(tunerImage.bytes == want.bytes, "exactly the cell's bytes change");
        QCOMPARE(int(fskValue(item, column, point)), expected);
        const std::vector<BlockSet> sent = BlockSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].item, item);
        QCOMPARE(sent[0].action, action::kValueAdjusted);
        QCOMPARE(sent[0].point, point);
        QCOMPARE(sent[0].frequency, txFrequency(point - 1));
        checkRecord(sent[0], item, point);
        QCOMPARE(actionCode, action::kValueAdjusted);
    }

    void d4096IsStoredAsZeroThenSixteen() {
        open(31, 1);
        upDown(3, 1)->setPosition(4095);
        upDown(3, 1)->step(+1);
        QCOMPARE(int(tunerImage[536]), 0x00);
        QCOMPARE(int(tunerImage[537]), 0x10);
        const std::vector<BlockSet> sent = BlockSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(int(sent[0].record[4]), 0x00);
        QCOMPARE(int(sent[0].record[5]), 0x10);
        QCOMPARE(edit(3, 1)->text(), upDown(3, 1)->displayText(4096));
    }

    void enterClampsEachColumn_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("A above 255") << 0 << "300" << 255;
        QTest::newRow("C in range") << 2 << "17" << 17;
        QTest::newRow("D three digits") << 3 << "999" << 999;
        QTest::newRow("E zero") << 4 << "0" << 0;
    }
    void enterClampsEachColumn() {
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        open(92, 2);
        enter(column, 2, typed);
        QCOMPARE(int(fskValue(92, column, 2)), stored);
        QCOMPARE(edit(column, 2)->text(), QString::number(stored));
        const std::vector<BlockSet> sent = BlockSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].action, action::kItemSelected);  // Enter keeps the action in force
        QCOMPARE(sent[0].point, 2);
        checkRecord(sent[0], 92, 2);
    }

    void groupedThousandRestoresOnEnter() {
        open(31, 3);
        upDown(3, 3)->setPosition(999);
        upDown(3, 3)->step(+1);  // stores 1000, shows it grouped
        const QString grouped = upDown(3, 3)->displayText(1000);
        QCOMPARE(edit(3, 3)->text(), grouped);
        QVERIFY(grouped != "1000");
        QTest::keyClick(edit(3, 3), Qt::Key_Return);
        QCOMPARE(int(fskValue(31, 3, 3)), 1000);
        QCOMPARE(edit(3, 3)->text(), grouped);
        const std::vector<BlockSet> sent = BlockSets(radio());
        QCOMPARE(sent.size(), std::size_t{2});
        QCOMPARE(sent[1].record[4] | (sent[1].record[5] << 8), 1000);
    }

    void leftCellIsCarriedByTheNextRecord() {
        open(33, 2);
        test::ShowActive(w_.get());
        QLineEdit* b = edit(1, 2);
        b->setFocus();
        QVERIFY(b->hasFocus());
        b->setText("77");
        const int c = fskValue(33, 2, 2);
        upDown(2, 2)->step(+1);  // focus moves to the C cell: B is left first
        QCOMPARE(int(fskValue(33, 1, 2)), 77);
        QCOMPARE(int(fskValue(33, 2, 2)), (c + 1) > 255 ? 255 : c + 1);
        const std::vector<BlockSet> sent = BlockSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(int(sent[0].record[1]), 77);
        QCOMPARE(int(sent[0].record[2]), int(fskValue(33, 2, 2)));
    }

    void leavingStoresWithoutSending() {
        open(91, 1);
        test::ShowActive(w_.get());
        edit(4, 1)->setFocus();
        QVERIFY(edit(4, 1)->hasFocus());
        edit(4, 1)->setText("345");
        edit(0, 1)->setFocus();
        QCOMPARE(int(tunerImage[718 + 2]), 345 & 0xFF);  // item 91, E, point 1
        QCOMPARE(int(tunerImage[719 + 2]), 345 >> 8);
        QCOMPARE(upDown(4, 1)->position(), 345);
        QVERIFY(BlockSets(radio()).empty());
        QVERIFY(radio().receivedFrames().empty());
    }

    void doubleClickResendsTheRecord() {
        open(32, 4);
        w_->show();
        const TunerImage before = tunerImage;
        QTest::mouseDClick(edit(0, 4), Qt::LeftButton);
        QVERIFY(tunerImage.bytes == before.bytes);
        const std::vector<BlockSet> sent = BlockSets(radio());
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent[0].action, action::kValueAdjusted);
        checkRecord(sent[0], 32, 4);
    }

    void item93Point5ColumnEIsTheImagesLastWord() {
        open(93, 5);
        enter(4, 5, "999");
        QCOMPARE(int(tunerImage[840]), 999 & 0xFF);
        QCOMPARE(int(tunerImage[841]), 999 >> 8);
        upDown(4, 5)->step(+1);
        QCOMPARE(int(tunerImage[840]), 1000 & 0xFF);
        QCOMPARE(int(tunerImage[841]), 1000 >> 8);
        for (const BlockSet& s : BlockSets(radio())) {
            QCOMPARE(int(s.record[3]), 0);
            QCOMPARE(s.point, 5);
        }
    }

    void otherCodesAreLeftAlone() {
        // The page loader never leaves another code in force on this page;
        // if one is, the grid neither stores nor sends.
        open(31, 1);
        currentItem = 9;
        const TunerImage before = tunerImage;
        upDown(0, 1)->step(+1);
        enter(1, 1, "12");
        QVERIFY(tunerImage.bytes == before.bytes);
        QVERIFY(radio().receivedFrames().empty());
    }
};

QTEST_MAIN(FskGridTest)
#include "fsk_grid_test.moc"
