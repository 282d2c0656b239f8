// One CSV field: RFC 4180 quoting, and no text a spreadsheet would run as a
// formula.
#include <gtest/gtest.h>

#include <string>

#include "util/Csv.h"

namespace varnel {
namespace {

struct CsvCase {
    const char* text;
    const char* field;
};

class CsvFieldTest : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvFieldTest, Written) { EXPECT_EQ(CsvField(GetParam().text), GetParam().field) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(
    Fields, CsvFieldTest,
    ::testing::Values(
        // As they are.
        CsvCase{"", ""}, CsvCase{"SN-0042", "SN-0042"}, CsvCase{"point 3", "point 3"},
        // RFC 4180.
        CsvCase{"a,b", "\"a,b\""}, CsvCase{"say \"hi\"", "\"say \"\"hi\"\"\""}, CsvCase{"two\nlines", "\"two\nlines\""},
        // Formulas become text (OWASP: a leading apostrophe, quoted).
        CsvCase{"=1+2", "\"'=1+2\""}, CsvCase{"+cmd|' /C calc'!A0", "\"'+cmd|' /C calc'!A0\""},
        CsvCase{"-2+3", "\"'-2+3\""}, CsvCase{"@SUM(A1:A9)", "\"'@SUM(A1:A9)\""}, CsvCase{"\t=1", "\"'\t=1\""},
        CsvCase{"\r=1", "\"'\r=1\""}, CsvCase{"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        CsvCase{"-", "\"'-\""}, CsvCase{"-.", "\"'-.\""}, CsvCase{"-1e5", "\"'-1e5\""},
        // Plain numbers stay numbers.
        CsvCase{"-42", "-42"}, CsvCase{"+7", "+7"}, CsvCase{"-0.5", "-0.5"}, CsvCase{"-12.", "-12."}));

}  // namespace
}  // namespace varnel
