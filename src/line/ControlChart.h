// Individuals and moving-range (I-MR) control charts over the radios of a
// line, the usual run rules, and the process capability (Cpk) of a point.
//
// A chart holds one value per radio, oldest first. Its limits come from the
// first N values of a stable run (Limits::FirstRadios, N = `radios`) or
// from a window of the N values before each point (Limits::LastRadios):
//   centre  = mean of the values
//   MR-bar  = mean of their moving ranges |x[i] - x[i-1]|
//   sigma   = MR-bar / 1.128 (d2 for ranges of two)
//   UCL/LCL = centre +/- 3 sigma, MR UCL = 3.267 MR-bar
// While fewer than N values are there, a point is judged against the limits
// of all the values before it (provisional limits), from kMinBaseline values
// on; earlier points are shown but not judged.
//
// Run rules, judged at each point against its limits (the first that holds
// is the point's signal):
//   1  the point beyond 3 sigma
//   2  2 of the last 3 points beyond 2 sigma on the same side (the point one of them)
//   3  4 of the last 5 points beyond 1 sigma on the same side (the point one of them)
//   4  the last 8 points on the same side of the centre
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace varnel {

enum class RunRule {
    None = 0,
    Beyond3Sigma = 1,
    TwoOfThreeBeyond2Sigma = 2,
    FourOfFiveBeyond1Sigma = 3,
    EightOnOneSide = 4,
};

// "1 beyond 3 sigma", "2 of 3 beyond 2 sigma", "4 of 5 beyond 1 sigma",
// "8 in a row on one side", "" for None.
const char* RunRuleText(RunRule rule);

struct ChartSettings {
    enum class Limits { FirstRadios, LastRadios };
    Limits limits = Limits::FirstRadios;
    int radios = 20;              // N
    double resolution = 0;        // the smallest step a value takes: MR-bar is never below it
    static constexpr int kMinBaseline = 8;
};

struct ChartLimits {
    int baseline = 0;  // values the limits come from
    double centre = 0;
    double mrBar = 0;
    double sigma = 0;
    double upper = 0;  // centre + 3 sigma
    double lower = 0;  // centre - 3 sigma
    double mrUpper = 0;
};

struct ChartPoint {
    double value = 0;
    std::optional<double> movingRange;  // none for the first point
    std::optional<ChartLimits> limits;  // what the point is judged against; none: too few values before it
    RunRule rule = RunRule::None;
    int side = 0;                       // the side of the signal: +1 above the centre, -1 below
};

struct ControlChart {
    std::vector<ChartPoint> points;
    std::optional<ChartLimits> limits;  // the chart's limits now (for showing it)
    int signalCount() const;
    // The first point with a signal, if any.
    std::optional<std::size_t> firstSignal() const;
};

// The limits of values[begin, end); resolution as in ChartSettings.
ChartLimits LimitsOf(const std::vector<double>& values, std::size_t begin, std::size_t end, double resolution = 0);

ControlChart BuildControlChart(const std::vector<double>& values, const ChartSettings& settings = {});

// The run rule that `values` (oldest first) break at their last point
// against `limits`, and on which side.
RunRule JudgeLast(const std::vector<double>& values, const ChartLimits& limits, int* side = nullptr);

// Cpk = min(high - mean, mean - low) / (3 s) with s the sample standard
// deviation; nothing with fewer than two values or no spread.
std::optional<double> Cpk(const std::vector<double>& values, double low, double high);

}  // namespace varnel
