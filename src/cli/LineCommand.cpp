// varnel-cli line --procedure FILE --instrument URL [options]
//
// The production line's loop, radio after radio on one station: wait for a
// radio among the volumes, take its serial (--serial, else a line of
// standard input as a barcode scanner types it), enter tuner mode, back up
// the image into the data folder's backups, align with the procedure (each
// point from the history of the radios before), save the aligned archive,
// record every point with the station's trace, leave tuner mode and wait
// for the radio to be taken away. The instrument stays connected for the
// whole line.
//
// With --json every event is one JSON object on a line of standard output
// for a line controller; the progress lines stay on standard error.
// Ctrl+C stops the run at the next exchange: the engine unkeys the radio
// and puts the point back, its record says "stopped", tuner mode is left
// and the tool exits with kStopped.
//
// With the virtual radio the tool plays the operator too: each radio is a
// fresh virtual radio with the serial it is given (VirtualRadio::setSerial),
// plugged in before the wait and pulled out after it is done.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"
#include "cli/AlignSteps.h"
#include "cli/Cli.h"
#include "cli/Stop.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "data/Safety.h"
#include "lang/ItemNames.h"
#include "line/LineDrift.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"
#include "util/FileAccess.h"
#include "util/LocalTime.h"

namespace varnel::cli {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// How often the volumes are looked at while the station waits for a radio
// to come or to go.
constexpr std::chrono::milliseconds kPollInterval{200};

// The JSON lines of --json, flushed one by one so a controller sees each
// event as it happens.
class LineEvents {
public:
    explicit LineEvents(bool on) : on_(on) {}
    void Emit(const Json& event) const {
        if (!on_) return;
        // A controller that went away (EPIPE) stops the line (Stop.h).
        WriteOutput(stdout, event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    }

private:
    bool on_;
};

// Every event says when it happened (UTC, milliseconds).
Json Event(const char* name) {
    Json j;
    j["event"] = name;
    j["time"] = UtcTimestampNow();
    return j;
}

// A point's fields with its item and band named as the records window
// names them; the item's code stays under "item_code", the band's under
// "band_index".
Json NamedPoint(const PointResult& p) {
    Json j = AlignPointJson(p);
    j["item"] = ItemCaption(p.item);
    j["item_code"] = p.item;
    j["band"] = BandCaption(p.band);
    j["band_index"] = p.band;
    return j;
}

// The radios' own serials from --serial: the serial itself for one radio,
// "SN-1" to "SN-N" for several.
std::string OptionSerial(const Options& options, int index) {
    if (options.radios <= 1) return options.serial;
    return options.serial + "-" + std::to_string(index);
}

// Until a radio is among the volumes (`present`) or none is any more; false
// when Ctrl+C came first.
bool WaitForRadio(bool present) {
    while ((ScanRadioDrives() != 0) != present) {
        if (alignInterrupted) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return !alignInterrupted;
}

// One line of standard input as the scanner types it. At most `limit`
// bytes are kept; the rest of a longer line is read and dropped (`cut`), so
// that a line without end costs no memory. Nothing at the end of the input
// or on Ctrl+C.
struct ScannedLine {
    std::string text;
    bool cut = false;
};

std::optional<ScannedLine> ReadScannedLine(std::istream& in, std::size_t limit) {
    ScannedLine line;
    bool any = false;
    for (;;) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) {
            if (!any || alignInterrupted) return std::nullopt;
            return line;
        }
        any = true;
        if (c == '\n') return line;
        if (line.text.size() < limit) line.text += static_cast<char>(c);
        else line.cut = true;
    }
}

// The next serial from standard input, as the scanner types it; a refused
// one is said and asked again. Nothing at the end of the input or on Ctrl+C.
std::optional<std::string> ScanSerial(const Options& options, const LineSetup& setup, const LineEvents& events,
                                      int* refused) {
    // Room for the longest serial in four-byte characters and the blanks
    // around it; a longer line is no serial.
    constexpr std::size_t kKept = 8 * kSerialLengthLimit;
    for (;;) {
        Progress(options, "scan the radio's serial number (or type it and press Enter)");
        if (alignInterrupted) return std::nullopt;
        std::optional<ScannedLine> line = ReadScannedLine(std::cin, kKept);
        if (!line) return std::nullopt;
        std::string why;
        if (line->cut)
            why = "the serial is longer than " + std::to_string(kSerialLengthLimit) +
                  " characters (the line had more than " + std::to_string(kKept) + " bytes); a barcode is shorter";
        else why = setup.serialPattern.refusal(line->text);
        if (why.empty()) return SerialPattern::trim(line->text);
        ++*refused;
        Fail(why + "; scan it again");
        std::string shown = SerialPattern::trim(line->text);
        if (SerialLength(shown) > kSerialLengthLimit || line->cut) {
            // The start of it is enough to tell which scan it was.
            std::size_t cut = std::min<std::size_t>(shown.size(), kSerialLengthLimit);
            while (cut > 0 && cut < shown.size() && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
            shown = shown.substr(0, cut) + "...";
        }
        Json e = Event("serial-refused");
        e["serial"] = shown;
        e["reason"] = why;
        e["pattern"] = setup.serialPattern.text();
        events.Emit(e);
    }
}

// The station: the links for the whole line and, with the virtual radio,
// the operator who plugs each radio in and takes it away.
class Station {
public:
    explicit Station(Links& links) : links_(links) {
        if (VirtualBackend* v = links_.backend.virtualBackend()) freshImage_ = v->radio().storedImage();
    }
    // A new radio on the bench (the virtual one: a fresh one plugged in).
    void Bring(int index) {
        VirtualBackend* v = links_.backend.virtualBackend();
        if (v == nullptr || index == 1) return;
        v->radio().setStoredImage(freshImage_);
        v->plug();
    }
    // The radio goes (the virtual one is pulled out).
    void TakeAway() {
        if (VirtualBackend* v = links_.backend.virtualBackend()) v->unplug();
    }
    // The radio on the bench is the one with this serial.
    void Name(const std::string& serial) {
        if (VirtualBackend* v = links_.backend.virtualBackend()) v->radio().setSerial(serial);
    }

private:
    Links& links_;
    TunerImage freshImage_;
};

// The archive of the radio as it is now (radioInfo and tunerImage) at `path`.
Error SaveRadioArchive(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) return Error::make(ErrorCode::FileError, "cannot create the folder: " + ec.message(), PathText(path.parent_path()));
    PackArchive(archiveBuffer);
    return SaveArchive(path, archiveBuffer.data(), kArchiveSize);
}

// The backup before the radio is touched: "<model>_<serial>_<date>_<time>.tdb"
// in the backups folder (FreeBackupPath), never replacing an earlier one.
Result<fs::path> BackUpRadio(const fs::path& dataFolder, const std::string& serial) {
    const fs::path path = FreeBackupPath(dataFolder / kBackupFolder, radioInfo.modelName(), serial,
                                         LocalTime(std::time(nullptr)));
    if (Error e = SaveRadioArchive(path); !e.ok()) return e.wrapped("cannot back up the radio");
    return path;
}

struct RadioOutcome {
    int status = kOk;
    bool passed = false;
    bool endLine = false;  // the line cannot go on (Ctrl+C, the instrument, the files)
    int points = 0, tries = 0;
};

// One radio: enter, back up, align, save, record, leave.
RadioOutcome AlignLineRadio(const Options& options, const Procedure& procedure, const InstrumentModel& model,
                            const LineSetup& setup, Links& links, const fs::path& dataFolder, int index,
                            const std::string& serial, const LineEvents& events) {
    RadioOutcome outcome;
    ResetPollState();
    CalibrationRecorder().setSerial(serial);
    SendcmdAlignRadio radio;
    if (Error e = radio.prepare(); !e.ok()) {
        Fail(e.wrapped("radio " + serial));
        Json j = Event("error");
        j["serial"] = serial;
        j["text"] = e.text();
        events.Emit(j);
        outcome.status = ExitCodeFor(e);
        return outcome;
    }
    RecordWarning(CalibrationRecorder().entered(radioInfo, tunerImage));
    Json r = Event("radio");
    r["index"] = index;
    r["serial"] = serial;
    r["model"] = radioInfo.modelName();
    r["firmware"] = radioInfo.firmwareVersion();
    events.Emit(r);
    Progress(options, "radio " + std::to_string(index) + ": " + serial + ", " + radioInfo.modelName() + " firmware " +
                          radioInfo.firmwareVersion());

    // Nothing is changed in a radio whose image is not kept first.
    Result<fs::path> backup = BackUpRadio(dataFolder, serial);
    if (!backup) {
        Fail(backup.error());
        LeaveTunerMode(false);
        outcome.status = FileExitCode(backup.error());
        outcome.endLine = true;
        return outcome;
    }
    RecordWarning(CalibrationRecorder().backup(radioInfo, tunerImage, backup->string()));
    Json b = Event("backup");
    b["serial"] = serial;
    b["file"] = PathText(backup.value());
    events.Emit(b);

    TraceContext trace = setup.trace;
    TraceProcedureFile(trace, options.procedure);
    trace.instrumentIdn = links.identity;
    const auto pointDone = [&](const PointResult& p) {
        Json j = Event("point");
        j["serial"] = serial;
        j.update(NamedPoint(p));
        j["verdict"] = AlignVerdict(p);
        events.Emit(j);
    };
    const AlignReport report =
        RunProcedure(options, procedure, radio, links.instrument.get(), model, trace, setup.pathLoss, pointDone);

    // The aligned radio's archive, by its serial, beside the backups.
    std::string saved;
    if (report.complete()) {
        // Named so that no two serials share a file (AlignedArchivePath).
        const fs::path archive = AlignedArchivePath(dataFolder, serial);
        if (Error e = SaveRadioArchive(archive); !e.ok()) {
            Fail(e.wrapped("the aligned archive was not saved"));
            outcome.status = FileExitCode(e);
            outcome.endLine = true;
        } else {
            saved = PathText(archive);
            RecordWarning(CalibrationRecorder().backup(radioInfo, tunerImage, saved));
            Json s = Event("saved");
            s["serial"] = serial;
            s["file"] = saved;
            events.Emit(s);
            Progress(options, "radio " + std::to_string(index) + " " + serial + ": aligned archive saved as " + saved);
        }
    }
    LeaveTunerMode(false);
    linkHandle.reset();

    for (const PointResult& p : report.points) outcome.tries += p.tries;
    outcome.points = static_cast<int>(report.points.size());
    outcome.passed = report.complete() && report.failed() == 0;
    Json v = Event("verdict");
    v["serial"] = serial;
    v["verdict"] = RadioVerdict(report);
    v.update(PointCountsJson(report.counts()));
    v["tries_per_point"] = std::round(TriesPerPoint(report) * 100) / 100;
    v["seconds"] = std::round(report.seconds * 1000) / 1000;
    v["outlier"] = report.outlier();
    if (!report.error.ok()) v["error"] = report.error.text();
    events.Emit(v);
    char line[200];
    std::snprintf(line, sizeof line, ", %.2f tries per point, %.2f s", TriesPerPoint(report), report.seconds);
    Progress(options, "radio " + std::to_string(index) + " " + serial + ": " + RadioVerdict(report) + ", " +
                          CountsText(report) + line);
    if (!report.error.ok()) {
        Fail(report.error.wrapped("the run of " + serial + " ended early"));
        outcome.endLine = true;
    }
    if (outcome.status == kOk) outcome.status = RunExitCode(report);
    return outcome;
}

// After a radio: the control charts of its model over the records, and the
// line alarm when a line chart signals at this radio (a JSON event, a line
// on standard error, a record of its own flagged as the line's drift).
void CheckLineDrift(const LineSetup& setup, const LineEvents& events, const std::string& serial) {
    RecordStore* store = CalibrationRecorder().store();
    if (store == nullptr) return;
    Result<DriftAnalysis> analysis =
        LoadDriftAnalysis(*store, radioInfo.modelName(), radioInfo.firmwareVersion(), setup.charts);
    if (!analysis) {
        RecordWarning(analysis.error());
        return;
    }
    for (const DriftAlarm& alarm : analysis->alarms) {
        const std::string text = DriftAlarmText(alarm);
        Json j = Event("drift");
        j["serial"] = serial;
        j["model"] = radioInfo.modelName();
        j["unit"] = alarm.unit;
        j["rule"] = RunRuleText(alarm.rule);
        j["direction"] = alarm.side > 0 ? "rising" : "falling";
        j["radios"] = alarm.radios;
        j["text"] = text;
        events.Emit(j);
        Fail("line alarm: " + text + "; check the fixture, its cables and the instrument before the next radio");
        RecordWarning(CalibrationRecorder().lineAlarm(radioInfo, text));
    }
}

}  // namespace

int CmdLine(const Options& options) {
    if (options.procedure.empty() || options.instrument.empty()) {
        Fail("line needs --procedure FILE and --instrument URL (see varnel-cli line --help)");
        return kUsage;
    }
    if (options.instrument == "virtual" && !options.virtualRadio) {
        Fail("the virtual instrument measures the virtual radio only (add --virtual-radio)");
        return kUsage;
    }
    LineEvents events(options.jsonEvents);
    LineSetup setup;
    const auto warn = [&events](const std::string& text) {
        Json w = Event("warning");
        w["text"] = text;
        events.Emit(w);
    };
    if (std::optional<int> status = PrepareLineSetup(options, LocalToday(), setup, warn)) return *status;
    // Every serial the options name is checked before any radio is touched.
    if (!options.serial.empty()) {
        for (int i = 1; i <= std::max(1, options.radios); ++i) {
            if (const std::string why = setup.serialPattern.refusal(OptionSerial(options, i)); !why.empty()) {
                Fail(why);
                return kUsage;
            }
        }
    }
    std::optional<Procedure> procedure;
    std::optional<InstrumentModel> model;
    if (std::optional<int> status = LoadAlignInputs(options, procedure, model)) return *status;
    const fs::path dataFolder =
        options.dataFolder.empty() ? ProgramDirectory() / "Default Data" : fs::path(options.dataFolder);

    alignInterrupted = false;
    CatchInterrupt();
    Links links(options);
    if (VirtualBackend* v = links.backend.virtualBackend()) {
        if (Error e = ApplyCliFaults(options.virtualFaults, *v, links.logRadio); !e.ok()) {
            Fail(e);
            return kUsage;
        }
    }
    if (std::optional<int> status = OpenTheInstrument(options, model.value(), links)) return *status;
    SetUpRecords(options);
    Station station(links);

    Json start = Event("line");
    start["procedure"] = procedure->name;
    start["station"] = ConfiguredStationId();
    start["fixture"] = setup.trace.fixtureId;
    start["instrument"] = links.identity;
    start["calibration_due"] = setup.trace.calibrationDue;
    start["calibration_overdue"] = setup.calibration.state == CalibrationState::Overdue;
    start["radios"] = options.radios > 0 ? Json(options.radios) : Json(nullptr);
    events.Emit(start);

    int status = kOk, done = 0, passed = 0, refused = 0;
    for (int i = 1; options.radios == 0 || i <= options.radios; ++i) {
        station.Bring(i);
        events.Emit(Event("waiting"));
        Progress(options, "waiting for a radio");
        if (!WaitForRadio(true)) break;
        std::optional<std::string> serial;
        if (!options.serial.empty()) serial = OptionSerial(options, i);
        else serial = ScanSerial(options, setup, events, &refused);
        if (!serial) break;  // the end of the serials, or Ctrl+C
        station.Name(*serial);
        const RadioOutcome outcome =
            AlignLineRadio(options, procedure.value(), model.value(), setup, links, dataFolder, i, *serial, events);
        ++done;
        passed += outcome.passed ? 1 : 0;
        CheckLineDrift(setup, events, *serial);
        if (status == kOk) status = outcome.status;
        if (outcome.endLine || alignInterrupted) break;
        station.TakeAway();
        events.Emit(Event("remove"));
        Progress(options, "take the radio away");
        if (!WaitForRadio(false)) break;
        events.Emit(Event("gone"));
    }
    if (alignInterrupted) status = kStopped;
    // Serials came and none was taken: the line aligned nothing, which a
    // line controller must not read as success.
    if (status == kOk && done == 0 && refused > 0) {
        status = kSerialsRefused;
        Fail("no radio was aligned: every serial scanned (" + std::to_string(refused) + ") was refused");
    }
    FinishRecords();
    Json end = Event("end");
    end["radios"] = done;
    end["passed"] = passed;
    end["refused_serials"] = refused;
    end["status"] = status;
    events.Emit(end);
    char summary[120];
    std::snprintf(summary, sizeof summary, "line: %d radios, %d passed first time", done, passed);
    Progress(options, summary);
    if (alignInterrupted) Fail(StopMessage());
    return status;
}

}  // namespace varnel::cli
