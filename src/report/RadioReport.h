// The report of one radio: its latest alignment run (or the run of a given
// record) as the calibration records hold it, with the history of its model
// beside every point, ready for a page (ReportPdf.h) or any other output.
//
// The run: the "align" records that share the run id (older records: the
// session). Its header comes from the run's records: who, where, with which
// instrument, software and procedure, and when; its steps and points in the
// order they were aligned.
//
// The history of a point: the final values of other radios of the same model
// and firmware whose run passed that point (a marginal pass counts) and was
// recorded before this run began; one value per radio (its latest), the
// last kReportHistoryRadios radios. The radio's own earlier runs are left
// out, so that a retest is compared with the others, not with itself. A
// point whose final value lies far from the last radios (the rule the
// alignment uses, Predictor::StandsOut) is flagged.
//
// Plain logic on a RecordStore; the records are read one at a time
// (ForEach), so the memory does not grow with the number of records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/RecordStore.h"
#include "util/Error.h"

namespace varnel {

// The most radios one point's history holds.
inline constexpr std::size_t kReportHistoryRadios = 200;

// The spread of the final values of earlier radios on one point.
struct HistorySpread {
    int radios = 0;  // 0: no history (the fields below then mean nothing)
    int min = 0;
    double median = 0;
    int max = 0;
};

struct ReportPoint {
    std::int64_t recordId = 0;
    int item = -1;
    int band = -1;
    int point = -1;
    std::string unit;
    std::optional<double> limitLow, limitHigh;
    std::optional<double> reading;  // at the final value
    int startValue = -1;            // the value the radio held before
    int finalValue = -1;
    int tries = -1;
    std::string verdict;            // record_verdict
    std::string note;               // the record's detail
    HistorySpread history;
    // The engine's rule for a likely hardware fault (Predictor::StandsOut),
    // on the last radios of the history as the predictor takes them.
    bool standsOut = false;
    double deviations = 0;  // (final value - their median) / robust spread; 0 without history
};

struct ReportStep {
    std::string name;  // the procedure step ("item N" for records that name none)
    int item = -1;
    std::vector<ReportPoint> points;
};

struct RadioReport {
    std::string runId;
    std::string modelName, serial, firmware;
    std::string stationId, operatorName, fixtureId, pathLoss;
    std::string instrumentIdn, calibrationDue;
    // The instrument's calibration was overdue when the run began (its
    // records are flagged so, or the due date lies before the run's day).
    bool calibrationOverdue = false;
    std::string softwareVersion, procedureName, procedureSha256;
    std::string startedAt, finishedAt;  // the run's first and last record (UTC)
    int retestCount = -1;               // earlier runs of the serial; -1 unknown
    // "pass" when every point passed (marginal ones too), else "error",
    // "fail", "stopped" or "not-reached", the first of these any point has.
    std::string verdict;
    // Every point is counted once among failed, stopped, not reached and
    // passed; `passed` includes the marginal ones.
    int points = 0, passed = 0, marginal = 0, failed = 0, stopped = 0, notReached = 0;
    int standingOut = 0;  // points that stand out from the history
    std::vector<ReportStep> steps;
};

struct ReportRequest {
    std::string serial;        // the radio; its latest run when recordId is 0
    std::int64_t recordId = 0; // a record of the run to report (its serial must match a given one)
};

// The report the request names. NotFound when the radio has no alignment
// record (or the record does not exist); BadData when the record is no point
// of an alignment run or belongs to another serial; Database when the store
// fails.
Result<RadioReport> BuildRadioReport(RecordStore& store, const ReportRequest& request);

// The overall verdict of a list of point verdicts (see RadioReport::verdict).
std::string OverallVerdict(const std::vector<std::string>& verdicts);

}  // namespace varnel
