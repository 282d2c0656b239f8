#include "records/RecordExport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "lang/ItemNames.h"

namespace varnel {

namespace {

std::string KeyOf(const CalibrationRecord& r) { return r.runId.empty() ? r.session : r.runId; }

bool Passed(const std::string& verdict) {
    return verdict == record_verdict::kPass || verdict == record_verdict::kMarginal;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

}  // namespace

double RecordSeconds(const std::string& utc) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double s = 0;
    if (std::sscanf(utc.c_str(), "%d-%d-%dT%d:%d:%lf", &y, &mo, &d, &h, &mi, &s) != 6) return 0;
    return static_cast<double>(DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d))) * 86400.0 +
           h * 3600.0 + mi * 60.0 + s;
}

std::string OcpPointName(const CalibrationRecord& r) {
    std::string name = ItemCaption(r.item);
    const std::string band = BandCaption(r.band);
    if (!band.empty()) name += ", " + band;
    return name + ", point " + std::to_string(r.point);
}

std::string VerdictOf(const CalibrationRecord& r) {
    if (!r.verdict.empty()) return r.verdict;
    const std::size_t colon = r.detail.find(':');
    return colon == std::string::npos ? std::string() : r.detail.substr(0, colon);
}

// ---- runs -------------------------------------------------------------------

void AlignRunCollector::add(const CalibrationRecord& record) {
    const bool align = record.event == record_event::kAlign;
    const auto open = session_.find(record.session);
    const bool ends = record.event == record_event::kEnter || record.event == record_event::kLeave;
    if (open != session_.end() && (ends || (align && open->second != KeyOf(record)))) complete(open->second);
    if (!align) return;
    const std::string key = KeyOf(record);
    auto [run, fresh] = open_.try_emplace(key);
    if (fresh) {
        run->second.key = key;
        order_.push_back(key);
        session_[record.session] = key;
    }
    CalibrationRecord point = record;
    point.imageAtEntry.clear();
    point.imageNow.clear();
    run->second.points.push_back(std::move(point));
    if (open_.size() > kOpenRuns) complete(order_.front());
}

void AlignRunCollector::complete(const std::string& key) {
    const auto run = open_.find(key);
    if (run == open_.end()) return;
    const AlignRun done = std::move(run->second);
    open_.erase(run);
    order_.erase(std::find(order_.begin(), order_.end(), key));
    for (auto s = session_.begin(); s != session_.end();) s = s->second == key ? session_.erase(s) : std::next(s);
    if (completed_) completed_(done);
}

void AlignRunCollector::finish() {
    while (!order_.empty()) complete(order_.front());
}

// ---- OCP output ----------------------------------------------------------------

OcpExporter::OcpExporter(std::function<void(const std::string&)> write)
    : write_(std::move(write)), runs_([this](const AlignRun& run) { writeRun(run); }) {}

void OcpExporter::writeRun(const AlignRun& run) {
    using nlohmann::json;
    ++runs_count_;
    int sequence = 0;
    const auto emit = [&](const char* kind, json body, const std::string& when) {
        json line;
        line[kind] = std::move(body);
        line["sequenceNumber"] = sequence++;
        line["timestamp"] = when;
        write_(line.dump(-1, ' ', false, json::error_handler_t::replace));
    };
    const CalibrationRecord& first = run.points.front();
    const CalibrationRecord& last = run.points.back();
    emit("schemaVersion", {{"major", 2}, {"minor", 0}}, first.recordedAt);

    json hardware = json::array();
    hardware.push_back({{"hardwareInfoId", "radio"}, {"name", first.modelName}, {"serialNumber", first.serial},
                        {"partNumber", std::to_string(first.modelCode) + "/" + std::to_string(first.modelVariant)}});
    if (!first.instrumentIdn.empty())
        hardware.push_back({{"hardwareInfoId", "instrument"}, {"name", first.instrumentIdn}});
    if (!first.fixtureId.empty()) hardware.push_back({{"hardwareInfoId", "fixture"}, {"name", first.fixtureId}});
    json dut = {{"dutInfoId", first.serial.empty() ? std::string("unknown") : first.serial},
                {"name", first.modelName},
                {"platformInfos", json::array({{{"info", "station " + first.stationId}}})},
                {"softwareInfos", json::array({{{"softwareInfoId", "firmware"},
                                                {"name", "radio firmware"},
                                                {"version", first.firmware},
                                                {"softwareType", "FIRMWARE"}}})},
                {"hardwareInfos", hardware}};
    json parameters = {{"procedure", first.procedureName},   {"procedureSha256", first.procedureSha256},
                       {"stationId", first.stationId},       {"station", first.station},
                       {"operator", first.operatorName},     {"fixtureId", first.fixtureId},
                       {"pathLoss", first.pathLoss},         {"calibrationDue", first.calibrationDue},
                       {"session", first.session},           {"runId", run.key}};
    if (!first.pathLossSha256.empty()) parameters["pathLossSha256"] = first.pathLossSha256;
    if (first.retestCount >= 0) parameters["retestCount"] = first.retestCount;
    emit("testRunArtifact",
         {{"testRunStart",
           {{"name", first.procedureName.empty() ? std::string("alignment") : "alignment " + first.procedureName},
            {"version", first.softwareVersion},
            {"commandLine", ""},
            {"parameters", parameters},
            {"dutInfo", dut}}}},
         first.recordedAt);

    // One step per procedure step (consecutive points of the same step and item).
    bool anyError = false, anyStopped = false, anyFail = false;
    std::size_t i = 0;
    int stepNumber = 0;
    while (i < run.points.size()) {
        const CalibrationRecord& head = run.points[i];
        const std::string stepId = "step" + std::to_string(stepNumber++);
        const auto step = [&](json body, const std::string& when) {
            body["testStepId"] = stepId;
            emit("testStepArtifact", std::move(body), when);
        };
        step({{"testStepStart", {{"name", head.step.empty() ? ItemCaption(head.item) : head.step}}}},
             head.recordedAt);
        bool stepError = false, stepStopped = false;
        std::size_t k = i;
        for (; k < run.points.size() && run.points[k].step == head.step && run.points[k].item == head.item; ++k) {
            const CalibrationRecord& p = run.points[k];
            const std::string verdict = VerdictOf(p);
            stepError = stepError || verdict == record_verdict::kError;
            stepStopped = stepStopped || verdict == record_verdict::kStopped || verdict == record_verdict::kNotReached;
            anyFail = anyFail || verdict == record_verdict::kFail;
            // Named as the records window names the item and the band:
            // "Digital TX Power (High), 400-470 MHz, point 2".
            const std::string where = OcpPointName(p);
            const json subcomponent = {{"type", "FUNCTION"},
                                       {"name", "point " + std::to_string(p.point)},
                                       {"location", BandCaption(p.band)}};
            if (p.reading) {
                json m = {{"name", where},
                          {"value", *p.reading},
                          {"unit", p.unit},
                          {"hardwareInfoId", "radio"},
                          {"subcomponent", subcomponent}};
                json validators = json::array();
                if (p.limitLow) validators.push_back({{"name", "low limit"}, {"type", "GREATER_THAN_OR_EQUAL"}, {"value", *p.limitLow}});
                if (p.limitHigh) validators.push_back({{"name", "high limit"}, {"type", "LESS_THAN_OR_EQUAL"}, {"value", *p.limitHigh}});
                if (!validators.empty()) m["validators"] = validators;
                step({{"measurement", m}}, p.recordedAt);
            }
            // The value the radio holds after the point, and the one it had.
            if (p.newValue >= 0)
                step({{"measurement",
                       {{"name", where + ", final value"}, {"value", p.newValue}, {"hardwareInfoId", "radio"},
                        {"subcomponent", subcomponent}}}},
                     p.recordedAt);
            if (p.oldValue >= 0)
                step({{"measurement",
                       {{"name", where + ", value before"}, {"value", p.oldValue}, {"hardwareInfoId", "radio"},
                        {"subcomponent", subcomponent}}}},
                     p.recordedAt);
            if (!Passed(verdict))
                step({{"log", {{"severity", verdict == record_verdict::kError ? "ERROR" : "WARNING"}, {"message", p.detail}}}},
                     p.recordedAt);
        }
        anyError = anyError || stepError;
        anyStopped = anyStopped || stepStopped;
        step({{"testStepEnd", {{"status", stepError ? "ERROR" : stepStopped ? "SKIPPED" : "COMPLETE"}}}},
             run.points[k - 1].recordedAt);
        i = k;
    }
    const char* status = anyError ? "ERROR" : anyStopped ? "SKIPPED" : "COMPLETE";
    const char* result = std::string(status) != "COMPLETE" ? "NOT_APPLICABLE" : anyFail ? "FAIL" : "PASS";
    emit("testRunArtifact", {{"testRunEnd", {{"status", status}, {"result", result}}}}, last.recordedAt);
}

// ---- line statistics ---------------------------------------------------------------

LineStats::LineStats(By by) : by_(by), runs_([this](const AlignRun& run) { count(run); }) {}

void LineStats::count(const AlignRun& run) {
    const CalibrationRecord& first = run.points.front();
    std::string group = "all";
    if (by_ == By::Station) group = first.stationId.empty() ? first.station : first.stationId;
    if (by_ == By::Day) group = first.recordedAt.substr(0, 10);
    LineStatsRow& row = rows_[group];
    row.group = group;
    ++row.runs;
    bool passed = true;
    for (const CalibrationRecord& p : run.points) {
        const std::string verdict = VerdictOf(p);
        passed = passed && Passed(verdict);
        if (verdict == record_verdict::kPass) ++row.passedPoints;
        else if (verdict == record_verdict::kMarginal) ++row.marginalPoints;
        else if (verdict == record_verdict::kStopped) ++row.stoppedPoints;
        else if (verdict == record_verdict::kNotReached) ++row.notReachedPoints;
        else ++row.failedPoints;
        // Tries per point over the points the run came to.
        if (verdict == record_verdict::kNotReached) continue;
        ++row.points;
        row.tries += std::max(p.tries, 0);
    }
    if (first.retestCount == 0) {
        ++row.firstRuns;
        row.firstPassed += passed;
    }
    Span& span = spans_[group];
    const double from = RecordSeconds(first.recordedAt), to = RecordSeconds(run.points.back().recordedAt);
    if (span.first == 0 || from < span.first) span.first = from;
    span.last = std::max(span.last, to);
    row.hours = (span.last - span.first) / 3600.0;
}

std::vector<LineStatsRow> LineStats::finish() {
    runs_.finish();
    std::vector<LineStatsRow> out;
    for (const auto& [group, row] : rows_) out.push_back(row);
    return out;
}

}  // namespace varnel
