#include "line/ControlChart.h"

#include <algorithm>
#include <cmath>

namespace varnel {

namespace {

constexpr double kD2 = 1.128;    // mean range of two normal values, in sigma
constexpr double kD4 = 3.267;    // upper limit of a range of two, in MR-bar

// Side of a value against the centre, counting it only beyond `sigmas`.
int sideBeyond(double value, const ChartLimits& limits, double sigmas) {
    const double d = value - limits.centre;
    if (d > sigmas * limits.sigma) return 1;
    if (d < -sigmas * limits.sigma) return -1;
    return 0;
}

// Of the last `window` values, whether at least `needed` lie beyond
// `sigmas` on the side of the last one (which must be one of them).
bool manyBeyond(const std::vector<double>& values, const ChartLimits& limits, std::size_t window, int needed,
                double sigmas, int* side) {
    if (values.size() < window) return false;
    const int s = sideBeyond(values.back(), limits, sigmas);
    if (s == 0) return false;
    int count = 0;
    for (std::size_t i = values.size() - window; i < values.size(); ++i)
        if (sideBeyond(values[i], limits, sigmas) == s) ++count;
    if (count < needed) return false;
    *side = s;
    return true;
}

}  // namespace

const char* RunRuleText(RunRule rule) {
    switch (rule) {
        case RunRule::None: return "";
        case RunRule::Beyond3Sigma: return "1 beyond 3 sigma";
        case RunRule::TwoOfThreeBeyond2Sigma: return "2 of 3 beyond 2 sigma";
        case RunRule::FourOfFiveBeyond1Sigma: return "4 of 5 beyond 1 sigma";
        case RunRule::EightOnOneSide: return "8 in a row on one side";
    }
    return "";
}

int ControlChart::signalCount() const {
    return static_cast<int>(
        std::count_if(points.begin(), points.end(), [](const ChartPoint& p) { return p.rule != RunRule::None; }));
}

std::optional<std::size_t> ControlChart::firstSignal() const {
    for (std::size_t i = 0; i < points.size(); ++i)
        if (points[i].rule != RunRule::None) return i;
    return std::nullopt;
}

ChartLimits LimitsOf(const std::vector<double>& values, std::size_t begin, std::size_t end, double resolution) {
    ChartLimits l;
    end = std::min(end, values.size());
    if (begin >= end) return l;
    l.baseline = static_cast<int>(end - begin);
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i) sum += values[i];
    l.centre = sum / l.baseline;
    double ranges = 0;
    for (std::size_t i = begin + 1; i < end; ++i) ranges += std::fabs(values[i] - values[i - 1]);
    l.mrBar = l.baseline > 1 ? ranges / (l.baseline - 1) : 0;
    l.mrBar = std::max(l.mrBar, resolution);
    l.sigma = l.mrBar / kD2;
    l.upper = l.centre + 3 * l.sigma;
    l.lower = l.centre - 3 * l.sigma;
    l.mrUpper = kD4 * l.mrBar;
    return l;
}

RunRule JudgeLast(const std::vector<double>& values, const ChartLimits& limits, int* side) {
    int s = 0;
    RunRule rule = RunRule::None;
    if (values.empty()) return rule;
    if (!(limits.sigma > 0)) {
        // No spread to judge against.
    } else if ((s = sideBeyond(values.back(), limits, 3)) != 0) {
        rule = RunRule::Beyond3Sigma;
    } else if (manyBeyond(values, limits, 3, 2, 2, &s)) {
        rule = RunRule::TwoOfThreeBeyond2Sigma;
    } else if (manyBeyond(values, limits, 5, 4, 1, &s)) {
        rule = RunRule::FourOfFiveBeyond1Sigma;
    } else if (values.size() >= 8) {
        s = sideBeyond(values.back(), limits, 0);
        int same = 0;
        for (std::size_t i = values.size() - 8; i < values.size(); ++i)
            if (s != 0 && sideBeyond(values[i], limits, 0) == s) ++same;
        if (same == 8) rule = RunRule::EightOnOneSide;
    }
    if (side != nullptr) *side = rule == RunRule::None ? 0 : s;
    return rule;
}

ControlChart BuildControlChart(const std::vector<double>& values, const ChartSettings& settings) {
    ControlChart chart;
    const std::size_t n = static_cast<std::size_t>(std::max(settings.radios, 2));
    const std::size_t minimum = static_cast<std::size_t>(ChartSettings::kMinBaseline);
    std::vector<double> seen;
    for (std::size_t i = 0; i < values.size(); ++i) {
        ChartPoint p;
        p.value = values[i];
        if (i > 0) p.movingRange = std::fabs(values[i] - values[i - 1]);
        // The values the limits of this point come from.
        std::size_t begin = 0, end = i;
        if (settings.limits == ChartSettings::Limits::FirstRadios) end = std::min(i, n);
        else begin = i > n ? i - n : 0;
        seen.push_back(values[i]);
        if (end - begin >= minimum) {
            p.limits = LimitsOf(values, begin, end, settings.resolution);
            p.rule = JudgeLast(seen, *p.limits, &p.side);
        }
        chart.points.push_back(p);
    }
    // The limits as they stand for the next radio.
    const std::size_t total = values.size();
    std::size_t begin = 0, end = total;
    if (settings.limits == ChartSettings::Limits::FirstRadios) end = std::min(total, n);
    else begin = total > n ? total - n : 0;
    if (end - begin >= minimum) chart.limits = LimitsOf(values, begin, end, settings.resolution);
    return chart;
}

std::optional<double> Cpk(const std::vector<double>& values, double low, double high) {
    if (values.size() < 2) return std::nullopt;
    double sum = 0;
    for (double v : values) sum += v;
    const double mean = sum / static_cast<double>(values.size());
    double squares = 0;
    for (double v : values) squares += (v - mean) * (v - mean);
    const double s = std::sqrt(squares / static_cast<double>(values.size() - 1));
    if (!(s > 0)) return std::nullopt;
    return std::min(high - mean, mean - low) / (3 * s);
}

}  // namespace varnel
