// What a production line adds around automatic alignment: the fixture the
// radio sits in (its path loss between the radio's antenna socket and the
// instrument), the instrument's calibration due date, and the serial number
// a barcode scanner types. Pure logic; the front ends read the settings and
// say what went wrong.
//
// setting.ini (beside the program), all keys optional:
//   [fixture]    id=FX-07            pathLoss=FILE (one "freqMHz,dB" per line)
//   [instrument] calibrationDue=YYYY-MM-DD
//   [line]       strict=1            serialPattern=REGEX   serialExample=SN-0042
//                chartRadios=20      chartLimits=first|window
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "util/Error.h"
#include "util/LinearPattern.h"

namespace varnel {

// ---- path loss ---------------------------------------------------------------

// The fixture's loss in dB per frequency. Between two rows the loss is
// interpolated linearly in frequency; below the first row it is the first
// row's, above the last the last's. An empty table loses nothing.
class PathLoss {
public:
    struct Row {
        double megahertz = 0;
        double db = 0;
    };
    PathLoss() = default;
    // Rows in any order; sorted by frequency here (two rows on one frequency
    // are the caller's mistake, ParsePathLoss refuses them).
    explicit PathLoss(std::vector<Row> rows);

    bool empty() const { return rows_.empty(); }
    const std::vector<Row>& rows() const { return rows_; }
    double lossAt(double megahertz) const;
    double lossAtHz(std::uint32_t hertz) const { return lossAt(hertz / 1e6); }
    // What the radio delivers when the instrument reads `readingDbm` through
    // the fixture at `hertz`: the reading plus the loss.
    double atRadio(double readingDbm, std::uint32_t hertz) const { return readingDbm + lossAtHz(hertz); }
    // The table as the records keep it: "400.000:1.20;470.000:1.45".
    std::string recordText() const;

private:
    std::vector<Row> rows_;
};

// A path-loss file: one row per line, "freqMHz,dB" (blanks around the
// numbers allowed); empty lines and lines starting with '#' or ';' are
// skipped. A line that is not two numbers, a frequency that is not
// positive, a loss outside -100..100 dB or a frequency given twice is
// BadData "FILE:LINE: what is wrong". `name` names the file in messages.
// A UTF-8 byte-order mark at the start is skipped.
Result<PathLoss> ParsePathLoss(const std::string& text, const std::string& name);
// The largest path-loss file taken, as for procedures; a larger one is
// WrongSize.
inline constexpr std::size_t kPathLossFileLimit = 1024 * 1024;
Result<PathLoss> LoadPathLoss(const std::filesystem::path& file);

// ---- calibration due date -------------------------------------------------------

struct CivilDate {
    int year = 0, month = 0, day = 0;
    friend bool operator==(const CivilDate&, const CivilDate&) = default;
    friend auto operator<=>(const CivilDate&, const CivilDate&) = default;
};

// "YYYY-MM-DD" with a real day of a real month (leap years included);
// anything else is nothing.
std::optional<CivilDate> ParseCivilDate(const std::string& text);
std::string CivilDateText(const CivilDate& date);
// Today in local time.
CivilDate LocalToday();

enum class CalibrationState {
    None,     // no due date given
    Valid,    // due today or later
    Overdue,  // the due date has passed
};

struct CalibrationCheck {
    CalibrationState state = CalibrationState::None;
    std::string due;      // the date as given, for the records ("" when none)
    std::string message;  // for the operator, empty when valid or none
};

// Checks the due date `due` (empty: none) against `today`. An instrument is
// usable through its due day and overdue from the day after. A malformed
// date is BadData naming what was given and where it came from (`source`:
// "setting.ini [instrument] calibrationDue", "--calibration-due").
Result<CalibrationCheck> CheckCalibrationDue(const std::string& due, const CivilDate& today,
                                            const std::string& source);

// ---- serial numbers ---------------------------------------------------------------

// The longest serial taken, in characters (a barcode is shorter); a longer
// one is refused before it is matched or used in a file name.
inline constexpr std::size_t kSerialLengthLimit = 64;

// Why a serial is refused.
enum class SerialRefusal {
    None,     // taken
    Empty,    // nothing left after trimming
    TooLong,  // more than kSerialLengthLimit characters
    NoMatch,  // the pattern does not match it
};

// The pattern serials must match in full (the language of LinearPattern: the
// part of ECMAScript regular expressions a serial needs, matched in time
// linear in the serial). Empty: any serial that is not empty after trimming.
class SerialPattern {
public:
    SerialPattern() = default;
    // A pattern outside the language is BadData naming it, where it is
    // wrong and `source`.
    static Result<SerialPattern> make(const std::string& pattern, const std::string& source);

    const std::string& text() const { return text_; }
    // The serial with blanks (and the scanner's CR) trimmed at both ends.
    static std::string trim(const std::string& serial);
    // Why the trimmed serial is refused (None: it is taken).
    SerialRefusal check(const std::string& serial) const;
    // True when the trimmed serial is taken.
    bool accepts(const std::string& serial) const { return check(serial) == SerialRefusal::None; }
    // Why `serial` is refused, as a person says it: "SN-12 is not a serial
    // of this line; a serial looks like SN-0042" with an example (see
    // setExample), else "SN-12 does not match this line's serial format";
    // empty when it is taken.
    std::string refusal(const std::string& serial) const;
    // A serial of the line that the refusal shows ([line] serialExample).
    void setExample(std::string example) { example_ = std::move(example); }
    const std::string& example() const { return example_; }

private:
    std::string text_;
    std::string example_;
    std::optional<LinearPattern> pattern_;
};

// The number of characters of a serial (UTF-8; a byte that is not UTF-8
// counts as one).
std::size_t SerialLength(const std::string& serial);

// ---- file names of a radio ----------------------------------------------------------

// A serial as part of a file name, so that two serials never share a file:
// letters A-Z and a-z, digits and '-' stay, every other byte (a blank, a
// dot, a slash, each byte of "Ä", '_' itself) becomes '_' and two
// upper-case hexadecimal digits ("SN 1" -> "SN_201", "SN_1" -> "SN_5F1").
// The escaping is reversible (SerialFromFileName) and the name needs no
// case to tell serials apart except where the serials differ in case.
// An empty serial is "_" (no serial escapes to that).
std::string SerialFileName(const std::string& serial);
// The serial a SerialFileName stands for; nothing for a name no serial gives.
std::optional<std::string> SerialFromFileName(const std::string& name);

// The backup of a radio before it is changed, in `folder`:
// "<model>[_<serial>]_<date>_<time>.tdb" (the serial as SerialFileName
// writes it), with "-2", "-3", ... before ".tdb" when that name is taken,
// so that a backup never replaces another. The program's window and the
// line's loop name their backups with this.
std::filesystem::path FreeBackupPath(const std::filesystem::path& folder, const std::string& modelName,
                                     const std::string& serial, const std::tm& localTime);

// The aligned archive of the radio `serial` in `folder`:
// "<SerialFileName>.tdb". On a file system that ignores letter case (Windows)
// a file of that name may belong to a serial that differs only in case; its
// name on disk then differs from this one, and "<name>~2.tdb", "~3", ... is
// taken instead ('~' is never part of an escaped serial). A file of exactly
// this name is the same serial's earlier archive, which the new one replaces.
std::filesystem::path AlignedArchivePath(const std::filesystem::path& folder, const std::string& serial);

// ---- the settings -----------------------------------------------------------------

struct LineSettings {
    std::string fixtureId;
    std::string pathLossFile;
    std::string calibrationDue;
    bool strict = false;
    std::string serialPattern;
    std::string serialExample;
    // The line's control charts: limits from the first `chartRadios` radios
    // (chartLimits=first, the default) or from a window of the last ones
    // (chartLimits=window); 0 when not set (the default, 20).
    int chartRadios = 0;
    bool chartWindow = false;
};

// The line's keys of a setting.ini (missing file or keys: empty, not strict).
// A relative pathLoss file is taken from the folder of setting.ini.
LineSettings ReadLineSettings(const std::filesystem::path& settingsFile);

}  // namespace varnel
