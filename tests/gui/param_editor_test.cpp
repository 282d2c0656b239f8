// The parameter editor form (its parse and cell rules are core tests)
// on the images of the virtual radio's presets. Cells are typed
// into through the cell editor with real key events; leaving a cell is the
// editor's exit handler (the focus loss of a real session).
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "dialogs/Param.h"
#include "dialogs/TParamForm.h"
#include "lang/Loadlanguage.h"
#include "support/TestEnvironment.h"

using namespace varnel;
using varnel::test::TestEnvironment;
using varnel::test::Tr;

Q_DECLARE_METATYPE(varnel::VirtualPreset)

namespace {

std::uint32_t BigEndianAt(const TunerImage& image, std::size_t offset) {
    return std::uint32_t{image[offset]} << 24 | std::uint32_t{image[offset + 1]} << 16 |
           std::uint32_t{image[offset + 2]} << 8 | std::uint32_t{image[offset + 3]};
}

// The radio's information block and image as entering tuner mode leaves them.
void LoadPreset(VirtualPreset preset) {
    radioInfo = VirtualPresetInfo(preset);
    tunerImage = VirtualPresetImage(preset);
}

// Selects the cell, replaces the editor's text by typing `keys`, leaves the cell.
void TypeIntoCell(TParamForm& form, int col, int row, const QString& keys) {
    form.StringGrid1SelectCell(col, row);
    QVERIFY2(form.editorOpen(), qPrintable(QStringLiteral("no editor on (%1, %2)").arg(col).arg(row)));
    form.Edit1->selectAll();
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    QTest::keyClicks(form.Edit1, keys);
    form.Edit1Exit();
}

// The colour the grid paints in the middle of the cell's top-left corner area.
QColor CellColour(TParamForm& form, int col, int row) {
    const QModelIndex index = form.StringGrid1->model()->index(row - 1, col);
    form.StringGrid1->scrollTo(index);
    const QImage picture = form.StringGrid1->viewport()->grab().toImage();
    const QRect rect = form.StringGrid1->visualRect(index);
    return picture.pixelColor(rect.left() + 3, rect.top() + 3);
}

}  // namespace

class ParamEditorTest : public QObject {
    Q_OBJECT

private slots:
    // ---- pure rules ----

    // ---- the form ----
    void showLabelsTheGridInTheLanguage_data();
    void showLabelsTheGridInTheLanguage();
    void rowCountAndLayoutFollowTheRadio_data();
    void rowCountAndLayoutFollowTheRadio();
    void frequencyEntryIsStoredBigEndian();
    void oddFrequencyTexts_data();
    void oddFrequencyTexts();
    void bytesAboveTheRangeAreRefused();
    void clearedCellKeepsItsValue();
    void cellPassedThroughKeepsItsValue();
    void frequencyRowsNeedTheExpertSwitch();
    void singleRowsEditOnlyColumnThree();
    void eightPointLayoutEditsPointsSixToEight();
    void rowTwentyNineOpensNoEditor();
    void editorKeysFollowTheRow();
    void enterCommitsTheCell();
    void bandSwitchDiscardsEditsAndCancelRestoresIt();
    void confirmCopiesAndRunsTheHandler();
    void eachShowRebuildsFromTheImage();
    void lockedCellsAreDrawnDifferently();
    void rowMarkerWhileEditing();
    void mouseAndFocusDriveTheEditor();
};

// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------

void ParamEditorTest::showLabelsTheGridInTheLanguage_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("points");
    QTest::newRow("english") << kLanguageEnglish << 8;
    QTest::newRow("chinese") << kLanguageChinese << 10;
}

void ParamEditorTest::showLabelsTheGridInTheLanguage() {
    QFETCH(int, language);
    QFETCH(int, points);
    TestEnvironment env;
    OpenLanguage(language);
    LoadPreset(VirtualPreset::LargeNewFirmware);
    TParamForm form;
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Param"));
    QCOMPARE(form.font().pointSize(), points);
    QVERIFY(!Tr("Param", "P0001").isEmpty());
    for (int c = 0; c < 6; ++c) {
        const std::string key = "P000" + std::to_string(c + 1);
        QCOMPARE(form.cellText(c, 0), Tr("Param", key.c_str()));
    }
    QCOMPARE(form.Button3->text(), Tr("Param", "P0011"));
    QCOMPARE(form.Button4->text(), Tr("Param", "P0012"));
    QCOMPARE(form.Label1->text(), Tr("Param", "P0016"));
    QCOMPARE(form.cellText(0, 1), Tr("ChildForm", "C0010"));
    QCOMPARE(form.cellText(0, 2), Tr("ChildForm", "C0011"));
    QCOMPARE(form.cellText(0, 3), Tr("TreeView", "T0011"));
    QCOMPARE(form.cellText(0, 9), Tr("TreeView", "T0013"));
    QCOMPARE(form.cellText(0, 10), QStringLiteral("Ref 1"));
    QCOMPARE(form.cellText(0, 12), Tr("Param", "P0013"));
    QCOMPARE(form.cellText(0, 13), Tr("Param", "P0014"));
    QCOMPARE(form.cellText(0, 30), Tr("Param", "P0015"));
    QCOMPARE(form.cellText(0, 36), Tr("TreeView", "T0051"));
    QCOMPARE(form.cellText(0, 45), Tr("TreeView", "T0062"));
    // The combo's fixed items are not translated.
    QCOMPARE(form.ComboBox1->itemText(0), QStringLiteral("400-470 MHz"));
    QCOMPARE(form.ComboBox1->itemText(1), QStringLiteral("136-174 MHz"));
    // The next show after a language switch takes the new texts.
    form.hide();
    OpenLanguage(language == kLanguageEnglish ? kLanguageChinese : kLanguageEnglish);
    form.show();
    QCOMPARE(form.Button3->text(), Tr("Param", "P0011"));
    QCOMPARE(form.font().pointSize(), language == kLanguageEnglish ? 10 : 8);
}

void ParamEditorTest::rowCountAndLayoutFollowTheRadio_data() {
    QTest::addColumn<VirtualPreset>("preset");
    QTest::addColumn<int>("bandValue");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("width");
    QTest::newRow("small model band 0") << VirtualPreset::Variant0 << 0 << 31 << 6 << 803;
    QTest::newRow("small model band 1") << VirtualPreset::Variant1 << 1 << 31 << 6 << 803;
    QTest::newRow("large new firmware band 0") << VirtualPreset::LargeNewFirmware << 0 << 46 << 6 << 803;
    QTest::newRow("large new firmware band 1") << VirtualPreset::LargeNewFirmware << 1 << 46 << 9 << 983;
}

void ParamEditorTest::rowCountAndLayoutFollowTheRadio() {
    QFETCH(VirtualPreset, preset);
    QFETCH(int, bandValue);
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(int, width);
    TestEnvironment env;
    LoadPreset(preset);
    band = bandValue;
    TParamForm form;
    form.show();
    QCOMPARE(form.rowCount(), rows);
    QCOMPARE(form.StringGrid1->rowCount(), rows - 1);
    QCOMPARE(form.StringGrid1->columnCount(), columns);
    QCOMPARE(form.width(), width);
    QCOMPARE(form.height(), 563);
    QCOMPARE(form.ComboBox1->currentIndex(), bandValue);
    QCOMPARE(form.StringGrid1->columnWidth(0), 178);
    QCOMPARE(form.StringGrid1->columnWidth(1), columns == 9 ? 90 : 113);
    QCOMPARE(form.StringGrid1->columnWidth(columns - 1), columns == 9 ? 90 : 111);
    // Every shown value is the image's, at the band's half.
    const int h = 256 * bandValue;
    QCOMPARE(form.cellText(1, 2), QString::fromStdString(FormatMegahertz(BigEndianAt(tunerImage, h))));
    QCOMPARE(form.cellText(3, 1), QString::fromStdString(FormatMegahertz(BigEndianAt(tunerImage, h + 32 + 8))));
    QCOMPARE(form.cellText(3, 9), QString::number(tunerImage[h + 0xDC]));
    QCOMPARE(form.cellText(2, 9), QString());
    QCOMPARE(form.cellText(4, 13), QString::number(tunerImage[h + 0x6C + 3]));
    QCOMPARE(form.cellText(5, 29), QString::number(tunerImage[h + 0xD4 + 4]));
    if (columns == 9) {
        QCOMPARE(form.cellText(8, 24), QString::number(tunerImage[h + 0xCC + 7]));
        QCOMPARE(form.cellText(6, 1), QString::fromStdString(FormatMegahertz(BigEndianAt(tunerImage, h + 32 + 20))));
        QCOMPARE(form.cellText(6, 20), QString());
    }
    if (rows == 46) {
        const std::size_t block = bandValue == 0 ? 512 : 680;  // item 31 / 91
        QCOMPARE(form.cellText(2, 31), QString::number(tunerImage[block + 1]));
        QCOMPARE(form.cellText(3, 35), QString::number(tunerImage.word(block + 40 + 4)));
        const std::size_t third = bandValue == 0 ? 568 : 736;  // item 32 / 92, rows 41-45
        QCOMPARE(form.cellText(1, 44), QString::number(tunerImage.word(third + 24)));
    }
}

void ParamEditorTest::frequencyEntryIsStoredBigEndian() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    expertMode = true;
    const TunerImage before = tunerImage;
    TParamForm form;
    form.show();
    TypeIntoCell(form, 1, 2, QStringLiteral("435.05"));
    QCOMPARE(form.editImage[0], std::uint8_t{0x19});
    QCOMPARE(form.editImage[1], std::uint8_t{0xEE});
    QCOMPARE(form.editImage[2], std::uint8_t{0x56});
    QCOMPARE(form.editImage[3], std::uint8_t{0x10});
    QCOMPARE(form.cellText(1, 2), QStringLiteral("435.050000"));
    // Only the working copy has changed so far.
    QCOMPARE(tunerImage.bytes, before.bytes);
    form.Button3Click();
    QCOMPARE(tunerImage.txFrequencyIn(0, 0), 435050000u);
}

void ParamEditorTest::oddFrequencyTexts_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("keepsOld");
    QTest::addColumn<uint>("stored");
    QTest::addColumn<QString>("shown");
    // A text outside the band or unreadable is refused, and the old value
    // stays (43.5 would otherwise store 0 Hz, 999.9 a frequency of no band).
    QTest::newRow("43.5") << "43.5" << true << 0u << "";
    QTest::newRow("999.9") << "999.9" << true << 0u << "";
    QTest::newRow("other band") << "150.0" << true << 0u << "";
    QTest::newRow("in band") << "435.123456" << false << 435123450u << "435.123450";
    QTest::newRow(".5") << ".5" << true << 0u << "";
    QTest::newRow("point at fifth") << "4350.5" << true << 0u << "";
    QTest::newRow("ten digits") << "9999999999" << true << 0u << "";
    QTest::newRow("nothing") << "" << true << 0u << "";
}

void ParamEditorTest::oddFrequencyTexts() {
    QFETCH(QString, keys);
    QFETCH(bool, keepsOld);
    QFETCH(uint, stored);
    QFETCH(QString, shown);
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    expertMode = true;
    const std::uint32_t old = tunerImage.txFrequencyIn(0, 3);
    QVERIFY(old != 0);
    TParamForm form;
    form.show();
    const QString oldText = form.cellText(4, 2);
    TypeIntoCell(form, 4, 2, keys);
    QCOMPARE(form.editImage.txFrequencyIn(0, 3), keepsOld ? old : stored);
    QCOMPARE(form.cellText(4, 2), keepsOld ? oldText : shown);
    // A refusal says so.
    QCOMPARE(env.dialogs().messages.size(), keepsOld ? 1 : 0);
    if (keepsOld) QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Error);
}

void ParamEditorTest::bytesAboveTheRangeAreRefused() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::LargeNewFirmware);
    TParamForm form;
    form.show();
    const std::uint8_t old66 = form.editImage[66];
    TypeIntoCell(form, 3, 3, QStringLiteral("300"));  // item 2, byte 66: refused, kept
    QCOMPARE(form.editImage[66], old66);
    QCOMPARE(form.cellText(3, 3), QString::number(old66));
    QCOMPARE(env.dialogs().messages.size(), 1);
    TypeIntoCell(form, 2, 11, QStringLiteral("42"));  // item 4, point 2: byte 69
    QCOMPARE(form.editImage[69], std::uint8_t{42});
    TypeIntoCell(form, 1, 34, QStringLiteral("999"));  // item 31 column D, point 1: 536 (0 to 4096)
    QCOMPARE(form.editImage.word(536), std::uint16_t{999});
    QCOMPARE(form.cellText(1, 34), QStringLiteral("999"));
    TypeIntoCell(form, 5, 45, QStringLiteral("7"));  // item 32 column E, point 5: 568 + 40 + 8
    QCOMPARE(form.editImage.word(616), std::uint16_t{7});
    QCOMPARE(env.dialogs().messages.size(), 1);  // only the 300
}

void ParamEditorTest::clearedCellKeepsItsValue() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    TParamForm form;
    form.show();
    const std::uint8_t old = tunerImage[76 + 2];  // row 14, item 5, point 3
    form.StringGrid1SelectCell(3, 14);
    QVERIFY(form.editorOpen());
    QCOMPARE(form.Edit1->text(), QString::number(old));
    form.Edit1->selectAll();
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    QCOMPARE(form.Edit1->text(), QString());
    form.Edit1Exit();
    QCOMPARE(form.editImage[78], old);
    QCOMPARE(form.cellText(3, 14), QString::number(old));
}

void ParamEditorTest::cellPassedThroughKeepsItsValue() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::LargeNewFirmware);
    expertMode = true;
    tunerImage.setWord(536, 4096);             // row 34, point 1: above what the editor can type
    tunerImage.setTxFrequencyIn(0, 0, 435050005);  // not a multiple of 10 Hz
    TParamForm form;
    form.show();
    form.StringGrid1SelectCell(1, 34);
    QCOMPARE(form.Edit1->text(), QStringLiteral("4096"));
    form.StringGrid1SelectCell(1, 2);  // leaves row 34 without a keystroke
    QCOMPARE(form.Edit1->text(), QStringLiteral("435.050005"));
    form.Edit1Exit();
    QCOMPARE(form.editImage.word(536), std::uint16_t{4096});
    QCOMPARE(form.editImage.txFrequencyIn(0, 0), 435050005u);
    QCOMPARE(form.cellText(1, 34), QStringLiteral("4096"));
}

void ParamEditorTest::frequencyRowsNeedTheExpertSwitch() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    TParamForm form;
    form.show();
    for (int row : {1, 2}) {
        for (int col = 1; col <= 5; ++col) {
            form.StringGrid1SelectCell(col, row);
            QVERIFY(!form.editorOpen());
            QVERIFY(form.Edit1->isHidden());
            // The selection is remembered all the same.
            QCOMPARE(form.editCol, col);
            QCOMPARE(form.editRow, row);
        }
    }
    expertMode = true;
    for (int row : {1, 2}) {
        for (int col = 1; col <= 5; ++col) {
            form.StringGrid1SelectCell(col, row);
            QVERIFY(form.editorOpen());
            QCOMPARE(form.Edit1->text(), form.cellText(col, row));
        }
    }
    form.StringGrid1SelectCell(0, 2);  // the caption column never edits
    QVERIFY(!form.editorOpen());
}

void ParamEditorTest::singleRowsEditOnlyColumnThree() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    expertMode = true;  // unlocks frequencies only
    TParamForm form;
    form.show();
    for (int row = 3; row <= 10; ++row) {
        for (int col = 1; col <= 5; ++col) {
            form.StringGrid1SelectCell(col, row);
            QCOMPARE(form.editorOpen(), col == 3);
        }
    }
    TypeIntoCell(form, 3, 10, QStringLiteral("123"));  // "Ref 1", byte 223
    QCOMPARE(form.editImage[223], std::uint8_t{123});
}

void ParamEditorTest::eightPointLayoutEditsPointsSixToEight() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::LargeNewFirmware);
    band = 1;
    TParamForm form;
    form.show();
    QVERIFY(form.layout().eightPoints);
    TypeIntoCell(form, 7, 22, QStringLiteral("77"));  // item 79, point 7: 444 + 6
    QCOMPARE(form.editImage[450], std::uint8_t{77});
    QCOMPARE(form.cellText(7, 22), QStringLiteral("77"));
    form.StringGrid1SelectCell(7, 14);
    QVERIFY(!form.editorOpen());
    form.StringGrid1SelectCell(6, 30);
    QVERIFY(!form.editorOpen());
    // The same radio in band 0 has five points only.
    form.ComboBox1Select(0);
    QVERIFY(!form.layout().eightPoints);
    QCOMPARE(form.StringGrid1->columnCount(), 6);
    QCOMPARE(form.width(), 803);
}

void ParamEditorTest::rowTwentyNineOpensNoEditor() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    TParamForm form;
    form.show();
    for (int col = 1; col <= 5; ++col) {
        form.StringGrid1SelectCell(col, 29);
        QVERIFY(!form.editorOpen());
        QCOMPARE(form.cellText(col, 29), QString::number(tunerImage[212 + col - 1]));
    }
    form.Button3Click();
    QCOMPARE(tunerImage[212], VirtualPresetImage(VirtualPreset::Variant0)[212]);
}

void ParamEditorTest::editorKeysFollowTheRow() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    expertMode = true;
    TParamForm form;
    form.show();
    // Byte rows: nothing typed vanishes (eight characters at most), so a
    // wrong entry is seen and refused rather than silently changed.
    const std::uint8_t old68 = form.editImage[68];
    form.StringGrid1SelectCell(1, 11);
    form.Edit1->selectAll();
    QTest::keyClicks(form.Edit1, QStringLiteral("1a.-2 34"));
    QCOMPARE(form.Edit1->text(), QStringLiteral("1a.-2 34"));
    form.Edit1Exit();
    QCOMPARE(form.editImage[68], old68);
    QCOMPARE(env.dialogs().messages.size(), 1);
    form.StringGrid1SelectCell(1, 11);
    form.Edit1->selectAll();
    QTest::keyClicks(form.Edit1, QStringLiteral("123"));
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    QCOMPARE(form.Edit1->text(), QStringLiteral("12"));
    form.Edit1Exit();
    QCOMPARE(form.editImage[68], std::uint8_t{12});
    // Frequency rows: ten characters.
    form.StringGrid1SelectCell(1, 1);
    form.Edit1->selectAll();
    QTest::keyClicks(form.Edit1, QStringLiteral("435.0500001"));
    QCOMPARE(form.Edit1->text(), QStringLiteral("435.050000"));
    // Paste is a keystroke outside the set as well.
    QTest::keyClick(form.Edit1, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form.Edit1->text(), QStringLiteral("435.050000"));
    form.Edit1Exit();
    QCOMPARE(form.editImage.rxFrequencyIn(0, 0), 435050000u);
}

void ParamEditorTest::enterCommitsTheCell() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    const TunerImage before = tunerImage;
    TParamForm form;
    form.show();
    form.StringGrid1SelectCell(2, 12);  // item 10, point 2: byte 117
    form.Edit1->selectAll();
    QTest::keyClicks(form.Edit1, QStringLiteral("99"));
    QTest::keyClick(form.Edit1, Qt::Key_Return);
    // Enter stores the cell and closes the editor; the form stays open.
    QVERIFY(!form.editorOpen());
    QVERIFY(form.isVisible());  // no default button took the key
    QCOMPARE(form.editImage[117], std::uint8_t{99});
    QCOMPARE(form.cellText(2, 12), QStringLiteral("99"));
    QCOMPARE(tunerImage.bytes, before.bytes);
}

void ParamEditorTest::bandSwitchDiscardsEditsAndCancelRestoresIt() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    tunerImage[68] = 50;  // row 11, point 1
    const TunerImage before = tunerImage;
    TParamForm form;
    form.show();
    TypeIntoCell(form, 1, 11, QStringLiteral("1"));
    QCOMPARE(form.editImage[68], std::uint8_t{1});
    // Choosing the band already shown changes nothing.
    form.ComboBox1Select(0);
    QCOMPARE(form.editImage[68], std::uint8_t{1});
    form.ComboBox1Select(1);
    QCOMPARE(band, 1);
    QCOMPARE(form.editImage.bytes, before.bytes);
    QCOMPARE(form.cellText(1, 11), QString::number(before[256 + 68]));
    form.Button4Click();
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QVERIFY(!form.isVisible());
    QCOMPARE(tunerImage.bytes, before.bytes);
    // Cancel gives back the band that was in force when the form opened.
    QCOMPARE(band, 0);
}

void ParamEditorTest::confirmCopiesAndRunsTheHandler() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    band = 1;
    TParamForm form;
    int calls = 0;
    std::uint8_t seen = 0;
    form.setConfirmHandler([&] {
        ++calls;
        seen = tunerImage[256 + 0xE0 + 4];  // row 30, point 5 in band 1
    });
    form.show();
    TypeIntoCell(form, 5, 30, QStringLiteral("201"));
    form.StringGrid1SelectCell(5, 30);  // the editor is still open at Confirm
    form.Edit1->selectAll();
    QTest::keyClicks(form.Edit1, QStringLiteral("202"));
    form.Button3Click();
    QCOMPARE(calls, 1);
    QCOMPARE(seen, std::uint8_t{202});
    QCOMPARE(tunerImage.bytes, form.editImage.bytes);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QVERIFY(!form.isVisible());
}

void ParamEditorTest::eachShowRebuildsFromTheImage() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    TParamForm form;
    form.show();
    TypeIntoCell(form, 1, 15, QStringLiteral("3"));
    form.Button4Click();
    tunerImage[84] = 250;  // row 15, point 1, changed elsewhere meanwhile
    form.show();
    QCOMPARE(form.cellText(1, 15), QStringLiteral("250"));
    QCOMPARE(form.editImage.bytes, tunerImage.bytes);
    QVERIFY(!form.editorOpen());
}

void ParamEditorTest::lockedCellsAreDrawnDifferently() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::LargeNewFirmware);
    band = 1;
    TParamForm form;
    form.show();
    const QColor white(Qt::white);
    QVERIFY(CellColour(form, 1, 1) != white);   // frequency without the switch
    QVERIFY(CellColour(form, 4, 9) != white);   // single row beside column 3
    QCOMPARE(CellColour(form, 3, 9), white);
    QCOMPARE(CellColour(form, 7, 22), white);
    QVERIFY(CellColour(form, 7, 14) != white);
    QVERIFY(CellColour(form, 0, 14) != white);  // caption column
    QCOMPARE(CellColour(form, 4, 9), CellColour(form, 0, 14));
    form.hide();
    expertMode = true;
    form.show();
    QCOMPARE(CellColour(form, 1, 1), white);
    QCOMPARE(CellColour(form, 8, 2), white);
}

void ParamEditorTest::rowMarkerWhileEditing() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    TParamForm form;
    form.show();
    const QRect caption = form.StringGrid1->visualRect(form.StringGrid1->model()->index(9, 0));  // row 10
    const QPoint marker(caption.left() + 4 + 6, caption.top() + caption.height() / 2);
    auto markerPixel = [&] { return form.StringGrid1->viewport()->grab().toImage().pixelColor(marker); };
    QVERIFY(markerPixel() != QColor(Qt::black));
    form.StringGrid1SelectCell(3, 10);
    QVERIFY(form.editorActive);
    QCOMPARE(markerPixel(), QColor(Qt::black));
    form.Edit1Exit();
    QVERIFY(!form.editorActive);
    QVERIFY(markerPixel() != QColor(Qt::black));
}

void ParamEditorTest::mouseAndFocusDriveTheEditor() {
    TestEnvironment env;
    LoadPreset(VirtualPreset::Variant0);
    TParamForm form;
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) QSKIP("the platform gives the form no focus");
    auto clickCell = [&form](int col, int row) {
        const QRect rect = form.StringGrid1->visualRect(form.StringGrid1->model()->index(row - 1, col));
        QTest::mouseClick(form.StringGrid1->viewport(), Qt::LeftButton, {}, rect.center());
    };
    clickCell(2, 16);  // item 7, point 2: byte 93
    QVERIFY(form.editorOpen());
    QVERIFY(form.Edit1->hasFocus());
    QVERIFY(form.editorActive);
    QTest::keyClicks(form.Edit1, QStringLiteral("88"));  // the whole text was selected
    clickCell(4, 9);  // a locked cell: the focus loss stores the edited one
    QVERIFY(!form.editorOpen());
    QVERIFY(!form.editorActive);
    QCOMPARE(form.editImage[93], std::uint8_t{88});
    QCOMPARE(form.cellText(2, 16), QStringLiteral("88"));
    // Clicking the cell selected last once more opens the editor again.
    clickCell(2, 16);
    QVERIFY(form.editorOpen());
    clickCell(2, 16);
    QVERIFY(form.editorOpen());
    // Tab leaves the cell for the next one, as in a spreadsheet.
    form.Edit1->selectAll();
    QTest::keyClicks(form.Edit1, QStringLiteral("9"));
    QTest::keyClick(form.Edit1, Qt::Key_Tab);
    QCOMPARE(form.editImage[93], std::uint8_t{9});
    QCOMPARE(form.editCol, 3);
    QCOMPARE(form.editRow, 16);
    QVERIFY(form.editorOpen());
    QCOMPARE(form.Edit1->text(), QString::number(tunerImage[94]));
    // Escape closes the form like Cancel.
    QTest::keyClick(form.Edit1, Qt::Key_Escape);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Rejected));
}

QTEST_MAIN(ParamEditorTest)
#include "param_editor_test.moc"
