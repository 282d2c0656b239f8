// Plain rules behind the value controls and the measuring pages: how a typed
// value is read and clamped, and the bit-error-rate figures of a reply.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// The text as a signed 32-bit decimal integer: an optional sign and digits,
// nothing else (no blanks, no digit-group separators); nothing otherwise,
// and nothing for a number beyond 32 bits.
std::optional<int> ParseTypedInteger(std::string_view text);

// What a typed entry stores in the image: the integer clamped to the
// control's range [min, max], divided by the control's step. Nothing when the
// text is not an integer (the stored value then stays).
std::optional<int> TypedStoreValue(std::string_view text, int min, int max, int step);

// The three figures of the bit-error-rate page from the radio's frame and
// error counters: bits = frames x 264 and errors x 100, both modulo 2^32 as
// the radio's own counters wrap; the rate is (errors x 100) / bits with two
// decimals and a percent sign, "0.0%" when no bit was counted.
struct BitErrorFigures {
    std::uint32_t bits;
    std::uint32_t errors;
    std::string rate;
};
BitErrorFigures BitErrorRate(std::uint32_t frames, std::uint32_t errors);

}  // namespace varnel
