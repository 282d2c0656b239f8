// Shared parts of varnel-cli: options, exit codes, the radio session the
// commands use, messages and the communication log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"
#include "device/Mass_storage.h"
#include "protocol/RadioSession.h"
#include "sim/VirtualBackend.h"
#include "util/Error.h"

namespace varnel::cli {

// Exit codes; every failure kind has its own so that scripts can tell them
// apart. The table in the README and in varnel-cli(1) lists the same.
enum Exit : int {
    kOk = 0,
    kDiffers = 1,        // diff: the archives differ; align: a point failed; else a failure without a code
    kUsage = 2,          // unknown command or option, missing or malformed argument (diff: any error)
    kMismatch = 3,       // restore: the archive belongs to another model
    kVerifyFailed = 4,   // restore --verify: the radio holds other bytes
    kNoRadio = 5,
    kPermission = 6,     // the radio's device may not be opened
    kNoAnswer = 7,
    kWrongSize = 8,
    kFileError = 9,      // a file: missing, unreadable, read-only, not a regular file, exists (backup)
    kDatabase = 10,
    kBusy = 11,
    kDeviceError = 12,
    kImplausible = 13,   // restore: the archive's block or frequencies are not believable
    kNoSuchRecord = 14,  // records show: no record with that ID
    kInstrument = 15,    // align: the measuring instrument failed
    kStopped = 16,       // align, line: stopped by the operator (Ctrl+C)
    kCalibrationOverdue = 17,  // align, line in strict mode: the instrument's calibration is overdue
    kNoRadioRecords = 18,  // report: the radio has no alignment record
    kNoPdfReports = 19,    // report: this build has no PDF reports (no cairo)
    kSerialsRefused = 20,  // line: no radio aligned, every serial scanned was refused
};
int ExitCodeFor(const Error& error);
// The exit code of a failed file operation: every failure is a file error
// (a read-only file too, which is no matter of the radio's permissions),
// except an archive of the wrong size.
int FileExitCode(const Error& error);

struct Options {
    std::string command;
    std::vector<std::string> args;  // positional arguments after the command
    std::optional<VirtualPreset> virtualRadio;
    std::string virtualFaults;
    std::string virtualDrift;  // --virtual-drift DB@N: the virtual test set's loss creeps by DB per radio from radio N
    bool log = false;
    bool quiet = false;
    bool verify = false;
    bool force = false;
    bool noRecords = false;
    std::string format;    // dump: json or csv
    std::string language;  // english or chinese
    std::string serial;
    std::string output;    // records export: file, empty = stdout
    std::string filterSerial, filterModel, filterEvent, since, until;
    std::string by;        // records stats: station or day, empty = the whole line
    int limit = 0;
    // align
    std::string procedure, instrument, instrumentModel, jsonPath, csvPath;
    int timeoutMs = 2000;
    int batch = 0;           // --batch N: N virtual radios one after the other
    bool noHistory = false;  // every point starts at the radio's value
    // the line's set-up (align and line); empty: setting.ini's
    std::string settingsFile;    // --settings: setting.ini to read instead of the program's
    std::string fixture, pathLoss, calibrationDue;
    bool strict = false;
    // line
    int radios = 0;              // --radios N: stop after N radios (0: until the input ends)
    bool jsonEvents = false;     // --json: progress as JSON lines on stdout
    std::string dataFolder;      // --data-folder: instead of "Default Data" beside the program
    long long recordId = 0;  // report --record ID
};

// A whole decimal number from low to high, nothing else (no sign other than
// a leading '-', no spaces, no overflow).
std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high);

// Text for the terminal: control characters (C0, DEL, C1) and bytes that are
// not UTF-8 are shown as \xNN, so that nothing read from a radio, a file or
// the records can move the cursor, change colours or retitle the terminal.
std::string TerminalText(const std::string& text);

// A frequency of the image in MHz with six decimals, read as the unsigned
// number the image holds (the windows read it signed, as they always have).
std::string MegahertzText(std::uint32_t hertz);

// Messages: "varnel-cli: ..." on stderr, through TerminalText.
void Fail(const std::string& message);
void Fail(const Error& error);
// A progress line on stderr (unless --quiet).
void Progress(const Options& options, const std::string& message);

// The attached radio as the commands use it: the core's RadioSession (the
// program's poll rules, every 10 ms), with the communication log of --log and
// the tuner-mode flag kept for leaving after a failure.
class CliRadio {
public:
    // With --log every frame is printed as a log line on `logTo`.
    explicit CliRadio(const Options& options, std::FILE* logTo = stdout);
    Error open();
    Result<RadioInfo> readInfo();  // 0x0003 only
    Error enter();                 // 0x0003 then 0x0060: fills radioInfo and tunerImage
    // 0x0063 from tunerImage, size from radioInfo; with `consent` after the
    // attached radio's block (0x0003) and only when consent agrees.
    Error writeAll(const std::function<bool(const RadioInfo& attached)>& consent = {});
    Error leave();
    void close();
    // The last writeAll went out and was not acknowledged (outcome unknown).
    bool writeUnacknowledged() const { return session_.writeUnacknowledged(); }
    // The radio's image read back (0x0060), tunerImage untouched.
    Result<TunerImage> readImageBack() { return session_.readImageBack(); }
    // Run after an acknowledged write-all (virtual faults hook in here).
    std::function<void()> afterWriteAll;

private:
    RadioSession session_;
};

// Applies --virtual-faults to the virtual radio; an unknown fault is an error.
Error ApplyCliFaults(const std::string& spec, VirtualBackend& backend, CliRadio& radio);

// Loads an archive file into (info, image) without touching the globals.
// Fails with an error that FileExitCode maps.
Error ReadArchiveFile(const std::string& path, RadioInfo& info, TunerImage& image);

// Opens the language file for captions and log labels (options.language, else english).
void OpenCliLanguage(const Options& options);

// The commands.
int CmdScan(const Options& options, DeviceBackend& backend);
int CmdInfo(const Options& options, CliRadio& radio);
int CmdDemo(const Options& options, CliRadio& radio);
int CmdBackup(const Options& options, CliRadio& radio);
int CmdRestore(const Options& options, CliRadio& radio);
int CmdDiff(const Options& options);
int CmdDump(const Options& options);
int CmdRecords(const Options& options);
// Automatic alignment; talks to the radio and the instrument itself.
int CmdAlign(const Options& options);
// The production line's loop: radio after radio (LineCommand.cpp).
int CmdLine(const Options& options);
// The PDF report of a radio from the records.
int CmdReport(const Options& options);

// The radio a command talks to (the virtual one with --virtual-radio and its
// faults, else the host's volumes), set as the device backend for the
// lifetime of this object.
class CliBackend {
public:
    explicit CliBackend(const Options& options);
    ~CliBackend();
    CliBackend(const CliBackend&) = delete;
    CliBackend& operator=(const CliBackend&) = delete;
    DeviceBackend& device() { return *backend_; }
    VirtualBackend* virtualBackend() { return virtual_; }

private:
    std::unique_ptr<DeviceBackend> backend_;
    VirtualBackend* virtual_ = nullptr;
};

// Records the event through the program's recorder (unless --no-records); a
// failure is reported as a warning, the radio operation stands.
void RecordWarning(const Error& error);
void SetUpRecords(const Options& options);
// The end of a command that kept records: the local queue gets a bounded time
// to reach the server, a warning on stderr says what still waits or was set
// aside, and the store is closed.
void FinishRecords();

}  // namespace varnel::cli
