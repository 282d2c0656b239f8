#include "line/LineDrift.h"

#include <cmath>
#include <limits>
#include <map>
#include <tuple>

namespace varnel {

namespace {

bool passed(const CalibrationRecord& r) {
    if (r.event != record_event::kAlign || r.item < 0 || r.point < 1 || r.newValue < 0) return false;
    if (!r.verdict.empty()) return r.verdict == record_verdict::kPass || r.verdict == record_verdict::kMarginal;
    return r.detail.rfind("pass:", 0) == 0;
}

std::string radioOf(const CalibrationRecord& r) {
    return !r.session.empty() ? r.session : !r.serial.empty() ? r.serial : r.uid;
}

}  // namespace

DriftAnalysis AnalyseDrift(const std::vector<CalibrationRecord>& records, const ChartSettings& settings) {
    DriftAnalysis out;
    // Radios in the order they first come, and per point the latest value of each.
    std::map<std::string, int> radioIndex;
    std::vector<std::string> radios;
    std::vector<std::string> serials;
    struct Latest {
        double finalValue;
        double reading;
    };
    using Key = std::tuple<int, int>;  // item, point
    std::map<Key, std::map<int, Latest>> values;
    std::map<Key, const CalibrationRecord*> last;
    std::vector<Key> order;
    for (const CalibrationRecord& r : records) {
        if (!passed(r)) continue;
        const std::string radio = radioOf(r);
        auto [it, fresh] = radioIndex.emplace(radio, static_cast<int>(radios.size()));
        if (fresh) {
            radios.push_back(radio);
            serials.push_back(r.serial);
        }
        const Key key{r.item, r.point};
        if (!last.count(key)) order.push_back(key);
        last[key] = &r;
        values[key][it->second] =
            Latest{static_cast<double>(r.newValue), r.reading ? *r.reading : std::numeric_limits<double>::quiet_NaN()};
    }
    out.radios = static_cast<int>(radios.size());
    // Per point: its chart over the radios that have it.
    std::map<std::string, std::map<int, std::pair<double, int>>> lineSums;  // unit -> radio -> (sum z, n)
    for (const Key& key : order) {
        const CalibrationRecord& r = *last[key];
        PointSeries s;
        s.step = r.step;
        s.item = r.item;
        s.band = r.band;
        s.point = r.point;
        s.unit = r.unit;
        s.low = r.limitLow;
        s.high = r.limitHigh;
        std::vector<int> which;
        for (const auto& [index, v] : values[key]) {
            which.push_back(index);
            s.radios.push_back(radios[static_cast<std::size_t>(index)]);
            s.finalValues.push_back(v.finalValue);
            s.readings.push_back(v.reading);
        }
        ChartSettings pointSettings = settings;
        pointSettings.resolution = std::max(settings.resolution, 1.0);  // final values are whole steps
        s.chart = BuildControlChart(s.finalValues, pointSettings);
        if (s.low && s.high) {
            std::vector<double> readings;
            for (double v : s.readings)
                if (!std::isnan(v)) readings.push_back(v);
            s.cpk = Cpk(readings, *s.low, *s.high);
        }
        // The radios of the baseline that no limits judge yet stand against
        // the first limits there are (those of the first radios), as the
        // points of a baseline stand against its own limits.
        std::optional<ChartLimits> first;
        for (const ChartPoint& p : s.chart.points)
            if (p.limits) {
                first = p.limits;
                break;
            }
        for (std::size_t k = 0; k < s.chart.points.size(); ++k) {
            const ChartPoint& p = s.chart.points[k];
            const std::optional<ChartLimits>& limits = p.limits ? p.limits : first;
            if (!limits || !(limits->sigma > 0)) continue;
            auto& sum = lineSums[s.unit][which[k]];
            sum.first += (p.value - limits->centre) / limits->sigma;
            sum.second += 1;
        }
        out.points.push_back(std::move(s));
    }
    // Per unit: the line chart, and whether it signals at its newest radio.
    for (const auto& [unit, perRadio] : lineSums) {
        LineSeries line;
        line.unit = unit;
        for (const auto& [index, sum] : perRadio) {
            line.radios.push_back(radios[static_cast<std::size_t>(index)]);
            line.values.push_back(sum.first / sum.second);
        }
        ChartSettings lineSettings = settings;
        lineSettings.resolution = 0;
        line.chart = BuildControlChart(line.values, lineSettings);
        const bool newest = !perRadio.empty() && perRadio.rbegin()->first == out.radios - 1;
        const std::vector<ChartPoint>& points = line.chart.points;
        if (newest && !points.empty() && points.back().rule != RunRule::None) {
            // Confirmed by a signal on the same side at one of the two radios before.
            bool confirmed = false;
            for (std::size_t back = 2; back <= 3 && back <= points.size(); ++back) {
                const ChartPoint& before = points[points.size() - back];
                confirmed = confirmed || (before.rule != RunRule::None && before.side == points.back().side);
            }
            if (confirmed) {
                DriftAlarm a;
                a.unit = unit;
                a.rule = points.back().rule;
                a.side = points.back().side;
                a.radio = line.radios.back();
                a.serial = serials[static_cast<std::size_t>(perRadio.rbegin()->first)];
                a.radios = static_cast<int>(line.values.size());
                out.alarms.push_back(a);
            }
        }
        out.lines.push_back(std::move(line));
    }
    return out;
}

Result<DriftAnalysis> LoadDriftAnalysis(RecordStore& store, const std::string& model, const std::string& firmware,
                                        const ChartSettings& settings) {
    RecordFilter filter;
    filter.modelName = model;
    filter.firmware = firmware;
    filter.event = record_event::kAlign;
    std::vector<CalibrationRecord> records;
    Error e = store.forEach(filter, [&records](const CalibrationRecord& r) {
        if (passed(r)) {
            CalibrationRecord kept = r;
            kept.imageAtEntry.clear();
            kept.imageNow.clear();
            records.push_back(std::move(kept));
        }
        return true;
    });
    if (!e.ok()) return e.wrapped("the control charts of " + model + " cannot be read");
    return AnalyseDrift(records, settings);
}

std::string DriftAlarmText(const DriftAlarm& alarm) {
    return (alarm.unit.empty() ? std::string("(no unit)") : alarm.unit) + ": " + RunRuleText(alarm.rule) +
           ", final values " + (alarm.side > 0 ? "rising" : "falling") + " (radio " +
           (alarm.serial.empty() ? alarm.radio : alarm.serial) + ", " +
           std::to_string(alarm.radios) + " radios)";
}

}  // namespace varnel
