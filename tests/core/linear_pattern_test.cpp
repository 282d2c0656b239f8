// The serial pattern language: what it matches (always the whole serial),
// what it refuses to compile, and that the patterns that make a backtracking
// engine run for minutes give their answer here.
#include <gtest/gtest.h>

#include <string>

#include "util/LinearPattern.h"

using namespace varnel;

namespace {

struct Case {
    const char* pattern;
    const char* text;
    bool match;
};

// Matches of the ECMAScript meaning of each pattern, anchored at both ends.
const Case kCases[] = {
    // literals and '.'
    {"SN123", "SN123", true},
    {"SN123", "SN1234", false},
    {"SN123", "xSN123", false},
    {"SN.23", "SN-23", true},
    {"SN.23", "SN23", false},
    {"S.N", "S\nN", false},  // '.' is no line end
    {"SN-.-3", "SN-\xC3\x84-3", true},  // one character, two bytes
    {"SN-\xC3\x84-3", "SN-\xC3\x84-3", true},
    {"SN-\xC3\x84-3", "SN-\xC3\x96-3", false},
    {"", "", true},
    {"", "a", false},
    // classes
    {"[A-Z][0-9]", "Q7", true},
    {"[A-Z][0-9]", "q7", false},
    {"[^0-9]x", "ax", true},
    {"[^0-9]x", "5x", false},
    {"[-A]", "-", true},
    {"[A-]", "-", true},
    {"[\\d_]+", "12_3", true},
    {"[\\w.]+", "a.b_c", true},
    {"[\\]]", "]", true},
    {"[]", "a", false},  // an empty class matches nothing
    {"[^]", "a", true},  // and its negation anything
    {"[\xC3\x80-\xC3\x9F]", "\xC3\x84", true},
    // class escapes
    {"\\d{3}", "123", true},
    {"\\d{3}", "12a", false},
    {"\\w+", "ab_9", true},
    {"\\w+", "ab-9", false},
    {"a\\sb", "a b", true},
    {"\\D\\W\\S", "a-b", true},
    {"\\D", "5", false},
    {"\\.", ".", true},
    {"\\.", "a", false},
    {"a\\$", "a$", true},
    // groups, alternatives and repetitions
    {"(ab)+", "ababab", true},
    {"(ab)+", "aba", false},
    {"(?:ab|cd)*", "abcdab", true},
    {"(?:ab|cd)*", "", true},
    {"SN|LN", "LN", true},
    {"SN|LN", "SNLN", false},
    {"a|", "", true},
    {"ab?c", "ac", true},
    {"ab?c", "abbc", false},
    {"a{3}", "aaa", true},
    {"a{3}", "aaaa", false},
    {"a{2,}", "aaaaaa", true},
    {"a{2,}", "a", false},
    {"a{2,4}", "aaaa", true},
    {"a{2,4}", "aaaaa", false},
    {"a{0,2}b", "b", true},
    {"(a|b){2}c", "bac", true},
    {"a*?b", "aab", true},  // lazy: the same for a whole match
    {"(a*)*b", "aaab", true},
    {"(a*)*b", "aaac", false},
    {"LN[0-9]{4}(-[0-9])?", "LN1234-1", true},
    {"LN[0-9]{4}(-[0-9])?", "LN1234-", false},
    // anchors, first and last only
    {"^SN[0-9]{6}$", "SN123456", true},
    {"^SN[0-9]{6}$", "SN12345", false},
    // bytes that are not UTF-8: only '.' and negated classes take them
    {".", "\xFF", true},
    {"[^a]", "\xFF", true},
    {"SN.", "SN\xFF", true},
};

}  // namespace

TEST(LinearPattern, MatchesTheWholeTextAsECMAScriptWould) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string("/") + c.pattern + "/ on \"" + c.text + "\"");
        Result<LinearPattern> p = LinearPattern::compile(c.pattern);
        ASSERT_TRUE(p.ok()) << p.error().text();
        EXPECT_EQ(p->matchesWhole(c.text), c.match);
    }
}

TEST(LinearPattern, PatternsOutsideTheLanguageAreRefusedWithTheirPlace) {
    struct Refused {
        const char* pattern;
        const char* says;
    };
    const Refused cases[] = {
        {"SN[0-9", "at character 3: a '[' without its ']'"},
        {"(SN", "at character 1: a '(' without its ')'"},
        {"SN)", "at character 3: a ')' without its '('"},
        {"*SN", "at character 1: '*' repeats nothing"},
        {"SN**", "at character 4: a repetition of a repetition"},
        {"(a)\\1", "\\1 is not part of the serial pattern language"},
        {"\\bSN", "\\b is not part of"},
        {"\\x41", "\\x is not part of"},
        {"(?=SN)SN", "look-around and named groups"},
        {"(?<n>SN)", "look-around and named groups"},
        {"SN^", "at character 3: '^' stands only first or last"},
        {"a$b", "at character 2: '$' stands only first or last"},
        {"a{101}", "a count above 100"},
        {"a{3,2}", "{m,n} with n below m"},
        {"a{x}", "'{' must be followed by a count"},
        {"a{2", "a '{' without its '}'"},
        {"[z-a]", "a range whose end comes before its start"},
        {"[\\d-z]", "a range cannot start at \\d"},
        {"[\\D]", "\\D, \\W and \\S are not taken inside"},
        {"SN\\", "a '\\' at the end of the pattern"},
        {"SN\xFF", "at character 3: the pattern is not UTF-8"},
        // Written out, this would be ten thousand steps.
        {"(a{100}){100}", "the pattern is too large"},
        {"((((((((((((((((((((((((((((((((((a))))))))))))))))))))))))))))))))))", "groups nest deeper than 32"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.pattern);
        Result<LinearPattern> p = LinearPattern::compile(c.pattern);
        ASSERT_FALSE(p.ok());
        EXPECT_EQ(p.error().code(), ErrorCode::BadData);
        EXPECT_NE(p.error().text().find(c.says), std::string::npos) << p.error().text();
    }
    EXPECT_FALSE(LinearPattern::compile(std::string(1001, 'a')).ok()) << "a pattern text is bounded too";
}

TEST(LinearPattern, CompiledSizeIsBounded) {
    // The largest repetitions the language takes stay within the bound.
    Result<LinearPattern> big = LinearPattern::compile("[A-Z]{100}(-[0-9]{1,20}){0,5}");
    ASSERT_TRUE(big.ok()) << big.error().text();
    EXPECT_LE(big->programSize(), kPatternProgramLimit);
    EXPECT_TRUE(big->matchesWhole(std::string(100, 'Q') + "-1-22-333"));
}

// The two patterns that make a backtracking engine take seconds to minutes
// (doubling with each character) answer at once here, and rightly; their
// time is measured in bench/ (SerialPattern benchmarks).
TEST(LinearPattern, NestedRepetitionsOnAMisscanGiveTheRightAnswer) {
    Result<LinearPattern> serial = LinearPattern::compile("([A-Z0-9]+-?)+");
    ASSERT_TRUE(serial.ok());
    EXPECT_FALSE(serial->matchesWhole("SN12345678901234567890123456!"));
    EXPECT_TRUE(serial->matchesWhole("SN12345678901234567890123456"));
    EXPECT_TRUE(serial->matchesWhole("SN-1234-5678-"));

    Result<LinearPattern> as = LinearPattern::compile("(a+)+$");
    ASSERT_TRUE(as.ok());
    EXPECT_FALSE(as->matchesWhole(std::string(31, 'a') + "!"));
    EXPECT_TRUE(as->matchesWhole(std::string(31, 'a')));
    // Long inputs too: the matcher holds no state per character read.
    EXPECT_FALSE(as->matchesWhole(std::string(30000, 'a') + "!"));
    EXPECT_TRUE(as->matchesWhole(std::string(30000, 'a')));
}
