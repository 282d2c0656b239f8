#include "align/AlignRecords.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <set>

#include "align/AlignHistory.h"
#include "data/Global.h"
#include "records/Recorder.h"
#include "util/FileAccess.h"
#include "util/Sha256.h"

namespace varnel {

std::string AlignRecordDetail(const PointResult& p) {
    char text[160];
    if (p.reading) {
        std::snprintf(text, sizeof text, "%s: target %g +/- %g %s, reading %.3f %s, %d tries", p.outcome(),
                      p.target, p.tolerance, p.unit.c_str(), *p.reading, p.unit.c_str(), p.tries);
    } else {
        std::snprintf(text, sizeof text, "%s: target %g +/- %g %s, %d tries", p.outcome(), p.target,
                      p.tolerance, p.unit.c_str(), p.tries);
    }
    std::string detail = text;
    if (const std::string pred = PredictorDetail(p.predictedValue, p.slope, p.historySize); !pred.empty())
        detail += ", " + pred;
    detail += ", " + p.step;
    if (!p.note.empty()) detail += "; " + p.note;
    if (p.reached()) detail += "; " + std::string(p.keptText()) + ", the radio stores " + std::to_string(p.storedValue);
    return detail;
}

const char* AlignVerdict(const PointResult& p) {
    if (!p.reached()) return record_verdict::kNotReached;
    if (p.pass) return MarginalPass(p) ? record_verdict::kMarginal : record_verdict::kPass;
    if (p.stopped) return record_verdict::kStopped;
    if (p.kept == PointKept::NotStored) return record_verdict::kError;
    return p.endedRun ? record_verdict::kError : record_verdict::kFail;
}

std::function<void(const std::string&, int, const Error&)> CalibrationSaveSink(
    std::function<void(const Error&)> onError) {
    return [onError](const std::string& step, int item, const Error& outcome) {
        Recorder& recorder = CalibrationRecorder();
        const Error e = outcome.ok() ? recorder.saved(item, tunerImage, "align: " + step)
                                     : recorder.saveNotConfirmed(item, tunerImage, "align: " + step + ": " + outcome.text());
        if (!e.ok() && onError) onError(e);
    };
}

void TraceProcedureFile(TraceContext& trace, const std::string& path) {
    trace.procedureName = std::filesystem::path(path).filename().string();
    auto file = ReadRegularFile(path, 16 * 1024 * 1024);
    trace.procedureSha256 = file ? Sha256Hex(file->bytes) : std::string();
}

int CountAlignRuns(RecordStore& store, const std::string& serial, const std::string& runId) {
    if (serial.empty()) return -1;
    // A server that is known not to answer is not asked again mid-run.
    const RecordsQueueState queue = store.queueState();
    if (queue.queued && !queue.serverAnswering) return -1;
    RecordFilter filter;
    filter.serial = serial;
    filter.event = record_event::kAlign;
    std::set<std::string> runs;  // records of one run share its id (older ones their session)
    const Error e = store.forEach(filter, [&](const CalibrationRecord& r) {
        const std::string& run = r.runId.empty() ? r.session : r.runId;
        if (run != runId) runs.insert(run);
        return true;
    });
    return e.ok() ? static_cast<int>(runs.size()) : -1;
}

std::function<void(const PointResult&)> CalibrationRecordSink(const TraceContext& trace,
                                                              std::function<void(const Error&)> onError) {
    struct Run {
        TraceContext trace;
        std::string id = NewRecordUid();
        std::optional<int> retests;  // looked up at the first point
        bool tableRecorded = false;  // the path-loss table goes into the run's first record only
    };
    auto run = std::make_shared<Run>();
    run->trace = trace;
    if (run->trace.pathLossSha256.empty() && !run->trace.pathLoss.empty())
        run->trace.pathLossSha256 = Sha256Hex(run->trace.pathLoss);
    return [run, onError](const PointResult& p) {
        Recorder& recorder = CalibrationRecorder();
        if (!run->retests)
            run->retests = recorder.store() ? CountAlignRuns(*recorder.store(), recorder.serial(), run->id) : -1;
        const TraceContext& t = run->trace;
        CalibrationRecord r;
        r.item = p.item;
        r.point = p.point;
        r.oldValue = p.startValue;
        r.newValue = p.finalValue;
        r.detail = AlignRecordDetail(p);
        r.stationId = t.stationId;
        r.operatorName = t.operatorName;
        r.fixtureId = t.fixtureId;
        // A table of many rows is stored once per run, not once per point.
        if (!run->tableRecorded) r.pathLoss = t.pathLoss;
        r.pathLossSha256 = t.pathLossSha256;
        r.instrumentIdn = t.instrumentIdn;
        r.calibrationDue = t.calibrationDue;
        if (t.calibrationOverdue) r.flags = record_flag::kCalibrationOverdue;
        r.softwareVersion = t.softwareVersion;
        r.procedureName = t.procedureName;
        r.procedureSha256 = t.procedureSha256;
        r.runId = run->id;
        r.step = p.step;
        r.unit = p.unit;
        r.limitLow = p.target - p.tolerance;
        r.limitHigh = p.target + p.tolerance;
        r.reading = p.reading;
        r.tries = p.tries;
        r.verdict = AlignVerdict(p);
        r.retestCount = *run->retests;
        Error e = recorder.aligned(r, tunerImage);
        if (e.ok()) run->tableRecorded = true;
        if (!e.ok() && onError) onError(e);
    };
}

std::function<void(const PointResult&)> CalibrationRecordSink(std::function<void(const Error&)> onError) {
    return CalibrationRecordSink(TraceContext{}, std::move(onError));
}

}  // namespace varnel
