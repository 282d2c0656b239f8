#include "data/ParamGrid.h"

#include <limits>

namespace varnel::param {

namespace {

constexpr int kFirstSingleRow = 3;
constexpr int kLastSingleRow = 10;
constexpr int kFirstEightPointRow = 21;
constexpr int kLastEightPointRow = 24;
constexpr int kReadOnlyRow = 29;
constexpr int kFirstFskRow = 31;
constexpr int kArrayPoints = 5;

bool IsFrequencyRow(int row) { return row == 1 || row == 2; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Hertz of a decimal megahertz text, cut to 10 Hz; nothing when the text is
// not a plain decimal number (digits with at most one point) or too large.
// The digits are taken as written: a binary floating-point detour would turn
// some entries (435.12345 among them) into a value 10 Hz short.
bool TenHertzFromText(std::string_view text, std::int64_t* hertz) {
    std::int64_t whole = 0;
    std::int64_t tenths = 0;  // units of 10 Hz below one megahertz
    int wholeDigits = 0;
    int fractionDigits = 0;
    bool point = false;
    for (const char c : text) {
        if (c == '.') {
            if (point) return false;
            point = true;
            continue;
        }
        if (!IsDigit(c)) return false;
        if (!point) {
            if (++wholeDigits > 12) return false;  // far beyond any 32-bit frequency
            whole = whole * 10 + (c - '0');
        } else if (fractionDigits < 5) {
            tenths = tenths * 10 + (c - '0');
            ++fractionDigits;
        }
    }
    if (wholeDigits == 0 && fractionDigits == 0) return false;  // "" or "."
    for (; fractionDigits < 5; ++fractionDigits) tenths *= 10;
    *hertz = whole * 1000000 + tenths * 10;
    return true;
}

std::uint32_t ReadBigEndian32(const TunerImage& image, int offset) {
    const auto at = static_cast<std::size_t>(offset);
    return (std::uint32_t{image[at]} << 24) | (std::uint32_t{image[at + 1]} << 16) |
           (std::uint32_t{image[at + 2]} << 8) | std::uint32_t{image[at + 3]};
}

void WriteBigEndian32(TunerImage& image, int offset, std::uint32_t value) {
    const auto at = static_cast<std::size_t>(offset);
    image[at] = static_cast<std::uint8_t>(value >> 24);
    image[at + 1] = static_cast<std::uint8_t>(value >> 16);
    image[at + 2] = static_cast<std::uint8_t>(value >> 8);
    image[at + 3] = static_cast<std::uint8_t>(value);
}

int WidthOf(GridRowKind kind) {
    switch (kind) {
        case GridRowKind::RxFrequency:
        case GridRowKind::TxFrequency:
            return 4;
        case GridRowKind::FskWords:
            return 2;
        default:
            return 1;
    }
}

// Offset of the row's point, or -1 when it lies outside the image.
int CellOffset(const ParamGridRow& row, int band, int point) {
    const int offset = ParamGridOffset(row, band, point);
    if (offset < 0 || offset + WidthOf(row.kind) > static_cast<int>(TunerImage::kSize)) return -1;
    return offset;
}

}  // namespace

GridLayout FiveGridLayout() { return {false, 6, 5, 803, 753, {178, 113, 113, 109, 96, 111, 0, 0, 0}}; }

GridLayout EightGridLayout() { return {true, 9, 8, 983, 933, {178, 90, 90, 90, 90, 90, 90, 90, 90}}; }

GridLayout LayoutFor(int band, bool newFirmware) {
    return band == 1 && newFirmware ? EightGridLayout() : FiveGridLayout();
}

int GridRowCount(bool largeModel) { return largeModel ? 46 : 31; }

bool CellShowsValue(int col, int row, const GridLayout& layout, int rowCount, bool fskRows) {
    if (col < 1 || col > layout.points || row < 1 || row >= rowCount) return false;
    if (IsFrequencyRow(row)) return true;
    if (row <= kLastSingleRow) return col == kSingleColumn;
    if (row >= kFirstFskRow && !fskRows) return false;
    if (col <= kArrayPoints) return true;
    return layout.eightPoints && row >= kFirstEightPointRow && row <= kLastEightPointRow;
}

bool IsCellEditable(int col, int row, const GridLayout& layout, int rowCount, bool expertMode) {
    if (col < 1 || col > layout.points || row < 1 || row >= rowCount) return false;
    if (IsFrequencyRow(row)) return expertMode;
    if (row >= kFirstSingleRow && row <= kLastSingleRow) return col == kSingleColumn;
    if (row == kReadOnlyRow) return false;
    if (row >= kFirstEightPointRow && row <= kLastEightPointRow) return true;  // every point column
    return col <= kArrayPoints;
}

int EditorMaxLength(int row) { return IsFrequencyRow(row) ? 10 : 8; }

bool EditorAcceptsCharacter(int /*row*/, char32_t c) { return c >= U' ' && c != 0x7F; }

CellRange RangeOf(const ParamGridRow& row) {
    if (row.kind == GridRowKind::FskWords) return {0, kFskWordMax};
    return {0, 255};
}

std::optional<std::uint32_t> CheckValueText(std::string_view text, const ParamGridRow& row) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    const CellRange range = RangeOf(row);
    if (value < static_cast<std::uint32_t>(range.min) || value > static_cast<std::uint32_t>(range.max)) {
        return std::nullopt;
    }
    return value;
}

std::string NormaliseFrequencyText(std::string_view text) {
    // The point's own position (4) is deliberately not among them.
    static constexpr std::size_t kPositions[] = {1, 2, 3, 5, 6, 7, 8, 9};
    for (const std::size_t position : kPositions) {
        if (text.size() < position || text[position - 1] != '.') continue;
        switch (position) {
            case 1:
                return {};
            case 2:
            case 3:
                return "0.00000";
            default:
                return std::string(text.substr(0, position - 1)) + std::string(10 - position, '0');
        }
    }
    return std::string(text);
}

ParsedValue parseFrequencyText(std::string_view text, std::uint32_t old) {
    const std::string normalised = NormaliseFrequencyText(text);
    std::int64_t hertz = 0;
    // The cell shows the field as a signed number, so anything above the
    // sign bit would come back as a negative frequency: keep the old one.
    if (!TenHertzFromText(normalised, &hertz) || hertz > std::numeric_limits<std::int32_t>::max()) {
        return {old, FormatMegahertz(old)};
    }
    const auto value = static_cast<std::uint32_t>(hertz);
    return {value, FormatMegahertz(value)};
}

ParsedValue parseByteText(std::string_view text, std::uint32_t old) {
    if (text.empty()) return {old, std::to_string(old)};
    std::uint32_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return {old, std::to_string(old)};
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 255) value = 256;  // saturate: only "256 or more" matters
    }
    if (value >= 256) return {255, "255"};
    return {value, std::string(text)};
}

std::uint32_t CellValue(const TunerImage& image, const ParamGridRow& row, int band, int point) {
    const int offset = CellOffset(row, band, point);
    if (offset < 0) return 0;
    switch (row.kind) {
        case GridRowKind::RxFrequency:
        case GridRowKind::TxFrequency:
            return ReadBigEndian32(image, offset);
        case GridRowKind::FskWords:
            return image.word(static_cast<std::size_t>(offset));
        default:
            return image[static_cast<std::size_t>(offset)];
    }
}

std::string CellText(const TunerImage& image, const ParamGridRow& row, int band, int point) {
    const std::uint32_t value = CellValue(image, row, band, point);
    if (row.kind == GridRowKind::RxFrequency || row.kind == GridRowKind::TxFrequency) {
        return FormatMegahertz(value);
    }
    return std::to_string(value);
}

std::string StoreCellText(TunerImage& image, const ParamGridRow& row, int band, int point,
                          std::string_view text) {
    const int offset = CellOffset(row, band, point);
    if (offset < 0) return std::string(text);
    const std::uint32_t old = CellValue(image, row, band, point);
    const auto at = static_cast<std::size_t>(offset);
    switch (row.kind) {
        case GridRowKind::RxFrequency:
        case GridRowKind::TxFrequency: {
            ParsedValue parsed = parseFrequencyText(text, old);
            WriteBigEndian32(image, offset, parsed.value);
            return std::move(parsed.text);
        }
        case GridRowKind::FskWords: {
            ParsedValue parsed = parseByteText(text, old);
            image.setWord(at, static_cast<std::uint16_t>(parsed.value));
            return std::move(parsed.text);
        }
        default: {
            ParsedValue parsed = parseByteText(text, old);
            image[at] = static_cast<std::uint8_t>(parsed.value);
            return std::move(parsed.text);
        }
    }
}

std::string StoreCellValue(TunerImage& image, const ParamGridRow& row, int band, int point, std::uint32_t value) {
    const int offset = CellOffset(row, band, point);
    if (offset < 0) return CellText(image, row, band, point);
    const auto at = static_cast<std::size_t>(offset);
    switch (row.kind) {
        case GridRowKind::RxFrequency:
        case GridRowKind::TxFrequency: WriteBigEndian32(image, offset, value); break;
        case GridRowKind::FskWords: image.setWord(at, static_cast<std::uint16_t>(value)); break;
        default: image[at] = static_cast<std::uint8_t>(value); break;
    }
    return CellText(image, row, band, point);
}

}  // namespace varnel::param
