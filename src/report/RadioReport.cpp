#include "report/RadioReport.h"

#include <algorithm>
#include <deque>
#include <map>
#include <utility>

#include "align/Predictor.h"
#include "records/RecordExport.h"

namespace varnel {

namespace {

// The run a point belongs to: its run id, else (older records) its session.
const std::string& RunKeyOf(const CalibrationRecord& r) { return r.runId.empty() ? r.session : r.runId; }

bool Passed(const std::string& verdict) {
    return verdict == record_verdict::kPass || verdict == record_verdict::kMarginal;
}

// Later in time; the store's order (id) between records of the same moment.
bool Later(const CalibrationRecord& a, const CalibrationRecord& b) {
    return a.recordedAt != b.recordedAt ? a.recordedAt > b.recordedAt : a.id > b.id;
}

Error StoreFailed(const Error& e, const std::string& what) { return e.wrapped(what); }

// The record the request names, or the radio's latest alignment record.
Result<CalibrationRecord> TargetRecord(RecordStore& store, const ReportRequest& request) {
    if (request.recordId > 0) {
        Result<CalibrationRecord> r = store.get(request.recordId);
        const std::string id = std::to_string(request.recordId);
        if (!r) return r.error().wrapped("record " + id + " cannot be reported");
        if (r->event != record_event::kAlign)
            return Error::make(ErrorCode::BadData, "record %1 is no point of an alignment run (event \"" + r->event + "\")",
                               id);
        if (!request.serial.empty() && r->serial != request.serial)
            return Error::make(ErrorCode::BadData,
                               "record %1 belongs to radio \"" + r->serial + "\", not to \"" + request.serial + "\"", id);
        return r;
    }
    if (request.serial.empty()) return Error::make(ErrorCode::BadData, "a report needs the radio's serial or a record ID");
    RecordFilter filter;
    filter.serial = request.serial;
    filter.event = record_event::kAlign;
    std::optional<CalibrationRecord> latest;
    Error e = store.forEach(filter, [&](const CalibrationRecord& r) {
        if (!latest || Later(r, *latest)) {
            latest = r;
            latest->imageAtEntry.clear();
            latest->imageNow.clear();
        }
        return true;
    });
    if (!e.ok()) return StoreFailed(e, "the records of radio " + request.serial + " cannot be read");
    if (!latest)
        return Error::make(ErrorCode::NotFound, "radio %1 has no alignment record in " + store.describe(), request.serial);
    return *latest;
}

void TakeHeader(RadioReport& report, const CalibrationRecord& r) {
    report.runId = RunKeyOf(r);
    report.modelName = r.modelName;
    report.serial = r.serial;
    report.firmware = r.firmware;
    report.stationId = r.stationId.empty() ? r.station : r.stationId;
    report.operatorName = r.operatorName;
    report.fixtureId = r.fixtureId;
    report.pathLoss = r.pathLoss;
    report.instrumentIdn = r.instrumentIdn;
    report.calibrationDue = r.calibrationDue;
    // Usable through its due day, overdue from the day after (UTC day of the run).
    report.calibrationOverdue = HasRecordFlag(r.flags, record_flag::kCalibrationOverdue) ||
                                (r.calibrationDue.size() == 10 && r.recordedAt.size() >= 10 &&
                                 r.calibrationDue < r.recordedAt.substr(0, 10));
    report.softwareVersion = r.softwareVersion;
    report.procedureName = r.procedureName;
    report.procedureSha256 = r.procedureSha256;
    report.startedAt = r.recordedAt;
    report.retestCount = r.retestCount;
}

ReportPoint PointOf(const CalibrationRecord& r) {
    ReportPoint p;
    p.recordId = r.id;
    p.item = r.item;
    p.band = r.band;
    p.point = r.point;
    p.unit = r.unit;
    p.limitLow = r.limitLow;
    p.limitHigh = r.limitHigh;
    p.reading = r.reading;
    p.startValue = r.oldValue;
    p.finalValue = r.newValue;
    p.tries = r.tries;
    p.verdict = VerdictOf(r);
    p.note = r.detail;
    return p;
}

void AddPoint(RadioReport& report, const CalibrationRecord& r) {
    const std::string name = r.step.empty() ? "item " + std::to_string(r.item) : r.step;
    auto step = std::find_if(report.steps.begin(), report.steps.end(),
                             [&](const ReportStep& s) { return s.name == name && s.item == r.item; });
    if (step == report.steps.end()) {
        report.steps.push_back({name, r.item, {}});
        step = report.steps.end() - 1;
    }
    step->points.push_back(PointOf(r));
}

// The final values of the last radios on one point, one per radio.
struct PointWindow {
    std::deque<std::pair<std::string, int>> radios;  // radio, value; oldest first
    void add(const std::string& radio, int value) {
        const auto same = std::find_if(radios.begin(), radios.end(), [&](const auto& e) { return e.first == radio; });
        if (same != radios.end()) radios.erase(same);
        radios.emplace_back(radio, value);
        if (radios.size() > kReportHistoryRadios) radios.pop_front();
    }
    HistorySpread Spread() const {
        HistorySpread s;
        if (radios.empty()) return s;
        std::vector<double> values;
        s.min = s.max = radios.front().second;
        for (const auto& [radio, v] : radios) {
            values.push_back(v);
            s.min = std::min(s.min, v);
            s.max = std::max(s.max, v);
        }
        s.radios = static_cast<int>(radios.size());
        s.median = Median(std::move(values));
        return s;
    }
};

Error AddHistory(RecordStore& store, RadioReport& report) {
    std::map<std::pair<int, int>, PointWindow> windows;
    for (const ReportStep& step : report.steps)
        for (const ReportPoint& p : step.points) windows[{p.item, p.point}];
    RecordFilter filter;
    filter.modelName = report.modelName;
    filter.firmware = report.firmware;
    filter.event = record_event::kAlign;
    filter.until = report.startedAt;
    Error e = store.forEach(filter, [&](const CalibrationRecord& r) {
        if (RunKeyOf(r) == report.runId || r.newValue < 0) return true;
        if (!report.serial.empty() && r.serial == report.serial) return true;
        // An empty model or firmware in the filter means any: keep to this radio's.
        if (r.modelName != report.modelName || r.firmware != report.firmware) return true;
        if (!Passed(VerdictOf(r))) return true;
        const auto window = windows.find({r.item, r.point});
        if (window == windows.end()) return true;
        window->second.add(r.serial.empty() ? RunKeyOf(r) : r.serial, r.newValue);
        return true;
    });
    if (!e.ok()) return StoreFailed(e, "the history of " + report.modelName + " " + report.firmware + " cannot be read");
    // The outlier rule on the same radios, as the predictor would see them.
    std::vector<HistoryEntry> entries;
    for (const auto& [key, window] : windows)
        for (const auto& [radio, value] : window.radios) entries.push_back({radio, key.first, key.second, value, {}});
    const Predictor predictor(entries);
    for (ReportStep& step : report.steps) {
        for (ReportPoint& p : step.points) {
            p.history = windows[{p.item, p.point}].Spread();
            if (const std::optional<Deviation> d = predictor.deviationOf(p.item, p.point, p.finalValue); d) {
                p.deviations = d->deviations;
                p.standsOut = p.finalValue >= 0 && Predictor::standsOut(*d);
            }
            report.standingOut += p.standsOut;
        }
    }
    return {};
}

}  // namespace

std::string OverallVerdict(const std::vector<std::string>& verdicts) {
    for (const char* worst : {record_verdict::kError, record_verdict::kFail, record_verdict::kStopped,
                              record_verdict::kNotReached})
        if (std::find(verdicts.begin(), verdicts.end(), worst) != verdicts.end()) return worst;
    for (const std::string& v : verdicts)
        if (!Passed(v)) return record_verdict::kFail;  // a verdict this program does not know
    return verdicts.empty() ? record_verdict::kStopped : record_verdict::kPass;
}

Result<RadioReport> BuildRadioReport(RecordStore& store, const ReportRequest& request) {
    Result<CalibrationRecord> target = TargetRecord(store, request);
    if (!target) return target.error();
    const std::string key = RunKeyOf(*target);

    RadioReport report;
    RecordFilter filter;
    filter.serial = target->serial;  // empty: any, the run key tells
    filter.event = record_event::kAlign;
    bool first = true;
    Error e = store.forEach(filter, [&](const CalibrationRecord& r) {
        if (RunKeyOf(r) != key || r.serial != target->serial) return true;
        if (first) TakeHeader(report, r);
        first = false;
        report.finishedAt = std::max(report.finishedAt, r.recordedAt);
        report.startedAt = std::min(report.startedAt, r.recordedAt);
        AddPoint(report, r);
        return true;
    });
    if (!e.ok()) return StoreFailed(e, "the alignment run of radio " + target->serial + " cannot be read");
    if (first) return Error::make(ErrorCode::NotFound, "the alignment run %1 has no records", key);

    std::vector<std::string> verdicts;
    for (const ReportStep& step : report.steps) {
        for (const ReportPoint& p : step.points) {
            verdicts.push_back(p.verdict);
            ++report.points;
            // Each point in one count: a stopped point did not fail, a point
            // the run never came to neither.
            report.passed += Passed(p.verdict);
            report.marginal += p.verdict == record_verdict::kMarginal;
            report.stopped += p.verdict == record_verdict::kStopped;
            report.notReached += p.verdict == record_verdict::kNotReached;
            report.failed += !Passed(p.verdict) && p.verdict != record_verdict::kStopped &&
                             p.verdict != record_verdict::kNotReached;
        }
    }
    report.verdict = OverallVerdict(verdicts);
    if (Error h = AddHistory(store, report); !h.ok()) return h;
    return report;
}

}  // namespace varnel
