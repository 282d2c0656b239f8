// Automatic alignment: for every step and point of a procedure the engine
// does what an operator does on a tuning page with an instrument beside the
// radio. It sets the instrument up for the point, selects the point, keys
// the radio, moves the value with live-sets (action 5) until the reading is
// on target, saves the item and unkeys.
//
// Convergence: the first reading is taken at the value the radio already
// has. Until the target is bracketed the next value comes from the slope of
// the last two readings (the first move is the step's "first_step" in the
// right direction); once a value below and one above the target are known,
// the next value is the secant between them, falling back to bisection; the
// value never leaves the step's range. A point that is not within tolerance
// after "max_tries" readings, or whose bracket has closed to neighbouring
// values, or whose target lies beyond the range, fails: its value is put
// back to where it was and the failure is reported, never forced. A point
// ended early (Stop, an instrument or radio failure, an exception) is put
// back the same way before the radio is unkeyed; the report and the records
// say whether the radio acknowledged the value put back.
//
// The instrument is identified first ("identify", checked against the
// model's "identity"), reset, and its set-ups are confirmed ("confirm") and
// followed by a read of its error queue ("error_query"); an entry there ends
// the run before the radio is keyed on a wrong set-up. The queue is read
// again on every failure and its entries go into the failure's text. The
// model's finishing commands run on every way out once the instrument has
// been spoken to.
//
// With a history of earlier radios (SetPredictor) a point starts where the
// predictor says instead of at the value the radio holds, and the first
// miss is corrected with the history's slope; what follows is the search
// above, with the tries made so far. Without history (the first radio of a
// model, or history switched off) every point runs as described above.
//
// A fixture's path loss (SetPathLoss) lies between the radio and the
// instrument: every reading in dBm gets the loss at the point's frequency
// added back (what the radio delivers), and a receive set-up's generator
// level is raised by it, so that the radio gets the step's level. Readings
// in other units (Hz, V) and the radio's own read-backs are taken as they
// are.
//
// The transmitter is never left keyed: whatever ends a point (the target
// reached, a failure, Stop, a silent instrument, a lost radio, an exception)
// the keying is undone with the transmit-off (action 1) or receive-off
// (action 3) of the tuning window's keying buttons before Run returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "align/AlignRadio.h"
#include "align/Predictor.h"
#include "align/Procedure.h"
#include "instrument/Instrument.h"
#include "instrument/InstrumentModel.h"
#include "line/LineSettings.h"
#include "util/Error.h"

namespace varnel {

struct AlignTry {
    int value = 0;
    double reading = 0;
};

// What became of a point's value in the radio once its step is over.
enum class PointKept {
    Pending,     // the point's save is still to come
    Stored,      // the item save that carries the value was acknowledged
    NotStored,   // the save was not acknowledged: the value may not be in the radio's store
    PutBack,     // the value went back to where it was (not within tolerance, stopped, a failure)
    NotSaved,    // the procedure saves nothing: the radio runs the value until it leaves tuner mode
    NotReached,  // the run ended before it came to this point
};

struct PointResult {
    int stepIndex = 0;
    std::string step;
    int item = 0;
    int band = 0;
    int point = 0;
    std::string measure;
    double target = 0;
    double tolerance = 0;
    std::string unit;
    int startValue = 0;
    int finalValue = 0;
    std::optional<double> reading;  // the reading at the final value
    int tries = 0;
    bool pass = false;
    bool stopped = false;           // the operator stopped the run at this point
    bool endedRun = false;          // the run ended at this point (stopped, or a failure)
    std::string note;               // why a point failed
    std::vector<AlignTry> trace;
    // What the history of earlier radios offered (historySize 0: nothing).
    int historySize = 0;
    std::optional<int> predictedValue;
    std::optional<double> predictedSlope;
    // Reading per value step on this radio (from its tries), else the history's.
    std::optional<double> slope;
    // How far the final value lies from the history (enough history only).
    std::optional<Deviation> deviation;
    bool standsOut = false;         // further from the history than kOutlierDeviations
    // What the radio keeps: the value it stores after leaving tuner mode, as
    // far as its acknowledgements tell, and how it came to be there.
    PointKept kept = PointKept::Pending;
    int storedValue = 0;
    // The value the search had reached when it passed, also when its save
    // was not acknowledged (finalValue then names what the radio stores).
    std::optional<int> reachedValue;

    bool reached() const { return kept != PointKept::NotReached; }
    // Passed, and its value is in the radio's store (or the procedure keeps it live).
    bool keptByRadio() const { return pass && (kept == PointKept::Stored || kept == PointKept::NotSaved); }
    // "pass", "fail", "stopped", "not-stored" or "not-reached", as the report
    // and the records say it.
    const char* outcome() const {
        if (kept == PointKept::NotReached) return "not-reached";
        if (kept == PointKept::NotStored) return "not-stored";
        return pass ? "pass" : stopped ? "stopped" : "fail";
    }
    // What the radio keeps, in words ("stored", "not stored", "put back", ...).
    const char* keptText() const;
};

// The points of a run by outcome: each point is in exactly one of them.
struct PointCounts {
    int passed = 0;      // within the outer fifth of the tolerance or better, and kept
    int marginal = 0;    // passed in the outer fifth of the tolerance, and kept
    int failed = 0;      // not within tolerance, not kept by the radio, or ended by a failure
    int stopped = 0;     // the operator stopped there
    int notReached = 0;  // the run ended before them
    int total() const { return passed + marginal + failed + stopped + notReached; }
};

// A pass in the outer fifth of the tolerance.
bool MarginalPass(const PointResult& point);

struct AlignReport {
    std::string procedure;
    std::string instrument;
    std::string identity;    // the instrument's answer to its identification query
    std::vector<PointResult> points;
    Error error;             // why the run ended early; ok when it ran to its end
    bool stopped = false;    // the operator stopped it
    double seconds = 0;
    std::uint64_t exchanges = 0;   // frames sent to the radio
    std::uint64_t queries = 0;     // instrument queries
    double settleSeconds = 0;      // time spent waiting for the instrument to settle
    double nominalSettleSeconds = 0;  // the settle times the procedure asks for, summed

    // Points the run did not come to (the run ended early), in procedure order.
    std::vector<PointResult> notReached;

    int passed() const;  // every point that passed and is kept, marginal ones too
    int failed() const;  // points that ran and did not pass, not counting a stopped one
    PointCounts counts() const;
    // A point's final value lies far outside the history of its model.
    bool outlier() const;
    bool complete() const { return error.ok(); }
    // The report as JSON (summary and one object per point) and as CSV
    // (one line per point, with a header line). Neither throws: text that is
    // not valid UTF-8 is written with replacement characters.
    std::string toJson() const;
    std::string toCsv() const;

private:
    std::string jsonOrThrow() const;
};

// The counts as the JSON report and the line's verdict event give them:
// passed, marginal, failed, stopped_points, not_reached and point_count.
nlohmann::ordered_json PointCountsJson(const PointCounts& counts);

// One point as the JSON report shows it (step, item, band, point, target and
// tolerance, start and final value, reading, tries, result, prediction).
nlohmann::ordered_json AlignPointJson(const PointResult& point);

struct AlignEvents {
    std::function<void(int step, int pointIndex, const PointResult& point)> pointStarted;
    std::function<void(const AlignTry& attempt)> tried;
    std::function<void(const PointResult& point)> pointDone;
    // A point's outcome is final: its step was saved (or not), or the run
    // ended before it. Comes after pointDone, in procedure order, and with
    // the same point as its record.
    std::function<void(const PointResult& point)> pointSettled;
    // The radio acknowledged keying (on) or unkeying (off) its transmitter
    // (receive false) or receiver; a window shows it as its own keying.
    std::function<void(bool receive, bool on)> keying;
    // Runs while the engine waits (settle times); a window keeps its
    // interface alive through it.
    std::function<void()> idle;
};

class AlignEngine {
public:
    // `instrument` may be null when every step measures with the radio.
    AlignEngine(Procedure procedure, AlignRadio& radio, Instrument* instrument, InstrumentModel model);

    void setEvents(AlignEvents events) { events_ = std::move(events); }
    // Where each point's result is recorded (the calibration records).
    void setRecordSink(std::function<void(const PointResult&)> sink) { recordSink_ = std::move(sink); }
    // The history of earlier radios of the model; none (the default): every
    // point starts at the value the radio holds.
    void setPredictor(std::optional<Predictor> predictor) { predictor_ = std::move(predictor); }
    // The fixture's path loss (none by default: readings are taken as they are).
    void setPathLoss(PathLoss loss) { pathLoss_ = std::move(loss); }
    // Where every item save of the run and its outcome go (the calibration
    // records): the step, the item and the error (ok when acknowledged).
    void setSaveSink(std::function<void(const std::string& step, int item, const Error&)> sink) {
        saveSink_ = std::move(sink);
    }
    // A flag that stops the run when set (Ctrl+C in the command-line tool).
    void setStopFlag(const std::atomic<bool>* flag) { externalStop_ = flag; }
    // Asks the run to stop at the next exchange; safe from any thread.
    void stop() { stop_ = true; }

    AlignReport run();

private:
    class KeyGuard;
    Error run(AlignReport& report);
    Error runPoint(const ProcedureStep& step, int point, PointResult& result, KeyGuard& guard);
    Error convergePoint(const ProcedureStep& step, int point, PointResult& result, KeyGuard& guard);
    void putBack(const ProcedureStep& step, int point, PointResult& result);
    Error saveStep(const ProcedureStep& step, std::vector<PointResult*> points);
    void settle(PointResult& point);
    Error setUpInstrument(AlignReport& report);
    Error setUpPoint(const ProcedureStep& step, std::uint32_t frequency);
    Error confirmInstrument(const std::string& what);
    Error checkErrorQueue(const std::string& what);
    Result<std::vector<std::string>> readErrorQueue();
    std::string errorQueueNote();
    void finishInstrument();
    Result<double> measure(const ProcedureStep& step, int point, int value, AlignReport& report);
    Error wait(int ms, AlignReport& report);
    bool stopping() const;
    Error stopped() const;

    Procedure procedure_;
    AlignRadio& radio_;
    Instrument* instrument_;
    InstrumentModel model_;
    AlignEvents events_;
    std::function<void(const PointResult&)> recordSink_;
    std::function<void(const std::string&, int, const Error&)> saveSink_;
    const std::atomic<bool>* externalStop_ = nullptr;
    std::atomic<bool> stop_{false};
    AlignReport* report_ = nullptr;
    bool instrumentSpokenTo_ = false;
    int lastSent_ = -1;  // the value of the point's last adjustment sent
    std::optional<Predictor> predictor_;
    PathLoss pathLoss_;
    std::vector<int> ownOffsets_;  // this radio against the history on the step's points so far
};

}  // namespace varnel
