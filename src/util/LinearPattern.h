// A small pattern language for whole-text matches (serial numbers from a
// barcode scanner), run in time linear in the text and without recursion
// over it: the pattern is compiled into a program of at most
// kPatternProgramLimit instructions and run as a Pike VM over the text's
// characters, every state at most once per character. No input can make it
// backtrack, so a misscanned serial costs microseconds, never minutes.
//
// The language is the part of ECMAScript regular expressions a serial needs:
//   literals (UTF-8 characters), '.' (any character but CR and LF),
//   [...] and [^...] with ranges and \d \w \s inside,
//   \d \w \s \D \W \S (ASCII classes, as in ECMAScript),
//   \ before punctuation for the character itself, \t \n \r \f \v,
//   groups ( ) and (?: ), alternatives |,
//   * + ? {m} {m,} {m,n} (bounds up to kPatternRepeatLimit; a lazy '?'
//   after them is taken and changes nothing for a whole-text match),
//   '^' first and '$' last (the match is of the whole text anyway).
// Anything else (back-references, look-around, word boundaries, \x, \u,
// named groups) is refused when the pattern is compiled, with the position.
// Characters are code points of the UTF-8 text; a byte that is not UTF-8 is
// a character of its own that only '.' and negated classes match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/Error.h"

namespace varnel {

inline constexpr std::size_t kPatternProgramLimit = 4096;
inline constexpr int kPatternRepeatLimit = 100;
inline constexpr std::size_t kPatternTextLimit = 1000;
inline constexpr int kPatternNestingLimit = 32;

class LinearPattern {
public:
    LinearPattern() = default;
    // The compiled pattern, or BadData "at character N: what is wrong".
    static Result<LinearPattern> compile(std::string_view pattern);

    // True when the whole of `text` matches.
    bool matchesWhole(std::string_view text) const;
    std::size_t programSize() const { return program_.size(); }

    struct Range {
        char32_t low, high;
    };
    struct CharClass {
        std::vector<Range> ranges;
        bool negated = false;
        bool contains(char32_t c) const;
    };
    enum class Op : std::uint8_t { Char, Any, Class, Split, Jump, Match };
    struct Instruction {
        Op op = Op::Match;
        char32_t c = 0;      // Char
        int x = 0, y = 0;    // Split: both; Jump: x. Class: x is the class
    };

private:
    std::vector<Instruction> program_;
    std::vector<CharClass> classes_;
    friend class PatternCompiler;
};

// The characters of UTF-8 text, a byte that is not UTF-8 as 0x110000 + byte.
std::vector<char32_t> PatternCharacters(std::string_view text);

}  // namespace varnel
