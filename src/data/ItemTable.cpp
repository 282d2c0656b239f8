#include "data/ItemTable.h"

#include <algorithm>

namespace varnel {

namespace {

// Band 1 of the two halves sits 256 bytes above band 0; the three FSK blocks
// of band 1 follow the three of band 0, 168 bytes further on.
constexpr int kHalf = static_cast<int>(TunerImage::kHalfSize);
constexpr int kFskBandStep = 3 * static_cast<int>(TunerImage::kFskBlockSize);
constexpr int kArrayBytes = TunerImage::kPoints;
constexpr int kFskBytes = static_cast<int>(TunerImage::kFskBlockSize);

constexpr const char* kTree = "TreeView";
constexpr const char* kParam = "Param";
constexpr const char* kTx = "C0007";
constexpr const char* kRx = "C0008";
constexpr const char* kManDown = "C0029";

// A one-byte item at `offset` in band 0, `offset` + 256 in band 1.
TuningItem singleItem(int code0, int code1, const char* tree, const char* gridKey, int offset, Page page,
                      int point, const char* keying) {
    return TuningItem{{code0, code1},
                      tree,
                      gridKey != nullptr ? kTree : nullptr,
                      gridKey,
                      false,
                      ItemLayout::Single,
                      {offset, offset + kHalf},
                      1,
                      page,
                      PowerColumn::None,
                      point,
                      point,
                      false,
                      keying,
                      1,
                      0};
}

// An eight-byte per-point array shown at points 1-5.
TuningItem arrayItem(int code0, int code1, const char* tree, const char* gridSection, const char* gridKey,
                     int offset, Page page, const char* keying, int saveSize) {
    return TuningItem{{code0, code1},
                      tree,
                      gridSection,
                      gridKey,
                      false,
                      ItemLayout::Array,
                      {offset, offset + kHalf},
                      kArrayBytes,
                      page,
                      PowerColumn::None,
                      page == Page::None ? 0 : 1,
                      page == Page::None ? 0 : 5,
                      false,
                      keying,
                      saveSize,
                      0};
}

TuningItem powerItem(int code0, int code1, const char* tree, const char* gridSection, const char* gridKey,
                     int offset, Page page, PowerColumn column, bool eightPoints, int saveSize,
                     int wideSaveSize) {
    TuningItem item = arrayItem(code0, code1, tree, gridSection, gridKey, offset, page, kTx, saveSize);
    item.column = column;
    item.eightPointsWithNewFirmware = eightPoints;
    item.wideSaveSize = wideSaveSize;
    return item;
}

TuningItem fskItem(int code0, int code1, const char* tree, int offset) {
    return TuningItem{{code0, code1},
                      tree,
                      nullptr,
                      nullptr,
                      false,
                      ItemLayout::FskBlock,
                      {offset, offset + kFskBandStep},
                      kFskBytes,
                      Page::Fsk,
                      PowerColumn::None,
                      1,
                      5,
                      false,
                      kTx,
                      kFskBytes,
                      0};
}

// Codes 51 and 52: band 0 only, on the arrays of items 20 and 21.
TuningItem sharedItem(int code0, int offset, PowerColumn column) {
    return TuningItem{{code0, kNoCode},
                      nullptr,  // the tree node carries the fixed caption "1233"
                      nullptr,
                      nullptr,
                      false,
                      ItemLayout::Shared,
                      {offset, -1},
                      kArrayBytes,
                      Page::Power,
                      column,
                      1,
                      5,
                      false,
                      kTx,
                      1,
                      0};
}

std::vector<TuningItem> buildTable() {
    using P = Page;
    using C = PowerColumn;
    std::vector<TuningItem> t;
    t.reserve(40);
    // Voice-operated and other one-point thresholds, shown at point 3.
    t.push_back(singleItem(0, 60, "T0004", "T0004", 64, P::Vox, 3, kRx));
    t.push_back(singleItem(1, 61, "T0005", "T0005", 65, P::Vox, 3, kRx));
    t.push_back(singleItem(2, 62, "T0011", "T0011", 66, P::Vox, 3, kTx));
    t.push_back(singleItem(3, 63, "T0012", "T0012", 67, P::Vox, 3, kTx));
    t.push_back(arrayItem(4, 64, "T0006", kTree, "T0006", 68, P::Ctcss, kRx, 8));
    t.push_back(arrayItem(5, 65, "T0007", kTree, "T0007", 76, P::Sql, kRx, 8));
    t.push_back(arrayItem(6, 66, "T0008", kTree, "T0008", 84, P::Sql, kRx, 8));
    t.push_back(arrayItem(7, 67, "T0009", kTree, "T0009", 92, P::Sql, kRx, 8));
    t.push_back(arrayItem(8, 68, "T0010", kTree, "T0010", 100, P::Sql, kRx, 8));
    // Transmit power: 10 (low) and 9 (high) on the power page, or low and
    // high of the mobile triple.
    t.push_back(powerItem(9, 69, nullptr, kParam, "P0014", 108, P::Power, C::High, false, 16, 24));
    t.push_back(powerItem(10, 70, "T0014", kParam, "P0013", 116, P::Power, C::Low, false, 16, 24));
    t.push_back(arrayItem(11, 71, nullptr, kTree, "T0015", 124, P::None, nullptr, 8));
    t.push_back(arrayItem(12, 72, "T0016", kTree, "T0016", 132, P::Ctcss, kTx, 8));
    t.push_back(arrayItem(13, 73, "T0017", kTree, "T0017", 140, P::Ctcss, kTx, 8));
    t.push_back(arrayItem(14, 74, "T0018", kTree, "T0018", 148, P::Ctcss, kTx, 8));
    t.push_back(arrayItem(15, 75, "T0019", kTree, "T0019", 156, P::Ctcss, kTx, 8));
    t.push_back(arrayItem(16, 76, "T0020", kTree, "T0020", 164, P::Ctcss, kTx, 8));
    t.push_back(arrayItem(17, 77, "T0021", kTree, "T0021", 172, P::Ctcss, kTx, 8));
    // The two further power pairs; band 1 shows points 6-8 with new firmware.
    t.push_back(powerItem(18, 78, "T0022", kTree, "T0027", 180, P::Power, C::Low, true, 16, 0));
    t.push_back(powerItem(19, 79, nullptr, kTree, "T0028", 188, P::Power, C::High, true, 16, 0));
    t.push_back(powerItem(20, 80, "T0023", kTree, "T0029", 196, P::Power, C::Low, true, 16, 0));
    t.push_back(powerItem(21, 81, nullptr, kTree, "T0030", 204, P::Power, C::High, true, 16, 0));
    t.push_back(arrayItem(22, 82, "T0024", kTree, "T0024", 212, P::ErrorRate, kRx, 8));
    t.push_back(singleItem(23, 83, "T0013", "T0013", 220, P::FerqStability, 3, kTx));
    t.push_back(singleItem(24, 84, "T0025", "T0025", 221, P::Vox, 3, kRx));
    t.push_back(singleItem(25, 85, "T0026", "T0026", 222, P::Vox, 3, kRx));
    // "Ref 1": a grid row only, no codes, never saved.
    {
        TuningItem ref = singleItem(kNoCode, kNoCode, nullptr, "Ref 1", 223, P::None, 0, nullptr);
        ref.gridSection = nullptr;
        ref.gridFixed = true;
        ref.saveSize = 0;
        t.push_back(ref);
    }
    t.push_back(powerItem(26, 86, nullptr, kParam, "P0015", 224, P::PowerMobile, C::Middle, false, 1, 24));
    // Man-down sensor settings; their band 1 codes break the +60 rule.
    t.push_back(singleItem(27, 88, "T0041", nullptr, 232, P::Mandown, 1, kManDown));
    t.push_back(singleItem(28, 89, "T0042", nullptr, 233, P::Mandown, 1, kManDown));
    t.push_back(singleItem(29, 90, "T0043", nullptr, 234, P::Mandown, 1, kManDown));
    // Temperature: measured by the radio, nothing stored in the image.
    t.push_back(TuningItem{{30, 87},
                           "T0044",
                           nullptr,
                           nullptr,
                           false,
                           ItemLayout::DisplayOnly,
                           {-1, -1},
                           0,
                           P::Temp,
                           C::None,
                           3,
                           3,
                           false,
                           kTx,
                           1,
                           0});
    t.push_back(fskItem(31, 91, "T0056", 512));
    t.push_back(fskItem(32, 92, "T0057", 568));
    t.push_back(fskItem(33, 93, "T0045", 624));
    t.push_back(sharedItem(51, 196, C::Low));
    t.push_back(sharedItem(52, 204, C::High));
    return t;
}

ParamGridRow gridRow(int row, const char* section, const char* key, GridRowKind kind, int code0,
                     int code1, int offset0, int offset1, int stride) {
    return ParamGridRow{row, section, key, kind, {code0, code1}, {offset0, offset1}, stride,
                        false, false};
}

std::vector<ParamGridRow> buildGridRows() {
    using K = GridRowKind;
    std::vector<ParamGridRow> rows;
    rows.reserve(45);
    rows.push_back(gridRow(1, "ChildForm", "C0010", K::RxFrequency, kNoCode, kNoCode, 32, 32 + kHalf, 4));
    rows.push_back(gridRow(2, "ChildForm", "C0011", K::TxFrequency, kNoCode, kNoCode, 0, kHalf, 4));
    // Rows 3-30 follow the items, in the grid's own order.
    struct ItemRow {
        int row;
        int code;
    };
    static constexpr ItemRow kItemRows[] = {
        {3, 2},   {4, 3},   {5, 24},  {6, 25},  {7, 0},   {8, 1},   {9, 23},  {11, 4},  {12, 10},
        {13, 9},  {14, 5},  {15, 6},  {16, 7},  {17, 8},  {18, 12}, {19, 13}, {20, 14}, {21, 18},
        {22, 19}, {23, 20}, {24, 21}, {25, 11}, {26, 15}, {27, 16}, {28, 17}, {29, 22}, {30, 26},
    };
    for (const ItemRow& r : kItemRows) {
        if (r.row == 11) {
            // Row 10 is the byte no item owns.
            rows.push_back(gridRow(10, nullptr, "Ref 1", K::Single, kNoCode, kNoCode, 223, 223 + kHalf, 0));
        }
        const TuningItem* item = FindItem(r.code);
        const bool single = item->layout == ItemLayout::Single;
        ParamGridRow row = gridRow(r.row, item->gridSection, item->gridKey, single ? K::Single : K::Array,
                                   item->code[0], item->code[1], item->offset[0], item->offset[1],
                                   single ? 0 : 1);
        row.eightPoints = item->eightPointsWithNewFirmware;
        rows.push_back(row);
    }
    // Rows 31-45: the five columns of each FSK block, blocks in the order
    // 31, 33, 32 (the grid lists the third block second).
    struct FskRows {
        int firstRow;
        int code0;
        const char* keys[5];
    };
    static constexpr FskRows kFskRows[] = {
        {31, 31, {"T0046", "T0047", "T0048", "T0049", "T0050"}},
        {36, 33, {"T0051", "T0052", "T0053", "T0054", "T0055"}},
        {41, 32, {"T0058", "T0059", "T0060", "T0061", "T0062"}},
    };
    static constexpr int kColumnStart[5] = {0, 8, 16, 24, 40};
    for (const FskRows& f : kFskRows) {
        const TuningItem* item = FindItem(f.code0);
        for (int c = 0; c < 5; ++c) {
            const bool words = c >= 3;
            ParamGridRow row = gridRow(f.firstRow + c, kTree, f.keys[c], words ? K::FskWords : K::FskBytes,
                                       item->code[0], item->code[1], item->offset[0] + kColumnStart[c],
                                       item->offset[1] + kColumnStart[c], words ? 2 : 1);
            row.fskRow = true;
            rows.push_back(row);
        }
    }
    return rows;
}

int arrayByte(const ItemBytesInfo& bytes, int point) { return bytes.offset + (point - 1); }

void appendBytes(std::vector<std::uint8_t>& out, const TunerImage& image, int offset, int length) {
    if (offset < 0 || length <= 0 || static_cast<std::size_t>(offset + length) > TunerImage::kSize) return;
    out.insert(out.end(), image.bytes.begin() + offset, image.bytes.begin() + offset + length);
}

// Codes whose array (or single byte) the live-set store writes: 4, 9, 10,
// 12-21 and 23 in band 0 and the same items in band 1 (64, 69, 70, 72-81, 83).
bool storesLiveValue(int code) {
    int c = 0;
    if (code >= 0 && code <= 23) {
        c = code;
    } else if (code >= 60 && code <= 83) {
        c = code - 60;
    } else {
        return false;
    }
    return c == 4 || c == 9 || c == 10 || (c >= 12 && c <= 21) || c == 23;
}

}  // namespace

const std::vector<TuningItem>& TuningItems() {
    static const std::vector<TuningItem> table = buildTable();
    return table;
}

const TuningItem* FindItem(int code) {
    if (code == kNoCode) return nullptr;
    for (const TuningItem& item : TuningItems()) {
        if (item.code[0] == code || item.code[1] == code) return &item;
    }
    return nullptr;
}

int BandOfCode(int code) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr) return -1;
    return item->code[0] == code ? 0 : 1;
}

int CodeForBand(const TuningItem& item, int band) { return item.code[band == 0 ? 0 : 1]; }

std::optional<ItemBytesInfo> ItemBytes(int code) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->layout == ItemLayout::DisplayOnly || item->length == 0) return std::nullopt;
    const int band = BandOfCode(code);
    const int offset = item->offset[band];
    if (offset < 0) return std::nullopt;
    // The shared codes are ordinary arrays as far as their bytes go.
    const ItemLayout layout = item->layout == ItemLayout::Shared ? ItemLayout::Array : item->layout;
    return ItemBytesInfo{layout, offset, item->length};
}

std::optional<PowerPair> PairOf(int code) {
    static constexpr PowerPair kPairs[] = {{10, 9}, {18, 19}, {20, 21}, {51, 52}, {70, 69}, {78, 79}, {80, 81}};
    for (const PowerPair& pair : kPairs) {
        if (pair.low == code || pair.high == code) return pair;
    }
    return std::nullopt;
}

std::optional<PowerTriple> TripleOf(int code) {
    static constexpr PowerTriple kTriples[] = {{10, 26, 9}, {70, 86, 69}};
    for (const PowerTriple& triple : kTriples) {
        if (triple.low == code || triple.middle == code || triple.high == code) return triple;
    }
    return std::nullopt;
}

void StoreLiveValue(TunerImage& image, int code, int point, std::uint8_t value) {
    if (!storesLiveValue(code)) return;
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes) return;
    if (bytes->layout == ItemLayout::Single) {
        image[static_cast<std::size_t>(bytes->offset)] = value;
        return;
    }
    if (bytes->layout != ItemLayout::Array || point < 1 || point > TunerImage::kPoints) return;
    image[static_cast<std::size_t>(arrayByte(*bytes, point))] = value;
}

std::array<std::uint8_t, 8> FskRecord(const TunerImage& image, int code, int point) {
    std::array<std::uint8_t, 8> record{};
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes || bytes->layout != ItemLayout::FskBlock || point < 1 || point > TunerImage::kPoints) return record;
    const std::size_t s = static_cast<std::size_t>(bytes->offset);
    const std::size_t k = static_cast<std::size_t>(point - 1);
    record[0] = image[s + k];
    record[1] = image[s + 8 + k];
    record[2] = image[s + 16 + k];
    record[3] = 0;
    // Columns D and E go out in the image's own byte order (low byte first).
    record[4] = image[s + 24 + 2 * k];
    record[5] = image[s + 24 + 2 * k + 1];
    record[6] = image[s + 40 + 2 * k];
    record[7] = image[s + 40 + 2 * k + 1];
    return record;
}

std::vector<std::uint8_t> SaveRecord(const TunerImage& image, int code) {
    std::vector<std::uint8_t> record;
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->saveSize == 0) return record;
    if (const std::optional<PowerPair> pair = PairOf(code)) {
        const std::optional<ItemBytesInfo> low = ItemBytes(pair->low);
        const std::optional<ItemBytesInfo> high = ItemBytes(pair->high);
        if (low && high) {
            appendBytes(record, image, low->offset, low->length);
            appendBytes(record, image, high->offset, high->length);
        }
        return record;
    }
    if (const std::optional<ItemBytesInfo> bytes = ItemBytes(code)) {
        appendBytes(record, image, bytes->offset, bytes->length);
    }
    return record;
}

std::vector<std::uint8_t> WideSaveRecord(const TunerImage& image, int code) {
    std::vector<std::uint8_t> record;
    const std::optional<PowerTriple> triple = TripleOf(code);
    if (!triple) return record;
    for (const int member : {triple->low, triple->middle, triple->high}) {
        const std::optional<ItemBytesInfo> bytes = ItemBytes(member);
        if (!bytes) return {};
        appendBytes(record, image, bytes->offset, bytes->length);
    }
    return record;
}

std::vector<const TuningItem*> ItemsOnPage(Page page) {
    std::vector<const TuningItem*> items;
    for (const TuningItem& item : TuningItems()) {
        if (item.page == page) items.push_back(&item);
    }
    return items;
}

const std::vector<ParamGridRow>& ParamGridRows() {
    static const std::vector<ParamGridRow> rows = buildGridRows();
    return rows;
}

const ParamGridRow* FindParamGridRow(int row) {
    const std::vector<ParamGridRow>& rows = ParamGridRows();
    const auto it = std::find_if(rows.begin(), rows.end(), [row](const ParamGridRow& r) { return r.row == row; });
    return it == rows.end() ? nullptr : &*it;
}

int ParamGridOffset(const ParamGridRow& row, int band, int point) {
    const int base = row.offset[band == 0 ? 0 : 1];
    if (row.kind == GridRowKind::Single) return base;
    if (point < 1 || point > TunerImage::kPoints) return -1;
    return base + row.stride * (point - 1);
}

}  // namespace varnel
