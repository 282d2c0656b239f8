#include "tuning/ValueControls.h"

#include <algorithm>
#include <optional>

#include <QLabel>

#include "data/Global.h"
#include "ui/Selection.h"
#include "data/ValueRules.h"
#include "protocol/Sendcmd.h"
#include "tuning/TuningPages.h"

namespace varnel::tuning {

namespace {

// ---- typed entry -----------------------------------------------------------

// The common rule of ApplyTypedByte and ApplyTypedWord (ValueRules.h): the
// value to store, or nothing when the text is not an integer.
std::optional<int> TypedStoreValue(QLineEdit* edit, TUpDown* upDown) {
    return varnel::TypedStoreValue(edit->text().toStdString(), upDown->minimum(), upDown->maximum(),
                                   upDown->increment());
}

// ---- slots of the item codes -----------------------------------------------

// The image byte that holds item `code` at point p: the point's byte of an
// eight-byte array (codes 51 and 52 use the arrays of items 20 and 21), the
// single byte of items 23 and 83 whatever the point. nullptr for codes
// without such a byte or a point outside 1 to 8.
std::uint8_t* Slot(int code, int point) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->layout == ItemLayout::FskBlock) return nullptr;
    const int at = PointByteOfCode(code, point);
    return at < 0 ? nullptr : &tunerImage[static_cast<std::size_t>(at)];
}

// The first byte of the value of FSK column `column` at point p in the block
// of `code` (two bytes, low first, for columns D and E); nullptr when `code`
// is not an FSK item or p lies outside 1 to 8.
std::uint8_t* FskSlot(int code, const ColumnSpec& column, int point) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->layout != ItemLayout::FskBlock || column.fskCell < 0) return nullptr;
    const int at = PointByteOfCode(code, point, column.fskCell);
    return at < 0 ? nullptr : &tunerImage[static_cast<std::size_t>(at)];
}

// Codes 51 and 52 (the raw node): live-sets of their own, bytes of others.
bool IsRawCode(int code) {
    const TuningItem* item = FindItem(code);
    return item != nullptr && item->layout == ItemLayout::Shared;
}

bool IsFskItem(int code) {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    return bytes && bytes->layout == ItemLayout::FskBlock;
}

// ---- column mappings of the power pages --------------------------------------

// The item code that touching a power cell of column `column` makes current,
// given the code in force; kNoCode when the page has no mapping for it. The
// pairs (sbox_power) and the mobile triple (sbox_power_mobile) come from the
// item table; a pair's code stands for its own column, and item 26 / 86 (the
// middle array of the mobile triple) for the pair of items 10 and 9 / 70 and
// 69 on sbox_power.
int PowerColumnCode(Page page, int inForce, PowerColumn column, bool extraRow) {
    if (page == Page::PowerMobile) {
        const std::optional<PowerTriple> triple = TripleOf(inForce);
        if (!triple) return kNoCode;
        switch (column) {
            case PowerColumn::Low: return triple->low;
            case PowerColumn::Middle: return triple->middle;
            case PowerColumn::High: return triple->high;
            case PowerColumn::None: return kNoCode;
        }
        return kNoCode;
    }
    std::optional<PowerPair> pair = PairOf(inForce);
    if (!pair) {
        // 26 / 86 on the two-column page: the pair of its triple's outer columns.
        if (const std::optional<PowerTriple> triple = TripleOf(inForce)) pair = PowerPair{triple->low, triple->high};
    }
    if (!pair) return kNoCode;
    // Rows 6 to 8 exist for the eight-point pairs 18/19, 20/21, 78/79, 80/81 only.
    if (extraRow) {
        const TuningItem* item = FindItem(pair->low);
        if (item == nullptr || !item->eightPointsWithNewFirmware) return kNoCode;
    }
    switch (column) {
        case PowerColumn::Low: return pair->low;
        case PowerColumn::High: return pair->high;
        case PowerColumn::Middle:
        case PowerColumn::None: return kNoCode;
    }
    return kNoCode;
}

// Enter on sbox_power accepts fewer codes than the up-downs: not the codes
// 51 and 52 of the shared arrays, and not 26 / 86 (only their pair's own
// codes). The mobile page accepts what its up-downs accept.
bool PowerEnterAccepts(Page page, int inForce) {
    if (page == Page::PowerMobile) return TripleOf(inForce).has_value();
    const TuningItem* item = FindItem(inForce);
    return PairOf(inForce).has_value() && item != nullptr && item->layout == ItemLayout::Array;
}

// The item codes of the bar pages, of both bands.
bool IsPageCode(Page page, int code) {
    for (const TuningItem* item : ItemsOnPage(page)) {
        if (item->code[0] == code || item->code[1] == code) return true;
    }
    return false;
}

// Enter on sbox_ctcss also accepts item 11 / 71, a CTCSS-type array that no
// tree node selects: Enter takes the page's whole family.
bool BarEnterAccepts(Page page, int code) { return InFamily(code, page); }

// The cells of a bar row: value label, scroll bar, edit with up-down.
// A value control's place in the page tables.
struct Cell {
    Page page;
    const PageSpec& spec;
    const RowSpec& row;
    const ColumnSpec& column;
    const CellSpec& cell;
};

std::optional<Cell> CellOf(const QObject* control) {
    if (control == nullptr) return std::nullopt;
    const std::optional<CellPlace> place = FindCell(control->objectName().toStdString());
    if (!place) return std::nullopt;
    const PageSpec& spec = PageSpecOf(place->page);
    const RowSpec& row = spec.rows[static_cast<std::size_t>(place->row)];
    return Cell{place->page, spec, row, spec.columns[static_cast<std::size_t>(place->column)],
                row.cells[static_cast<std::size_t>(place->column)]};
}

struct BarRow {
    QLabel* label = nullptr;
    QScrollBar* bar = nullptr;
    QLineEdit* edit = nullptr;
    TUpDown* upDown = nullptr;
};

// ---- the common end of every single-value handler ---------------------------

void SendCellValue(TUpDown* upDown) {
    currentValue = upDown->position() & 0xFF;
    SendSetItem(currentItem, actionCode, currentPoint, currentValue, txFrequency(currentPoint - 1));
}

void SendFskRecord(int action, int recordPoint) {
    const std::array<std::uint8_t, 8> record = FskRecord(tunerImage, currentItem, recordPoint);
    SendSetItemBlock(currentItem, action, currentPoint, record.data(), txFrequency(currentPoint - 1));
}

}  // namespace

// ---- typed-entry rules --------------------------------------------------------

void ValueControls::applyTypedByte(QLineEdit* edit, TUpDown* upDown, std::uint8_t& slot) {
    if (edit == nullptr || upDown == nullptr) return;
    if (const std::optional<int> stored = TypedStoreValue(edit, upDown)) slot = static_cast<std::uint8_t>(*stored & 0xFF);
    // The edit and the up-down show what the slot now holds (setPosition
    // writes the edit's text).
    upDown->setPosition(slot * upDown->increment());
}

void ValueControls::applyTypedWord(QLineEdit* edit, TUpDown* upDown, std::uint8_t* slotLow) {
    if (edit == nullptr || upDown == nullptr || slotLow == nullptr) return;
    if (const std::optional<int> stored = TypedStoreValue(edit, upDown)) {
        slotLow[0] = static_cast<std::uint8_t>(*stored & 0xFF);
        slotLow[1] = static_cast<std::uint8_t>((*stored >> 8) & 0xFF);
    }
    const int value = slotLow[0] | (slotLow[1] << 8);
    upDown->setPosition(value * upDown->increment());
}

namespace {

// The typed value of an FSK cell: 16 bits in the word columns, a byte elsewhere.
void ApplyTypedFsk(QLineEdit* edit, TUpDown* upDown, const ColumnSpec& column, std::uint8_t* slot) {
    if (column.kind == CellKind::WordEdit) {
        ValueControls::applyTypedWord(edit, upDown, slot);
    } else {
        ValueControls::applyTypedByte(edit, upDown, *slot);
    }
}

}  // namespace

// ---- wiring -------------------------------------------------------------------

ValueControls::ValueControls(TuningPages& pages, QObject* parent) : QObject(parent), pages_(pages) {
    for (const Page page : {Page::Power, Page::PowerMobile, Page::Ctcss, Page::FreqStability, Page::Fsk}) {
        connectPage(page);
    }
}

void ValueControls::connectPage(Page page) {
    const PageSpec& spec = PageSpecOf(page);
    for (const RowSpec& row : spec.rows) {
        for (std::size_t c = 0; c < row.cells.size() && c < spec.columns.size(); ++c) {
            const CellSpec& cell = row.cells[c];
            const QString name = QString::fromLatin1(cell.name);
            if (spec.columns[c].kind == CellKind::ScrollBar) {
                if (auto* bar = pages_.control<TScrollBar>(name)) {
                    connect(bar, &TScrollBar::endScroll, this, [this, bar](int position) { barScrolled(bar, position); });
                }
                continue;
            }
            if (cell.upDown == nullptr) continue;
            auto* upDown = pages_.control<TUpDown>(QString::fromLatin1(cell.upDown));
            auto* edit = pages_.control<TValueEdit>(name);
            if (upDown == nullptr || edit == nullptr) continue;
            connect(upDown, &TUpDown::clicked, this, [this, upDown](int) { upDownClicked(upDown); });
            connect(edit, &QLineEdit::returnPressed, this, [this, edit] { editEntered(edit); });
            connect(edit, &TValueEdit::doubleClicked, this, [this, edit] { editDoubleClicked(edit); });
            if (page == Page::Fsk) connect(edit, &TValueEdit::exited, edit, [edit] { editLeft(edit); });
        }
    }
}

// ---- handlers -------------------------------------------------------------------

void ValueControls::upDownClicked(TUpDown* upDown) {
    const std::optional<Cell> at = CellOf(upDown);
    if (!at) return;
    if (QLineEdit* edit = upDown->associate()) edit->setFocus(Qt::OtherFocusReason);

    switch (at->page) {
        case Page::Power:
        case Page::PowerMobile: {
            actionCode = action::kValueAdjusted;
            const int code = PowerColumnCode(at->page, currentItem, at->column.power, at->row.extraPoint);
            if (code != kNoCode) {
                currentItem = code;
                // The raw codes 51 and 52 go to the radio only: their bytes
                // are items 20 and 21, which this page must not change.
                std::uint8_t* slot = IsRawCode(code) ? nullptr : Slot(code, currentPoint);
                if (slot != nullptr) *slot = static_cast<std::uint8_t>(upDown->position() & 0xFF);
            }
            SendCellValue(upDown);
            break;
        }
        case Page::Ctcss:
        case Page::FreqStability: upDownOnBarPage(upDown, at->spec, at->row); break;
        case Page::Fsk: {
            // Only the six FSK items have a record to send; the page loader
            // never leaves another code in force on this page.
            actionCode = action::kValueAdjusted;
            std::uint8_t* slot = FskSlot(currentItem, at->column, currentPoint);
            if (slot == nullptr) break;
            const int position = upDown->position();
            slot[0] = static_cast<std::uint8_t>(position & 0xFF);
            if (at->column.kind == CellKind::WordEdit) slot[1] = static_cast<std::uint8_t>((position >> 8) & 0xFF);
            SendFskRecord(action::kValueAdjusted, currentPoint);
            break;
        }
        default: break;
    }
}

void ValueControls::editEntered(QLineEdit* edit) {
    const std::optional<Cell> at = CellOf(edit);
    if (!at) return;
    auto* upDown = pages_.control<TUpDown>(QString::fromLatin1(at->cell.upDown));
    if (upDown == nullptr) return;

    switch (at->page) {
        case Page::Power:
        case Page::PowerMobile: {
            // An Enter the page does not accept (51 / 52 on sbox_power) is
            // neither validated nor stored; the value still goes out under
            // the code in force.
            if (PowerEnterAccepts(at->page, currentItem)) {
                const int code = PowerColumnCode(at->page, currentItem, at->column.power, at->row.extraPoint);
                if (code != kNoCode) {
                    currentItem = code;
                    if (std::uint8_t* slot = Slot(code, currentPoint)) applyTypedByte(edit, upDown, *slot);
                }
            } else if (IsRawCode(currentItem)) {
                // The raw codes: the typed value, within the cell's range,
                // is what the edit shows and what goes out; nothing is stored.
                const int code = PowerColumnCode(at->page, currentItem, at->column.power, at->row.extraPoint);
                if (code != kNoCode) currentItem = code;
                auto scratch = static_cast<std::uint8_t>(upDown->storedPosition() & 0xFF);
                applyTypedByte(edit, upDown, scratch);
            }
            SendCellValue(upDown);
            break;
        }
        case Page::Ctcss:
        case Page::FreqStability: enterOnBarPage(edit, upDown, at->spec, at->row, at->page); break;
        case Page::Fsk: {
            std::uint8_t* slot = FskSlot(currentItem, at->column, at->row.point);
            if (slot == nullptr) break;
            ApplyTypedFsk(edit, upDown, at->column, slot);
            // Only the selected row is enabled, so the row's point is currentPoint.
            SendFskRecord(actionCode, at->row.point);
            break;
        }
        default: break;
    }
}

void ValueControls::editDoubleClicked(QLineEdit* edit) {
    const std::optional<Cell> at = CellOf(edit);
    if (!at) return;
    if (auto* upDown = pages_.control<TUpDown>(QString::fromLatin1(at->cell.upDown))) upDownClicked(upDown);
}

void ValueControls::editLeft(QLineEdit* edit) {
    const std::optional<Cell> at = CellOf(edit);
    if (!at || at->page != Page::Fsk || !IsFskItem(currentItem)) return;
    // The up-down sits in the same cell box as its edit.
    TUpDown* upDown = nullptr;
    if (QWidget* box = edit->parentWidget()) {
        upDown = box->findChild<TUpDown*>(QString::fromLatin1(at->cell.upDown));
    }
    std::uint8_t* slot = FskSlot(currentItem, at->column, at->row.point);
    if (upDown == nullptr || slot == nullptr) return;
    ApplyTypedFsk(edit, upDown, at->column, slot);
}

void ValueControls::barScrolled(QScrollBar* bar, int position) {
    const std::optional<Cell> at = CellOf(bar);
    if (!at) return;
    BarRow cells;
    for (std::size_t c = 0; c < at->row.cells.size() && c < at->spec.columns.size(); ++c) {
        const QString name = QString::fromLatin1(at->row.cells[c].name);
        switch (at->spec.columns[c].kind) {
            case CellKind::ValueLabel: cells.label = pages_.control<QLabel>(name); break;
            case CellKind::ByteEdit:
            case CellKind::WordEdit:
                cells.edit = pages_.control<QLineEdit>(name);
                cells.upDown = pages_.control<TUpDown>(QString::fromLatin1(at->row.cells[c].upDown));
                break;
            case CellKind::ScrollBar: break;
        }
    }
    if (cells.upDown == nullptr) return;
    const int x = std::clamp(position, 0, 255);
    if (IsPageCode(at->page, currentItem)) {
        if (std::uint8_t* slot = Slot(currentItem, currentPoint)) *slot = static_cast<std::uint8_t>(x);
    }
    actionCode = action::kValueAdjusted;
    if (cells.label != nullptr) cells.label->setText(QString::number(x));
    cells.upDown->setPosition(x);
    SendCellValue(cells.upDown);
}

// On sbox_ctcss and sbox_ferq_stability the bar follows the fine step;
// SendSetItem stores the value for every code of these pages.
void ValueControls::upDownOnBarPage(TUpDown* upDown, const PageSpec& spec, const RowSpec& row) {
    BarRow cells;
    for (std::size_t c = 0; c < row.cells.size() && c < spec.columns.size(); ++c) {
        const QString name = QString::fromLatin1(row.cells[c].name);
        if (spec.columns[c].kind == CellKind::ValueLabel) cells.label = pages_.control<QLabel>(name);
        if (spec.columns[c].kind == CellKind::ScrollBar) cells.bar = pages_.control<QScrollBar>(name);
    }
    const int position = upDown->position();
    if (cells.bar != nullptr) cells.bar->setValue(position);
    if (cells.label != nullptr) cells.label->setText(QString::number(position));
    actionCode = action::kValueAdjusted;
    SendCellValue(upDown);
}

void ValueControls::enterOnBarPage(QLineEdit* edit, TUpDown* upDown, const PageSpec& spec, const RowSpec& row,
                                   Page page) {
    if (BarEnterAccepts(page, currentItem)) {
        if (std::uint8_t* slot = Slot(currentItem, currentPoint)) applyTypedByte(edit, upDown, *slot);
    }
    currentValue = upDown->position() & 0xFF;
    for (std::size_t c = 0; c < row.cells.size() && c < spec.columns.size(); ++c) {
        const QString name = QString::fromLatin1(row.cells[c].name);
        if (spec.columns[c].kind == CellKind::ScrollBar) {
            if (auto* bar = pages_.control<QScrollBar>(name)) bar->setValue(currentValue);
        } else if (spec.columns[c].kind == CellKind::ValueLabel) {
            if (auto* label = pages_.control<QLabel>(name)) label->setText(QString::number(currentValue));
        }
    }
    SendSetItem(currentItem, actionCode, currentPoint, currentValue, txFrequency(currentPoint - 1));
}

}  // namespace varnel::tuning
