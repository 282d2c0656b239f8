#include "align/AlignRecords.h"

#include <cstdio>

#include "align/AlignHistory.h"
#include "data/Global.h"
#include "records/Recorder.h"

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
    return detail;
}

std::function<void(const PointResult&)> CalibrationRecordSink(std::function<void(const Error&)> onError) {
    return [onError](const PointResult& p) {
        Error e = CalibrationRecorder().Aligned(p.item, p.point, p.startValue, p.finalValue, AlignRecordDetail(p),
                                                tunerImage);
        if (!e.ok() && onError) onError(e);
    };
}

}  // namespace varnel
