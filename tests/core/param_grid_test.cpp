// The parameter editor's rules as plain functions: frequency and byte text,
// the editable cells and how a cell's text goes into the image.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "data/ItemTable.h"
#include "data/ParamGrid.h"
#include "data/TunerImage.h"

namespace varnel {
namespace {

std::uint32_t BigEndianAt(const TunerImage& image, std::size_t offset) {
    return std::uint32_t{image[offset]} << 24 | std::uint32_t{image[offset + 1]} << 16 |
           std::uint32_t{image[offset + 2]} << 8 | std::uint32_t{image[offset + 3]};
}

TEST(ParamGridText, NormalisesFrequencyText) {
    struct Case {
        const char* name;
        const char* text;
        const char* normalised;
    };
    const Case cases[] = {
        {"normal entry", "435.050000", "435.050000"},
        {"no point", "435", "435"},
        {"point first", ".5", ""},
        {"point second", "4.5", "0.00000"},
        {"point third", "43.5", "0.00000"},
        {"point fifth", "4350.5", "435000000"},
        {"point sixth", "43500.5", "435000000"},
        {"point seventh", "435000.5", "435000000"},
        {"point eighth", "4350000.5", "435000000"},
        {"point ninth", "43500000.5", "435000000"},
        {"second point at sixth", "435.0.5", "435.00000"},
        {"second point at seventh", "435.05.1", "435.05000"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(param::NormaliseFrequencyText(c.text), c.normalised) << c.name;
}

// A text typed into a cell, the value the cell held, what the image gets and
// what the cell shows afterwards.
struct ParseCase {
    const char* name;
    const char* text;
    std::uint32_t old;
    std::uint32_t value;
    const char* shown;
};

template <std::size_t N>
void ExpectParses(const ParseCase (&cases)[N], param::ParsedValue (*parse)(std::string_view, std::uint32_t)) {
    for (const ParseCase& c : cases) {
        const param::ParsedValue parsed = parse(c.text, c.old);
        EXPECT_EQ(parsed.value, c.value) << c.name;
        EXPECT_EQ(parsed.text, c.shown) << c.name;
    }
}

TEST(ParamGridText, ParsesFrequencyText) {
    const ParseCase cases[] = {
        {"435.05", "435.05", 0u, 435050000u, "435.050000"},
        {"last digit cut", "435.123456", 0u, 435123450u, "435.123450"},
        {"five decimals exact", "435.12345", 0u, 435123450u, "435.123450"},
        {"whole megahertz", "136", 1u, 136000000u, "136.000000"},
        {"trailing point", "174.", 1u, 174000000u, "174.000000"},
        {"19 Hz cut to 10", "435.000019", 7u, 435000010u, "435.000010"},
        {"leading zero is the point at second", "0.000019", 7u, 0u, "0.000000"},
        {"point third", "43.5", 435050000u, 0u, "0.000000"},
        {"point first keeps old", ".5", 435050000u, 435050000u, "435.050000"},
        {"empty keeps old", "", 123456780u, 123456780u, "123.456780"},
        {"lone point keeps old", ".", 400000000u, 400000000u, "400.000000"},
        {"letters keep old", "43a.5", 400000000u, 400000000u, "400.000000"},
        {"sign keeps old", "-435.05", 400000000u, 400000000u, "400.000000"},
        {"largest that fits", "2147", 1u, 2147000000u, "2147.000000"},
        {"beyond the sign bit keeps old", "2148", 400000000u, 400000000u, "400.000000"},
        {"9-digit result keeps old", "4350.5", 435050000u, 435050000u, "435.050000"},
        {"ten digits keep old", "9999999999", 435050000u, 435050000u, "435.050000"},
    };
    ExpectParses(cases, &param::parseFrequencyText);
}

TEST(ParamGridText, ParsesByteText) {
    const ParseCase cases[] = {
        {"zero", "0", 9u, 0u, "0"},
        {"plain", "77", 9u, 77u, "77"},
        {"top", "255", 9u, 255u, "255"},
        {"256", "256", 9u, 255u, "255"},
        {"300", "300", 9u, 255u, "255"},
        {"999", "999", 9u, 255u, "255"},
        {"16-bit old value above 255", "4096", 4096u, 255u, "255"},
        {"leading zeros shown as typed", "007", 9u, 7u, "007"},
        {"empty keeps old", "", 42u, 42u, "42"},
        {"letters keep old", "1a", 42u, 42u, "42"},
        {"point keeps old", "1.5", 42u, 42u, "42"},
    };
    ExpectParses(cases, &param::parseByteText);
}

TEST(ParamGridCells, EditableCells) {
    struct Case {
        const char* name;
        bool eight;
        bool expert;
        int rows;
        int col;
        int row;
        bool editable;
    };
    const Case cases[] = {
        {"rx frequency locked", false, false, 31, 1, 1, false},
        {"tx frequency locked", false, false, 31, 5, 2, false},
        {"rx frequency expert", false, true, 31, 1, 1, true},
        {"tx frequency expert point 5", false, true, 31, 5, 2, true},
        {"frequency expert point 8", true, true, 31, 8, 2, true},
        {"frequency beyond five points", false, true, 31, 6, 2, false},
        {"row 9 column 3", false, false, 31, 3, 9, true},
        {"row 9 column 4", false, false, 31, 4, 9, false},
        {"row 3 column 1", false, true, 31, 1, 3, false},
        {"row 10 column 3", false, false, 31, 3, 10, true},
        {"row 11 column 1", false, false, 31, 1, 11, true},
        {"row 20 column 5", false, false, 31, 5, 20, true},
        {"row 22 column 7 eight points", true, false, 31, 7, 22, true},
        {"row 24 column 8 eight points", true, false, 31, 8, 24, true},
        {"row 14 column 7 eight points", true, false, 31, 7, 14, false},
        {"row 25 column 6 eight points", true, true, 31, 6, 25, false},
        {"row 28", false, false, 31, 5, 28, true},
        {"row 29 shown only", false, true, 31, 1, 29, false},
        {"row 30", false, false, 31, 1, 30, true},
        {"row 45 large model", false, false, 46, 5, 45, true},
        {"row 31 small model", false, false, 31, 1, 31, false},
        {"caption column", false, true, 31, 0, 11, false},
        {"header row", false, true, 31, 1, 0, false},
    };
    for (const Case& c : cases) {
        const param::GridLayout layout = c.eight ? param::EightGridLayout() : param::FiveGridLayout();
        EXPECT_EQ(param::IsCellEditable(c.col, c.row, layout, c.rows, c.expert), c.editable) << c.name;
        // Every value cell that cannot be edited is drawn locked, and no other.
        if (c.col > 0 && c.row > 0) {
            EXPECT_EQ(param::IsCellLocked(c.col, c.row, layout, c.rows, c.expert), !c.editable) << c.name;
        }
    }
}

TEST(ParamGridCells, StoresIntoTheImageByRowKind) {
    TunerImage image;
    // Row 2 (transmit) of band 0 at offset 0, big-endian.
    EXPECT_EQ(param::StoreCellText(image, *FindParamGridRow(2), 0, 1, "435.05"), "435.050000");
    EXPECT_EQ(image[0], std::uint8_t{0x19});
    EXPECT_EQ(image[1], std::uint8_t{0xEE});
    EXPECT_EQ(image[2], std::uint8_t{0x56});
    EXPECT_EQ(image[3], std::uint8_t{0x10});
    // Row 1 (receive) of band 1, point 3: 256 + 32 + 8.
    param::StoreCellText(image, *FindParamGridRow(1), 1, 3, "136.5");
    EXPECT_EQ(BigEndianAt(image, 296), 136500000u);
    // A single row ignores the point: item 2 of band 1 is byte 322.
    param::StoreCellText(image, *FindParamGridRow(3), 1, 3, "300");
    EXPECT_EQ(image[322], std::uint8_t{255});
    // Row 34 is the first 16-bit column of the block of item 31: point 2 at
    // 512 + 24 + 2, little-endian.
    image.setWord(538, 0x1234);
    EXPECT_EQ(param::CellText(image, *FindParamGridRow(34), 0, 2), "4660");
    param::StoreCellText(image, *FindParamGridRow(34), 0, 2, "999");
    EXPECT_EQ(image[538], std::uint8_t{255});
    EXPECT_EQ(image[539], std::uint8_t{0});
    // Row 44 in band 1 lies in the block of item 92 (736): column D, point 1.
    param::StoreCellText(image, *FindParamGridRow(44), 1, 1, "12");
    EXPECT_EQ(image.word(736 + 24), std::uint16_t{12});
}

}  // namespace
}  // namespace varnel
