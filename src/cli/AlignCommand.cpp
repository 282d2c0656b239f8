// varnel-cli align --procedure FILE --instrument URL [options]
//
// Aligns the radio with the steps of a procedure file, reading the
// instrument over its remote interface, and prints the report. Ctrl+C stops
// the run at the next exchange; the transmitter is unkeyed before the tool
// exits. The options and exit codes are those of every command (Cli.h).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"
#include "cli/Cli.h"
#include "data/Global.h"
#include "instrument/VirtualInstrument.h"
#include "protocol/RadioSession.h"
#include "records/Recorder.h"
#include "util/FileAccess.h"

namespace varnel::cli {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted = true; }

// A procedure or instrument model that could not be taken: a file the system
// would not give (a file error) or one whose contents are wrong (a usage
// mistake, like a wrong option).
int InputFileExitCode(const Error& error) { return error.code() == ErrorCode::BadData ? kUsage : FileExitCode(error); }

// The report files are checked before the radio is touched, so that a run
// of many minutes does not end in a file that cannot be written.
std::optional<int> CheckReportFiles(const Options& options) {
    for (const std::string* path : {&options.jsonPath, &options.csvPath}) {
        if (path->empty()) continue;
        if (Error e = CheckWritableTarget(*path); !e.ok()) {
            Fail(e.Wrap("the report cannot be written"));
            return FileExitCode(e);
        }
    }
    return std::nullopt;
}

// The model file's instrument model, the virtual test set's without one.
Result<InstrumentModel> LoadModel(const Options& options) {
    if (options.instrumentModel.empty()) return VirtualTestSetModel();
    return LoadInstrumentModel(options.instrumentModel);
}

// What the run talks through, dropped in the reverse order: the instrument
// and the link handle before the radio's backend.
struct Links {
    explicit Links(const Options& options) : backend(options), logRadio(options, stderr) {}
    ~Links() {
        instrument.reset();
        virtualInstrument.reset();
        linkHandle.reset();
    }
    CliBackend backend;
    CliRadio logRadio;  // --log prints every frame of the run (on stderr: the report owns stdout)
    std::unique_ptr<VirtualInstrument> virtualInstrument;
    std::unique_ptr<Instrument> instrument;
    std::string identity;  // the instrument's answer to its identification query
};

// Starts the virtual test set on the virtual radio for the URL "virtual" and
// opens the instrument; the exit status when that fails.
std::optional<int> OpenTheInstrument(const Options& options, const InstrumentModel& model, Links& links) {
    std::string url = options.instrument;
    if (url == "virtual") {
        links.virtualInstrument = std::make_unique<VirtualInstrument>(links.backend.virtualBackend()->sharedRadio());
        if (Error e = links.virtualInstrument->Start(); !e.ok()) {
            Fail(e);
            return ExitCodeFor(e);
        }
        url = links.virtualInstrument->url();
    }
    Result<std::unique_ptr<Instrument>> instrument = OpenInstrument(url, std::chrono::milliseconds(options.timeoutMs));
    if (!instrument) {
        Fail(instrument.error());
        // A malformed address is the operator's mistake like a wrong option.
        return instrument.error().code() == ErrorCode::BadData ? kUsage : ExitCodeFor(instrument.error());
    }
    links.instrument = std::move(instrument.value());
    if (Result<std::string> id = links.instrument->Query(model.identify); id) {
        links.identity = id.value();
        Progress(options, "instrument: " + id.value() + " (" + links.instrument->Describe() + ")");
    }
    return std::nullopt;
}

// Runs the procedure with Ctrl+C wired to the engine's stop flag, printing
// each point as it ends.
AlignReport RunProcedure(const Options& options, const Procedure& procedure, AlignRadio& radio,
                         Instrument* instrument, const InstrumentModel& model, const TraceContext& trace) {
    interrupted = false;
    auto previousHandler = std::signal(SIGINT, OnInterrupt);
    AlignEngine engine(procedure, radio, instrument, model);
    engine.SetStopFlag(&interrupted);
    AlignEvents events;
    events.pointDone = [&options](const PointResult& p) {
        std::string line = p.step + " point " + std::to_string(p.point) + ": " + (p.pass ? "pass" : p.stopped ? "stopped" : "FAIL") +
                           ", value " + std::to_string(p.startValue) + " -> " + std::to_string(p.finalValue) + ", " +
                           std::to_string(p.tries) + " tries";
        if (!p.note.empty()) line += ", " + p.note;
        Progress(options, line);
    };
    engine.SetEvents(events);
    engine.SetRecordSink(CalibrationRecordSink(trace, [](const Error& e) { RecordWarning(e); }));
    const AlignReport report = engine.Run();
    std::signal(SIGINT, previousHandler);
    return report;
}

// Leaves tuner mode if the run entered it.
void LeaveTunerMode(bool wasInTunerMode) {
    if (inTunerMode && !wasInTunerMode && linkHandle) {
        RadioSession session;
        if (Error e = session.Leave(); !e.ok()) RecordWarning(e);
        inTunerMode = false;
        RecordWarning(CalibrationRecorder().Left(tunerImage));
    }
}

// The report on standard output and in the files asked for, the summary on
// stderr; false when a file could not be written.
bool PrintReport(const Options& options, const AlignReport& report) {
    const std::string json = report.ToJson();
    const std::string csv = report.ToCsv();
    std::fputs(options.format == "csv" ? csv.c_str() : json.c_str(), stdout);
    std::fflush(stdout);
    bool written = true;
    for (const auto& [path, text] : {std::pair{&options.jsonPath, &json}, std::pair{&options.csvPath, &csv}}) {
        if (path->empty()) continue;
        if (Error e = WriteFileSafely(*path, *text); !e.ok()) {
            Fail(e.Wrap("the report was not written"));
            written = false;
        }
    }
    char summary[160];
    std::snprintf(summary, sizeof summary, "%d passed, %d failed, %.2f s, %llu exchanges", report.passed(),
                  report.failed(), report.seconds, static_cast<unsigned long long>(report.exchanges));
    Progress(options, summary);
    if (!report.error.ok()) Fail(report.error.Wrapped("the run ended early"));
    return written;
}

}  // namespace

int CmdAlign(const Options& options) {
    if (options.procedure.empty() || options.instrument.empty()) {
        Fail("align needs --procedure FILE and --instrument URL (see varnel-cli align --help)");
        return kUsage;
    }
    if (options.instrument == "virtual" && !options.virtualRadio) {
        Fail("the virtual instrument measures the virtual radio only (add --virtual-radio)");
        return kUsage;
    }
    if (std::optional<int> status = CheckReportFiles(options)) return *status;
    Result<Procedure> procedure = LoadProcedure(options.procedure);
    if (!procedure) {
        Fail(procedure.error());
        return InputFileExitCode(procedure.error());
    }
    Result<InstrumentModel> model = LoadModel(options);
    if (!model) {
        Fail(model.error());
        return InputFileExitCode(model.error());
    }

    Links links(options);
    if (VirtualBackend* virtualBackend = links.backend.virtualBackend()) {
        if (Error e = ApplyCliFaults(options.virtualFaults, *virtualBackend, links.logRadio); !e.ok()) {
            Fail(e);
            return kUsage;
        }
    }
    if (std::optional<int> status = OpenTheInstrument(options, model.value(), links)) return *status;

    // Tuner mode first, so that the calibration records know the radio.
    SendcmdAlignRadio radio;
    const bool wasInTunerMode = inTunerMode;
    if (Error e = radio.Prepare(); !e.ok()) {
        Fail(e);
        return ExitCodeFor(e);
    }
    SetUpRecords(options);
    if (!wasInTunerMode) RecordWarning(CalibrationRecorder().Entered(radioInfo, tunerImage));

    TraceContext trace;
    TraceProcedureFile(trace, options.procedure);
    trace.instrumentIdn = links.identity;
    const AlignReport report =
        RunProcedure(options, procedure.value(), radio, links.instrument.get(), model.value(), trace);
    LeaveTunerMode(wasInTunerMode);
    const bool written = PrintReport(options, report);
    FinishRecords();
    if (!report.error.ok()) {
        // Once the run is under way, data that make no sense are the
        // instrument's: a reading that is no number, a model without the
        // step's measurement.
        return report.error.code() == ErrorCode::BadData ? kInstrument : ExitCodeFor(report.error);
    }
    if (!written) return kFileError;
    return report.failed() == 0 ? kOk : kDiffers;
}

}  // namespace varnel::cli
