// The steps `align` and `line` share: the line's set-up (fixture, path
// loss, calibration due date, serial pattern), the instrument, the history
// of the radios before, one run of the procedure with Ctrl+C wired to it,
// and leaving tuner mode.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"
#include "cli/Cli.h"
#include "line/ControlChart.h"
#include "instrument/VirtualInstrument.h"
#include "line/LineSettings.h"

namespace varnel::cli {

// Set by Ctrl+C, SIGTERM, SIGHUP, SIGQUIT or a closed standard output or
// error (Stop.h) while a command of the line runs.
extern std::atomic<bool> alignInterrupted;
// Installs the stop handlers for the whole command (no restart of a blocked
// read, so a wait for the scanner ends too).
void CatchInterrupt();

// What the line has set up around the run, from setting.ini and the options.
struct LineSetup {
    TraceContext trace;         // fixture, path loss, calibration due (the procedure and IDN come later)
    PathLoss pathLoss;
    SerialPattern serialPattern;
    CalibrationCheck calibration;
    bool strict = false;
    ChartSettings charts;       // the line's control charts ([line] chartRadios, chartLimits)
};

// Reads the line's settings (options over setting.ini), loads the path-loss
// table and checks the calibration due date against `today`. The exit
// status when the command must not go on: a malformed date, table or
// pattern (usage), a table that cannot be read (file), an overdue
// instrument in strict mode (kCalibrationOverdue). An overdue instrument
// outside strict mode is a warning on stderr (and `warn`).
std::optional<int> PrepareLineSetup(const Options& options, const CivilDate& today, LineSetup& setup,
                                    const std::function<void(const std::string&)>& warn = {});

// The setting.ini the command reads: --settings, else the program's own.
std::string SettingsFileOf(const Options& options);

// A procedure or instrument model that could not be taken: a file error, or
// a usage error for malformed contents.
int InputFileExitCode(const Error& error);
Result<InstrumentModel> LoadModel(const Options& options);
// The procedure and the instrument model the options name; the exit status
// when one of them cannot be taken (said on standard error).
std::optional<int> LoadAlignInputs(const Options& options, std::optional<Procedure>& procedure,
                                   std::optional<InstrumentModel>& model);

// What the run talks through, dropped in the reverse order: the instrument
// and the link handle before the radio's backend.
struct Links {
    explicit Links(const Options& options);
    ~Links();
    CliBackend backend;
    CliRadio logRadio;  // --log prints every frame of the run (on stderr: the report owns stdout)
    std::unique_ptr<VirtualInstrument> virtualInstrument;
    std::unique_ptr<Instrument> instrument;
    std::string identity;  // the instrument's answer to its identification query
};

// Starts the virtual test set for "virtual" and opens the instrument; the
// exit status when that fails.
std::optional<int> OpenTheInstrument(const Options& options, const InstrumentModel& model, Links& links);

// Runs the procedure with Ctrl+C wired to the engine's stop flag, printing
// each point as it ends (and passing it to `pointDone`), with the line's
// path loss and the trace in the records.
AlignReport RunProcedure(const Options& options, const Procedure& procedure, AlignRadio& radio,
                         Instrument* instrument, const InstrumentModel& model, const TraceContext& trace,
                         const PathLoss& pathLoss, const std::function<void(const PointResult&)>& pointDone = {});

// Leaves tuner mode if the run entered it.
void LeaveTunerMode(bool wasInTunerMode);

// The exit status of a run that has been reported.
int RunExitCode(const AlignReport& report);

// The radio's verdict over all its points: "pass", "fail", "stopped" or "error".
const char* RadioVerdict(const AlignReport& report);

double TriesPerPoint(const AlignReport& report);

// A point's outcome as the progress lines say it ("pass", "marginal",
// "FAIL", "stopped", "NOT STORED", "not reached").
std::string PointOutcomeText(const PointResult& point);
// "N passed, N marginal, N failed, N stopped, N not reached of N points".
std::string CountsText(const AlignReport& report);

}  // namespace varnel::cli
