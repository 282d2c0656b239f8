// Whether a line drifts: per model, step and point an I-MR control chart of
// the final values its radios were aligned to (ControlChart.h), and per
// unit of measurement a line chart that the line alarm watches.
//
// A creeping fixture loss, an instrument leaving its calibration or a new
// lot of parts moves the final values of many points of a model at once,
// long before a radio fails; one radio's own spread moves the points of
// its steps. The line chart of a unit holds, per radio, the mean over the
// model's points in that unit of the radio's final value in sigmas from the
// point's centre line (against the limits that point's chart had for that
// radio): a shift common to the points adds up there, while the radios' own
// spreads, independent from step to step, average out. The line alarm is a
// run rule on the line chart at the newest radio, confirmed: the chart
// signals on the same side at one of the two radios before it too. On a
// stable line a run rule fires now and then by chance (about once in a
// hundred radios per chart, and alone); a drift keeps signalling.
//
// The charts are built from the calibration records ("align" events that
// passed, marginal ones too), one value per radio and point: its latest.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "line/ControlChart.h"
#include "records/RecordStore.h"

namespace varnel {

struct PointSeries {
    std::string step;
    int item = 0;
    int band = 0;
    int point = 0;
    std::string unit;
    std::optional<double> low, high;  // the point's limits (its latest record's)
    std::vector<std::string> radios;  // oldest first
    std::vector<double> finalValues;
    std::vector<double> readings;     // NaN where a record has none
    ControlChart chart;               // of the final values
    std::optional<double> cpk;        // of the readings against the limits
};

struct LineSeries {
    std::string unit;
    std::vector<std::string> radios;  // the radios with a judged point in this unit
    std::vector<double> values;       // mean sigmas from the centre lines
    ControlChart chart;
};

struct DriftAlarm {
    std::string unit;
    RunRule rule = RunRule::None;
    int side = 0;        // +1: the final values rise, -1: they fall
    std::string radio;   // the radio at which it fired (its records' session)
    std::string serial;  // that radio's serial, "" when it has none
    int radios = 0;      // radios in the line chart up to it
};

struct DriftAnalysis {
    std::vector<PointSeries> points;
    std::vector<LineSeries> lines;
    std::vector<DriftAlarm> alarms;  // line charts that signal at their newest radio
    int radios = 0;                  // radios of the model in the records
};

// `records` oldest first (the stores list by id); records of other events
// and points that did not pass are left out. Give the records of one model.
DriftAnalysis AnalyseDrift(const std::vector<CalibrationRecord>& records, const ChartSettings& settings = {});

// The same for the radios of `model` (and `firmware`, when not empty) in `store`.
Result<DriftAnalysis> LoadDriftAnalysis(RecordStore& store, const std::string& model, const std::string& firmware,
                                        const ChartSettings& settings = {});

// "dBm: 4 of 5 beyond 1 sigma, final values rising (radio SN-17, 22 radios)"
// (the radio by its serial, else by its records' session)
std::string DriftAlarmText(const DriftAlarm& alarm);

}  // namespace varnel
