#include "line/LineSettings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "data/Safety.h"
#include "lang/Profile.h"
#include "util/FileAccess.h"
#include "util/LocalTime.h"

namespace varnel {

// ---- path loss ---------------------------------------------------------------

PathLoss::PathLoss(std::vector<Row> rows) : rows_(std::move(rows)) {
    std::sort(rows_.begin(), rows_.end(), [](const Row& a, const Row& b) { return a.megahertz < b.megahertz; });
}

double PathLoss::lossAt(double megahertz) const {
    if (rows_.empty()) return 0;
    if (megahertz <= rows_.front().megahertz) return rows_.front().db;
    if (megahertz >= rows_.back().megahertz) return rows_.back().db;
    const auto above = std::upper_bound(rows_.begin(), rows_.end(), megahertz,
                                        [](double f, const Row& r) { return f < r.megahertz; });
    const Row& hi = *above;
    const Row& lo = *(above - 1);
    const double share = (megahertz - lo.megahertz) / (hi.megahertz - lo.megahertz);
    return lo.db + share * (hi.db - lo.db);
}

std::string PathLoss::recordText() const {
    std::string text;
    char part[64];
    for (const Row& r : rows_) {
        std::snprintf(part, sizeof part, "%s%.3f:%.2f", text.empty() ? "" : ";", r.megahertz, r.db);
        text += part;
    }
    return text;
}

namespace {

std::string TrimBlanks(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// A whole decimal number with an optional fraction and sign, nothing else.
std::optional<double> ParseDecimal(const std::string& text) {
    const std::string t = TrimBlanks(text);
    if (t.empty()) return std::nullopt;
    double value = 0;
    const char* begin = t.data();
    if (*begin == '+') ++begin;
    const auto [rest, problem] = std::from_chars(begin, t.data() + t.size(), value, std::chars_format::fixed);
    if (problem != std::errc() || rest != t.data() + t.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

Result<PathLoss> ParsePathLoss(const std::string& text, const std::string& name) {
    struct Parsed {
        PathLoss::Row row;
        int line;
        std::string frequencyText;
    };
    std::vector<Parsed> rows;
    Error malformed;  // the first line that is not a row, if any
    int lineNumber = 0;
    // A spreadsheet's "CSV UTF-8" and Notepad start the file with a BOM.
    std::size_t from = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (from <= text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string line = TrimBlanks(text.substr(from, end - from));
        from = end + 1;
        ++lineNumber;
        const auto bad = [&](const std::string& why) {
            return Error::make(ErrorCode::BadData, name + ":" + std::to_string(lineNumber) + ": " + why);
        };
        if (!line.empty() && line[0] != '#' && line[0] != ';') {
            const auto comma = line.find(',');
            const std::string shown = line.size() > 80 ? line.substr(0, 80) + "..." : line;
            if (comma == std::string::npos || line.find(',', comma + 1) != std::string::npos) {
                malformed = bad("\"" + shown + "\" is not \"freqMHz,dB\"");
                break;
            }
            const std::optional<double> mhz = ParseDecimal(line.substr(0, comma));
            const std::optional<double> db = ParseDecimal(line.substr(comma + 1));
            if (!mhz || !db) {
                malformed = bad("\"" + shown + "\" is not \"freqMHz,dB\" (two numbers)");
                break;
            }
            if (*mhz <= 0) {
                malformed = bad("the frequency " + TrimBlanks(line.substr(0, comma)) + " MHz is not positive");
                break;
            }
            if (std::fabs(*db) > 100) {
                malformed = bad("the loss " + TrimBlanks(line.substr(comma + 1)) + " dB is not believable");
                break;
            }
            rows.push_back({{*mhz, *db}, lineNumber, TrimBlanks(line.substr(0, comma))});
        }
        if (end == text.size()) break;
    }
    // A frequency given twice, found by sorting (the table may have many
    // rows): the first line, in file order, that repeats an earlier one.
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rows[a].row.megahertz < rows[b].row.megahertz; });
    const Parsed* twice = nullptr;
    for (std::size_t k = 1; k < order.size(); ++k) {
        const Parsed& earlier = rows[order[k - 1]];
        const Parsed& later = rows[order[k]];
        if (earlier.row.megahertz == later.row.megahertz && (twice == nullptr || later.line < twice->line))
            twice = &later;
    }
    if (twice != nullptr)
        return Error::make(ErrorCode::BadData, name + ":" + std::to_string(twice->line) + ": the frequency " +
                                                   twice->frequencyText + " MHz is given twice");
    if (!malformed.ok()) return malformed;
    if (rows.empty()) return Error::make(ErrorCode::BadData, name + ": no \"freqMHz,dB\" line");
    std::vector<PathLoss::Row> table;
    table.reserve(rows.size());
    for (const Parsed& p : rows) table.push_back(p.row);
    return PathLoss(std::move(table));
}

Result<PathLoss> LoadPathLoss(const std::filesystem::path& file) {
    Result<FileBytes> read = ReadRegularFile(file, kPathLossFileLimit + 1);
    if (!read) return read.error().wrapped("cannot read the fixture's path-loss table");
    if (read->size > kPathLossFileLimit || read->bytes.size() > kPathLossFileLimit)
        return Error::make(ErrorCode::WrongSize,
                           "%1 holds " + std::to_string(read->size) + " bytes; a path-loss table is at most " +
                               std::to_string(kPathLossFileLimit) + " bytes",
                           PathText(file))
            .wrap("cannot read the fixture's path-loss table");
    return ParsePathLoss(read->bytes, PathText(file));
}

// ---- calibration due date -------------------------------------------------------

std::optional<CivilDate> ParseCivilDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    CivilDate d;
    d.year = std::stoi(text.substr(0, 4));
    d.month = std::stoi(text.substr(5, 2));
    d.day = std::stoi(text.substr(8, 2));
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.year < 1) return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    const int days = kDays[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
    if (d.day > days) return std::nullopt;
    return d;
}

std::string CivilDateText(const CivilDate& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year % 10000, d.month % 100, d.day % 100);
    return text;
}

CivilDate LocalToday() {
    const std::tm local = LocalTime(std::time(nullptr));
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

Result<CalibrationCheck> CheckCalibrationDue(const std::string& due, const CivilDate& today,
                                            const std::string& source) {
    CalibrationCheck check;
    const std::string text = TrimBlanks(due);
    if (text.empty()) return check;
    const std::optional<CivilDate> date = ParseCivilDate(text);
    if (!date)
        return Error::make(ErrorCode::BadData, "the calibration due date \"" + text + "\" is not a date YYYY-MM-DD",
                           source);
    check.due = text;
    if (*date < today) {
        check.state = CalibrationState::Overdue;
        check.message = "the instrument's calibration was due on " + text + " (today is " + CivilDateText(today) + ")";
    } else {
        check.state = CalibrationState::Valid;
    }
    return check;
}

// ---- serial numbers ---------------------------------------------------------------

Result<SerialPattern> SerialPattern::make(const std::string& pattern, const std::string& source) {
    SerialPattern p;
    p.text_ = pattern;
    if (pattern.empty()) return p;
    Result<LinearPattern> compiled = LinearPattern::compile(pattern);
    if (!compiled)
        return Error::make(ErrorCode::BadData,
                           "the serial pattern \"" + pattern + "\" is refused: " + compiled.error().text(), source);
    p.pattern_ = std::move(compiled.value());
    return p;
}

std::string SerialPattern::trim(const std::string& serial) { return TrimBlanks(serial); }

std::size_t SerialLength(const std::string& serial) { return PatternCharacters(serial).size(); }

SerialRefusal SerialPattern::check(const std::string& serial) const {
    const std::string s = trim(serial);
    if (s.empty()) return SerialRefusal::Empty;
    // Counted on the bytes first: a line of megabytes is not decoded.
    if (s.size() > 4 * kSerialLengthLimit || SerialLength(s) > kSerialLengthLimit) return SerialRefusal::TooLong;
    if (pattern_ && !pattern_->matchesWhole(s)) return SerialRefusal::NoMatch;
    return SerialRefusal::None;
}

std::string SerialPattern::refusal(const std::string& serial) const {
    switch (check(serial)) {
        case SerialRefusal::None: return {};
        case SerialRefusal::Empty: return "the serial is empty";
        case SerialRefusal::TooLong:
            return "the serial is longer than " + std::to_string(kSerialLengthLimit) + " characters (" +
                   std::to_string(trim(serial).size()) + " bytes); a barcode is shorter";
        case SerialRefusal::NoMatch: break;
    }
    const std::string s = trim(serial);
    if (!example_.empty()) return s + " is not a serial of this line; a serial looks like " + example_;
    return s + " does not match this line's serial format";
}

// ---- file names of a radio ----------------------------------------------------------

std::string SerialFileName(const std::string& serial) {
    if (serial.empty()) return "_";
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : serial) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
            out += c;
            continue;
        }
        const auto b = static_cast<unsigned char>(c);
        out += '_';
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    }
    return out;
}

std::optional<std::string> SerialFromFileName(const std::string& name) {
    if (name == "_") return std::string();
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c != '_') {
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
                return std::nullopt;
            out += c;
            continue;
        }
        if (i + 2 >= name.size()) return std::nullopt;
        const int high = hex(name[i + 1]), low = hex(name[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        const char decoded = static_cast<char>(high * 16 + low);
        // Only what SerialFileName writes: a byte it keeps is never escaped.
        if ((decoded >= 'A' && decoded <= 'Z') || (decoded >= 'a' && decoded <= 'z') ||
            (decoded >= '0' && decoded <= '9') || decoded == '-')
            return std::nullopt;
        out += decoded;
        i += 2;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::filesystem::path FreeBackupPath(const std::filesystem::path& folder, const std::string& modelName,
                                     const std::string& serial, const std::tm& localTime) {
    std::string stem = BackupFileName(modelName, localTime);
    stem.resize(stem.size() - 4);  // ".tdb"
    if (!serial.empty()) {
        // BackupFileName keeps letters, digits, '-' and '_': the escaped serial goes in as it is.
        const std::string plain = BackupFileName(modelName, localTime);
        const std::size_t stamp = plain.size() - std::string("_YYYY-MM-DD_HH-MM-SS.tdb").size();
        stem = plain.substr(0, stamp) + "_" + SerialFileName(serial) + plain.substr(stamp, plain.size() - stamp - 4);
    }
    std::filesystem::path path = folder / (stem + ".tdb");
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(path, ec) || std::filesystem::is_symlink(path, ec); ++n)
        path = folder / (stem + "-" + std::to_string(n) + ".tdb");
    return path;
}

std::filesystem::path AlignedArchivePath(const std::filesystem::path& folder, const std::string& serial) {
    namespace fs = std::filesystem;
    const std::string stem = SerialFileName(serial);
    fs::path path = folder / (stem + ".tdb");
    for (int n = 2; n < 1000; ++n) {
        std::error_code ec;
        if (!fs::exists(path, ec) && !fs::is_symlink(path, ec)) return path;
        // Taken: by this very name (the serial's own archive), or by a name
        // that differs in case only.
        bool exact = false;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename() == path.filename()) {
                exact = true;
                break;
            }
        if (exact || ec) return path;
        path = folder / (stem + "~" + std::to_string(n) + ".tdb");
    }
    return path;
}

// ---- the settings -----------------------------------------------------------------

LineSettings ReadLineSettings(const std::filesystem::path& settingsFile) {
    LineSettings s;
    if (settingsFile.empty()) return s;
    s.fixtureId = ReadProfileString(settingsFile, "fixture", "id");
    s.pathLossFile = ReadProfileString(settingsFile, "fixture", "pathLoss");
    // A table named without its folder sits beside setting.ini.
    if (!s.pathLossFile.empty() && std::filesystem::path(s.pathLossFile).is_relative())
        s.pathLossFile = (settingsFile.parent_path() / s.pathLossFile).string();
    s.calibrationDue = ReadProfileString(settingsFile, "instrument", "calibrationDue");
    const std::string strict = ReadProfileString(settingsFile, "line", "strict");
    s.strict = strict == "1" || strict == "yes" || strict == "true";
    s.serialPattern = ReadProfileString(settingsFile, "line", "serialPattern");
    s.serialExample = TrimBlanks(ReadProfileString(settingsFile, "line", "serialExample"));
    const std::string radios = TrimBlanks(ReadProfileString(settingsFile, "line", "chartRadios"));
    if (!radios.empty() && radios.find_first_not_of("0123456789") == std::string::npos && radios.size() < 5)
        s.chartRadios = std::stoi(radios);
    s.chartWindow = TrimBlanks(ReadProfileString(settingsFile, "line", "chartLimits")) == "window";
    return s;
}

}  // namespace varnel
