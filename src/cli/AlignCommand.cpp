// varnel-cli align --procedure FILE --instrument URL [options]
//
// Aligns the radio with the steps of a procedure file, reading the
// instrument over its remote interface, and prints the report. Ctrl+C stops
// the run at the next exchange; the transmitter is unkeyed before the tool
// exits. The options and exit codes are those of every command (Cli.h).
//
// Each point starts from the history of the radios of the same model and
// firmware in the calibration records (unless --no-history). With
// --batch N and the virtual radio, N virtual radios with serials of their
// own are aligned one after the other, each learning from those before.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "align/AlignEngine.h"
#include "align/AlignHistory.h"
#include "align/AlignRecords.h"
#include "cli/AlignSteps.h"
#include "cli/Cli.h"
#include "cli/Stop.h"
#include "data/Global.h"
#include "instrument/VirtualInstrument.h"
#include "protocol/RadioSession.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"
#include "lang/DataFolders.h"
#include "util/FileAccess.h"
#include "protocol/TunerMode.h"

namespace varnel::cli {

// A procedure or instrument model that could not be taken: a file the system
// would not give (a file error) or one whose contents are wrong (a usage
// mistake, like a wrong option).
int InputFileExitCode(const Error& error) { return error.code() == ErrorCode::BadData ? kUsage : FileExitCode(error); }

std::string SettingsFileOf(const Options& options) {
    if (!options.settingsFile.empty()) return options.settingsFile;
    return (SettingsFolder(ExecutableDirectory()) / "setting.ini").string();
}

std::optional<int> PrepareLineSetup(const Options& options, const CivilDate& today, LineSetup& setup,
                                    const std::function<void(const std::string&)>& warn) {
    const std::string settingsFile = SettingsFileOf(options);
    // A settings file the operator names must be there and readable: run
    // without it, a line would align without its fixture's path loss, its
    // calibration date or its serial pattern. (The program's own setting.ini
    // may be missing.)
    if (!options.settingsFile.empty()) {
        Error e = CheckRegularFile(settingsFile, false);
        if (e.ok()) {
            Result<FileBytes> read = ReadRegularFile(settingsFile, 0);
            if (!read) e = read.error();
        }
        if (!e.ok()) {
            Fail(e.wrap("the settings file --settings names cannot be read"));
            return FileExitCode(e);
        }
    }
    const LineSettings settings = ReadLineSettings(settingsFile);
    setup.trace.fixtureId = options.fixture.empty() ? settings.fixtureId : options.fixture;
    const std::string lossFile = options.pathLoss.empty() ? settings.pathLossFile : options.pathLoss;
    if (!lossFile.empty()) {
        Result<PathLoss> loss = LoadPathLoss(lossFile);
        if (!loss) {
            Fail(loss.error());
            return InputFileExitCode(loss.error());
        }
        setup.pathLoss = loss.value();
        setup.trace.pathLoss = setup.pathLoss.recordText();
    }
    const bool dueFromOption = !options.calibrationDue.empty();
    Result<CalibrationCheck> due =
        CheckCalibrationDue(dueFromOption ? options.calibrationDue : settings.calibrationDue, today,
                            dueFromOption ? "--calibration-due" : settingsFile + " [instrument] calibrationDue");
    if (!due) {
        Fail(due.error());
        return kUsage;
    }
    setup.calibration = due.value();
    setup.trace.calibrationDue = setup.calibration.due;
    setup.trace.calibrationOverdue = setup.calibration.state == CalibrationState::Overdue;
    setup.strict = options.strict || settings.strict;
    if (setup.calibration.state == CalibrationState::Overdue) {
        if (setup.strict) {
            Fail(setup.calibration.message + "; strict mode refuses to align with it");
            return kCalibrationOverdue;
        }
        Fail("warning: " + setup.calibration.message + "; aligning anyway (strict mode would refuse)");
        if (warn) warn(setup.calibration.message);
    }
    Result<SerialPattern> pattern = SerialPattern::make(settings.serialPattern, settingsFile + " [line] serialPattern");
    if (!pattern) {
        Fail(pattern.error());
        return kUsage;
    }
    setup.serialPattern = pattern.value();
    setup.serialPattern.setExample(settings.serialExample);
    setup.charts.radios = settings.chartRadios > 0 ? settings.chartRadios : setup.charts.radios;
    if (settings.chartWindow) setup.charts.limits = ChartSettings::Limits::LastRadios;
    return std::nullopt;
}

namespace {

// The report files are checked before the radio is touched, so that a run
// of many minutes does not end in a file that cannot be written.
std::optional<int> CheckReportFiles(const Options& options) {
    for (const std::string* path : {&options.jsonPath, &options.csvPath}) {
        if (path->empty()) continue;
        if (Error e = CheckWritableTarget(*path); !e.ok()) {
            Fail(e.wrap("the report cannot be written"));
            return FileExitCode(e);
        }
    }
    return std::nullopt;
}

}  // namespace

// The model file's instrument model, the virtual test set's without one.
Result<InstrumentModel> LoadModel(const Options& options) {
    if (options.instrumentModel.empty()) return VirtualTestSetModel();
    return LoadInstrumentModel(options.instrumentModel);
}

std::optional<int> LoadAlignInputs(const Options& options, std::optional<Procedure>& procedure,
                                   std::optional<InstrumentModel>& model) {
    Result<Procedure> loaded = LoadProcedure(options.procedure);
    if (!loaded) {
        Fail(loaded.error());
        return InputFileExitCode(loaded.error());
    }
    Result<InstrumentModel> instrumentModel = LoadModel(options);
    if (!instrumentModel) {
        Fail(instrumentModel.error());
        return InputFileExitCode(instrumentModel.error());
    }
    // A step the model cannot measure is the files' mistake, found before
    // the instrument or the radio is touched.
    if (Error e = CheckProcedureAgainstModel(loaded.value(), instrumentModel.value()); !e.ok()) {
        Fail(e);
        return kUsage;
    }
    procedure = std::move(loaded.value());
    model = std::move(instrumentModel.value());
    return std::nullopt;
}

Links::Links(const Options& options) : backend(options), logRadio(options, stderr) {}

Links::~Links() {
    instrument.reset();
    virtualInstrument.reset();
    linkHandle.reset();
}

// Starts the virtual test set on the virtual radio for the URL "virtual" and
// opens the instrument; the exit status when that fails.
std::optional<int> OpenTheInstrument(const Options& options, const InstrumentModel& model, Links& links) {
    std::string url = options.instrument;
    if (url == "virtual") {
        links.virtualInstrument = std::make_unique<VirtualInstrument>(links.backend.virtualBackend()->sharedRadio());
        if (Error e = links.virtualInstrument->start(); !e.ok()) {
            Fail(e);
            return ExitCodeFor(e);
        }
        url = links.virtualInstrument->url();
        if (!options.virtualDrift.empty()) {
            // "DB@N": the fixture's loss creeps by DB dB per radio from radio N on.
            double db = 0;
            int from = 0;
            char rest = 0;
            if (std::sscanf(options.virtualDrift.c_str(), "%lf@%d%c", &db, &from, &rest) != 2 || from < 1 ||
                !(db >= 0 && db <= 10)) {
                Fail("--virtual-drift needs DB@N (0 to 10 dB per radio from radio N on, N from 1), not \"" +
                     options.virtualDrift + "\"");
                return kUsage;
            }
            links.virtualInstrument->setDrift(db, from);
        }
    } else if (!options.virtualDrift.empty()) {
        Fail("--virtual-drift needs --instrument virtual");
        return kUsage;
    }
    Result<std::unique_ptr<Instrument>> instrument = OpenInstrument(url, std::chrono::milliseconds(options.timeoutMs));
    if (!instrument) {
        Fail(instrument.error());
        // A malformed address is the operator's mistake like a wrong option.
        return instrument.error().code() == ErrorCode::BadData ? kUsage : ExitCodeFor(instrument.error());
    }
    links.instrument = std::move(instrument.value());
    // Another instrument than the model's is refused here, before the radio
    // is entered.
    Result<std::string> id = IdentifyInstrument(*links.instrument, model);
    if (!id) {
        Fail(id.error());
        return kInstrument;
    }
    links.identity = id.value();
    if (!links.identity.empty())
        Progress(options, "instrument: " + links.identity + " (" + links.instrument->describe() + ")");
    return std::nullopt;
}

namespace {

// The history of the radio's model and firmware in the calibration
// records; nothing with --no-history, without records or without history.
std::optional<Predictor> LoadPredictor(const Options& options) {
    if (options.noHistory) return std::nullopt;
    Error warning;
    std::optional<Predictor> predictor = PredictorFromRecords(CalibrationRecorder().store(), radioInfo.modelName(),
                                                              radioInfo.firmwareVersion(), &warning);
    if (!warning.ok()) RecordWarning(warning);
    return predictor;
}

}  // namespace

AlignReport RunProcedure(const Options& options, const Procedure& procedure, AlignRadio& radio,
                         Instrument* instrument, const InstrumentModel& model, const TraceContext& trace,
                         const PathLoss& pathLoss, const std::function<void(const PointResult&)>& pointDone) {
    AlignEngine engine(procedure, radio, instrument, model);
    engine.setPredictor(LoadPredictor(options));
    engine.setPathLoss(pathLoss);
    engine.setStopFlag(&alignInterrupted);
    AlignEvents events;
    // A point is told once its outcome is final: after its step's save.
    events.pointSettled = [&options, &pointDone](const PointResult& p) {
        if (pointDone) pointDone(p);
        if (!p.reached()) return;  // counted in the summary, listed in the report
        std::string line = p.step + " point " + std::to_string(p.point) + ": " + PointOutcomeText(p);
        if (p.reached())
            line += ", value " + std::to_string(p.startValue) + " -> " + std::to_string(p.finalValue) + ", " +
                    std::to_string(p.tries) + " tries, " + p.keptText();
        if (!p.note.empty()) line += ", " + p.note;
        Progress(options, line);
    };
    engine.setEvents(events);
    engine.setRecordSink(CalibrationRecordSink(trace, [](const Error& e) { RecordWarning(e); }));
    engine.setSaveSink(CalibrationSaveSink([](const Error& e) { RecordWarning(e); }));
    return engine.run();
}

// Leaves tuner mode if the run entered it.
void LeaveTunerMode(bool wasInTunerMode) {
    if (inTunerMode && !wasInTunerMode && linkHandle) {
        RadioSession session;
        if (Error e = session.leave(); !e.ok()) RecordWarning(e);
        LeftTunerMode();
        RecordWarning(CalibrationRecorder().left(tunerImage));
    }
}

namespace {

// The reports on standard output and in the files asked for; false when a
// file could not be written.
bool WriteReports(const Options& options, const std::string& json, const std::string& csv) {
    std::fputs(options.format == "csv" ? csv.c_str() : json.c_str(), stdout);
    std::fflush(stdout);
    bool written = true;
    for (const auto& [path, text] : {std::pair{&options.jsonPath, &json}, std::pair{&options.csvPath, &csv}}) {
        if (path->empty()) continue;
        if (Error e = WriteFileSafely(*path, *text); !e.ok()) {
            Fail(e.wrap("the report was not written"));
            written = false;
        }
    }
    return written;
}


// "; stands out: High power 400-470 MHz point 3 (value 201, 6.2 deviations)" for an outlier.
std::string OutlierText(const AlignReport& report) {
    if (!report.outlier()) return {};
    std::string text = "; stands out from its model's history:";
    char part[64];
    bool first = true;
    for (const PointResult& p : report.points) {
        if (!p.standsOut) continue;
        std::snprintf(part, sizeof part, " point %d (value %d, %.1f deviations)", p.point, p.finalValue,
                      p.deviation->deviations);
        text += (first ? " " : ", ") + p.step + part;
        first = false;
    }
    return text;
}

}  // namespace

std::string PointOutcomeText(const PointResult& p) {
    if (!p.reached()) return "not reached";
    if (p.kept == PointKept::NotStored) return "NOT STORED";
    if (p.pass) return MarginalPass(p) ? "marginal" : "pass";
    return p.stopped ? "stopped" : "FAIL";
}

std::string CountsText(const AlignReport& report) {
    const PointCounts c = report.counts();
    char text[200];
    std::snprintf(text, sizeof text, "%d passed, %d marginal, %d failed, %d stopped, %d not reached of %d points",
                  c.passed, c.marginal, c.failed, c.stopped, c.notReached, c.total());
    return text;
}

double TriesPerPoint(const AlignReport& report) {
    if (report.points.empty()) return 0;
    int tries = 0;
    for (const PointResult& p : report.points) tries += p.tries;
    return static_cast<double>(tries) / static_cast<double>(report.points.size());
}

int RunExitCode(const AlignReport& report) {
    // Once the run is under way, data that make no sense are the
    // instrument's: a reading that is no number, a model without the step's
    // measurement.
    if (!report.error.ok()) return report.error.code() == ErrorCode::BadData ? kInstrument : ExitCodeFor(report.error);
    return report.failed() == 0 ? kOk : kDiffers;
}

const char* RadioVerdict(const AlignReport& report) {
    if (report.stopped) return record_verdict::kStopped;
    if (!report.error.ok()) return record_verdict::kError;
    return report.failed() == 0 ? record_verdict::kPass : record_verdict::kFail;
}

namespace {

// The summary of one run on stderr.
void PrintSummary(const Options& options, const AlignReport& report) {
    char summary[160];
    std::snprintf(summary, sizeof summary, ", %.2f s, %llu exchanges", report.seconds,
                  static_cast<unsigned long long>(report.exchanges));
    Progress(options, CountsText(report) + summary + OutlierText(report));
    if (!report.error.ok()) Fail(report.error.wrapped("the run ended early"));
}


// One radio of the run: open it and the instrument, enter tuner mode, run,
// leave. The exit status when it could not start, else its report.
struct RadioRun {
    std::optional<int> refused;
    AlignReport report;
};

RadioRun AlignOneRadio(const Options& options, const Procedure& procedure, const InstrumentModel& model,
                       const LineSetup& setup, bool openRecords) {
    RadioRun run;
    Links links(options);
    if (VirtualBackend* virtualBackend = links.backend.virtualBackend()) {
        if (Error e = ApplyCliFaults(options.virtualFaults, *virtualBackend, links.logRadio); !e.ok()) {
            Fail(e);
            run.refused = kUsage;
            return run;
        }
        // A serial makes the virtual radio one of its kind (VirtualRadio::setSerial).
        if (!options.serial.empty()) virtualBackend->radio().setSerial(options.serial);
    }
    if (std::optional<int> status = OpenTheInstrument(options, model, links)) {
        run.refused = status;
        return run;
    }

    // Tuner mode first, so that the calibration records know the radio.
    SendcmdAlignRadio radio;
    const bool wasInTunerMode = inTunerMode;
    if (Error e = radio.prepare(); !e.ok()) {
        Fail(e);
        run.refused = ExitCodeFor(e);
        return run;
    }
    if (openRecords) SetUpRecords(options);
    CalibrationRecorder().setSerial(options.serial);
    if (!wasInTunerMode) RecordWarning(CalibrationRecorder().entered(radioInfo, tunerImage));

    TraceContext trace = setup.trace;
    TraceProcedureFile(trace, options.procedure);
    trace.instrumentIdn = links.identity;
    run.report = RunProcedure(options, procedure, radio, links.instrument.get(), model, trace, setup.pathLoss);
    LeaveTunerMode(wasInTunerMode);
    return run;
}

// The serial of radio `index` (1-based) of a batch: the given serial with
// "-N", else "VB" and nine digits (12 characters, as the information block
// holds them).
std::string BatchSerial(const Options& options, int index) {
    char text[32];
    if (!options.serial.empty()) {
        std::snprintf(text, sizeof text, "-%d", index);
        return options.serial + text;
    }
    std::snprintf(text, sizeof text, "VB%010d", index);
    return text;
}

// --batch N: N virtual radios one after the other, each recorded, so that
// each one learns from those before it.
int AlignBatch(const Options& options, const Procedure& procedure, const InstrumentModel& model,
               const LineSetup& setup) {
    nlohmann::ordered_json radios = nlohmann::ordered_json::array();
    int firstPass = 0, status = kOk, done = 0;
    long tries = 0, points = 0, laterTries = 0, laterPoints = 0;
    double seconds = 0, firstTries = 0;
    for (int i = 1; i <= options.batch && !alignInterrupted; ++i) {
        Options one = options;
        one.serial = BatchSerial(options, i);
        ResetPollState();
        RadioRun run = AlignOneRadio(one, procedure, model, setup, i == 1);
        if (run.refused) {
            status = *run.refused;
            break;
        }
        const AlignReport& report = run.report;
        ++done;
        const bool passed = report.complete() && report.failed() == 0;
        firstPass += passed ? 1 : 0;
        seconds += report.seconds;
        for (const PointResult& p : report.points) {
            tries += p.tries;
            if (i == 1) firstTries += p.tries;
            else laterTries += p.tries;
            ++points;
            if (i > 1) ++laterPoints;
        }
        int history = 0;
        for (const PointResult& p : report.points) history = std::max(history, p.historySize);
        char line[200];
        std::snprintf(line, sizeof line, ", %.2f tries per point, %.2f s, history of %d radios", TriesPerPoint(report),
                      report.seconds, history);
        Progress(options, "radio " + std::to_string(i) + "/" + std::to_string(options.batch) + " " + one.serial + ": " +
                              CountsText(report) + line + OutlierText(report));
        nlohmann::ordered_json entry;
        entry["serial"] = one.serial;
        entry["report"] = nlohmann::ordered_json::parse(report.toJson(), nullptr, false);
        radios.push_back(entry);
        if (!report.error.ok()) {
            Fail(report.error.wrapped("the run of " + one.serial + " ended early"));
            status = RunExitCode(report);
            break;
        }
        if (status == kOk) status = RunExitCode(report);
    }
    char line[240];
    const double yield = done > 0 ? 100.0 * firstPass / done : 0;
    std::snprintf(line, sizeof line,
                  "batch: %d radios, %d passed first time (%.1f %%), %.2f tries per point (radio 1 %.2f, later radios "
                  "%.2f), %.2f s",
                  done, firstPass, yield, points > 0 ? static_cast<double>(tries) / points : 0.0,
                  points - laterPoints > 0 ? firstTries / static_cast<double>(points - laterPoints) : 0.0,
                  laterPoints > 0 ? static_cast<double>(laterTries) / laterPoints : 0.0, seconds);
    Progress(options, line);
    nlohmann::ordered_json j;
    j["radios_aligned"] = done;
    j["first_pass"] = firstPass;
    j["first_pass_yield"] = std::round(yield * 10) / 10;
    j["tries_per_point"] = points > 0 ? std::round(1000.0 * tries / points) / 1000 : 0.0;
    j["later_tries_per_point"] = laterPoints > 0 ? std::round(1000.0 * laterTries / laterPoints) / 1000 : 0.0;
    j["seconds"] = std::round(seconds * 1000) / 1000;
    j["history"] = !options.noHistory;
    j["radios"] = radios;
    const std::string json = j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const bool written = WriteReports(options, json, json);
    FinishRecords();
    if (status == kOk && !written) return kFileError;
    return status;
}

}  // namespace

int CmdAlign(const Options& options) {
    if (options.procedure.empty() || options.instrument.empty()) {
        Fail("align needs --procedure FILE and --instrument URL (see varnel-cli align --help)");
        return kUsage;
    }
    if (options.batch > 0 && !options.virtualRadio) {
        Fail("--batch aligns virtual radios only (add --virtual-radio)");
        return kUsage;
    }
    if (options.batch > 0 && (options.format == "csv" || !options.csvPath.empty())) {
        Fail("--batch writes its report as JSON only (no --format csv, no --csv)");
        return kUsage;
    }
    if (options.instrument == "virtual" && !options.virtualRadio) {
        Fail("the virtual instrument measures the virtual radio only (add --virtual-radio)");
        return kUsage;
    }
    if (std::optional<int> status = CheckReportFiles(options)) return *status;
    LineSetup setup;
    if (std::optional<int> status = PrepareLineSetup(options, LocalToday(), setup)) return *status;
    if (!options.serial.empty()) {
        if (const std::string why = setup.serialPattern.refusal(options.serial); !why.empty()) {
            Fail(why);
            return kUsage;
        }
    }
    std::optional<Procedure> procedure;
    std::optional<InstrumentModel> model;
    if (std::optional<int> status = LoadAlignInputs(options, procedure, model)) return *status;

    alignInterrupted = false;
    CatchInterrupt();
    if (options.batch > 0) return AlignBatch(options, procedure.value(), model.value(), setup);

    const RadioRun run = AlignOneRadio(options, procedure.value(), model.value(), setup, true);
    if (run.refused) return *run.refused;
    const bool written = WriteReports(options, run.report.toJson(), run.report.toCsv());
    PrintSummary(options, run.report);
    if (run.report.stopped) Fail(StopMessage());
    FinishRecords();
    if (!run.report.error.ok()) return RunExitCode(run.report);
    if (!written) return kFileError;
    return RunExitCode(run.report);
}

}  // namespace varnel::cli
