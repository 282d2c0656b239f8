// Item selection: the tree's double-click and the page loaders.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidgetItem>
#include <string_view>

#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "tuning/TMDIChild.h"
#include "tuning/TuningPages.h"

using namespace varnel;
using namespace varnel::tuning;

namespace {

// The item whose tree node has the state index `key`.
const TuningItem* FindSelection(int key) {
    for (const TuningItem& item : TuningItems()) {
        if (item.treeGroup != TreeGroup::None && item.treeState == key) return &item;
    }
    return nullptr;
}

QString ChildText(const char* key) { return QString::fromStdString(Text("ChildForm", key)); }
QString T(const char* section, const char* key) { return QString::fromStdString(Text(section, key)); }

// The byte of point p (1-based) of an array item, or the byte of a single item.
int ItemByte(int code, int point) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->layout == ItemLayout::FskBlock) return -1;
    const int at = PointByteOfCode(code, point);
    return at < 0 ? -1 : tunerImage[static_cast<std::size_t>(at)];
}

// A value of column `column` of an FSK block at point p.
int FskValue(int code, const ColumnSpec& column, int point) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->layout != ItemLayout::FskBlock || column.fskCell < 0) return -1;
    const int at = PointByteOfCode(code, point, column.fskCell);
    if (at < 0) return -1;
    if (column.kind == CellKind::WordEdit) return tunerImage.word(static_cast<std::size_t>(at));
    return tunerImage[static_cast<std::size_t>(at)];
}

}  // namespace

void TMDIChild::SetKeyingCaption(const char* button, const char* key) {
    if (auto* b = control<QPushButton>(QString::fromLatin1(button))) b->setText(ChildText(key));
}

void TMDIChild::TreeView1DblClick() {
    const QList<QTreeWidgetItem*> selected = treeView1_->selectedItems();
    QTreeWidgetItem* node = selected.isEmpty() ? nullptr : selected.first();
    if (node == nullptr) return;

    panel1_->setText(node->text(0));
    RefreshFrequencyLabels(RefreshScope::Selection);
    EndEarlierSelection();

    const int key = node->data(0, ItemTree::kStateIndexRole).toInt();
    if (key < 0 || key > 63) return;
    const TuningItem* s = FindSelection(key);
    if (s == nullptr) return;
    const int code = TreeCodeForBand(*s, band);
    if (s->layout == ItemLayout::Shared) {
        // The raw node (expert mode only) live-sets the radio's codes 51 and
        // 52, which exist in the first band only; in the second band it
        // would act on a real item and change its values.
        if (band != 0) {
            pages_->showNeutralPage(T("Pages", "R0002"));
            return;
        }
        panel1_->setText(node->text(0) + QStringLiteral("  \u2013  ") + T("Pages", "R0001"));
    }

    if (s->loader == Loader::PowerByVariant) {
        SelectPowerByVariant(*s, code);
        return;
    }
    ShowPage(static_cast<int>(s->page));
    if (s->loader == Loader::Mandown) {
        // Outside tuner mode the man-down page is only shown.
        if (!inTunerMode) return;
        currentItem = code;
        SetUpMandown();
        return;
    }
    currentItem = code;
    SetKeyingCaption(PageSpecOf(s->page).keyingButton, KeyingKey(s->keying));
    RunLoader(s->loader);
    ShowPageHint(s);
    // Readings of an earlier selection are not this one's.
    if (s->page == Page::Temp) {
        for (const char* name : {"Label130", "Label132"}) control<QLabel>(QString::fromLatin1(name))->clear();
    }
    if (s->firstPoint > 0) PointDoubleClicked(s->page, s->firstPoint);
}

void TMDIChild::ShowPageHint(const TuningItem* selection) {
    if (selection == nullptr || selection->page == Page::None) return;
    // The low-battery thresholds are taken from the radio's own reading of
    // the supply: the page has no value control, so it says how it works.
    const bool battery = selection->treeKey != nullptr && (std::string_view(selection->treeKey) == "T0011" ||
                                                            std::string_view(selection->treeKey) == "T0012");
    pages_->setHint(selection->page, battery ? T("Pages", "H0001") : QString());
}

void TMDIChild::EndEarlierSelection() {
    actionCode = action::kItemSelected;
    txKeyed = false;
    rxKeyed = false;
    checkTimer_->stop();
    errorRateTimer_->stop();
    mandownTimer_->stop();
    control<QPushButton>(QStringLiteral("Button16"))->setEnabled(false);
    control<QPushButton>(QStringLiteral("Button15"))->setEnabled(false);
    mandownShown_ = -1;
    ShowBand();
}

void TMDIChild::SelectPowerByVariant(const TuningItem& selection, int code) {
    currentItem = code;
    const int variant = radioInfo.modelVariant();
    if (variant != 0 && variant != 1) {
        // No power page for this model: the page left in front must not
        // act for item 10/70 with its own values.
        ShowNoPage();
        return;
    }
    const Page page = variant == 0 ? Page::Power : Page::PowerMobile;
    ShowPage(static_cast<int>(page));
    SetKeyingCaption(PageSpecOf(page).keyingButton, KeyingKey(selection.keying));
    if (variant == 0) {
        LoadPowerPage();
    } else {
        LoadMobilePowerPage();
    }
    PointDoubleClicked(page, 1);
}

void TMDIChild::RunLoader(Loader loader) {
    switch (loader) {
        case Loader::ValueLabelCheck:
            control<QRadioButton>(QStringLiteral("RadioButton6"))->setChecked(true);
            ShowValueLabel();
            break;
        case Loader::ValueLabel: ShowValueLabel(); break;
        case Loader::Ctcss:
            LoadCtcssPage();
            pages_->lockCtcssPage();
            break;
        case Loader::Squelch: LoadSquelchPage(); break;
        case Loader::Stability: SetUpStability(); break;
        case Loader::PowerRowsByRule:
            LoadPowerPage();
            setExtraPowerRowsVisible(band == 1 && radioInfo.newFirmware());
            break;
        case Loader::PowerRowsHidden:
            LoadPowerPage();
            setExtraPowerRowsVisible(false);
            break;
        case Loader::Fsk: LoadFskPage(); break;
        case Loader::ClearResults: ClearErrorRateResults(); break;
        case Loader::None:
        case Loader::PowerByVariant:
        case Loader::Mandown: break;
    }
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
    mandownShown_ = sent;
    SetKeyingCaption("Button15", "C0029");
    control<QPushButton>(QStringLiteral("Button16"))->setEnabled(true);
    control<QPushButton>(QStringLiteral("Button15"))->setEnabled(true);
}

void TMDIChild::ReloadPageValues() {
    // Each loader does nothing for an item that is not its own.
    LoadCtcssPage();
    LoadSquelchPage();
    LoadPowerPage();
    if (radioInfo.modelVariant() == 1) LoadMobilePowerPage();
    LoadFskPage();
    const TuningItem* item = FindItem(currentItem);
    if (item == nullptr) return;
    if (item->page == Page::Vox) ShowValueLabel();
    if (item->page == Page::FreqStability) SetUpStability();
    if (item->page == Page::Mandown && mandownShown_ >= 0) {
        const int value = ItemByte(currentItem, 1);
        if (value >= 0) {
            control<QLabel>(QStringLiteral("Label113"))->setText(QString::number(value));
            mandownShown_ = value;
        }
    }
    refreshModifiedMarker();
}

// ---- page loaders ---------------------------------------------------------------

void TMDIChild::LoadRow(const PageSpec& spec, const RowSpec& row, const QList<int>& codes) {
    for (std::size_t c = 0; c < row.cells.size() && c < spec.columns.size(); ++c) {
        const int code = c < static_cast<std::size_t>(codes.size()) ? codes.at(static_cast<qsizetype>(c)) : kNoCode;
        if (code == kNoCode) continue;
        const ColumnSpec& column = spec.columns[c];
        const int value = column.fskCell >= 0 ? FskValue(code, column, row.point) : ItemByte(code, row.point);
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
    if (!InFamily(currentItem, Page::Ctcss)) return;
    const PageSpec& spec = PageSpecOf(Page::Ctcss);
    for (const RowSpec& row : spec.rows) LoadRow(spec, row, {currentItem, currentItem, currentItem});
}

void TMDIChild::LoadSquelchPage() {
    if (!InFamily(currentItem, Page::Sql)) return;
    const PageSpec& spec = PageSpecOf(Page::Sql);
    for (const RowSpec& row : spec.rows) LoadRow(spec, row, {currentItem});
}

void TMDIChild::LoadPowerPage() {
    const std::optional<PowerPair> pair = PairOf(currentItem);
    const TuningItem* item = FindItem(currentItem);
    if (!pair || item == nullptr) return;
    if (item->layout == ItemLayout::Shared) {
        // Codes 51 and 52 ("1233"): the page shows exactly what their
        // live-sets carry, the bytes of the arrays they share, and its
        // columns say which code each one sends.
        const PageSpec& spec = PageSpecOf(Page::Power);
        for (const RowSpec& row : spec.rows) {
            if (row.extraPoint) continue;
            QList<int> codes;
            for (const ColumnSpec& column : spec.columns) codes << (column.power == PowerColumn::Low ? pair->low : pair->high);
            LoadRow(spec, row, codes);
        }
        control<QLabel>(QStringLiteral("Label20"))->setText(ChildText("C0016") + QStringLiteral(" (%1)").arg(pair->low));
        control<QLabel>(QStringLiteral("Label23"))->setText(ChildText("C0017") + QStringLiteral(" (%1)").arg(pair->high));
        return;
    }
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
    // The pair of the mobile triple is the basic low/high power pair.
    const bool basicPair = TripleOf(pair->low).has_value();
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
