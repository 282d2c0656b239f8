// Where the results of automatic alignment go besides the report: the
// calibration records of the radio. Every front end (the window, the
// command-line tool) hands this sink to AlignEngine::SetRecordSink.
#pragma once

#include <functional>

#include "align/AlignEngine.h"

namespace varnel {

// The sink that records one point's result in the calibration records.
// Empty while the program has no records store; the engine then records
// nothing besides its report.
std::function<void(const PointResult&)> CalibrationRecordSink();

}  // namespace varnel
