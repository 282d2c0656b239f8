// The parameter editor's rules, free of any window: the grid layouts, which
// cells hold values and which may be edited, how a cell shows its bytes, and
// how the cell editor's text is read back into the image.
//
// Grid coordinates are (column, row): column 0 holds the row captions,
// columns 1 to 5 (or 1 to 8) the calibration points, row 0 the column
// headers and rows 1 to 45 the parameters of ParamGridRows().
#pragma once

#include <array>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/ItemTable.h"
#include "data/TunerImage.h"

namespace varnel::param {

// The two shapes of the grid. The eight-point one is used for the
// 136-174 MHz band of radios with firmware 2.2 or later, whose power items
// carry points 6 to 8 there.
struct GridLayout {
    bool eightPoints;
    int columns;            // caption column plus the point columns
    int points;             // 5 or 8
    int clientWidth;        // the form's client width
    int gridWidth;
    std::array<int, 9> columnWidths;  // the first `columns` entries are used
};
GridLayout FiveGridLayout();
GridLayout EightGridLayout();
GridLayout LayoutFor(int band, bool newFirmware);

inline constexpr int kClientHeight = 563;
inline constexpr int kRowHeight = 22;
inline constexpr int kSingleColumn = 3;  // rows 3 to 10 show their byte in the point 3 column only

// 46 rows (header included) when the radio has the FSK extension, else 31.
int GridRowCount(bool largeModel);

// True when fillGrid puts a value into the cell: the frequencies in every
// point column, the single bytes in column 3, the arrays in columns 1 to 5
// (rows 21 to 24 in columns 6 to 8 too in the eight-point layout), and the
// FSK rows only when bit 0 of the radio's feature flags is set.
bool CellShowsValue(int col, int row, const GridLayout& layout, int rowCount, bool fskRows);

// True when selecting the cell opens the editor. Frequencies only with the
// expert switch; row 29 (the bit-error-rate array, which no command of the
// tuning window writes either) is shown but never edited.
bool IsCellEditable(int col, int row, const GridLayout& layout, int rowCount, bool expertMode);

// Locked cells are drawn in the button-face colour: every value cell the
// operator cannot edit. Row 0 and column 0 are header cells, not locked.
inline bool IsCellLocked(int col, int row, const GridLayout& layout, int rowCount, bool expertMode) {
    return col > 0 && row > 0 && !IsCellEditable(col, row, layout, rowCount, expertMode);
}

// ---- the cell editor ------------------------------------------------------

// Most characters the editor takes: 10 for the frequency rows, 8 elsewhere
// (room for a wrong entry such as "999.9" to be seen and refused).
int EditorMaxLength(int row);
// Characters the editor takes besides backspace: every printable character.
// Nothing typed vanishes; what cannot be stored is refused on leaving the
// cell (CheckValueText, and the frequency check of the form).
bool EditorAcceptsCharacter(int row, char32_t c);

// The values a value cell can hold: 0 to 255 for a byte, 0 to 4096 for the
// 16-bit FSK values (the range of the tuning window's cells).
struct CellRange {
    int min;
    int max;
};
CellRange RangeOf(const ParamGridRow& row);
// The value of a typed text for a value cell: a whole decimal number within
// the row's range, or nothing (a point, a letter, a sign, a blank, empty, or
// a number out of range), in which case the cell keeps its old value.
std::optional<std::uint32_t> CheckValueText(std::string_view text, const ParamGridRow& row);

// ---- reading the editor's text ----------------------------------------------

// The first rewrite of a frequency text. An entry normally has its point at
// the fourth character (435.050000); a point at the first character empties
// the text, at the second or third gives "0.00000", and at the fifth to
// ninth the text is cut before it and padded with zeros to nine digits.
std::string NormaliseFrequencyText(std::string_view text);

struct ParsedValue {
    std::uint32_t value;  // what goes into the image
    std::string text;     // what the cell shows afterwards
};

// A frequency typed in megahertz: normalised as above, then read as a decimal
// number and cut (not rounded) to whole multiples of 10 Hz; the cell shows the
// result with six decimals. An empty text, one that is not a number, or one
// whose value would not fit the signed 32-bit frequency field keeps `old`.
ParsedValue parseFrequencyText(std::string_view text, std::uint32_t old);

// A byte (or a 16-bit FSK value): a whole decimal number; 256 or more becomes
// 255 (and the cell shows 255); anything else keeps `old`. A valid text below
// 256 is shown as typed.
ParsedValue parseByteText(std::string_view text, std::uint32_t old);

// ---- cells and the image ----------------------------------------------------

// The raw value of the row's point in the band: a frequency in hertz, a byte,
// or a 16-bit value. 0 when the row has no such point.
std::uint32_t CellValue(const TunerImage& image, const ParamGridRow& row, int band, int point);
// The cell's text for that value: megahertz with six decimals, or decimal.
std::string CellText(const TunerImage& image, const ParamGridRow& row, int band, int point);
// Reads `text` with the row's parse rule against the value now in the image,
// stores the result (32-bit big-endian, one byte, or 16-bit little-endian)
// and returns the text the cell shows afterwards.
std::string StoreCellText(TunerImage& image, const ParamGridRow& row, int band, int point,
                          std::string_view text);
// Stores a value that CheckValueText accepted (one byte, or 16 bits
// little-endian) and returns the text the cell shows.
std::string StoreCellValue(TunerImage& image, const ParamGridRow& row, int band, int point, std::uint32_t value);

}  // namespace varnel::param
