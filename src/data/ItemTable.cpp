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

using P = Page;
using L = ItemLayout;
using C = PowerColumn;
using G = TreeGroup;
using D = Loader;
using Q = ItemQuantity;
constexpr ItemKeying kTx = ItemKeying::Transmit;
constexpr ItemKeying kRx = ItemKeying::Receive;
constexpr ItemKeying kManDown = ItemKeying::ManDownReceive;

// The tuning items, one row each. Band 1 bytes sit 256 above band 0 (the FSK
// blocks 168 above), the length follows the layout and an item's family is
// its page unless the row says otherwise: finish() fills those in.
// Tree nodes: group, state index (the selection's key) and position in the group.
const TuningItem kRows[] = {
    // Voice-operated and other one-point thresholds, shown at point 3.
    {.code = {0, 60}, .treeKey = "T0004", .treeGroup = G::Receiver, .treeState = 2, .treeOrder = 2, .gridSection = kTree, .gridKey = "T0004", .offset = {64}, .page = P::Vox, .firstPoint = 3, .keying = kRx, .loader = D::ValueLabel},
    {.code = {1, 61}, .treeKey = "T0005", .treeGroup = G::Receiver, .treeState = 3, .treeOrder = 3, .gridSection = kTree, .gridKey = "T0005", .offset = {65}, .page = P::Vox, .firstPoint = 3, .keying = kRx, .loader = D::ValueLabel},
    {.code = {2, 62}, .treeKey = "T0011", .treeGroup = G::Transmitter, .treeState = 21, .treeOrder = 3, .gridSection = kTree, .gridKey = "T0011", .offset = {66}, .page = P::Vox, .firstPoint = 3, .keying = kTx, .loader = D::ValueLabelCheck},
    {.code = {3, 63}, .treeKey = "T0012", .treeGroup = G::Transmitter, .treeState = 22, .treeOrder = 4, .gridSection = kTree, .gridKey = "T0012", .offset = {67}, .page = P::Vox, .firstPoint = 3, .keying = kTx, .loader = D::ValueLabel},
    {.code = {4, 64}, .treeKey = "T0006", .treeGroup = G::Receiver, .treeState = 4, .treeOrder = 1, .gridSection = kTree, .gridKey = "T0006", .layout = L::Array, .offset = {68}, .page = P::Ctcss, .firstPoint = 1, .keying = kRx, .loader = D::Ctcss, .liveStore = true, .saveSize = 8},
    {.code = {5, 65}, .treeKey = "T0007", .treeGroup = G::Receiver, .treeState = 5, .treeOrder = 4, .gridSection = kTree, .gridKey = "T0007", .layout = L::Array, .offset = {76}, .page = P::Sql, .firstPoint = 1, .keying = kRx, .loader = D::Squelch, .saveSize = 8},
    {.code = {6, 66}, .treeKey = "T0008", .treeGroup = G::Receiver, .treeState = 6, .treeOrder = 5, .gridSection = kTree, .gridKey = "T0008", .layout = L::Array, .offset = {84}, .page = P::Sql, .firstPoint = 1, .keying = kRx, .loader = D::Squelch, .saveSize = 8},
    {.code = {7, 67}, .treeKey = "T0009", .treeGroup = G::Receiver, .treeState = 7, .treeOrder = 6, .gridSection = kTree, .gridKey = "T0009", .layout = L::Array, .offset = {92}, .page = P::Sql, .firstPoint = 1, .keying = kRx, .loader = D::Squelch, .saveSize = 8},
    {.code = {8, 68}, .treeKey = "T0010", .treeGroup = G::Receiver, .treeState = 8, .treeOrder = 7, .gridSection = kTree, .gridKey = "T0010", .layout = L::Array, .offset = {100}, .page = P::Sql, .firstPoint = 1, .keying = kRx, .loader = D::Squelch, .saveSize = 8},
    // Transmit power: 10 (low) and 9 (high) on the power page, or low and
    // high of the mobile triple with 26 in the middle; "T0014" chooses the
    // page by modelVariant.
    {.code = {9, 69}, .gridSection = kParam, .gridKey = "P0014", .layout = L::Array, .offset = {108}, .page = P::Power, .column = C::High, .powerGroup = 1, .firstPoint = 1, .keying = kTx, .liveStore = true, .saveSize = 16, .wideSaveSize = 24},
    {.code = {10, 70}, .treeKey = "T0014", .treeGroup = G::Transmitter, .treeState = 24, .treeOrder = 2, .gridSection = kParam, .gridKey = "P0013", .layout = L::Array, .offset = {116}, .page = P::Power, .column = C::Low, .powerGroup = 1, .firstPoint = 1, .keying = kTx, .loader = D::PowerByVariant, .liveStore = true, .saveSize = 16, .wideSaveSize = 24},
    // A CTCSS-type array without a tree node: the grid shows it, the CTCSS
    // page's handlers accept it.
    {.code = {11, 71}, .gridSection = kTree, .gridKey = "T0015", .layout = L::Array, .offset = {124}, .family = P::Ctcss, .saveSize = 8},
    {.code = {12, 72}, .treeKey = "T0016", .treeGroup = G::Transmitter, .treeState = 26, .treeOrder = 5, .gridSection = kTree, .gridKey = "T0016", .layout = L::Array, .offset = {132}, .page = P::Ctcss, .firstPoint = 1, .keying = kTx, .loader = D::Ctcss, .liveStore = true, .saveSize = 8, .quantity = Q::PeakDeviation},
    {.code = {13, 73}, .treeKey = "T0017", .treeGroup = G::Transmitter, .treeState = 27, .treeOrder = 6, .gridSection = kTree, .gridKey = "T0017", .layout = L::Array, .offset = {140}, .page = P::Ctcss, .firstPoint = 1, .keying = kTx, .loader = D::Ctcss, .liveStore = true, .saveSize = 8, .quantity = Q::SubAudioDeviation},
    {.code = {14, 74}, .treeKey = "T0018", .treeGroup = G::Transmitter, .treeState = 28, .treeOrder = 7, .gridSection = kTree, .gridKey = "T0018", .layout = L::Array, .offset = {148}, .page = P::Ctcss, .firstPoint = 1, .keying = kTx, .loader = D::Ctcss, .liveStore = true, .saveSize = 8, .quantity = Q::SubAudioDeviation},
    {.code = {15, 75}, .treeKey = "T0019", .treeGroup = G::Transmitter, .treeState = 29, .treeOrder = 9, .gridSection = kTree, .gridKey = "T0019", .layout = L::Array, .offset = {156}, .page = P::Ctcss, .firstPoint = 1, .keying = kTx, .loader = D::Ctcss, .liveStore = true, .saveSize = 8, .quantity = Q::PeakDeviation},
    {.code = {16, 76}, .treeKey = "T0020", .treeGroup = G::Transmitter, .treeState = 30, .treeOrder = 10, .gridSection = kTree, .gridKey = "T0020", .layout = L::Array, .offset = {164}, .page = P::Ctcss, .firstPoint = 1, .keying = kTx, .loader = D::Ctcss, .liveStore = true, .saveSize = 8, .quantity = Q::SubAudioDeviation},
    {.code = {17, 77}, .treeKey = "T0021", .treeGroup = G::Transmitter, .treeState = 31, .treeOrder = 11, .gridSection = kTree, .gridKey = "T0021", .layout = L::Array, .offset = {172}, .page = P::Ctcss, .firstPoint = 1, .keying = kTx, .loader = D::Ctcss, .liveStore = true, .saveSize = 8, .quantity = Q::SubAudioDeviation},
    // The two further power pairs; band 1 shows points 6-8 with new firmware.
    {.code = {18, 78}, .treeKey = "T0022", .treeGroup = G::Transmitter, .treeState = 32, .treeOrder = 12, .gridSection = kTree, .gridKey = "T0027", .layout = L::Array, .offset = {180}, .page = P::Power, .column = C::Low, .powerGroup = 2, .firstPoint = 1, .eightPointsWithNewFirmware = true, .keying = kTx, .loader = D::PowerRowsByRule, .liveStore = true, .saveSize = 16},
    {.code = {19, 79}, .gridSection = kTree, .gridKey = "T0028", .layout = L::Array, .offset = {188}, .page = P::Power, .column = C::High, .powerGroup = 2, .firstPoint = 1, .eightPointsWithNewFirmware = true, .keying = kTx, .liveStore = true, .saveSize = 16},
    {.code = {20, 80}, .treeKey = "T0023", .treeGroup = G::Transmitter, .treeState = 33, .treeOrder = 8, .gridSection = kTree, .gridKey = "T0029", .layout = L::Array, .offset = {196}, .page = P::Power, .column = C::Low, .powerGroup = 3, .firstPoint = 1, .eightPointsWithNewFirmware = true, .keying = kTx, .loader = D::PowerRowsByRule, .liveStore = true, .saveSize = 16},
    {.code = {21, 81}, .gridSection = kTree, .gridKey = "T0030", .layout = L::Array, .offset = {204}, .page = P::Power, .column = C::High, .powerGroup = 3, .firstPoint = 1, .eightPointsWithNewFirmware = true, .keying = kTx, .liveStore = true, .saveSize = 16},
    // Bit error rate: the read-back reply carries two 32-bit counters.
    {.code = {22, 82}, .treeKey = "T0024", .treeGroup = G::Measurement, .treeState = 51, .treeOrder = 1, .gridSection = kTree, .gridKey = "T0024", .layout = L::Array, .offset = {212}, .page = P::ErrorRate, .firstPoint = 1, .keying = kRx, .loader = D::ClearResults, .queryReplyLength = 17, .saveSize = 8},
    {.code = {23, 83}, .treeKey = "T0013", .treeGroup = G::Transmitter, .treeState = 23, .treeOrder = 1, .gridSection = kTree, .gridKey = "T0013", .offset = {220}, .page = P::FreqStability, .firstPoint = 3, .keying = kTx, .loader = D::Stability, .liveStore = true},
    {.code = {24, 84}, .treeKey = "T0025", .treeGroup = G::Measurement, .treeState = 52, .treeOrder = 2, .gridSection = kTree, .gridKey = "T0025", .offset = {221}, .page = P::Vox, .firstPoint = 3, .keying = kRx, .loader = D::ValueLabel},
    {.code = {25, 85}, .treeKey = "T0026", .treeGroup = G::Measurement, .treeState = 53, .treeOrder = 3, .gridSection = kTree, .gridKey = "T0026", .offset = {222}, .page = P::Vox, .firstPoint = 3, .keying = kRx, .loader = D::ValueLabel},
    // "Ref 1": a grid row only, no codes, never saved.
    {.gridKey = "Ref 1", .offset = {223}, .saveSize = 0},
    {.code = {26, 86}, .gridSection = kParam, .gridKey = "P0015", .layout = L::Array, .offset = {224}, .page = P::PowerMobile, .column = C::Middle, .powerGroup = 1, .firstPoint = 1, .keying = kTx, .wideSaveSize = 24},
    // Man-down sensor settings; their band 1 codes break the +60 rule.
    {.code = {27, 88}, .treeKey = "T0041", .treeGroup = G::Mandown, .treeState = 61, .treeOrder = 1, .offset = {232}, .page = P::Mandown, .firstPoint = 1, .keying = kManDown, .loader = D::Mandown},
    {.code = {28, 89}, .treeKey = "T0042", .treeGroup = G::Mandown, .treeState = 62, .treeOrder = 2, .offset = {233}, .page = P::Mandown, .firstPoint = 1, .keying = kManDown, .loader = D::Mandown},
    {.code = {29, 90}, .treeKey = "T0043", .treeGroup = G::Mandown, .treeState = 63, .treeOrder = 3, .offset = {234}, .page = P::Mandown, .firstPoint = 1, .keying = kManDown, .loader = D::Mandown},
    // Temperature: measured by the radio, nothing stored in the image; the
    // read-back reply carries two readings.
    {.code = {30, 87}, .treeKey = "T0044", .treeGroup = G::Transmitter, .treeState = 34, .treeOrder = 14, .treeShown = TreeShown::MobileVariant, .layout = L::DisplayOnly, .page = P::Temp, .firstPoint = 3, .keying = kTx, .queryReplyLength = 11},
    // FSK blocks; the tree lists the third block second.
    {.code = {31, 91}, .treeKey = "T0056", .treeGroup = G::Transmitter, .treeState = 36, .treeOrder = 15, .treeShown = TreeShown::LargeModel, .layout = L::FskBlock, .offset = {512}, .page = P::Fsk, .firstPoint = 1, .keying = kTx, .loader = D::Fsk, .saveSize = 56},
    {.code = {32, 92}, .treeKey = "T0057", .treeGroup = G::Transmitter, .treeState = 38, .treeOrder = 17, .treeShown = TreeShown::LargeModel, .layout = L::FskBlock, .offset = {568}, .page = P::Fsk, .firstPoint = 1, .keying = kTx, .loader = D::Fsk, .saveSize = 56},
    {.code = {33, 93}, .treeKey = "T0045", .treeGroup = G::Transmitter, .treeState = 37, .treeOrder = 16, .treeShown = TreeShown::LargeModel, .layout = L::FskBlock, .offset = {624}, .page = P::Fsk, .firstPoint = 1, .keying = kTx, .loader = D::Fsk, .saveSize = 56},
    // Codes 51 and 52: band 0 only, on the arrays of items 20 and 21. The
    // tree node "1233" selects 52, and 78 in band 1.
    {.code = {51, kNoCode}, .layout = L::Shared, .offset = {196}, .page = P::Power, .column = C::Low, .powerGroup = 4, .firstPoint = 1, .keying = kTx},
    {.code = {52, kNoCode}, .treeKey = "1233", .treeFixed = true, .treeGroup = G::Transmitter, .treeState = 35, .treeOrder = 13, .treeShown = TreeShown::ExpertMode, .treeBand1Code = 78, .layout = L::Shared, .offset = {204}, .page = P::Power, .column = C::High, .powerGroup = 4, .firstPoint = 1, .keying = kTx, .loader = D::PowerRowsHidden},
};

int layoutLength(ItemLayout layout) {
    switch (layout) {
        case ItemLayout::Single: return 1;
        case ItemLayout::Array:
        case ItemLayout::Shared: return kArrayBytes;
        case ItemLayout::FskBlock: return kFskBytes;
        case ItemLayout::DisplayOnly: return 0;
    }
    return 0;
}

TuningItem finish(TuningItem item) {
    item.length = layoutLength(item.layout);
    // A row gives its band 0 byte only.
    item.offset[1] = -1;
    if (item.offset[0] >= 0 && item.layout != ItemLayout::Shared) {
        item.offset[1] = item.offset[0] + (item.layout == ItemLayout::FskBlock ? kFskBandStep : kHalf);
    }
    if (item.family == Page::None) item.family = item.page;
    // What a step aligns the item against follows from its page where the
    // row does not say (the CTCSS page's transmit items do).
    if (item.quantity == ItemQuantity::None) {
        switch (item.page) {
            case Page::Power:
            case Page::PowerMobile: item.quantity = ItemQuantity::Power; break;
            case Page::FreqStability: item.quantity = ItemQuantity::FrequencyError; break;
            case Page::Sql:
            case Page::Mandown: item.quantity = ItemQuantity::RadioReading; break;
            case Page::Vox:
                // Battery thresholds are keyed transmit; the others are levels the radio reads.
                item.quantity = item.keying == ItemKeying::Transmit ? ItemQuantity::SupplyVoltage
                                                                    : ItemQuantity::RadioReading;
                break;
            case Page::Ctcss:
                if (item.keying == ItemKeying::Receive) item.quantity = ItemQuantity::RadioReading;
                break;
            default: break;
        }
    }
    // One-value items offer their one point, arrays and blocks points 1 to 5.
    if (item.firstPoint > 0) {
        const bool oneValue = item.layout == ItemLayout::Single || item.layout == ItemLayout::DisplayOnly;
        item.lastPoint = oneValue ? item.firstPoint : 5;
    }
    return item;
}

std::vector<TuningItem> buildTable() {
    std::vector<TuningItem> t;
    t.reserve(std::size(kRows));
    for (const TuningItem& row : kRows) t.push_back(finish(row));
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
    const std::vector<ItemCell> cells = CellsOf(ItemLayout::FskBlock);
    for (const FskRows& f : kFskRows) {
        const TuningItem* item = FindItem(f.code0);
        for (int c = 0; c < kFskCells; ++c) {
            const ItemCell& cell = cells[static_cast<std::size_t>(c)];
            const bool words = cell.width == 2;
            ParamGridRow row = gridRow(f.firstRow + c, kTree, f.keys[c], words ? K::FskWords : K::FskBytes,
                                       item->code[0], item->code[1], item->offset[0] + cell.start,
                                       item->offset[1] + cell.start, cell.stride);
            row.fskRow = true;
            rows.push_back(row);
        }
    }
    return rows;
}

void appendBytes(std::vector<std::uint8_t>& out, const TunerImage& image, int offset, int length) {
    if (offset < 0 || length <= 0 || static_cast<std::size_t>(offset + length) > TunerImage::kSize) return;
    out.insert(out.end(), image.bytes.begin() + offset, image.bytes.begin() + offset + length);
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

namespace {

// The items of the same power group as `code`, in the code's band, by column.
struct GroupMembers {
    int low = kNoCode;
    int middle = kNoCode;
    int high = kNoCode;
    int lowOnPower = kNoCode;   // members on sbox_power (the pair)
    int highOnPower = kNoCode;
};
std::optional<GroupMembers> membersOf(int code) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->powerGroup == 0) return std::nullopt;
    const int band = BandOfCode(code);
    GroupMembers m;
    for (const TuningItem& other : TuningItems()) {
        if (other.powerGroup != item->powerGroup || other.code[band] == kNoCode) continue;
        const int c = other.code[band];
        switch (other.column) {
            case PowerColumn::Low: m.low = c; break;
            case PowerColumn::Middle: m.middle = c; break;
            case PowerColumn::High: m.high = c; break;
            case PowerColumn::None: break;
        }
        if (other.page == Page::Power && other.column == PowerColumn::Low) m.lowOnPower = c;
        if (other.page == Page::Power && other.column == PowerColumn::High) m.highOnPower = c;
    }
    return m;
}

}  // namespace

std::optional<PowerPair> PairOf(int code) {
    const std::optional<GroupMembers> m = membersOf(code);
    if (!m || m->lowOnPower == kNoCode || m->highOnPower == kNoCode) return std::nullopt;
    if (code != m->lowOnPower && code != m->highOnPower) return std::nullopt;
    return PowerPair{m->lowOnPower, m->highOnPower};
}

std::optional<PowerTriple> TripleOf(int code) {
    const std::optional<GroupMembers> m = membersOf(code);
    if (!m || m->low == kNoCode || m->middle == kNoCode || m->high == kNoCode) return std::nullopt;
    return PowerTriple{m->low, m->middle, m->high};
}

const char* KeyingKey(ItemKeying keying) {
    switch (keying) {
        case ItemKeying::Transmit: return "C0007";
        case ItemKeying::Receive: return "C0008";
        case ItemKeying::ManDownReceive: return "C0029";
        case ItemKeying::None: break;
    }
    return nullptr;
}

std::vector<ItemCell> CellsOf(ItemLayout layout) {
    constexpr int kByteMax = 255;
    switch (layout) {
        case ItemLayout::Single: return {{0, 1, 0, 0, kByteMax}};
        case ItemLayout::Array:
        case ItemLayout::Shared: return {{0, 1, 1, 0, kByteMax}};
        case ItemLayout::FskBlock:
            // Columns A, B, C: a byte per point; D, E: a 16-bit little-endian value per point.
            return {{0, 1, 1, 0, kByteMax},
                    {8, 1, 1, 0, kByteMax},
                    {16, 1, 1, 0, kByteMax},
                    {24, 2, 2, 0, kFskWordMax},
                    {40, 2, 2, 0, kFskWordMax}};
        case ItemLayout::DisplayOnly: break;
    }
    return {};
}

int TreeCodeForBand(const TuningItem& item, int band) {
    const int code = CodeForBand(item, band);
    return code == kNoCode && band != 0 ? item.treeBand1Code : code;
}

bool InFamily(const TuningItem* item, Page page) {
    if (item == nullptr) return false;
    if (page == Page::PowerMobile) return TripleOf(item->code[0]).has_value();
    return item->family == page;
}

bool InFamily(int code, Page page) { return code != kNoCode && InFamily(FindItem(code), page); }

int PointByte(const TuningItem& item, int band, int point, int cell) {
    const int base = item.offset[band == 0 ? 0 : 1];
    const std::vector<ItemCell> cells = CellsOf(item.layout);
    if (base < 0 || cell < 0 || cell >= static_cast<int>(cells.size())) return -1;
    const ItemCell& c = cells[static_cast<std::size_t>(cell)];
    if (c.stride == 0) return base + c.start;
    if (point < 1 || point > TunerImage::kPoints) return -1;
    return base + c.start + c.stride * (point - 1);
}

int PointByteOfCode(int code, int point, int cell) {
    const TuningItem* item = FindItem(code);
    return item == nullptr ? -1 : PointByte(*item, BandOfCode(code), point, cell);
}

int QueryReplyLengthOf(int code) {
    const TuningItem* item = FindItem(code);
    return item == nullptr ? 10 : item->queryReplyLength;
}

int SaveSizeOf(int code) {
    const TuningItem* item = FindItem(code);
    return item == nullptr || item->saveSize == 0 ? 1 : item->saveSize;
}

int WideSaveSizeOf(int code) {
    const TuningItem* item = FindItem(code);
    return item == nullptr || item->wideSaveSize == 0 ? 1 : item->wideSaveSize;
}

void StoreLiveValue(TunerImage& image, int code, int point, std::uint8_t value) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || !item->liveStore) return;
    const int at = PointByteOfCode(code, point);
    if (at < 0) return;
    image[static_cast<std::size_t>(at)] = value;
}

std::array<std::uint8_t, 8> FskRecord(const TunerImage& image, int code, int point) {
    std::array<std::uint8_t, 8> record{};
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes || bytes->layout != ItemLayout::FskBlock || point < 1 || point > TunerImage::kPoints) return record;
    // Columns A, B and C, a zero, then columns D and E in the image's own byte
    // order (low byte first).
    std::size_t out = 0;
    for (int cell = 0; cell < kFskCells; ++cell) {
        const int at = PointByteOfCode(code, point, cell);
        if (at < 0) return {};
        const int width = CellsOf(ItemLayout::FskBlock)[static_cast<std::size_t>(cell)].width;
        for (int b = 0; b < width; ++b) record[out++] = image[static_cast<std::size_t>(at + b)];
        if (cell == 2) record[out++] = 0;
    }
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
