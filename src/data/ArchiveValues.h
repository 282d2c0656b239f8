// An archive as named values: every value of the tuner image per item, band
// and point, named by the caption keys of the item table, for the command-line
// tool's dump and diff.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"

namespace varnel {

struct NamedValue {
    enum class Kind { RxFrequency, TxFrequency, Single, Array, FskByte, FskWord, Unassigned };
    Kind kind;
    const char* section;  // language section of the caption, nullptr for a fixed text
    const char* key;      // caption key (or the fixed text, or nullptr for unassigned bytes)
    int code;             // item code in this band, -1 when none
    int band;             // 0 or 1
    int point;            // 1-8, 0 for a single value
    int offset;           // absolute offset in the image
    std::uint32_t value;  // byte, 16-bit word, or hertz
};

// "rx-frequency", "tx-frequency", "single", "array", "fsk-byte", "fsk-word", "unassigned".
const char* NamedValueKindName(NamedValue::Kind kind);

// Every named value in the order of the parameter grid (frequencies, then the
// items), band 0 first; then the items the grid does not show (man-down).
// The FSK columns only when `withFsk`. With `withUnassigned`, also every byte
// no item owns (one Unassigned value each, band by its half).
std::vector<NamedValue> ArchiveValues(const TunerImage& image, bool withFsk, bool withUnassigned);

// Both lists must come from ArchiveValues with the same flags: the pairs whose
// values differ (a from the first image, b from the second).
struct ValueDifference {
    NamedValue a;
    NamedValue b;
};
std::vector<ValueDifference> DiffValues(const TunerImage& a, const TunerImage& b, bool withFsk);

// The interpreted fields of two information blocks that differ, as
// (field name, first, second); then "byte N" for any other differing byte.
struct InfoDifference {
    std::string field;
    std::string a;
    std::string b;
};
std::vector<InfoDifference> DiffInfo(const RadioInfo& a, const RadioInfo& b);

}  // namespace varnel
