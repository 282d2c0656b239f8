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
    FerqStability = 4,
    PowerMobile = 5,
    ErrorRate = 6,
    Mandown = 7,
    Temp = 8,
    Fsk = 9,
};

// Role of an array on the power pages.
enum class PowerColumn { None, Low, Middle, High };

inline constexpr int kNoCode = -1;

struct TuningItem {
    std::array<int, 2> code;          // band 0 / band 1 code, kNoCode where none
    const char* treeKey;              // key in section "TreeView" naming the tree node, or nullptr
    const char* gridSection;          // section of the parameter-grid row caption, or nullptr
    const char* gridKey;              // key (or fixed text, see gridFixed) of that caption
    bool gridFixed;                   // gridKey is a fixed text ("Ref 1"), not a key
    ItemLayout layout;
    std::array<int, 2> offset;        // absolute first byte in band 0 / band 1, -1 where none
    int length;                       // bytes in the image: 1, 8, 56 or 0
    Page page;                        // Page::None when no page shows it
    PowerColumn column;               // column on sbox_power / sbox_power_mobile
    int firstPoint;                   // points the page offers, 0 when none
    int lastPoint;
    bool eightPointsWithNewFirmware;  // points 1-8 in band 1 when newFirmware holds
    const char* keyingKey;            // "ChildForm" key of the idle keying caption, or nullptr
    int saveSize;                     // SendSaveItem record length, 0 when never saved
    int wideSaveSize;                 // SendSaveWideItem record length (24 for the mobile triple), else 0
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
