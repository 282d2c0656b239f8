// Where a point of automatic alignment should start, learnt from the radios
// of the same model and firmware aligned before.
//
// Radios of one model come off the line close to each other: the final
// value of a point on the last radios is a good first guess for the next
// one, and the reading per value step (the slope) seen on them tells how far
// to move when the guess misses. A radio's own deviation from the others
// tends to be shared by the points of one step (a power amplifier that is a
// little strong is strong on every frequency), so the guess for a point is
// corrected by what this radio showed on the earlier points of the step.
//
// Pure logic: the history comes in as a list of earlier results (see
// AlignHistory.h for the one the calibration records give); nothing here
// talks to a radio, an instrument or a store.
//
// The same history says when a radio stands out: a final value further
// from the history's median than kOutlierDeviations robust deviations
// (1.4826 times the median absolute deviation, at least one value step) on a
// point with at least kOutlierHistory earlier radios.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varnel {

// One point of one earlier radio that passed.
struct HistoryEntry {
    std::string radio;            // what tells radios apart (the records' session)
    int item = 0;                 // item code (it names the band)
    int point = 0;                // 1-based
    int finalValue = 0;
    std::optional<double> slope;  // reading per value step seen on that radio
};

struct PredictorSettings {
    std::size_t window = 9;       // the last N radios that passed the point
};

// What the predictor offers for one point.
struct Prediction {
    int historySize = 0;             // earlier radios behind it (0: none, align as without history)
    std::optional<int> value;        // where to measure first
    std::optional<int> base;         // the history's median before this radio's own correction
    std::optional<double> slope;     // reading per value step, the history's median
};

// How far one final value lies from the history of its point.
struct Deviation {
    int historySize = 0;
    double median = 0;
    double scale = 0;       // robust standard deviation, value steps
    double deviations = 0;  // (value - median) / scale, signed
};

inline constexpr double kOutlierDeviations = 4.0;
inline constexpr int kOutlierHistory = 5;

class Predictor {
public:
    Predictor() = default;
    // `entries` oldest first; the last `settings.window` radios of each point count.
    explicit Predictor(const std::vector<HistoryEntry>& entries, PredictorSettings settings = {});

    bool empty() const { return points_.empty(); }

    // The start for `point` of `item`. `ownOffsets` are this radio's final
    // values minus the history's median on the points of the same step
    // aligned so far; their median moves the guess.
    Prediction predict(int item, int point, const std::vector<int>& ownOffsets = {}) const;

    // How far `finalValue` lies from the history; nothing without enough history.
    std::optional<Deviation> deviationOf(int item, int point, int finalValue) const;
    // Enough history, and further from its median than kOutlierDeviations.
    static bool standsOut(const Deviation& d);

private:
    struct PointHistory {
        std::vector<int> values;     // final values, the last `window` radios
        std::vector<double> slopes;  // their slopes, where known
    };
    std::map<std::pair<int, int>, PointHistory> points_;
};

// The median of a list (the mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

}  // namespace varnel
