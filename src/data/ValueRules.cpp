#include "data/ValueRules.h"

#include <cstdio>
#include <limits>

namespace varnel {

std::optional<int> ParseTypedInteger(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> TypedStoreValue(std::string_view text, int min, int max, int step) {
    const std::optional<int> v = ParseTypedInteger(text);
    if (!v) return std::nullopt;
    if (step <= 0) step = 1;
    if (*v > max) return max / step;
    if (*v < min) return min / step;
    return *v / step;
}

BitErrorFigures BitErrorRate(std::uint32_t frames, std::uint32_t errors) {
    const std::uint32_t bits = frames * 264u;
    const std::uint32_t errorsPercent = errors * 100u;
    std::string rate = "0.0%";
    if (bits != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f%%", static_cast<double>(errorsPercent) / static_cast<double>(bits));
        rate = text;
    }
    return BitErrorFigures{bits, errors, rate};
}

}  // namespace varnel
