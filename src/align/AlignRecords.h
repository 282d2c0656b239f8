// Where the results of automatic alignment go besides the report: the
// calibration records (the program's Recorder, event "align"). Every front
// end (the window, the command-line tool) hands this sink to
// AlignEngine::SetRecordSink.
#pragma once

#include <functional>
#include <string>

#include "align/AlignEngine.h"
#include "util/Error.h"

namespace varnel {

// One record per point through CalibrationRecorder(): item, band, point,
// the value before and after, and "pass: ...", "fail: ..." or "stopped: ..."
// with target, tolerance, reading and tries. A run that ended early has its
// last point recorded with the outcome and why it ended. A record that cannot be stored is passed to
// `onError` (the alignment itself goes on).
std::function<void(const PointResult&)> CalibrationRecordSink(std::function<void(const Error&)> onError = {});

// The detail text of a point's record.
std::string AlignRecordDetail(const PointResult& point);

}  // namespace varnel
