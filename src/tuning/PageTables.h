// The ten item pages of the tuning window as data: per page the header
// labels, the point rows with their point button, frequency labels and value
// cells, the scale captions of the scroll-bar column and the two buttons.
// The window builds every page from these tables, and every handler that
// needs to know which control belongs to which page, point or column looks it
// up here.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "data/ItemTable.h"

namespace varnel::tuning {

inline constexpr int kPageCount = 10;

enum class CellKind {
    ValueLabel,  // a label showing a number
    ScrollBar,   // horizontal bar 0-255, steps of 5
    ByteEdit,    // edit (3 characters) with up-down 0-255
    WordEdit,    // edit with up-down 0-4096, digit grouping from 1000 (FSK D, E)
};

// One column of value cells.
struct ColumnSpec {
    const char* header;      // header label name; nullptr: the previous header spans this column
    const char* key;         // "ChildForm" key applied by the show routine, nullptr: none
    const char* designText;  // caption at creation
    CellKind kind;
    PowerColumn power;       // which array of a power pair / triple the column shows
    int fskCell;             // FSK: the column's cell of the block (CellsOf), else -1
    const char* group;       // FSK: the group box around the column's cells, else nullptr
    const char* loaderKey;   // FSK: "ChildForm" key the page loader gives the header
};

// One value cell of a row: a label, a scroll bar, or an edit with its up-down.
struct CellSpec {
    const char* name;    // label, scroll bar or edit
    const char* upDown;  // the up-down of an edit, else nullptr
};

struct RowSpec {
    int point;            // calibration point, 1-based
    const char* button;   // point button (radio button); nullptr on sbox_mandown
    const char* key;      // "ChildForm" key of the button's caption
    const char* rx;       // receive-frequency label
    const char* tx;       // transmit-frequency label
    std::vector<CellSpec> cells;  // one per column
    bool extraPoint;      // rows 6 to 8 of sbox_power (eight-point radios only)
};

struct PageSpec {
    Page page;
    const char* name;          // sbox_*
    const char* pointGroup;    // group box around the point rows, or nullptr
    const char* pointsHeader;  // header of the point-button column, nullptr: no such column
    const char* rxHeader;
    const char* txHeader;
    std::vector<ColumnSpec> columns;
    std::array<const char*, 3> scale;  // "0", "(+5)", "255" above the scroll bars, or nullptrs
    std::vector<RowSpec> rows;
    const char* keyingButton;
    const char* keyingKey;     // key applied at show, nullptr: keeps its design caption
    const char* keyingDesign;
    const char* saveButton;
    const char* saveKey;       // key applied at show, nullptr: keeps its design caption
    bool saveVisible;
    const char* image;         // illustration label (sbox_mandown), or nullptr
    Page focusPage;            // the page a mouse press on this page focuses, or Page::None
};

// Every page, in page-number order (index = page number).
const std::vector<PageSpec>& PageSpecs();
const PageSpec& PageSpecOf(Page page);
// Page for a page number 0..9, or Page::None.
Page PageFromNumber(int number);

// The point button `name` (e.g. "RadioButton13"): its page and point.
struct PointButtonPlace {
    Page page;
    int point;
    int row;  // index into the page's rows
};
std::optional<PointButtonPlace> FindPointButton(std::string_view name);

// Where a value control (edit, up-down, scroll bar or value label) sits.
struct CellPlace {
    Page page;
    int point;
    int row;
    int column;
};
std::optional<CellPlace> FindCell(std::string_view name);

// The row of `page` with calibration point `point`, or nullptr.
const RowSpec* FindRow(Page page, int point);

// Captions of the scale above a scroll-bar column.
inline constexpr std::array<const char*, 3> kScaleTexts = {"0", "(+5)", "255"};

// Design caption of the save buttons.
inline constexpr const char* kSaveDesignText = "保存";

// Design text of a frequency label (until the first refresh writes it).
inline constexpr const char* kFrequencyDesignText = "0.000000";

// Scopes of RefreshFrequencyLabels.
enum class RefreshScope { Build, Selection };
// Pages written by each scope.
const std::vector<Page>& PagesOfScope(RefreshScope scope);

// Language keys applied by the show routine to controls outside the pages.
struct KeyedControl {
    const char* name;
    const char* section;
    const char* key;
};
// Every (control, key) pair of the show routine for the pages: point
// buttons, headers, keying and save buttons.
std::vector<KeyedControl> PageLanguageKeys();

}  // namespace varnel::tuning
