#include "line/LineSettings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

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
    std::vector<PathLoss::Row> rows;
    int lineNumber = 0;
    std::size_t from = 0;
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
            if (comma == std::string::npos || line.find(',', comma + 1) != std::string::npos)
                return bad("\"" + line + "\" is not \"freqMHz,dB\"");
            const std::optional<double> mhz = ParseDecimal(line.substr(0, comma));
            const std::optional<double> db = ParseDecimal(line.substr(comma + 1));
            if (!mhz || !db) return bad("\"" + line + "\" is not \"freqMHz,dB\" (two numbers)");
            if (*mhz <= 0) return bad("the frequency " + TrimBlanks(line.substr(0, comma)) + " MHz is not positive");
            if (std::fabs(*db) > 100) return bad("the loss " + TrimBlanks(line.substr(comma + 1)) + " dB is not believable");
            for (const PathLoss::Row& r : rows)
                if (r.megahertz == *mhz) return bad("the frequency " + TrimBlanks(line.substr(0, comma)) + " MHz is given twice");
            rows.push_back({*mhz, *db});
        }
        if (end == text.size()) break;
    }
    if (rows.empty()) return Error::make(ErrorCode::BadData, name + ": no \"freqMHz,dB\" line");
    return PathLoss(std::move(rows));
}

Result<PathLoss> LoadPathLoss(const std::filesystem::path& file) {
    Result<FileBytes> read = ReadRegularFile(file, 1024 * 1024);
    if (!read) return read.error().wrapped("cannot read the fixture's path-loss table");
    if (read->size > read->bytes.size())
        return Error::make(ErrorCode::BadData, "the path-loss table is larger than 1 MiB", PathText(file));
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
    try {
        p.regex_.emplace(pattern, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
        return Error::make(ErrorCode::BadData,
                           "the serial pattern \"" + pattern + "\" is no regular expression (" + e.what() + ")", source);
    }
    return p;
}

std::string SerialPattern::trim(const std::string& serial) { return TrimBlanks(serial); }

bool SerialPattern::accepts(const std::string& serial) const { return refusal(serial).empty(); }

std::string SerialPattern::refusal(const std::string& serial) const {
    const std::string s = trim(serial);
    if (s.empty()) return "the serial is empty";
    if (!regex_) return {};
    if (std::regex_match(s, *regex_)) return {};
    if (!example_.empty()) return s + " is not a serial of this line; a serial looks like " + example_;
    return s + " does not match this line's serial format";
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
