// The value edits, up-downs and scroll bars of the item pages.
//
// Four pages adjust one byte per calibration point (sbox_power,
// sbox_power_mobile, sbox_ctcss, sbox_ferq_stability) and one page five
// values per point (sbox_fsk). Every change is written into the tuner image
// and sent to the radio at once, so the operator sees its effect on the
// measuring instrument while the radio stays keyed; the save button makes
// it permanent later.
//
// There is one handler per family of controls. Which page, row and column a
// control belongs to comes from the page tables (FindCell), and which item
// code and image bytes a column stands for from the item table.
#pragma once

#include <QObject>
#include <cstdint>

#include "tuning/PageTables.h"
#include "tuning/TuningControls.h"

class QLineEdit;
class QScrollBar;

namespace varnel::tuning {

class TuningPages;

class ValueControls : public QObject {
    Q_OBJECT
public:
    // Connects every value control of `pages`.
    explicit ValueControls(TuningPages& pages, QObject* parent = nullptr);

    // Typed-entry rules of the value cells: the edit's text is parsed as a
    // signed decimal integer and clamped to the up-down's range; the result
    // is stored in the slot (one byte, or 16 bits little-endian at
    // slotLow[0..1]) and shown again by edit and up-down. Text that is not
    // an integer shows the stored value again. Nothing is sent.
    static void applyTypedByte(QLineEdit* edit, TUpDown* upDown, std::uint8_t& slot);
    static void applyTypedWord(QLineEdit* edit, TUpDown* upDown, std::uint8_t* slotLow);

    // The step of any up-down, Enter / double-click / leaving in any value
    // edit, the end of a scroll of any value bar.
    void upDownClicked(TUpDown* upDown);
    void editEntered(QLineEdit* edit);
    void editDoubleClicked(QLineEdit* edit);
    // Uses only the edit's own cell and the program's image, never the
    // window: leaving a cell may happen while the window is torn down.
    static void editLeft(QLineEdit* edit);
    void barScrolled(QScrollBar* bar, int position);

private:
    void connectPage(Page page);
    void upDownOnBarPage(TUpDown* upDown, const PageSpec& spec, const RowSpec& row);
    void enterOnBarPage(QLineEdit* edit, TUpDown* upDown, const PageSpec& spec, const RowSpec& row, Page page);

    TuningPages& pages_;
};

}  // namespace varnel::tuning
