// Item selection: the tree's double-click and the page loaders.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidgetItem>

#include "data/Global.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using namespace varnel::tuning;

namespace {

// What a selection does besides bringing the page to the front.
enum class Setup {
    ValueLabel,        // single-byte item shown in Label36
    ValueLabelCheck,   // the same, and RadioButton6 checked
    Ctcss,             // LoadCtcssPage, then lockCtcssPage
    Squelch,           // LoadSquelchPage
    Stability,         // ScrollBar1, UpDown6 and Label28 from the item's byte
    Power,             // LoadPowerPage (rows 6-8 as they were)
    PowerRowsByRule,   // LoadPowerPage; rows 6-8 shown only in band 1 with new firmware
    PowerRowsHidden,   // LoadPowerPage; rows 6-8 hidden
    None,
    Fsk,               // LoadFskPage
    ClearResults,      // the bit-error-rate results emptied
    Mandown,           // the man-down item sent live (tuner mode only)
};

struct Selection {
    int key;         // state index of the tree node
    Page page;
    int item0;       // currentItem in band 0 / band 1
    int item1;
    const char* button;     // keying button
    const char* buttonKey;  // its idle caption ("ChildForm")
    Setup setup;
    int firstPoint;  // point whose handler runs last; 0: none
};

// Key 24 ("T0014") is not listed: its page depends on modelVariant.
constexpr Selection kSelections[] = {
    {2, Page::Vox, 0, 60, "Button3", "C0008", Setup::ValueLabel, 3},
    {3, Page::Vox, 1, 61, "Button3", "C0008", Setup::ValueLabel, 3},
    {21, Page::Vox, 2, 62, "Button3", "C0007", Setup::ValueLabelCheck, 3},
    {22, Page::Vox, 3, 63, "Button3", "C0007", Setup::ValueLabel, 3},
    {52, Page::Vox, 24, 84, "Button3", "C0008", Setup::ValueLabel, 3},
    {53, Page::Vox, 25, 85, "Button3", "C0008", Setup::ValueLabel, 3},
    {4, Page::Ctcss, 4, 64, "Button9", "C0008", Setup::Ctcss, 1},
    {26, Page::Ctcss, 12, 72, "Button9", "C0007", Setup::Ctcss, 1},
    {27, Page::Ctcss, 13, 73, "Button9", "C0007", Setup::Ctcss, 1},
    {28, Page::Ctcss, 14, 74, "Button9", "C0007", Setup::Ctcss, 1},
    {29, Page::Ctcss, 15, 75, "Button9", "C0007", Setup::Ctcss, 1},
    {30, Page::Ctcss, 16, 76, "Button9", "C0007", Setup::Ctcss, 1},
    {31, Page::Ctcss, 17, 77, "Button9", "C0007", Setup::Ctcss, 1},
    {5, Page::Sql, 5, 65, "Button7", "C0008", Setup::Squelch, 1},
    {6, Page::Sql, 6, 66, "Button7", "C0008", Setup::Squelch, 1},
    {7, Page::Sql, 7, 67, "Button7", "C0008", Setup::Squelch, 1},
    {8, Page::Sql, 8, 68, "Button7", "C0008", Setup::Squelch, 1},
    {23, Page::FerqStability, 23, 83, "Button5", "C0007", Setup::Stability, 3},
    {32, Page::Power, 18, 78, "Button1", "C0007", Setup::PowerRowsByRule, 1},
    {33, Page::Power, 20, 80, "Button1", "C0007", Setup::PowerRowsByRule, 1},
    {35, Page::Power, 52, 78, "Button1", "C0007", Setup::PowerRowsHidden, 1},
    {34, Page::Temp, 30, 87, "Button17", "C0007", Setup::None, 3},
    {36, Page::Fsk, 31, 91, "Button19", "C0007", Setup::Fsk, 1},
    {37, Page::Fsk, 33, 93, "Button19", "C0007", Setup::Fsk, 1},  // "T0045" is item 33
    {38, Page::Fsk, 32, 92, "Button19", "C0007", Setup::Fsk, 1},  // "T0057" is item 32
    {51, Page::ErrorRate, 22, 82, "Button13", "C0008", Setup::ClearResults, 1},
    {61, Page::Mandown, 27, 88, "Button15", "C0029", Setup::Mandown, 0},
    {62, Page::Mandown, 28, 89, "Button15", "C0029", Setup::Mandown, 0},
    {63, Page::Mandown, 29, 90, "Button15", "C0029", Setup::Mandown, 0},
};

constexpr int kPowerKey = 24;
constexpr int kPowerItem0 = 10;
constexpr int kPowerItem1 = 70;

const Selection* FindSelection(int key) {
    for (const Selection& s : kSelections) {
        if (s.key == key) return &s;
    }
    return nullptr;
}

QString ChildText(const char* key) { return QString::fromStdString(Text("ChildForm", key)); }

// The byte of point p (1-based) of an array item, or the byte of a single item.
int ItemByte(int code, int point) {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes || bytes->length <= 0) return -1;
    const int offset = bytes->layout == ItemLayout::Single ? bytes->offset : bytes->offset + point - 1;
    if (offset < 0 || offset >= static_cast<int>(TunerImage::kSize)) return -1;
    return tunerImage[static_cast<std::size_t>(offset)];
}

// A value of column `column` of an FSK block at point p.
int FskValue(int code, const ColumnSpec& column, int point) {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes || bytes->layout != ItemLayout::FskBlock || column.blockOffset < 0) return -1;
    if (column.kind == CellKind::WordEdit) {
        return tunerImage.word(static_cast<std::size_t>(bytes->offset + column.blockOffset + 2 * (point - 1)));
    }
    return tunerImage[static_cast<std::size_t>(bytes->offset + column.blockOffset + point - 1)];
}

bool IsCtcssItem(int code) {
    const TuningItem* item = FindItem(code);
    // Item 11/71 has no tree node but is a CTCSS-type array all the same.
    return item != nullptr && (item->page == Page::Ctcss || item->code == std::array<int, 2>{11, 71});
}

}  // namespace

void TMDIChild::SetKeyingCaption(const char* button, const char* key) {
    if (auto* b = control<QPushButton>(QString::fromLatin1(button))) b->setText(ChildText(key));
}

void TMDIChild::TreeView1DblClick() {
    const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
    QTreeWidgetItem* node = selected.isEmpty() ? nullptr : selected.first();
    if (node == nullptr) return;

    Panel1->setText(node->text(0));
    RefreshFrequencyLabels(RefreshScope::Selection);

    actionCode = action::kItemSelected;
    txKeyed = false;
    rxKeyed = false;
    CheckTimer->stop();
    ErrorRateTimer->stop();
    MandownTimer->stop();
    control<QPushButton>(QStringLiteral("Button16"))->setEnabled(false);
    control<QPushButton>(QStringLiteral("Button15"))->setEnabled(false);

    const int key = node->data(0, kStateIndexRole).toInt();
    if (key < 0 || key > 63) return;

    if (key == kPowerKey) {
        const int variant = radioInfo.modelVariant();
        currentItem = band == 0 ? kPowerItem0 : kPowerItem1;
        if (variant == 0) {
            ShowPage(static_cast<int>(Page::Power));
            SetKeyingCaption("Button1", "C0007");
            LoadPowerPage();
            PointDoubleClicked(Page::Power, 1);
        } else if (variant == 1) {
            ShowPage(static_cast<int>(Page::PowerMobile));
            SetKeyingCaption("Button11", "C0007");
            LoadMobilePowerPage();
            PointDoubleClicked(Page::PowerMobile, 1);
        }
        return;
    }

    const Selection* s = FindSelection(key);
    if (s == nullptr) return;
    ShowPage(static_cast<int>(s->page));
    const int code = band == 0 ? s->item0 : s->item1;

    if (s->setup == Setup::Mandown) {
        // Outside tuner mode the man-down page is only shown.
        if (!inTunerMode) return;
        currentItem = code;
        SetUpMandown();
        return;
    }

    currentItem = code;
    SetKeyingCaption(s->button, s->buttonKey);
    switch (s->setup) {
        case Setup::ValueLabelCheck:
            control<QRadioButton>(QStringLiteral("RadioButton6"))->setChecked(true);
            ShowValueLabel();
            break;
        case Setup::ValueLabel: ShowValueLabel(); break;
        case Setup::Ctcss:
            LoadCtcssPage();
            lockCtcssPage();
            break;
        case Setup::Squelch: LoadSquelchPage(); break;
        case Setup::Stability: SetUpStability(); break;
        case Setup::Power: LoadPowerPage(); break;
        case Setup::PowerRowsByRule:
            LoadPowerPage();
            setExtraPowerRowsVisible(band == 1 && radioInfo.newFirmware());
            break;
        case Setup::PowerRowsHidden:
            LoadPowerPage();
            setExtraPowerRowsVisible(false);
            break;
        case Setup::Fsk: LoadFskPage(); break;
        case Setup::ClearResults: ClearErrorRateResults(); break;
        case Setup::None:
        case Setup::Mandown: break;
    }
    // Readings of an earlier selection are not this one's.
    if (s->page == Page::Temp) {
        for (const char* name : {"Label130", "Label132"}) control<QLabel>(QString::fromLatin1(name))->clear();
    }
    if (s->firstPoint > 0) PointDoubleClicked(s->page, s->firstPoint);
}

// ---- set-up steps -------------------------------------------------------------

void TMDIChild::ShowValueLabel() {
    const int value = ItemByte(currentItem, 1);
    if (value >= 0) control<QLabel>(QStringLiteral("Label36"))->setText(QString::number(value));
}

void TMDIChild::SetUpStability() {
    const int value = ItemByte(currentItem, 1);
    if (value < 0) return;
    control<QScrollBar>(QStringLiteral("ScrollBar1"))->setValue(value);
    control<TUpDown>(QStringLiteral("UpDown6"))->setPosition(value);
    control<QLabel>(QStringLiteral("Label28"))->setText(QString::number(value));
}

void TMDIChild::ClearErrorRateResults() {
    for (const RowSpec& row : PageSpecOf(Page::ErrorRate).rows) {
        for (const CellSpec& cell : row.cells) {
            if (auto* label = control<QLabel>(QString::fromLatin1(cell.name))) label->clear();
        }
    }
}

void TMDIChild::SetUpMandown() {
    const int value = ItemByte(currentItem, 1);
    const int sent = value < 0 ? 0 : value;
    // The man-down items are made current at point 1 with no frequency.
    SendSetItem(currentItem, action::kItemSelected, 1, sent, 0);
    control<QLabel>(QStringLiteral("Label113"))->setText(QString::number(sent));
    SetKeyingCaption("Button15", "C0029");
    control<QPushButton>(QStringLiteral("Button16"))->setEnabled(true);
    control<QPushButton>(QStringLiteral("Button15"))->setEnabled(true);
}

// ---- page loaders ---------------------------------------------------------------

void TMDIChild::LoadRow(const PageSpec& spec, const RowSpec& row, const QList<int>& codes) {
    for (std::size_t c = 0; c < row.cells.size() && c < spec.columns.size(); ++c) {
        const int code = c < static_cast<std::size_t>(codes.size()) ? codes.at(static_cast<qsizetype>(c)) : kNoCode;
        if (code == kNoCode) continue;
        const ColumnSpec& column = spec.columns[c];
        const int value = column.blockOffset >= 0 ? FskValue(code, column, row.point) : ItemByte(code, row.point);
        if (value < 0) continue;
        const CellSpec& cell = row.cells[c];
        switch (column.kind) {
            case CellKind::ValueLabel:
                control<QLabel>(QString::fromLatin1(cell.name))->setText(QString::number(value));
                break;
            case CellKind::ScrollBar: control<QScrollBar>(QString::fromLatin1(cell.name))->setValue(value); break;
            case CellKind::ByteEdit:
            case CellKind::WordEdit:
                control<TUpDown>(QString::fromLatin1(cell.upDown))->setPosition(value);
                break;
        }
    }
}

void TMDIChild::LoadCtcssPage() {
    if (!IsCtcssItem(currentItem)) return;
    const PageSpec& spec = PageSpecOf(Page::Ctcss);
    for (const RowSpec& row : spec.rows) LoadRow(spec, row, {currentItem, currentItem, currentItem});
}

void TMDIChild::LoadSquelchPage() {
    const TuningItem* item = FindItem(currentItem);
    if (item == nullptr || item->page != Page::Sql) return;
    const PageSpec& spec = PageSpecOf(Page::Sql);
    for (const RowSpec& row : spec.rows) LoadRow(spec, row, {currentItem});
}

void TMDIChild::LoadPowerPage() {
    const std::optional<PowerPair> pair = PairOf(currentItem);
    const TuningItem* item = FindItem(currentItem);
    // Codes 51 and 52 ("1233") load nothing and keep the captions.
    if (!pair || item == nullptr || item->layout == ItemLayout::Shared) return;
    const TuningItem* low = FindItem(pair->low);
    const bool eightPoints = low != nullptr && low->eightPointsWithNewFirmware && BandOfCode(pair->low) == 1 &&
                             radioInfo.newFirmware();
    const PageSpec& spec = PageSpecOf(Page::Power);
    for (const RowSpec& row : spec.rows) {
        if (row.extraPoint && !eightPoints) continue;
        QList<int> codes;
        for (const ColumnSpec& column : spec.columns) codes << (column.power == PowerColumn::Low ? pair->low : pair->high);
        LoadRow(spec, row, codes);
    }
    const bool basicPair = pair->low == 10 || pair->low == 70;
    control<QLabel>(QStringLiteral("Label20"))->setText(ChildText(basicPair ? "C0012" : "C0016"));
    control<QLabel>(QStringLiteral("Label23"))->setText(ChildText(basicPair ? "C0013" : "C0017"));
}

void TMDIChild::LoadMobilePowerPage() {
    const std::optional<PowerTriple> triple = TripleOf(currentItem);
    if (!triple) return;
    const PageSpec& spec = PageSpecOf(Page::PowerMobile);
    QList<int> codes;
    for (const ColumnSpec& column : spec.columns) {
        switch (column.power) {
            case PowerColumn::Low: codes << triple->low; break;
            case PowerColumn::Middle: codes << triple->middle; break;
            case PowerColumn::High: codes << triple->high; break;
            case PowerColumn::None: codes << kNoCode; break;
        }
    }
    for (const RowSpec& row : spec.rows) LoadRow(spec, row, codes);
}

void TMDIChild::LoadFskPage() {
    const TuningItem* item = FindItem(currentItem);
    if (item == nullptr || item->layout != ItemLayout::FskBlock) return;
    const PageSpec& spec = PageSpecOf(Page::Fsk);
    QList<int> codes;
    for (std::size_t c = 0; c < spec.columns.size(); ++c) codes << currentItem;
    for (const RowSpec& row : spec.rows) LoadRow(spec, row, codes);
    for (const ColumnSpec& column : spec.columns) {
        control<QLabel>(QString::fromLatin1(column.header))->setText(ChildText(column.loaderKey));
    }
}
