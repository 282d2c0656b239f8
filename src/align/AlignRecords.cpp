#include "align/AlignRecords.h"

namespace varnel {

std::function<void(const PointResult&)> CalibrationRecordSink() {
    // The records store binds here: one record per point (radio, item, band,
    // point, target, final value, reading, pass or fail).
    return {};
}

}  // namespace varnel
