#include "align/AlignEngine.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include <nlohmann/json.hpp>

#include "data/ItemTable.h"
#include "lang/ItemNames.h"
#include "util/Csv.h"

namespace varnel {

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Frequency the keying buttons send: the receive table only for the CTCSS
// page's receive items; every other keying button sends the transmit
// frequency of the point.
bool keyingUsesReceiveFrequency(int item) {
    const TuningItem* entry = FindItem(item);
    return entry != nullptr && entry->page == Page::Ctcss && entry->keying == ItemKeying::Receive;
}

// Every step measured by the instrument needs one, with the step's
// measurement and set-up in its model.
Error checkInstrumentSteps(const Procedure& procedure, const Instrument* instrument, const InstrumentModel& model) {
    for (const ProcedureStep& step : procedure.steps) {
        if (step.radioMeasures()) continue;
        if (instrument == nullptr)
            return Error::make(ErrorCode::Instrument, "step \"" + step.name + "\" needs an instrument");
        if (!model.measurements.count(step.measure))
            return Error::make(ErrorCode::BadData, "the instrument model \"" + model.name + "\" has no measurement \"" +
                                                       step.measure + "\" (step \"" + step.name + "\")");
        if (!step.setup.empty() && !model.setups.count(step.setup))
            return Error::make(ErrorCode::BadData, "the instrument model \"" + model.name + "\" has no set-up \"" +
                                                       step.setup + "\" (step \"" + step.name + "\")");
    }
    return {};
}

// The result of a point before it runs: what the step asks of it.
PointResult newPointResult(const ProcedureStep& step, int stepIndex, int point) {
    PointResult result;
    result.stepIndex = stepIndex;
    result.step = step.name;
    result.item = step.item;
    result.band = step.band;
    result.point = point;
    result.measure = step.measure;
    result.target = step.target;
    result.tolerance = step.tolerance;
    result.unit = step.unit;
    return result;
}

// Letter case aside, whether `text` contains `part`.
bool containsNoCase(const std::string& text, const std::string& part) {
    auto lower = [](std::string v) {
        for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return v;
    };
    return lower(text).find(lower(part)) != std::string::npos;
}

// The code of a SCPI error queue entry ("-113,\"Undefined header\""; 0 says
// the queue is empty); nothing when the reply is not an entry at all.
std::optional<long> errorEntryCode(const std::string& entry) {
    const char* p = entry.c_str();
    while (*p == ' ') ++p;
    char* end = nullptr;
    const long code = std::strtol(p, &end, 10);
    if (end == p) return std::nullopt;
    return code;
}

// How far a reading lies beyond the target, counted in the direction the
// value moves it: above 0, the value is too high.
double excessOf(const ProcedureStep& step, double reading) {
    const double sign = step.raises ? 1.0 : -1.0;
    return (reading - step.target) * sign;
}

// The tries of one point that the next value is worked out from.
struct PointSearch {
    std::optional<AlignTry> below, above, previous, best;
};

// Between a value below the target and one above: where the straight line
// through their readings meets the target.
std::optional<int> interpolate(const ProcedureStep& step, const AlignTry& below, const AlignTry& above, int value,
                               std::string& note) {
    if (above.value - below.value <= 1) {
        note = "no value reaches the target within tolerance";
        return std::nullopt;
    }
    const double eb = excessOf(step, below.reading);
    const double ea = excessOf(step, above.reading);
    const double x = below.value + (-eb) * (above.value - below.value) / (ea - eb);
    int next = std::clamp(static_cast<int>(std::lround(x)), below.value + 1, above.value - 1);
    if (next == value) next = (below.value + above.value) / 2;
    return next;
}

// With tries on one side of the target only: a step towards it, as far as the
// slope of the last two tries suggests (the first step without one).
std::optional<int> stepTowards(const ProcedureStep& step, const std::optional<AlignTry>& previous, int value,
                               double e, std::string& note) {
    std::optional<double> slope;
    if (previous && previous->value != value) {
        const double s = (e - excessOf(step, previous->reading)) / (value - previous->value);
        if (s > 0) slope = s;
    }
    int next = value;
    if (slope) {
        const int limit = std::max(4 * std::abs(value - previous->value), step.firstStep);
        int move = static_cast<int>(std::lround(-e / *slope));
        if (move == 0) move = e < 0 ? 1 : -1;
        next = value + std::clamp(move, -limit, limit);
    } else {
        next = value + (e < 0 ? step.firstStep : -step.firstStep);
    }
    next = std::clamp(next, step.minValue, step.maxValue);
    if (next == value) {
        note = "the target lies beyond the value range";
        return std::nullopt;
    }
    return next;
}

// The value to try after `attempt` missed the target; nothing, with `note`
// saying why, when no other value can do better.
std::optional<int> nextValue(const ProcedureStep& step, PointSearch& search, const AlignTry& attempt,
                             std::string& note) {
    const int value = attempt.value;
    const double e = excessOf(step, attempt.reading);
    if (e < 0) {
        if (!search.below || value > search.below->value) search.below = attempt;
    } else {
        if (!search.above || value < search.above->value) search.above = attempt;
    }
    const std::optional<AlignTry>& below = search.below;
    const std::optional<AlignTry>& above = search.above;
    if (below && above && below->value < above->value) return interpolate(step, *below, *above, value, note);
    if (below && above) {
        // Readings contradict the direction (noise or a wrong "direction"):
        // bisect what is left of the range between them.
        const int next = (below->value + above->value) / 2;
        if (next == value) {
            note = "the readings do not follow the value in the stated direction";
            return std::nullopt;
        }
        return next;
    }
    return stepTowards(step, search.previous, value, e, note);
}

// The first correction after a miss at the predicted value: as far as the
// history's slope says the target is; nothing when the slope is unknown or
// goes the wrong way for the step, or moves nothing.
std::optional<int> correctedStep(const ProcedureStep& step, const AlignTry& attempt, std::optional<double> slope) {
    if (!slope || (*slope > 0) != step.raises) return std::nullopt;
    const int move = static_cast<int>(std::lround((step.target - attempt.reading) / *slope));
    const int next = std::clamp(attempt.value + move, step.minValue, step.maxValue);
    if (next == attempt.value) return std::nullopt;
    return next;
}

// Reading per value step on this radio: the last try against the nearest
// other one at least three values away (a closer pair is mostly noise), else
// against the farthest.
std::optional<double> measuredSlope(const std::vector<AlignTry>& trace) {
    if (trace.size() < 2) return std::nullopt;
    const AlignTry& last = trace.back();
    const AlignTry* partner = nullptr;
    const AlignTry* farthest = nullptr;
    for (std::size_t i = 0; i + 1 < trace.size(); ++i) {
        const int d = std::abs(trace[i].value - last.value);
        if (d == 0) continue;
        if (d >= 3 && (partner == nullptr || d < std::abs(partner->value - last.value))) partner = &trace[i];
        if (farthest == nullptr || d > std::abs(farthest->value - last.value)) farthest = &trace[i];
    }
    if (partner == nullptr) partner = farthest;
    if (partner == nullptr) return std::nullopt;
    return (last.reading - partner->reading) / (last.value - partner->value);
}

// A passing reading further from the target than this share of the
// tolerance is moved towards the target: once when the slope is known (this
// radio's tries or the history), else a probe of one value step first.
// Half the tolerance keeps the points of a batch capable (Cpk about 1.5 on
// the virtual line) for about 0.17 tries per point more than stopping at the
// first passing reading; a quarter costs 0.4 tries, three quarters leaves
// Cpk near 1.
constexpr double kCentreShare = 0.5;
constexpr int kCentringTries = 1;
constexpr int kCentringTriesWithProbe = 2;

bool slopeFits(const ProcedureStep& step, const std::optional<double>& slope) {
    return slope && *slope != 0 && std::isfinite(*slope) && (*slope > 0) == step.raises;
}

// The value that should bring a passing reading nearer its target: the
// reading's miss over the slope (this radio's from its tries, else the
// history's), rounded to the radio's step; without a slope, one value step
// towards the target. Nothing when the step is too coarse to get closer,
// the slope contradicts the step's direction, or the value was tried already.
std::optional<int> centringValue(const ProcedureStep& step, const std::vector<AlignTry>& trace,
                                 const AlignTry& attempt, std::optional<double> historySlope) {
    std::optional<double> slope = measuredSlope(trace);
    if (!slopeFits(step, slope)) slope = historySlope;
    long move = 0;
    if (slopeFits(step, slope)) {
        move = std::lround((step.target - attempt.reading) / *slope);
    } else if (trace.size() == 1) {
        move = ((step.target > attempt.reading) == step.raises) ? 1 : -1;
    }
    if (move == 0) return std::nullopt;
    const int next = std::clamp(attempt.value + static_cast<int>(std::clamp<long>(move, -64, 64)), step.minValue,
                                step.maxValue);
    for (const AlignTry& t : trace)
        if (t.value == next) return std::nullopt;
    return next;
}

// A point that did not pass: the note says why and names the closest try;
// not forced, the point goes back to the value it had.
Error giveUpPoint(AlignRadio& radio, const ProcedureStep& step, int point, std::uint32_t tx,
                  const std::optional<AlignTry>& best, PointResult& result) {
    if (result.note.empty()) result.note = "not within tolerance after " + std::to_string(result.tries) + " tries";
    if (best) {
        char text[96];
        std::snprintf(text, sizeof text, "; closest: value %d, reading %.3f", best->value, best->reading);
        result.note += text;
    }
    if (Error e = radio.setItem(step.item, align_action::kValueAdjusted, point, result.startValue, tx); !e.ok())
        return e;
    result.finalValue = result.startValue;
    result.reading.reset();
    return {};
}

}  // namespace

// Undoes the keying on every way out of a point.
class AlignEngine::KeyGuard {
public:
    KeyGuard(AlignRadio& radio, const std::function<void(bool, bool)>& notify) : radio_(radio), notify_(notify) {}
    ~KeyGuard() {
        try {
            (void)Release();
        } catch (...) {
            // Nothing more can be done for the radio here.
        }
    }
    KeyGuard(const KeyGuard&) = delete;
    KeyGuard& operator=(const KeyGuard&) = delete;

    Error Key(int item, bool receive, int point, std::uint32_t frequency) {
        item_ = item;
        receive_ = receive;
        point_ = point;
        frequency_ = frequency;
        keyed_ = true;  // armed before the command goes out: a lost reply still unkeys
        Error e = radio_.setItem(item, receive ? align_action::kReceiveOn : align_action::kTransmitOn, point,
                                 radio_.value(item, point), frequency);
        if (e.ok() && notify_) notify_(receive, true);
        return e;
    }
    Error Release() {
        if (!keyed_) return {};
        keyed_ = false;
        Error e = radio_.setItem(item_, receive_ ? align_action::kReceiveOff : align_action::kTransmitOff, point_,
                                 radio_.value(item_, point_), frequency_);
        if (e.ok() && notify_) notify_(receive_, false);
        return e;
    }

private:
    AlignRadio& radio_;
    const std::function<void(bool, bool)>& notify_;
    bool keyed_ = false;
    int item_ = 0;
    bool receive_ = false;
    int point_ = 0;
    std::uint32_t frequency_ = 0;
};

AlignEngine::AlignEngine(Procedure procedure, AlignRadio& radio, Instrument* instrument, InstrumentModel model)
    : procedure_(std::move(procedure)), radio_(radio), instrument_(instrument), model_(std::move(model)) {}

bool AlignEngine::stopping() const {
    return stop_.load() || (externalStop_ != nullptr && externalStop_->load());
}

Error AlignEngine::stopped() const { return Error::make(ErrorCode::Cancelled, "stopped by the operator"); }

Error AlignEngine::wait(int ms, AlignReport& report) {
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(ms);
    for (;;) {
        if (stopping()) return stopped();
        if (events_.idle) events_.idle();
        const auto now = Clock::now();
        if (now >= end) break;
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(10)));
    }
    report.settleSeconds += seconds(Clock::now() - start);
    return {};
}

Result<double> AlignEngine::measure(const ProcedureStep& step, int point, int value, AlignReport& report) {
    const std::uint32_t tx = radio_.frequency(step.band, point, false);
    lastSent_ = value;
    if (Error e = radio_.setItem(step.item, align_action::kValueAdjusted, point, value, tx); !e.ok()) return e;
    const int settle = step.settleMs >= 0 ? step.settleMs : model_.settleMs;
    Error last;
    // A reading that is not there yet (the carrier still coming up) is asked
    // for again after another settle time, twice at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        report.nominalSettleSeconds += settle / 1000.0;
        if (Error e = wait(settle, report); !e.ok()) return e;
        if (step.radioMeasures()) {
            Result<int> r = radio_.readBack(step.item, point, value, tx);
            if (!r) return r.error();
            return static_cast<double>(r.value());
        }
        const std::string& query = model_.measurements.at(step.measure).query;
        Result<std::string> reply = instrument_->query(query);
        ++report.queries;
        if (!reply) return reply.error().wrapped("cannot read " + step.measure);
        Result<double> number = ParseScpiNumber(reply.value());
        if (number) {
            double reading = number.value();
            // The fixture's loss between the radio and the instrument, added back.
            if (model_.measurements.at(step.measure).unit == "dBm") {
                const bool receive = step.keying == Keying::Receive;
                reading = pathLoss_.atRadio(reading, receive ? radio_.frequency(step.band, point, true) : tx);
            }
            // A reading no radio can give (no carrier seen yet, a meter
            // drifting off) is asked for again too, then blamed on the
            // instrument rather than taken as the radio's.
            last = model_.checkReading(step.measure, reading, instrument_->describe());
            if (last.ok()) return reading;
            continue;
        }
        last = number.error().wrapped("cannot read " + step.measure + " from \"" + query + "\"", instrument_->describe());
    }
    return last;
}

// The instrument for the point: its set-up on the frequency the radio will
// use (analyser on the transmit frequency, generator on the receive one),
// confirmed and checked in the error queue before the radio is keyed.
Error AlignEngine::setUpPoint(const ProcedureStep& step, std::uint32_t frequency) {
    if (step.setup.empty() || instrument_ == nullptr) return {};
    // The generator makes up for the fixture's loss on its way to the radio.
    const double level = step.levelDbm + pathLoss_.lossAtHz(frequency);
    for (const std::string& command : model_.setupCommands(step.setup, frequency, level)) {
        if (Error e = instrument_->send(command); !e.ok()) return e.wrap("cannot set up the instrument");
    }
    if (Error e = confirmInstrument("set-up \"" + step.setup + "\""); !e.ok()) return e;
    return checkErrorQueue("set-up \"" + step.setup + "\"");
}

Error AlignEngine::runPoint(const ProcedureStep& step, int point, PointResult& result, KeyGuard& guard) {
    result.startValue = radio_.value(step.item, point);
    result.finalValue = result.startValue;
    lastSent_ = result.startValue;
    Error e;
    try {
        e = convergePoint(step, point, result, guard);
    } catch (const std::exception& x) {
        e = Error::make(ErrorCode::Other, std::string("unexpected failure: ") + x.what());
    } catch (...) {
        e = Error::make(ErrorCode::Other, "unexpected failure");
    }
    if (e.ok()) e = guard.Release();
    if (!e.ok()) {
        result.pass = false;
        result.stopped = e.code() == ErrorCode::Cancelled;
        result.note = e.text();
        // The instrument's own account, unless it is the one that went silent.
        if (e.code() != ErrorCode::Instrument) result.note += errorQueueNote();
        putBack(step, point, result);
        return e;
    }
    return {};
}

// A point ended early goes back to the value it had before the run, while
// the radio is still keyed on it, as a point that failed does. What the
// result says is what the radio acknowledged.
void AlignEngine::putBack(const ProcedureStep& step, int point, PointResult& result) {
    result.reading.reset();
    if (lastSent_ == result.startValue && radio_.value(step.item, point) == result.startValue) return;
    const std::uint32_t tx = radio_.frequency(step.band, point, false);
    if (Error e = radio_.setItem(step.item, align_action::kValueAdjusted, point, result.startValue, tx); !e.ok()) {
        result.finalValue = radio_.value(step.item, point);
        result.note += "; the value " + std::to_string(result.startValue) + " could not be put back (" + e.text() +
                       "); the radio may hold " + std::to_string(lastSent_);
        return;
    }
    lastSent_ = result.startValue;
    result.finalValue = result.startValue;
    result.note += "; put back to " + std::to_string(result.startValue);
}

Error AlignEngine::convergePoint(const ProcedureStep& step, int point, PointResult& result, KeyGuard& guard) {
    if (stopping()) return stopped();
    const bool receive = step.keying == Keying::Receive;
    const std::uint32_t tx = radio_.frequency(step.band, point, false);
    const std::uint32_t rx = radio_.frequency(step.band, point, true);
    if (Error e = setUpPoint(step, receive ? rx : tx); !e.ok()) return e;
    // The point selected as its double-click does (keying off), then keyed.
    const int idle = receive ? align_action::kReceiveOff : align_action::kTransmitOff;
    if (Error e = radio_.setItem(step.item, idle, point, result.startValue, receive ? rx : tx); !e.ok()) return e;
    const std::uint32_t keyFrequency = keyingUsesReceiveFrequency(step.item) ? rx : tx;
    if (Error e = guard.Key(step.item, receive, point, keyFrequency); !e.ok()) return e;

    Prediction prediction;
    if (predictor_) prediction = predictor_->predict(step.item, point, ownOffsets_);
    result.historySize = prediction.historySize;
    result.predictedValue = prediction.value;
    result.predictedSlope = prediction.slope;

    PointSearch search;
    std::optional<AlignTry> inside;  // the passing try closest to the target so far
    int centring = 0;                // tries spent moving a passing value towards the target
    int centringLimit = kCentringTries;
    int value = std::clamp(prediction.value.value_or(result.startValue), step.minValue, step.maxValue);
    while (result.tries < step.maxTries) {
        if (stopping()) return stopped();
        Result<double> reading = measure(step, point, value, *report_);
        if (!reading) return reading.error();
        ++result.tries;
        const AlignTry attempt{value, reading.value()};
        result.trace.push_back(attempt);
        if (events_.tried) events_.tried(attempt);
        if (!search.best || std::fabs(attempt.reading - step.target) < std::fabs(search.best->reading - step.target))
            search.best = attempt;
        // Within tolerance the point is not done until it is close to the
        // target, or no value the radio can take gets closer: the closest
        // passing try is kept.
        const double miss = std::fabs(attempt.reading - step.target);
        if (miss <= step.tolerance && (!inside || miss < std::fabs(inside->reading - step.target))) inside = attempt;
        if (inside) {
            std::optional<int> closer;
            const bool slopeKnown = slopeFits(step, prediction.slope) || result.trace.size() > 1;
            if (centring == 0) centringLimit = slopeKnown ? kCentringTries : kCentringTriesWithProbe;
            if (miss > step.tolerance * kCentreShare && centring < centringLimit && result.tries < step.maxTries)
                closer = centringValue(step, result.trace, attempt, prediction.slope);
            if (!closer) {
                if (inside->value != value) {
                    // Back to the closest value; its reading stands for it.
                    lastSent_ = inside->value;
                    if (Error e = radio_.setItem(step.item, align_action::kValueAdjusted, point, inside->value, tx);
                        !e.ok())
                        return e;
                }
                result.pass = true;
                result.finalValue = inside->value;
                result.reading = inside->reading;
                break;
            }
            ++centring;
            search.previous = attempt;
            value = *closer;
            continue;
        }
        std::optional<int> next = nextValue(step, search, attempt, result.note);
        if (!next) break;
        if (result.tries == 1 && prediction.value) {
            if (std::optional<int> corrected = correctedStep(step, attempt, prediction.slope)) next = corrected;
        }
        search.previous = attempt;
        value = *next;
    }
    result.slope = measuredSlope(result.trace);
    if (!result.slope) result.slope = prediction.slope;
    if (result.pass && prediction.base) ownOffsets_.push_back(result.finalValue - *prediction.base);
    if (result.pass && predictor_) {
        result.deviation = predictor_->deviationOf(step.item, point, result.finalValue);
        result.standsOut = result.deviation && Predictor::standsOut(*result.deviation);
    }
    if (!result.pass) {
        if (Error e = giveUpPoint(radio_, step, point, tx, search.best, result); !e.ok()) return e;
        lastSent_ = result.startValue;
        result.note += errorQueueNote();
    }
    return {};
}

// ---- the instrument ------------------------------------------------------------

Error AlignEngine::confirmInstrument(const std::string& what) {
    if (model_.confirm.empty()) return {};
    Result<std::string> reply = instrument_->query(model_.confirm);
    ++report_->queries;
    if (!reply) return reply.error().wrapped("the instrument did not confirm its " + what);
    Result<double> done = ParseScpiNumber(reply.value());
    if (!done || done.value() != 1.0)
        return Error::make(ErrorCode::Instrument, "the instrument answers \"" + reply.value() + "\" to \"" +
                                                      model_.confirm + "\" after its " + what + " (1 expected)",
                           instrument_->describe());
    return {};
}

// The entries of the error queue, oldest first, until it says it is empty
// (at most 16: an instrument whose queue never empties is not waited for).
Result<std::vector<std::string>> AlignEngine::readErrorQueue() {
    std::vector<std::string> entries;
    if (instrument_ == nullptr || model_.errorQuery.empty()) return entries;
    for (int i = 0; i < 16; ++i) {
        Result<std::string> reply = instrument_->query(model_.errorQuery);
        ++report_->queries;
        if (!reply) return reply.error().wrapped("cannot read the instrument's error queue");
        const std::optional<long> code = errorEntryCode(reply.value());
        if (code && *code == 0) break;
        entries.push_back(reply.value());
        if (!code) break;  // not an error queue: asking again tells nothing more
    }
    return entries;
}

Error AlignEngine::checkErrorQueue(const std::string& what) {
    Result<std::vector<std::string>> entries = readErrorQueue();
    if (!entries) return entries.error();
    if (entries->empty()) return {};
    std::string text;
    for (const std::string& entry : entries.value()) text += (text.empty() ? "" : "; ") + entry;
    return Error::make(ErrorCode::Instrument, "the instrument reports errors after its " + what + ": " + text,
                       instrument_->describe());
}

// "; the instrument reports: ..." when its error queue holds entries.
std::string AlignEngine::errorQueueNote() {
    if (!instrumentSpokenTo_) return {};
    Result<std::vector<std::string>> entries = readErrorQueue();
    if (!entries || entries->empty()) return {};
    std::string text = "; the instrument reports: ";
    for (std::size_t i = 0; i < entries->size(); ++i) text += (i == 0 ? "" : "; ") + (*entries)[i];
    return text;
}

// Identification, reset, confirmation and an empty error queue.
Error AlignEngine::setUpInstrument(AlignReport& report) {
    instrumentSpokenTo_ = true;
    if (!model_.identify.empty()) {
        Result<std::string> id = instrument_->query(model_.identify);
        ++report.queries;
        if (!id) return id.error().wrapped("cannot identify the instrument");
        report.identity = id.value();
        if (!model_.identity.empty() && !containsNoCase(id.value(), model_.identity))
            return Error::make(ErrorCode::Mismatch,
                               "the instrument answers \"" + id.value() + "\" to \"" + model_.identify +
                                   "\"; the instrument model \"" + model_.name + "\" expects \"" + model_.identity +
                                   "\"",
                               instrument_->describe());
    }
    for (const std::string& command : model_.reset)
        if (Error e = instrument_->send(command); !e.ok()) return e.wrap("cannot reset the instrument");
    if (Error e = confirmInstrument("reset"); !e.ok()) return e;
    return checkErrorQueue("reset");
}

// The model's finishing commands, whatever ended the run; a failure here
// changes nothing of the outcome.
void AlignEngine::finishInstrument() {
    if (instrument_ == nullptr || !instrumentSpokenTo_) return;
    for (const std::string& command : model_.finish) {
        if (Error e = instrument_->send(command); !e.ok()) break;
    }
}

// The item save of a step's points that are still open (all of the step's
// points, or the one point of a step saved point by point), awaited; then
// each of them is settled with what the radio keeps. A step whose points
// all went back to their values needs no save: the radio's store already
// holds them. Runs also when the run is being stopped, so that the points
// that passed are not lost when the radio leaves tuner mode.
Error AlignEngine::saveStep(const ProcedureStep& step, std::vector<PointResult*> points) {
    const bool anyPassed =
        std::any_of(points.begin(), points.end(), [](const PointResult* p) { return p->pass; });
    Error saved;
    const bool saving = anyPassed && step.save != SaveWhen::Never;
    if (saving) {
        try {
            saved = radio_.save(step.item);
        } catch (const std::exception& x) {
            saved = Error::make(ErrorCode::Other, std::string("unexpected failure: ") + x.what());
        }
        if (!saved.ok()) saved.wrap("the item was not saved in the radio");
        if (saveSink_) saveSink_(step.name, step.item, saved);
    }
    for (PointResult* p : points) {
        if (p->kept != PointKept::Pending) continue;
        if (!p->pass) {
            p->kept = PointKept::PutBack;
            p->storedValue = p->startValue;
        } else if (step.save == SaveWhen::Never) {
            p->kept = PointKept::NotSaved;
            p->storedValue = p->startValue;
            p->note += std::string(p->note.empty() ? "" : "; ") + "not saved (the procedure saves nothing): the radio runs " +
                       std::to_string(p->finalValue) + " until it leaves tuner mode and stores " +
                       std::to_string(p->startValue);
        } else if (saved.ok()) {
            p->kept = PointKept::Stored;
            p->storedValue = p->finalValue;
        } else {
            // Reached, but not known to be in the radio's store: not a pass.
            p->kept = PointKept::NotStored;
            p->reachedValue = p->finalValue;
            p->storedValue = p->startValue;
            p->pass = false;
            p->note += std::string(p->note.empty() ? "" : "; ") + "reached " + std::to_string(p->finalValue) +
                       ", but the radio did not confirm the save (" + saved.text() + "); it stores " +
                       std::to_string(p->startValue) + " (" + std::to_string(p->finalValue) +
                       " only if the save reached it)";
            p->finalValue = p->startValue;
        }
    }
    return saved;
}

// A point's outcome is final: recorded, and shown as such.
void AlignEngine::settle(PointResult& point) {
    if (recordSink_) recordSink_(point);
    if (events_.pointSettled) events_.pointSettled(point);
}

Error AlignEngine::run(AlignReport& report) {
    if (Error e = checkInstrumentSteps(procedure_, instrument_, model_); !e.ok()) return e;
    if (instrument_ != nullptr) {
        if (Error e = setUpInstrument(report); !e.ok()) return e;
    }
    if (Error e = radio_.prepare(); !e.ok()) return e;
    if (procedure_.largeModel && *procedure_.largeModel != radio_.largeModel())
        return Error::make(ErrorCode::Mismatch, std::string("the procedure is written for the ") +
                                                    (*procedure_.largeModel ? "large" : "small") +
                                                    " model, the radio is the other one");
    // The points after the one where the run ended: listed, recorded and
    // counted as not reached.
    const auto notReachedFrom = [&](std::size_t s0, std::size_t k0) {
        for (std::size_t s = s0; s < procedure_.steps.size(); ++s) {
            const ProcedureStep& step = procedure_.steps[s];
            for (std::size_t k = s == s0 ? k0 : 0; k < step.points.size(); ++k) {
                PointResult result = newPointResult(step, static_cast<int>(s), step.points[k]);
                result.startValue = result.finalValue = result.storedValue = radio_.value(step.item, step.points[k]);
                result.kept = PointKept::NotReached;
                result.note = "not reached: the run ended before this point";
                report.notReached.push_back(result);
                settle(report.notReached.back());
            }
        }
    };
    for (std::size_t s = 0; s < procedure_.steps.size(); ++s) {
        const ProcedureStep& step = procedure_.steps[s];
        ownOffsets_.clear();
        const std::size_t first = report.points.size();
        const auto openPoints = [&] {
            std::vector<PointResult*> open;
            for (std::size_t i = first; i < report.points.size(); ++i) open.push_back(&report.points[i]);
            return open;
        };
        for (std::size_t k = 0; k < step.points.size(); ++k) {
            PointResult result = newPointResult(step, static_cast<int>(s), step.points[k]);
            if (events_.pointStarted) events_.pointStarted(static_cast<int>(s), static_cast<int>(k), result);
            Error e;
            {
                KeyGuard guard(radio_, events_.keying);
                e = runPoint(step, result.point, result, guard);
            }  // unkeyed here, whatever happened
            // Recorded too when the run ends here: the records show where and how.
            if (!e.ok()) result.endedRun = true;
            report.points.push_back(result);
            if (events_.pointDone) events_.pointDone(report.points.back());
            if (step.save == SaveWhen::Point || !e.ok()) {
                // The point's save, or, when the run ends here, the save of the
                // step's points that passed before it.
                std::vector<PointResult*> open =
                    step.save == SaveWhen::Point ? std::vector<PointResult*>{&report.points.back()} : openPoints();
                Error saved = saveStep(step, open);
                for (PointResult* p : open) settle(*p);
                if (e.ok()) e = saved;
            }
            if (!e.ok()) {
                notReachedFrom(s, k + 1);
                return e;
            }
        }
        if (step.save == SaveWhen::Point) continue;  // each point was saved and settled
        std::vector<PointResult*> open = openPoints();
        Error saved = saveStep(step, open);
        for (PointResult* p : open) settle(*p);
        if (!saved.ok()) {
            notReachedFrom(s + 1, 0);
            return saved;
        }
    }
    return {};
}

AlignReport AlignEngine::run() {
    AlignReport report;
    report.procedure = procedure_.name;
    report.instrument = instrument_ != nullptr ? instrument_->describe() : std::string("none");
    report_ = &report;
    stop_ = false;
    instrumentSpokenTo_ = false;
    const auto start = Clock::now();
    const std::uint64_t exchangesBefore = radio_.Exchanges();
    try {
        report.error = run(report);
    } catch (const std::exception& e) {
        report.error = Error::make(ErrorCode::Other, std::string("unexpected failure: ") + e.what());
    } catch (...) {
        report.error = Error::make(ErrorCode::Other, "unexpected failure");
    }
    try {
        finishInstrument();
    } catch (...) {
        // The outcome stands; the instrument is left as it is.
    }
    report.stopped = report.error.code() == ErrorCode::Cancelled;
    if (!report.error.ok()) report.error.wrap("alignment ended early");
    report.exchanges = radio_.Exchanges() - exchangesBefore;
    report.seconds = seconds(Clock::now() - start);
    report_ = nullptr;
    return report;
}

bool MarginalPass(const PointResult& p) {
    return p.pass && p.reading && std::fabs(*p.reading - p.target) > 0.8 * p.tolerance;
}

const char* PointResult::keptText() const {
    switch (kept) {
        case PointKept::Pending: return "not saved yet";
        case PointKept::Stored: return "stored";
        case PointKept::NotStored: return "not stored";
        case PointKept::PutBack: return "put back";
        case PointKept::NotSaved: return "not saved";
        case PointKept::NotReached: return "not reached";
    }
    return "";
}

PointCounts AlignReport::counts() const {
    PointCounts c;
    for (const PointResult& p : points) {
        if (p.stopped) ++c.stopped;
        else if (!p.pass || !p.keptByRadio()) ++c.failed;
        else if (MarginalPass(p)) ++c.marginal;
        else ++c.passed;
    }
    c.notReached = static_cast<int>(notReached.size());
    return c;
}

int AlignReport::passed() const {
    const PointCounts c = counts();
    return c.passed + c.marginal;
}

int AlignReport::failed() const { return counts().failed; }

bool AlignReport::outlier() const {
    return std::any_of(points.begin(), points.end(), [](const PointResult& p) { return p.standsOut; });
}

std::string AlignReport::toJson() const {
    try {
        return jsonOrThrow();
    } catch (const std::exception& e) {
        // Not expected once every text is replaced where it is not UTF-8;
        // the report still says how the run went.
        nlohmann::ordered_json j;
        j["procedure"] = nullptr;
        j["complete"] = complete();
        j["stopped"] = stopped;
        j.update(PointCountsJson(counts()));
        j["error"] = std::string("the report could not be written in full: ") + e.what();
        return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
}

nlohmann::ordered_json PointCountsJson(const PointCounts& c) {
    nlohmann::ordered_json j;
    j["passed"] = c.passed;
    j["marginal"] = c.marginal;
    j["failed"] = c.failed;
    j["stopped_points"] = c.stopped;
    j["not_reached"] = c.notReached;
    j["point_count"] = c.total();
    return j;
}

// One point as the JSON report and the line's progress events show it.
nlohmann::ordered_json AlignPointJson(const PointResult& p) {
    const auto rounded = [](double v, double scale) { return std::round(v * scale) / scale; };
    nlohmann::ordered_json o;
    o["step"] = p.step;
    o["item"] = p.item;
    o["band"] = p.band;
    o["point"] = p.point;
    o["measure"] = p.measure;
    o["target"] = p.target;
    o["tolerance"] = p.tolerance;
    o["unit"] = p.unit;
    o["start_value"] = p.startValue;
    o["final_value"] = p.finalValue;
    if (p.reading) o["reading"] = std::round(*p.reading * 1000) / 1000;
    else o["reading"] = nullptr;
    o["tries"] = p.tries;
    o["result"] = p.outcome();
    if (MarginalPass(p) && p.keptByRadio()) o["marginal"] = true;
    o["kept"] = p.keptText();
    o["stored_value"] = p.storedValue;
    if (p.reachedValue) o["reached_value"] = *p.reachedValue;
    if (!p.note.empty()) o["note"] = p.note;
    if (p.historySize > 0) {
        nlohmann::ordered_json pred;
        pred["history"] = p.historySize;
        if (p.predictedValue) pred["value"] = *p.predictedValue;
        pred["slope"] = p.predictedSlope ? nlohmann::ordered_json(rounded(*p.predictedSlope, 1e6)) : nullptr;
        o["prediction"] = pred;
    } else {
        o["prediction"] = nullptr;
    }
    if (p.slope) o["slope"] = rounded(*p.slope, 1e6);
    if (p.deviation) o["deviations"] = rounded(p.deviation->deviations, 100);
    return o;
}

std::string AlignReport::jsonOrThrow() const {
    nlohmann::ordered_json j;
    j["procedure"] = procedure;
    j["instrument"] = instrument;
    if (!identity.empty()) j["instrument_identity"] = identity;
    j["complete"] = complete();
    j["stopped"] = stopped;
    if (!error.ok()) j["error"] = error.text();
    j.update(PointCountsJson(counts()));
    j["seconds"] = std::round(seconds * 1000) / 1000;
    j["exchanges"] = exchanges;
    j["instrument_queries"] = queries;
    j["settle_seconds"] = std::round(settleSeconds * 1000) / 1000;
    j["nominal_settle_seconds"] = std::round(nominalSettleSeconds * 1000) / 1000;
    j["outlier"] = outlier();
    nlohmann::ordered_json standing = nlohmann::ordered_json::array();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    const auto rounded = [](double v, double scale) { return std::round(v * scale) / scale; };
    for (const PointResult& p : points) {
        nlohmann::ordered_json o = AlignPointJson(p);
        if (p.standsOut) {
            o["stands_out"] = true;
            nlohmann::ordered_json s;
            s["step"] = p.step;
            s["item"] = p.item;
            s["point"] = p.point;
            s["final_value"] = p.finalValue;
            s["history_median"] = p.deviation->median;
            s["deviations"] = rounded(p.deviation->deviations, 100);
            standing.push_back(s);
        }
        list.push_back(o);
    }
    for (const PointResult& p : notReached) list.push_back(AlignPointJson(p));
    j["outlier_points"] = standing;
    j["points"] = list;
    // Instrument replies, file names and notes may carry bytes that are not
    // UTF-8: U+FFFD stands in for them.
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string AlignReport::toCsv() const {
    // The item and the band by name (as the records window names them) after
    // the columns that have always been there.
    std::string out =
        "step,item,band,point,measure,target,tolerance,unit,start_value,final_value,reading,tries,result,note,"
        "item_name,band_name\n";
    char number[64];
    std::vector<const PointResult*> all;
    for (const PointResult& p : points) all.push_back(&p);
    for (const PointResult& p : notReached) all.push_back(&p);
    for (const PointResult* q : all) {
        const PointResult& p = *q;
        out += CsvField(p.step) + "," + std::to_string(p.item) + "," + std::to_string(p.band) + "," +
               std::to_string(p.point) + "," + CsvField(p.measure) + ",";
        std::snprintf(number, sizeof number, "%g,%g,", p.target, p.tolerance);
        out += number;
        out += CsvField(p.unit) + "," + std::to_string(p.startValue) + "," + std::to_string(p.finalValue) + ",";
        if (p.reading) {
            std::snprintf(number, sizeof number, "%.3f", *p.reading);
            out += number;
        }
        out += "," + std::to_string(p.tries) + "," + p.outcome() + "," + CsvField(p.note) + "," +
               CsvField(ItemCaption(p.item)) + "," + CsvField(BandCaption(p.band)) + "\n";
    }
    return out;
}

}  // namespace varnel
