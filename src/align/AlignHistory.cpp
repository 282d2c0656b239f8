#include "align/AlignHistory.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace varnel {

namespace {

// The number after "slope=" in a record's detail (the first one: the step
// name and the note come after it).
std::optional<double> slopeIn(const std::string& detail) {
    const std::size_t at = detail.find("slope=");
    if (at == std::string::npos) return std::nullopt;
    const char* start = detail.c_str() + at + 6;
    char* end = nullptr;
    const double slope = std::strtod(start, &end);
    if (end == start || !std::isfinite(slope) || slope == 0) return std::nullopt;
    return slope;
}

}  // namespace

std::vector<HistoryEntry> HistoryFromRecords(const std::vector<CalibrationRecord>& records) {
    std::vector<HistoryEntry> out;
    for (const CalibrationRecord& r : records) {
        if (r.event != record_event::kAlign || r.detail.rfind("pass:", 0) != 0) continue;
        if (r.item < 0 || r.point < 1 || r.newValue < 0) continue;
        HistoryEntry e;
        e.radio = !r.session.empty() ? r.session : !r.serial.empty() ? r.serial : r.uid;
        e.item = r.item;
        e.point = r.point;
        e.finalValue = r.newValue;
        e.slope = slopeIn(r.detail);
        out.push_back(std::move(e));
    }
    return out;
}

Result<std::vector<HistoryEntry>> LoadAlignHistory(RecordStore& store, const std::string& model,
                                                   const std::string& firmware) {
    RecordFilter filter;
    filter.modelName = model;
    filter.firmware = firmware;
    filter.event = record_event::kAlign;
    Result<std::vector<CalibrationRecord>> records = store.list(filter);
    if (!records) return records.error().wrapped("the alignment history of " + model + " " + firmware + " cannot be read");
    return HistoryFromRecords(records.value());
}

std::optional<Predictor> PredictorFromRecords(RecordStore* store, const std::string& model,
                                              const std::string& firmware, Error* warning) {
    if (store == nullptr) return std::nullopt;
    Result<std::vector<HistoryEntry>> history = LoadAlignHistory(*store, model, firmware);
    if (!history) {
        if (warning != nullptr) *warning = history.error().wrapped("the points start at the radio's values");
        return std::nullopt;
    }
    if (history->empty()) return std::nullopt;
    return Predictor(history.value());
}

std::string PredictorDetail(const std::optional<int>& predicted, const std::optional<double>& slope,
                            int historySize) {
    std::string text;
    char part[48];
    if (predicted) text += "pred=" + std::to_string(*predicted);
    if (slope) {
        std::snprintf(part, sizeof part, "%sslope=%.4g", text.empty() ? "" : " ", *slope);
        text += part;
    }
    if (historySize > 0) text += (text.empty() ? "" : " ") + std::string("hist=") + std::to_string(historySize);
    return text;
}

}  // namespace varnel
