#include "align/Predictor.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace varnel {

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    const double upper = values[mid];
    if (values.size() % 2 == 1) return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

Predictor::Predictor(const std::vector<HistoryEntry>& entries, PredictorSettings settings) {
    // Newest first, one entry per radio and point, `window` radios at most.
    std::map<std::pair<int, int>, std::set<std::string>> seen;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const std::pair<int, int> key{it->item, it->point};
        std::set<std::string>& radios = seen[key];
        if (radios.size() >= settings.window || !radios.insert(it->radio).second) continue;
        PointHistory& h = points_[key];
        h.values.push_back(it->finalValue);
        if (it->slope && std::isfinite(*it->slope) && *it->slope != 0) h.slopes.push_back(*it->slope);
    }
}

Prediction Predictor::predict(int item, int point, const std::vector<int>& ownOffsets) const {
    Prediction p;
    const auto found = points_.find({item, point});
    if (found == points_.end() || found->second.values.empty()) return p;
    const PointHistory& h = found->second;
    p.historySize = static_cast<int>(h.values.size());
    const double median = Median(std::vector<double>(h.values.begin(), h.values.end()));
    p.base = static_cast<int>(std::lround(median));
    double offset = 0;
    if (!ownOffsets.empty()) offset = Median(std::vector<double>(ownOffsets.begin(), ownOffsets.end()));
    p.value = static_cast<int>(std::lround(median + offset));
    if (!h.slopes.empty()) p.slope = Median(h.slopes);
    return p;
}

std::optional<Deviation> Predictor::deviationOf(int item, int point, int finalValue) const {
    const auto found = points_.find({item, point});
    if (found == points_.end() || found->second.values.empty()) return std::nullopt;
    const std::vector<double> values(found->second.values.begin(), found->second.values.end());
    Deviation d;
    d.historySize = static_cast<int>(values.size());
    d.median = Median(values);
    std::vector<double> spread;
    for (double v : values) spread.push_back(std::fabs(v - d.median));
    // A history of identical values would make every other value stand out:
    // one value step is the least spread there is.
    d.scale = std::max(1.4826 * Median(spread), 1.0);
    d.deviations = (finalValue - d.median) / d.scale;
    return d;
}

bool Predictor::standsOut(const Deviation& d) {
    return d.historySize >= kOutlierHistory && std::fabs(d.deviations) > kOutlierDeviations;
}

}  // namespace varnel
