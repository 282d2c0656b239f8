// The tuning-item table and the records built from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "data/ItemTable.h"
#include "data/TunerImage.h"
#include "protocol/Sendcmd.h"

namespace varnel {
namespace {

// Every byte a different value (modulo 251, a prime, so neighbouring arrays
// never repeat each other's pattern).
TunerImage patternedImage() {
    TunerImage image;
    for (std::size_t i = 0; i < TunerImage::kSize; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + 3) % 251);
    return image;
}

std::vector<std::uint8_t> bytesAt(const TunerImage& image, int from, int count) {
    return {image.bytes.begin() + from, image.bytes.begin() + from + count};
}

std::vector<int> allTableCodes() {
    std::vector<int> codes;
    for (const TuningItem& item : TuningItems()) {
        for (int c : item.code) {
            if (c != kNoCode) codes.push_back(c);
        }
    }
    return codes;
}

// Codes around and beyond the table, including the int extremes.
const std::vector<int>& unknownCodes() {
    static const std::vector<int> codes = {INT_MIN, -1000, -2, -1, 34, 35, 40, 50, 53, 54, 59,
                                           94, 100, 111, 150, 255, 256, 1000, INT_MAX};
    return codes;
}

// ---------------------------------------------------------------- codes

TEST(ItemTableCodes, EachCodeNamesExactlyOneEntry) {
    std::set<int> seen;
    for (int c : allTableCodes()) EXPECT_TRUE(seen.insert(c).second) << "code " << c << " appears twice";
    EXPECT_EQ(seen.size(), 34u + 34u + 2u);  // items 0-33 in both bands, 51 and 52
}

TEST(ItemTableCodes, Band1CodeIsBand0PlusSixtyExceptTheManDownAndTemperatureItems) {
    struct Irregular {
        int band0;
        int band1;
    };
    const Irregular irregular[] = {{27, 88}, {28, 89}, {29, 90}, {30, 87}};
    for (int c = 0; c <= 33; ++c) {
        const TuningItem* item = FindItem(c);
        ASSERT_NE(item, nullptr) << c;
        int expected = c + 60;
        for (const Irregular& i : irregular) {
            if (i.band0 == c) expected = i.band1;
        }
        EXPECT_EQ(item->code[0], c);
        EXPECT_EQ(item->code[1], expected) << "item " << c;
        EXPECT_EQ(FindItem(expected), item);
        EXPECT_EQ(BandOfCode(c), 0);
        EXPECT_EQ(BandOfCode(expected), 1);
        EXPECT_EQ(CodeForBand(*item, 0), c);
        EXPECT_EQ(CodeForBand(*item, 1), expected);
    }
}

TEST(ItemTableCodes, SharedCodesExistInBand0Only) {
    for (int c : {51, 52}) {
        const TuningItem* item = FindItem(c);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->layout, ItemLayout::Shared);
        EXPECT_EQ(BandOfCode(c), 0);
        EXPECT_EQ(CodeForBand(*item, 1), kNoCode);
        EXPECT_EQ(item->page, Page::Power);
    }
    EXPECT_EQ(FindItem(51)->column, PowerColumn::Low);
    EXPECT_EQ(FindItem(52)->column, PowerColumn::High);
}

TEST(ItemTableCodes, RefOneHasNoCodesAndIsAFixedGridCaption) {
    const auto& items = TuningItems();
    const auto ref = std::find_if(items.begin(), items.end(), [](const TuningItem& i) {
        return i.gridKey != nullptr && i.gridSection == nullptr;
    });
    ASSERT_NE(ref, items.end());
    EXPECT_EQ(std::string(ref->gridKey), "Ref 1");
    EXPECT_EQ(ref->code[0], kNoCode);
    EXPECT_EQ(ref->code[1], kNoCode);
    EXPECT_EQ(ref->offset[0], 223);
    EXPECT_EQ(ref->offset[1], 479);
    EXPECT_EQ(ref->saveSize, 0);
    EXPECT_EQ(std::count_if(items.begin(), items.end(),
                            [](const TuningItem& i) { return i.gridKey != nullptr && i.gridSection == nullptr; }),
              1);
}

TEST(ItemTableCodes, UnknownCodesFindNothing) {
    for (int c : unknownCodes()) {
        SCOPED_TRACE(c);
        EXPECT_EQ(FindItem(c), nullptr);
        EXPECT_EQ(BandOfCode(c), -1);
        EXPECT_FALSE(ItemBytes(c).has_value());
        EXPECT_FALSE(PairOf(c).has_value());
        EXPECT_FALSE(TripleOf(c).has_value());
    }
}

// ---------------------------------------------------------------- layout

struct BytesCase {
    int code;
    ItemLayout layout;
    int offset;
    int length;
};

class ItemBytesTest : public ::testing::TestWithParam<BytesCase> {};

TEST_P(ItemBytesTest, LayoutAndOffset) {
    const BytesCase& c = GetParam();
    const std::optional<ItemBytesInfo> bytes = ItemBytes(c.code);
    ASSERT_TRUE(bytes.has_value()) << c.code;
    EXPECT_EQ(bytes->layout, c.layout);
    EXPECT_EQ(bytes->offset, c.offset);
    EXPECT_EQ(bytes->length, c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ItemBytesTest,
    ::testing::Values(BytesCase{0, ItemLayout::Single, 64, 1}, BytesCase{60, ItemLayout::Single, 320, 1},
                      BytesCase{3, ItemLayout::Single, 67, 1}, BytesCase{4, ItemLayout::Array, 68, 8},
                      BytesCase{68, ItemLayout::Array, 356, 8}, BytesCase{9, ItemLayout::Array, 108, 8},
                      BytesCase{70, ItemLayout::Array, 372, 8}, BytesCase{11, ItemLayout::Array, 124, 8},
                      BytesCase{17, ItemLayout::Array, 172, 8}, BytesCase{78, ItemLayout::Array, 436, 8},
                      BytesCase{21, ItemLayout::Array, 204, 8}, BytesCase{22, ItemLayout::Array, 212, 8},
                      BytesCase{83, ItemLayout::Single, 476, 1}, BytesCase{25, ItemLayout::Single, 222, 1},
                      BytesCase{26, ItemLayout::Array, 224, 8}, BytesCase{86, ItemLayout::Array, 480, 8},
                      BytesCase{27, ItemLayout::Single, 232, 1}, BytesCase{88, ItemLayout::Single, 488, 1},
                      BytesCase{29, ItemLayout::Single, 234, 1}, BytesCase{90, ItemLayout::Single, 490, 1},
                      BytesCase{31, ItemLayout::FskBlock, 512, 56}, BytesCase{32, ItemLayout::FskBlock, 568, 56},
                      BytesCase{33, ItemLayout::FskBlock, 624, 56}, BytesCase{91, ItemLayout::FskBlock, 680, 56},
                      BytesCase{92, ItemLayout::FskBlock, 736, 56}, BytesCase{93, ItemLayout::FskBlock, 792, 56},
                      // The "1233" node's codes are the arrays of items 20 and 21.
                      BytesCase{51, ItemLayout::Array, 196, 8}, BytesCase{52, ItemLayout::Array, 204, 8}));

TEST(ItemTableLayout, TemperatureIsDisplayOnly) {
    for (int c : {30, 87}) {
        const TuningItem* item = FindItem(c);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->layout, ItemLayout::DisplayOnly);
        EXPECT_EQ(item->length, 0);
        EXPECT_FALSE(ItemBytes(c).has_value());
        EXPECT_EQ(item->page, Page::Temp);
    }
}

// Every entry's bytes lie in its own region, band 1 mirrors band 0, and no
// two entries share a byte except the "1233" codes on items 20 and 21.
TEST(ItemTableLayout, BytesStayInTheirRegionAndNeverOverlap) {
    constexpr int kFree = -1;
    std::vector<int> owner(TunerImage::kSize, kFree);
    const auto& items = TuningItems();
    for (std::size_t index = 0; index < items.size(); ++index) {
        const TuningItem& item = items[index];
        SCOPED_TRACE(testing::Message() << "entry " << index << " code " << item.code[0]);
        if (item.layout == ItemLayout::DisplayOnly) {
            EXPECT_EQ(item.length, 0);
            EXPECT_EQ(item.offset[0], -1);
            EXPECT_EQ(item.offset[1], -1);
            continue;
        }
        const int expectedLength = item.layout == ItemLayout::Single     ? 1
                                   : item.layout == ItemLayout::FskBlock ? 56
                                                                         : 8;
        EXPECT_EQ(item.length, expectedLength);
        for (int b = 0; b < 2; ++b) {
            const int start = item.offset[b];
            if (item.layout == ItemLayout::Shared && b == 1) {
                EXPECT_EQ(start, -1);
                continue;
            }
            ASSERT_GE(start, 0);
            const int end = start + item.length;  // one past the last byte
            ASSERT_LE(end, static_cast<int>(TunerImage::kSize));
            if (item.layout == ItemLayout::FskBlock) {
                // Band 0 blocks in 512-679, band 1 blocks in 680-847.
                EXPECT_GE(start, 512 + 168 * b);
                EXPECT_LE(end, 680 + 168 * b);
                EXPECT_EQ((start - 512) % 56, 0);
            } else {
                // Past the two frequency tables, inside the band's own half.
                EXPECT_GE(start, 256 * b + 64);
                EXPECT_LE(end, 256 * (b + 1));
            }
            if (item.layout == ItemLayout::Shared) continue;  // checked below
            for (int k = start; k < end; ++k) {
                EXPECT_EQ(owner[static_cast<std::size_t>(k)], kFree) << "byte " << k << " claimed twice";
                owner[static_cast<std::size_t>(k)] = static_cast<int>(index);
            }
        }
        if (item.layout == ItemLayout::FskBlock) {
            EXPECT_EQ(item.offset[1], item.offset[0] + 168);
        } else if (item.layout != ItemLayout::Shared) {
            EXPECT_EQ(item.offset[1], item.offset[0] + 256);
        }
    }
    // The shared codes sit exactly on the arrays of items 20 and 21.
    EXPECT_EQ(FindItem(51)->offset[0], FindItem(20)->offset[0]);
    EXPECT_EQ(FindItem(52)->offset[0], FindItem(21)->offset[0]);
    // The bytes no entry owns: 235-255 and 491-511 (and the frequency tables).
    for (int k = 64; k < 512; ++k) {
        const bool unowned = (k >= 235 && k <= 255) || (k >= 491 && k <= 511) || (k >= 256 && k < 320);
        EXPECT_EQ(owner[static_cast<std::size_t>(k)] == kFree, unowned) << "byte " << k;
    }
    for (int k = 512; k < static_cast<int>(TunerImage::kSize); ++k) {
        EXPECT_NE(owner[static_cast<std::size_t>(k)], kFree) << "byte " << k;
    }
}

// ---------------------------------------------------------------- pages

TEST(ItemTablePages, PointsAndKeyingFollowThePage) {
    for (const TuningItem& item : TuningItems()) {
        SCOPED_TRACE(testing::Message() << "code " << item.code[0]);
        switch (item.page) {
            case Page::Vox:
            case Page::FreqStability:
            case Page::Temp:
                EXPECT_EQ(item.firstPoint, 3);
                EXPECT_EQ(item.lastPoint, 3);
                break;
            case Page::Mandown:
                EXPECT_EQ(item.firstPoint, 1);
                EXPECT_EQ(item.lastPoint, 1);
                EXPECT_STREQ(KeyingKey(item.keying), "C0029");
                break;
            case Page::None:
                EXPECT_EQ(item.firstPoint, 0);
                EXPECT_EQ(item.lastPoint, 0);
                EXPECT_EQ(KeyingKey(item.keying), nullptr);
                break;
            default:
                EXPECT_EQ(item.firstPoint, 1);
                EXPECT_EQ(item.lastPoint, 5);
                break;
        }
        const bool eight = item.code[0] >= 18 && item.code[0] <= 21;
        EXPECT_EQ(item.eightPointsWithNewFirmware, eight);
    }
    EXPECT_STREQ(KeyingKey(FindItem(4)->keying), "C0008");
    EXPECT_STREQ(KeyingKey(FindItem(12)->keying), "C0007");
    EXPECT_STREQ(KeyingKey(FindItem(0)->keying), "C0008");
    EXPECT_STREQ(KeyingKey(FindItem(2)->keying), "C0007");
    EXPECT_STREQ(KeyingKey(FindItem(22)->keying), "C0008");
    EXPECT_STREQ(KeyingKey(FindItem(92)->keying), "C0007");
}

TEST(ItemTablePages, PagesHoldTheirItems) {
    auto codesOn = [](Page page) {
        std::vector<int> codes;
        for (const TuningItem* item : ItemsOnPage(page)) codes.push_back(item->code[0]);
        return codes;
    };
    EXPECT_EQ(codesOn(Page::Vox), (std::vector<int>{0, 1, 2, 3, 24, 25}));
    EXPECT_EQ(codesOn(Page::Power), (std::vector<int>{9, 10, 18, 19, 20, 21, 51, 52}));
    EXPECT_EQ(codesOn(Page::PowerMobile), (std::vector<int>{26}));
    EXPECT_EQ(codesOn(Page::Ctcss), (std::vector<int>{4, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(codesOn(Page::Sql), (std::vector<int>{5, 6, 7, 8}));
    EXPECT_EQ(codesOn(Page::FreqStability), (std::vector<int>{23}));
    EXPECT_EQ(codesOn(Page::ErrorRate), (std::vector<int>{22}));
    EXPECT_EQ(codesOn(Page::Mandown), (std::vector<int>{27, 28, 29}));
    EXPECT_EQ(codesOn(Page::Temp), (std::vector<int>{30}));
    EXPECT_EQ(codesOn(Page::Fsk), (std::vector<int>{31, 32, 33}));
    EXPECT_EQ(codesOn(Page::None), (std::vector<int>{11, kNoCode}));
}

TEST(ItemTablePages, CaptionKeys) {
    EXPECT_STREQ(FindItem(10)->treeKey, "T0014");
    EXPECT_STREQ(FindItem(10)->gridSection, "Param");
    EXPECT_STREQ(FindItem(10)->gridKey, "P0013");
    EXPECT_EQ(FindItem(9)->treeKey, nullptr);
    EXPECT_STREQ(FindItem(9)->gridKey, "P0014");
    EXPECT_STREQ(FindItem(86)->gridKey, "P0015");
    EXPECT_EQ(FindItem(11)->treeKey, nullptr);
    EXPECT_STREQ(FindItem(11)->gridSection, "TreeView");
    EXPECT_STREQ(FindItem(11)->gridKey, "T0015");
    EXPECT_STREQ(FindItem(78)->treeKey, "T0022");
    EXPECT_STREQ(FindItem(78)->gridKey, "T0027");
    EXPECT_STREQ(FindItem(21)->gridKey, "T0030");
    EXPECT_STREQ(FindItem(33)->treeKey, "T0045");
    EXPECT_STREQ(FindItem(32)->treeKey, "T0057");
    EXPECT_STREQ(FindItem(87)->treeKey, "T0044");
}

// ---------------------------------------------------------------- pairs

TEST(ItemTablePairs, PairsAreLowFirstWhicheverCodeIsAsked) {
    const PowerPair pairs[] = {{10, 9}, {18, 19}, {20, 21}, {51, 52}, {70, 69}, {78, 79}, {80, 81}};
    for (const PowerPair& p : pairs) {
        for (int c : {p.low, p.high}) {
            const std::optional<PowerPair> got = PairOf(c);
            ASSERT_TRUE(got.has_value()) << c;
            EXPECT_EQ(got->low, p.low);
            EXPECT_EQ(got->high, p.high);
            // The table's column agrees with the pair.
            EXPECT_EQ(FindItem(c)->column, c == p.low ? PowerColumn::Low : PowerColumn::High) << c;
        }
    }
    for (int c : {26, 86, 4, 22, 31, 0}) EXPECT_FALSE(PairOf(c).has_value()) << c;
}

TEST(ItemTablePairs, MobileTriple) {
    for (int c : {10, 26, 9}) {
        const std::optional<PowerTriple> t = TripleOf(c);
        ASSERT_TRUE(t.has_value());
        EXPECT_EQ(t->low, 10);
        EXPECT_EQ(t->middle, 26);
        EXPECT_EQ(t->high, 9);
    }
    for (int c : {70, 86, 69}) {
        const std::optional<PowerTriple> t = TripleOf(c);
        ASSERT_TRUE(t.has_value());
        EXPECT_EQ(t->low, 70);
        EXPECT_EQ(t->middle, 86);
        EXPECT_EQ(t->high, 69);
    }
    for (int c : {18, 19, 20, 21, 51, 52, 78}) EXPECT_FALSE(TripleOf(c).has_value()) << c;
    EXPECT_EQ(FindItem(26)->column, PowerColumn::Middle);
}

// ---------------------------------------------------------------- live store

TEST(StoreLiveValue, WritesThePointsByte) {
    struct Case {
        int code;
        int point;
        std::size_t byte;
    };
    const Case cases[] = {{10, 3, 118}, {70, 3, 374}, {83, 5, 476}, {23, 1, 220}, {4, 1, 68},
                          {64, 8, 331}, {9, 5, 112},  {69, 1, 364}, {21, 8, 211}, {81, 6, 465},
                          {12, 2, 133}, {77, 4, 431}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.code << " point " << c.point);
        TunerImage image = patternedImage();
        TunerImage expected = image;
        expected[c.byte] = 77;
        StoreLiveValue(image, c.code, c.point, 77);
        EXPECT_EQ(image.bytes, expected.bytes);
    }
}

// Over every code from -5 to 300 and the extremes: exactly the listed codes
// write, and each writes one byte; point outside 1-8 writes nothing.
TEST(StoreLiveValue, OnlyTheListedCodesWriteAnything) {
    std::set<int> writers = {4, 9, 10, 23, 64, 69, 70, 83};
    for (int c = 12; c <= 21; ++c) writers.insert(c);
    for (int c = 72; c <= 81; ++c) writers.insert(c);
    std::vector<int> codes = {INT_MIN, INT_MAX};
    for (int c = -5; c <= 300; ++c) codes.push_back(c);
    const TunerImage original = patternedImage();
    for (int c : codes) {
        for (int point : {INT_MIN, -1, 0, 1, 5, 8, 9, 100, INT_MAX}) {
            SCOPED_TRACE(testing::Message() << "code " << c << " point " << point);
            TunerImage image = original;
            StoreLiveValue(image, c, point, 0xFF);
            int changed = 0;
            for (std::size_t k = 0; k < TunerImage::kSize; ++k) changed += image[k] != original[k];
            const bool single = c == 23 || c == 83;
            const bool writes = writers.count(c) != 0 && (single || (point >= 1 && point <= 8));
            EXPECT_EQ(changed, writes ? 1 : 0);
        }
    }
}

TEST(StoreLiveValue, Code5AndTheSharedCodesLeaveTheImageAlone) {
    for (int c : {5, 0, 11, 22, 26, 27, 30, 31, 51, 52, 87, 91}) {
        TunerImage image = patternedImage();
        const TunerImage before = image;
        StoreLiveValue(image, c, 3, 77);
        EXPECT_EQ(image.bytes, before.bytes) << c;
    }
}

// ---------------------------------------------------------------- FSK record

TEST(FskRecord, Item91Point2) {
    TunerImage image;  // zeros everywhere but the bytes the record takes
    image[681] = 0x11;
    image[689] = 0x22;
    image[697] = 0x33;
    image[706] = 0x44;
    image[707] = 0x55;
    image[722] = 0x66;
    image[723] = 0x77;
    const std::array<std::uint8_t, 8> expected = {0x11, 0x22, 0x33, 0x00, 0x44, 0x55, 0x66, 0x77};
    EXPECT_EQ(FskRecord(image, 91, 2), expected);
}

TEST(FskRecord, EveryBlockAndPointFollowsTheColumnLayout) {
    const TunerImage image = patternedImage();
    for (int c : {31, 32, 33, 91, 92, 93}) {
        const int s = ItemBytes(c)->offset;
        for (int p = 1; p <= 8; ++p) {
            SCOPED_TRACE(testing::Message() << "code " << c << " point " << p);
            const std::size_t k = static_cast<std::size_t>(p - 1);
            const std::size_t base = static_cast<std::size_t>(s);
            const std::array<std::uint8_t, 8> expected = {
                image[base + k],          image[base + 8 + k],          image[base + 16 + k], 0,
                image[base + 24 + 2 * k], image[base + 24 + 2 * k + 1], image[base + 40 + 2 * k],
                image[base + 40 + 2 * k + 1]};
            EXPECT_EQ(FskRecord(image, c, p), expected);
        }
    }
}

TEST(FskRecord, ZerosForOtherCodesAndPoints) {
    const TunerImage image = patternedImage();
    const std::array<std::uint8_t, 8> zeros{};
    for (int c : {0, 4, 10, 30, 51, 90, 94, -1, INT_MAX}) EXPECT_EQ(FskRecord(image, c, 1), zeros) << c;
    for (int p : {INT_MIN, 0, 9, INT_MAX}) EXPECT_EQ(FskRecord(image, 93, p), zeros) << p;
}

// ---------------------------------------------------------------- save records

TEST(SaveRecord, PairIsLowColumnThenHigh) {
    const TunerImage image = patternedImage();
    std::vector<std::uint8_t> expected = bytesAt(image, 116, 8);
    const std::vector<std::uint8_t> high = bytesAt(image, 108, 8);
    expected.insert(expected.end(), high.begin(), high.end());
    EXPECT_EQ(SaveRecord(image, 9), expected);
    EXPECT_EQ(SaveRecord(image, 10), expected);

    struct Pair {
        int low, high, lowAt, highAt;
    };
    for (const Pair& p : {Pair{18, 19, 180, 188}, Pair{20, 21, 196, 204}, Pair{51, 52, 196, 204},
                          Pair{70, 69, 372, 364}, Pair{78, 79, 436, 444}, Pair{80, 81, 452, 460}}) {
        std::vector<std::uint8_t> want = bytesAt(image, p.lowAt, 8);
        const std::vector<std::uint8_t> h = bytesAt(image, p.highAt, 8);
        want.insert(want.end(), h.begin(), h.end());
        EXPECT_EQ(SaveRecord(image, p.low), want) << p.low;
        EXPECT_EQ(SaveRecord(image, p.high), want) << p.high;
    }
}

TEST(SaveRecord, ArraysSinglesAndBlocks) {
    const TunerImage image = patternedImage();
    EXPECT_EQ(SaveRecord(image, 4), bytesAt(image, 68, 8));
    EXPECT_EQ(SaveRecord(image, 65), bytesAt(image, 332, 8));
    EXPECT_EQ(SaveRecord(image, 11), bytesAt(image, 124, 8));
    EXPECT_EQ(SaveRecord(image, 82), bytesAt(image, 468, 8));
    EXPECT_EQ(SaveRecord(image, 26), bytesAt(image, 224, 8));
    EXPECT_EQ(SaveRecord(image, 0), bytesAt(image, 64, 1));
    EXPECT_EQ(SaveRecord(image, 83), bytesAt(image, 476, 1));
    EXPECT_EQ(SaveRecord(image, 88), bytesAt(image, 488, 1));
    EXPECT_EQ(SaveRecord(image, 32), bytesAt(image, 568, 56));
    EXPECT_EQ(SaveRecord(image, 93), bytesAt(image, 792, 56));
    // Nothing to save: temperature and unknown codes.
    EXPECT_TRUE(SaveRecord(image, 30).empty());
    EXPECT_TRUE(SaveRecord(image, 87).empty());
    for (int c : unknownCodes()) EXPECT_TRUE(SaveRecord(image, c).empty()) << c;
}

TEST(SaveRecord, WideRecordIsLowMiddleHigh) {
    const TunerImage image = patternedImage();
    for (int c : {9, 10, 26}) {
        std::vector<std::uint8_t> want = bytesAt(image, 116, 8);
        for (int at : {224, 108}) {
            const std::vector<std::uint8_t> part = bytesAt(image, at, 8);
            want.insert(want.end(), part.begin(), part.end());
        }
        EXPECT_EQ(WideSaveRecord(image, c), want) << c;
    }
    for (int c : {69, 70, 86}) {
        std::vector<std::uint8_t> want = bytesAt(image, 372, 8);
        for (int at : {480, 364}) {
            const std::vector<std::uint8_t> part = bytesAt(image, at, 8);
            want.insert(want.end(), part.begin(), part.end());
        }
        EXPECT_EQ(WideSaveRecord(image, c), want) << c;
    }
    for (int c : {18, 20, 51, 4, 31, -1, INT_MAX}) EXPECT_TRUE(WideSaveRecord(image, c).empty()) << c;
}

// The table and the command set must agree on every record length, and a
// non-empty record must hold at least the bytes the sender copies out of it.
TEST(SaveRecord, SizesAgreeWithTheCommandSet) {
    const TunerImage image = patternedImage();
    std::vector<int> codes = allTableCodes();
    codes.insert(codes.end(), unknownCodes().begin(), unknownCodes().end());
    for (int c = 0; c < 256; ++c) codes.push_back(c);
    for (int c : codes) {
        SCOPED_TRACE(c);
        const std::vector<std::uint8_t> record = SaveRecord(image, c);
        if (!record.empty()) {
            EXPECT_GE(record.size(), SaveItemSize(c));
        }
        const std::vector<std::uint8_t> wide = WideSaveRecord(image, c);
        if (!wide.empty()) {
            EXPECT_EQ(wide.size(), SaveWideItemSize(c));
        }
    }
    EXPECT_EQ(FindItem(26)->saveSize, 1);
    EXPECT_EQ(FindItem(86)->wideSaveSize, 24);
    EXPECT_EQ(FindItem(9)->saveSize, 16);
    EXPECT_EQ(FindItem(9)->wideSaveSize, 24);
    EXPECT_EQ(FindItem(51)->saveSize, 1);
}

// ---------------------------------------------------------------- parameter grid

TEST(ParamGrid, RowsFollowTheEditorsTable) {
    struct Row {
        int row;
        const char* key;
        GridRowKind kind;
        int halfOffset;  // offset inside the band half
    };
    using K = GridRowKind;
    const Row rows[] = {
        {1, "C0010", K::RxFrequency, 0x20}, {2, "C0011", K::TxFrequency, 0x00}, {3, "T0011", K::Single, 0x42},
        {4, "T0012", K::Single, 0x43},      {5, "T0025", K::Single, 0xDD},      {6, "T0026", K::Single, 0xDE},
        {7, "T0004", K::Single, 0x40},      {8, "T0005", K::Single, 0x41},      {9, "T0013", K::Single, 0xDC},
        {10, "Ref 1", K::Single, 0xDF},     {11, "T0006", K::Array, 0x44},      {12, "P0013", K::Array, 0x74},
        {13, "P0014", K::Array, 0x6C},      {14, "T0007", K::Array, 0x4C},      {15, "T0008", K::Array, 0x54},
        {16, "T0009", K::Array, 0x5C},      {17, "T0010", K::Array, 0x64},      {18, "T0016", K::Array, 0x84},
        {19, "T0017", K::Array, 0x8C},      {20, "T0018", K::Array, 0x94},      {21, "T0027", K::Array, 0xB4},
        {22, "T0028", K::Array, 0xBC},      {23, "T0029", K::Array, 0xC4},      {24, "T0030", K::Array, 0xCC},
        {25, "T0015", K::Array, 0x7C},      {26, "T0019", K::Array, 0x9C},      {27, "T0020", K::Array, 0xA4},
        {28, "T0021", K::Array, 0xAC},      {29, "T0024", K::Array, 0xD4},      {30, "P0015", K::Array, 0xE0},
    };
    ASSERT_EQ(ParamGridRows().size(), 45u);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.row);
        const ParamGridRow* row = FindParamGridRow(r.row);
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->key, r.key);
        EXPECT_EQ(row->kind, r.kind);
        EXPECT_EQ(row->offset[0], r.halfOffset);
        EXPECT_EQ(row->offset[1], r.halfOffset + 256);
        EXPECT_EQ(row->eightPoints, r.row >= 21 && r.row <= 24);
        EXPECT_FALSE(row->fskRow);
    }
    EXPECT_EQ(FindParamGridRow(10)->section, nullptr);
    EXPECT_STREQ(FindParamGridRow(12)->section, "Param");
    EXPECT_EQ(FindParamGridRow(22)->code[1], 79);
    EXPECT_EQ(FindParamGridRow(0), nullptr);
    EXPECT_EQ(FindParamGridRow(46), nullptr);
    // Row 22, column 7 in band 1 is point 7 of item 79.
    EXPECT_EQ(ParamGridOffset(*FindParamGridRow(22), 1, 7), 444 + 6);
    EXPECT_EQ(ParamGridOffset(*FindParamGridRow(2), 1, 3), 256 + 8);
    EXPECT_EQ(ParamGridOffset(*FindParamGridRow(9), 0, 3), 220);
    EXPECT_EQ(ParamGridOffset(*FindParamGridRow(14), 0, 9), -1);
}

TEST(ParamGrid, FskRowsTakeTheBlocksInTheOrder31_33_32) {
    struct Fsk {
        int firstRow;
        int band0Start;
        const char* firstKey;
    };
    for (const Fsk& f : {Fsk{31, 0x200, "T0046"}, Fsk{36, 0x270, "T0051"}, Fsk{41, 0x238, "T0058"}}) {
        const int columnStart[5] = {0, 8, 16, 24, 40};
        for (int c = 0; c < 5; ++c) {
            const ParamGridRow* row = FindParamGridRow(f.firstRow + c);
            ASSERT_NE(row, nullptr);
            SCOPED_TRACE(row->row);
            EXPECT_TRUE(row->fskRow);
            EXPECT_EQ(row->kind, c < 3 ? GridRowKind::FskBytes : GridRowKind::FskWords);
            EXPECT_EQ(row->offset[0], f.band0Start + columnStart[c]);
            EXPECT_EQ(row->offset[1], f.band0Start + 168 + columnStart[c]);
            EXPECT_EQ(ParamGridOffset(*row, 1, 5), row->offset[1] + row->stride * 4);
        }
        EXPECT_STREQ(FindParamGridRow(f.firstRow)->key, f.firstKey);
    }
    EXPECT_STREQ(FindParamGridRow(45)->key, "T0062");
    EXPECT_EQ(FindParamGridRow(45)->code[1], 92);
}


// ---------------------------------------------------------------- facts the command set derives from the table

TEST(CommandSizes, SaveSizesAreTheCommandSetTables) {
    auto expectedSave = [](int c) {
        if ((c >= 4 && c <= 8) || (c >= 11 && c <= 17) || c == 22 || (c >= 64 && c <= 68) ||
            (c >= 71 && c <= 77) || c == 82)
            return 8;
        if (c == 9 || c == 10 || (c >= 18 && c <= 21) || c == 69 || c == 70 || (c >= 78 && c <= 81)) return 16;
        if ((c >= 31 && c <= 33) || (c >= 91 && c <= 93)) return 56;
        return 1;
    };
    auto expectedWide = [](int c) { return (c == 9 || c == 10 || c == 26 || c == 69 || c == 70 || c == 86) ? 24 : 1; };
    for (int c = -1; c < 256; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(SaveItemSize(c), expectedSave(c));
        EXPECT_EQ(SaveWideItemSize(c), expectedWide(c));
    }
}

TEST(CommandSizes, QueryReplyLengths) {
    for (int c = -1; c < 256; ++c) {
        const int expected = (c == 22 || c == 82) ? 17 : (c == 30 || c == 87) ? 11 : 10;
        EXPECT_EQ(QueryReplyLength(c), expected) << c;
    }
}

TEST(CommandSizes, LiveStoreCodes) {
    // The live-set store writes items 4, 9, 10, 12-21 and 23 of either band.
    for (int c = 0; c < 256; ++c) {
        const int b = c >= 60 ? c - 60 : c;
        const bool stores = (c <= 23 || (c >= 60 && c <= 83)) &&
                            (b == 4 || b == 9 || b == 10 || (b >= 12 && b <= 21) || b == 23);
        const TuningItem* item = FindItem(c);
        EXPECT_EQ(item != nullptr && item->liveStore, stores) << c;
    }
}

TEST(PointByte, ArraysSinglesAndFskCells) {
    // Item 10 point 3 in band 0 is byte 118, in band 1 byte 374.
    EXPECT_EQ(PointByte(*FindItem(10), 0, 3), 118);
    EXPECT_EQ(PointByte(*FindItem(10), 1, 3), 374);
    EXPECT_EQ(PointByteOfCode(70, 3), 374);
    // A single item gives its byte at any point.
    EXPECT_EQ(PointByteOfCode(83, 5), 476);
    EXPECT_EQ(PointByteOfCode(23, 1), 220);
    // Item 91 at point 2: columns A, B, C at 681, 689, 697; D at 706, E at 722.
    EXPECT_EQ(PointByteOfCode(91, 2, 0), 681);
    EXPECT_EQ(PointByteOfCode(91, 2, 1), 689);
    EXPECT_EQ(PointByteOfCode(91, 2, 2), 697);
    EXPECT_EQ(PointByteOfCode(91, 2, 3), 706);
    EXPECT_EQ(PointByteOfCode(91, 2, 4), 722);
    // Codes 51 and 52 use the arrays of items 20 and 21.
    EXPECT_EQ(PointByteOfCode(51, 1), 196);
    EXPECT_EQ(PointByteOfCode(52, 8), 211);
    // No byte: display-only items, points outside 1-8, unknown codes and cells.
    EXPECT_EQ(PointByteOfCode(30, 3), -1);
    EXPECT_EQ(PointByteOfCode(87, 3), -1);
    EXPECT_EQ(PointByteOfCode(4, 0), -1);
    EXPECT_EQ(PointByteOfCode(4, 9), -1);
    EXPECT_EQ(PointByteOfCode(200, 1), -1);
    EXPECT_EQ(PointByteOfCode(4, 1, 1), -1);
    EXPECT_EQ(PointByte(*FindItem(51), 1, 1), -1);
}

TEST(ItemCells, RangesAndBindings) {
    const std::vector<ItemCell> fsk = CellsOf(ItemLayout::FskBlock);
    ASSERT_EQ(fsk.size(), 5u);
    const int starts[] = {0, 8, 16, 24, 40};
    for (std::size_t c = 0; c < fsk.size(); ++c) {
        EXPECT_EQ(fsk[c].start, starts[c]);
        EXPECT_EQ(fsk[c].width, c < 3 ? 1 : 2);
        EXPECT_EQ(fsk[c].max, c < 3 ? 255 : 4096);
        EXPECT_EQ(fsk[c].min, 0);
    }
    ASSERT_EQ(CellsOf(ItemLayout::Array).size(), 1u);
    EXPECT_EQ(CellsOf(ItemLayout::Array)[0].max, 255);
    EXPECT_TRUE(CellsOf(ItemLayout::DisplayOnly).empty());
}

TEST(ItemTree, NodesGroupsAndSelections) {
    struct Node {
        int state;
        const char* key;
        TreeGroup group;
        int order;
        int band0;
        int band1;
    };
    const Node nodes[] = {
        {4, "T0006", TreeGroup::Receiver, 1, 4, 64},       {2, "T0004", TreeGroup::Receiver, 2, 0, 60},
        {3, "T0005", TreeGroup::Receiver, 3, 1, 61},       {5, "T0007", TreeGroup::Receiver, 4, 5, 65},
        {8, "T0010", TreeGroup::Receiver, 7, 8, 68},       {23, "T0013", TreeGroup::Transmitter, 1, 23, 83},
        {24, "T0014", TreeGroup::Transmitter, 2, 10, 70},  {21, "T0011", TreeGroup::Transmitter, 3, 2, 62},
        {33, "T0023", TreeGroup::Transmitter, 8, 20, 80},  {32, "T0022", TreeGroup::Transmitter, 12, 18, 78},
        {35, "1233", TreeGroup::Transmitter, 13, 52, 78},  {34, "T0044", TreeGroup::Transmitter, 14, 30, 87},
        {37, "T0045", TreeGroup::Transmitter, 16, 33, 93}, {38, "T0057", TreeGroup::Transmitter, 17, 32, 92},
        {51, "T0024", TreeGroup::Measurement, 1, 22, 82},  {53, "T0026", TreeGroup::Measurement, 3, 25, 85},
        {61, "T0041", TreeGroup::Mandown, 1, 27, 88},      {63, "T0043", TreeGroup::Mandown, 3, 29, 90},
    };
    for (const Node& n : nodes) {
        SCOPED_TRACE(n.state);
        const auto& items = TuningItems();
        const auto it = std::find_if(items.begin(), items.end(), [&](const TuningItem& i) {
            return i.treeGroup != TreeGroup::None && i.treeState == n.state;
        });
        ASSERT_NE(it, items.end());
        EXPECT_STREQ(it->treeKey, n.key);
        EXPECT_EQ(it->treeGroup, n.group);
        EXPECT_EQ(it->treeOrder, n.order);
        EXPECT_EQ(TreeCodeForBand(*it, 0), n.band0);
        EXPECT_EQ(TreeCodeForBand(*it, 1), n.band1);
    }
    EXPECT_EQ(FindItem(30)->treeShown, TreeShown::MobileVariant);
    EXPECT_EQ(FindItem(31)->treeShown, TreeShown::LargeModel);
    EXPECT_EQ(FindItem(9)->treeGroup, TreeGroup::None);
    EXPECT_EQ(FindItem(11)->treeGroup, TreeGroup::None);
}

TEST(ItemFamilies, WhichItemsAPageHandles) {
    EXPECT_TRUE(InFamily(11, Page::Ctcss));
    EXPECT_TRUE(InFamily(71, Page::Ctcss));
    EXPECT_TRUE(InFamily(4, Page::Ctcss));
    EXPECT_FALSE(InFamily(5, Page::Ctcss));
    for (int c : {9, 10, 26, 69, 70, 86}) EXPECT_TRUE(InFamily(c, Page::PowerMobile)) << c;
    for (int c : {18, 51}) EXPECT_FALSE(InFamily(c, Page::PowerMobile)) << c;
    EXPECT_FALSE(InFamily(26, Page::Power));
    EXPECT_TRUE(InFamily(52, Page::Power));
    EXPECT_FALSE(InFamily(kNoCode, Page::Vox));
}

}  // namespace
}  // namespace varnel
