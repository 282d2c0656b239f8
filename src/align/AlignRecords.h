// Where the results of automatic alignment go besides the report: the
// calibration records (the program's Recorder, event "align"). Every front
// end (the window, the command-line tool) hands this sink to
// AlignEngine::SetRecordSink.
#pragma once

#include <functional>
#include <string>

#include "align/AlignEngine.h"
#include "records/RecordStore.h"
#include "util/Error.h"

namespace varnel {

// What a front end knows about the set-up of a run, for the traceability of
// its records. Fields left empty are recorded empty (the station id and the
// software version then take their defaults).
struct TraceContext {
    std::string stationId;        // empty: ConfiguredStationId()
    std::string operatorName;     // empty: the login name
    std::string fixtureId;
    std::string pathLoss;         // the fixture's path-loss table, "freqMHz:dB;..." (in the run's first record)
    std::string pathLossSha256;   // its SHA-256 (in every record); empty: computed from pathLoss
    std::string instrumentIdn;    // the instrument's answer to its identification query
    std::string calibrationDue;   // the instrument's calibration due date
    bool calibrationOverdue = false;  // the due date had passed: every point is flagged so
    std::string softwareVersion;  // empty: SoftwareVersion()
    std::string procedureName;    // the procedure file's name (without folders)
    std::string procedureSha256;  // SHA-256 of the procedure file's bytes
};

// Fills in the procedure's name and hash from its file; leaves them empty
// when the file cannot be read.
void TraceProcedureFile(TraceContext& trace, const std::string& path);

// One record per point through CalibrationRecorder(): item, band, point,
// the value before and after, and "pass: ...", "fail: ..." or "stopped: ..."
// with target, tolerance, reading and tries; the limits, the reading, the
// tries and the verdict in columns of their own, with the run's `trace`. A
// run that ended early has its last point recorded with the outcome and why
// it ended. The retest count (earlier alignment runs of the radio's serial)
// is looked up once, at the run's first point. A record that cannot be
// stored is passed to `onError` (the alignment itself goes on).
std::function<void(const PointResult&)> CalibrationRecordSink(const TraceContext& trace,
                                                              std::function<void(const Error&)> onError = {});
std::function<void(const PointResult&)> CalibrationRecordSink(std::function<void(const Error&)> onError = {});

// One record per item save of a run (event "save-item"): acknowledged, or
// "not confirmed: ..." with the reason, for AlignEngine::setSaveSink.
std::function<void(const std::string&, int, const Error&)> CalibrationSaveSink(
    std::function<void(const Error&)> onError = {});

// The detail text of a point's record.
std::string AlignRecordDetail(const PointResult& point);

// The point's verdict (record_verdict): "marginal" for a pass in the outer
// fifth of the tolerance, "error" for a point that ended the run through a
// failure of the radio or the instrument and for a point whose save the
// radio did not confirm, "not-reached" for a point after the end of a run.
const char* AlignVerdict(const PointResult& point);

// Earlier alignment runs of `serial` in `store` other than `runId`; -1 when
// the serial is empty or the store cannot say.
int CountAlignRuns(RecordStore& store, const std::string& serial, const std::string& runId);

}  // namespace varnel
