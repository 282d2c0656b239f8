// The tuning items: one table that pages, loaders, the parameter grid and
// the virtual radio all read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "data/TunerImage.h"

namespace varnel {

enum class ItemLayout {
    Single,       // one byte
    Array,        // eight bytes, one per point
    FskBlock,     // 56 bytes: columns A, B, C (8 bytes each), D, E (8 x 16-bit LE each)
    DisplayOnly,  // no bytes in the image
    Shared,       // uses another item's array (codes 51 and 52)
};

// Item pages of the tuning window, by page number.
enum class Page : int {
    None = -1,
    Vox = 0,
    Power = 1,
    Ctcss = 2,
    Sql = 3,
    FreqStability = 4,
    PowerMobile = 5,
    ErrorRate = 6,
    Mandown = 7,
    Temp = 8,
    Fsk = 9,
};

// Role of an array on the power pages.
enum class PowerColumn { None, Low, Middle, High };

// What the page's keying button does for the item when idle: its caption is
// "C0007" (transmit), "C0008" (receive) or "C0029" (man-down receive).
enum class ItemKeying { None, Transmit, Receive, ManDownReceive };
// "ChildForm" key of the idle keying caption, nullptr for ItemKeying::None.
const char* KeyingKey(ItemKeying keying);

// What selecting the item in the tree does after bringing its page to the front.
enum class Loader {
    None,
    ValueLabel,       // single byte shown in the value label
    ValueLabelCheck,  // the same, and the page's point button checked
    Ctcss,            // the CTCSS page loaded, then locked
    Squelch,          // the squelch page loaded
    Stability,        // bar, up-down and label from the item's byte
    PowerByVariant,   // the power page or the mobile power page, by modelVariant
    PowerRowsByRule,  // power page; rows 6-8 only in band 1 with new firmware
    PowerRowsHidden,  // power page; rows 6-8 hidden
    Fsk,              // FSK page loaded
    ClearResults,     // the bit-error-rate results emptied
    Mandown,          // sent live at once (tuner mode only)
};

// The groups of the tuning tree, and when a node is shown.
enum class TreeGroup { None, Receiver, Transmitter, Measurement, Mandown };
// ExpertMode: the raw node "1233", which live-sets the radio's codes 51 and
// 52 directly, is offered only with the expert switch.
enum class TreeShown { Always, MobileVariant, LargeModel, ExpertMode };

inline constexpr int kNoCode = -1;

// What the item's value sets, as an alignment measures it: which reading a
// procedure step may align the item against.
enum class ItemQuantity {
    None,               // nothing a step can align it against
    Power,              // transmit power (the power pages)
    FrequencyError,     // carrier frequency error (frequency stability)
    SubAudioDeviation,  // CTCSS or DCS deviation
    PeakDeviation,      // maximum (voice) deviation
    SupplyVoltage,      // a battery threshold, against the supply voltage
    RadioReading,       // a level the radio reads back itself (squelch, VOX, RSSI, sensor)
};

// One value cell of an item at a point: where its bytes start in the item's
// bytes, how wide it is, how far apart the points are, and what it holds.
struct ItemCell {
    int start;   // byte of point 1 within the item
    int width;   // 1, or 2 for a 16-bit little-endian value
    int stride;  // bytes from one point to the next (0: one value for every point)
    int min;
    int max;
};
// The cells of a layout: one for single bytes and arrays, five (A to E) for an
// FSK block, none for display-only items.
std::vector<ItemCell> CellsOf(ItemLayout layout);
inline constexpr int kFskCells = 5;
inline constexpr int kFskWordMax = 4096;

struct TuningItem {
    std::array<int, 2> code{kNoCode, kNoCode};  // band 0 / band 1 code, kNoCode where none
    const char* treeKey = nullptr;              // "TreeView" key of the tree node, or its fixed caption (treeFixed)
    bool treeFixed = false;                     // treeKey is a fixed text ("1233")
    TreeGroup treeGroup = TreeGroup::None;      // TreeGroup::None: no tree node
    int treeState = -1;                         // state index of the node (the selection's key)
    int treeOrder = 0;                          // position of the node in its group
    TreeShown treeShown = TreeShown::Always;
    int treeBand1Code = kNoCode;                // code the node selects in band 1 when the item has none there
    const char* gridSection = nullptr;          // section of the grid row caption; nullptr: gridKey is a fixed text
    const char* gridKey = nullptr;              // key (or fixed text) of that caption
    ItemLayout layout = ItemLayout::Single;
    std::array<int, 2> offset{-1, -1};          // absolute first byte in band 0 / band 1, -1 where none
    int length = 0;                             // bytes in the image: 1, 8, 56 or 0 (from the layout)
    Page page = Page::None;                     // Page::None when no page shows it
    Page family = Page::None;                   // the page whose handlers treat the item as theirs
    PowerColumn column = PowerColumn::None;     // column on sbox_power / sbox_power_mobile
    int powerGroup = 0;                         // the items of one pair or triple share it, 0 when none
    int firstPoint = 0;                         // points the page offers: firstPoint to lastPoint, 0 when none;
    int lastPoint = 0;                          // the selection starts on firstPoint (lastPoint from the layout)
    bool eightPointsWithNewFirmware = false;    // points 1-8 in band 1 when newFirmware holds
    ItemKeying keying = ItemKeying::None;
    Loader loader = Loader::None;
    bool liveStore = false;                     // the live-set sender stores the value in the image first
    int queryReplyLength = 10;                  // reply length of a read-back query of the item
    int saveSize = 1;                           // SendSaveItem record length, 0 when never saved
    int wideSaveSize = 0;                       // SendSaveWideItem record length (24 for the mobile triple), else 0
    ItemQuantity quantity = ItemQuantity::None; // what a step aligns it against (from the page unless the row says)
};

// Every item of the table, in table order (includes the "Ref 1" byte, which
// has no codes).
const std::vector<TuningItem>& TuningItems();
// The entry whose band 0 or band 1 code is `code`, or nullptr.
const TuningItem* FindItem(int code);
// 0 when `code` is the entry's band 0 code, 1 when band 1, -1 when neither.
int BandOfCode(int code);
// The entry's code for the band (kNoCode when it has none there).
int CodeForBand(const TuningItem& item, int band);
// The code the item's tree node selects in the band.
int TreeCodeForBand(const TuningItem& item, int band);
// The page of the item in its family, and whether the item belongs to the
// family of `page` (Page::PowerMobile: the members of the mobile triple).
bool InFamily(const TuningItem* item, Page page);
bool InFamily(int code, Page page);

// The byte of item i at point p in band b: the absolute offset of cell
// `cell` (see CellsOf) of point p (1-8), or -1 when the item has no such
// byte. Single items give their byte for any point.
int PointByte(const TuningItem& item, int band, int point, int cell = 0);
// The same for an item code, in the band the code belongs to.
int PointByteOfCode(int code, int point, int cell = 0);
// Reply length of a read-back query (10 for codes the table does not know).
int QueryReplyLengthOf(int code);
// Record lengths of the save commands (1 for codes the table does not know).
int SaveSizeOf(int code);
int WideSaveSizeOf(int code);

// Layout and absolute first byte of the item's bytes, or nothing for codes
// without bytes (display-only, unknown codes). Codes 51 and 52 report the
// arrays of items 20 and 21.
struct ItemBytesInfo {
    ItemLayout layout;
    int offset;
    int length;
};
std::optional<ItemBytesInfo> ItemBytes(int code);

// Power pairs (low, high) and the mobile triple (low, middle, high), by any
// code of the group; nothing when the code belongs to none.
struct PowerPair {
    int low;
    int high;
};
std::optional<PowerPair> PairOf(int code);
struct PowerTriple {
    int low;
    int middle;
    int high;
};
std::optional<PowerTriple> TripleOf(int code);

// The live-set image update: writes `value` into the byte of point p of the
// array of items 4, 9, 10, 12-21, 64, 69, 70, 72-81, or into the byte of item
// 23/83 (p ignored); nothing for any other code.
void StoreLiveValue(TunerImage& image, int code, int point, std::uint8_t value);

// The 8-byte FSK live-set record of item 31-33 / 91-93 at point p (1-5):
// A, B, C, 0, D low, D high, E low, E high. Zeros for any other code.
std::array<std::uint8_t, 8> FskRecord(const TunerImage& image, int code, int point);

// Bytes that stand for the item in SendSaveItem: a pair's 16 bytes (low then
// high), an array's 8, an FSK block's 56, a single item's byte. Empty for
// codes with nothing to save.
std::vector<std::uint8_t> SaveRecord(const TunerImage& image, int code);
// The 24-byte record of the mobile triple (low, middle, high) for SendSaveWideItem.
std::vector<std::uint8_t> WideSaveRecord(const TunerImage& image, int code);
//
// Notes on SaveRecord:
// - The record is never shorter than SaveItemSize(code) when it is not empty,
//   so SendSaveItem never reads past it.
// - Codes 51 and 52 (tree node "1233") are the pair on the arrays of items 20
//   and 21: their record is those 16 bytes, low column first, like every pair;
//   the command set carries one data byte for them, so the radio receives the
//   low column's point 1 (byte 196).
// - Item 26/86 gives its own eight array bytes; SendSaveItem carries one of
//   them. Its real save is the 24-byte triple of WideSaveRecord.
// - Item 30/87 has no bytes and gives an empty record.

// ---- Lookups for the pages and the parameter editor ----

// The entries a page shows, in table order (Page::None gives the entries no
// page shows: item 11/71 and "Ref 1").
std::vector<const TuningItem*> ItemsOnPage(Page page);

// One row of the parameter editor's grid (rows 1 to 45; row 0 is the header).
enum class GridRowKind {
    RxFrequency,  // 32-bit big-endian hertz per point
    TxFrequency,
    Single,       // one byte, shown in column 3 only
    Array,        // one byte per point
    FskBytes,     // one byte per point of an FSK column A, B or C
    FskWords,     // one 16-bit little-endian value per point of an FSK column D or E
};
struct ParamGridRow {
    int row;                    // 1 to 45
    const char* section;        // language section of the caption, nullptr for a fixed text
    const char* key;            // key, or the fixed text ("Ref 1") when section is nullptr
    GridRowKind kind;
    std::array<int, 2> code;    // codes of the item the row shows, kNoCode for the frequency rows and "Ref 1"
    std::array<int, 2> offset;  // absolute byte of point 1 (or the single byte) in band 0 / band 1
    int stride;                 // bytes from one point to the next: 4, 1 or 2 (0 for Single)
    bool eightPoints;           // rows 21-24: points 6-8 exist in the eight-point layout
    bool fskRow;                // rows 31-45: present only for large-model radios
};
// Rows 1 to 45 in grid order.
const std::vector<ParamGridRow>& ParamGridRows();
// The row with that number, or nullptr.
const ParamGridRow* FindParamGridRow(int row);
// Absolute offset of point p (1-based) of the row in the given band, or -1
// when the row has no such point (single rows: any p gives their byte).
int ParamGridOffset(const ParamGridRow& row, int band, int point);

}  // namespace varnel
