// A line's day in small: thirty large virtual radios with serials of their
// own (each lies around the model's curves by its own offsets, slopes and
// noise), aligned one after the other with the whole example procedure,
// each recorded in a fresh SQLite records file so that radios 2 to 30 start
// from the history of those before; then ten with history off; then the
// thirty again on a fixture whose loss creeps by 0.05 dB per radio from
// radio 15 on, with the line's control charts read after every radio.
//
// The one-try floor of a radio is what its run cannot go below if every
// point passes on its first reading: per point one selection, one keying,
// one live-set and one unkeying (four exchanges), one settle time and one
// reading, plus the saves of the steps and the instrument's set-up commands,
// each at the cost this run measured for it. Goals: radios 2 to 30 average
// at most 1.3 tries per point and at most 1.3 times their floor, the median
// distance of a final reading from its target is at most a quarter of the
// tolerance and at most 2 % of the points are marginal, the batch's
// first-pass yield is not below the search's; the drift raises the line
// alarm within 8 radios and the clean batch raises none.
//
//   build/varnel_bench --benchmark_filter=AlignBatch
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "align/AlignEngine.h"
#include "align/AlignHistory.h"
#include "align/AlignRecords.h"
#include "line/LineDrift.h"
#include "data/Global.h"
#include "instrument/VirtualInstrument.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"
#include "sim/VirtualBackend.h"

namespace {

using namespace varnel;
using Clock = std::chrono::steady_clock;

constexpr int kDriftFrom = 15;  // the radio from which the fixture's loss creeps

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The radio with the time of its exchanges counted.
class TimedRadio : public AlignRadio {
public:
    Error prepare() override { return inner_.prepare(); }
    bool largeModel() const override { return inner_.largeModel(); }
    int value(int item, int point) const override { return inner_.value(item, point); }
    std::uint32_t frequency(int band, int point, bool receive) const override {
        return inner_.frequency(band, point, receive);
    }
    Error setItem(int item, int action, int point, int value, std::uint32_t frequency) override {
        return timed([&] { return inner_.setItem(item, action, point, value, frequency); });
    }
    Result<int> readBack(int item, int point, int value, std::uint32_t frequency) override {
        // A reading of the radio's own: counted as a reading, not as an exchange.
        const auto start = Clock::now();
        Result<int> r = inner_.readBack(item, point, value, frequency);
        readSeconds += since(start);
        ++readings;
        return r;
    }
    Error save(int item) override {
        ++saves;
        return timed([&] { return inner_.save(item); });
    }
    std::uint64_t Exchanges() const override { return inner_.Exchanges(); }

    double seconds = 0, readSeconds = 0;
    std::uint64_t exchanges = 0, readings = 0, saves = 0;

private:
    template <class F>
    Error timed(F f) {
        const std::uint64_t before = inner_.Exchanges();
        const auto start = Clock::now();
        Error e = f();
        seconds += since(start);
        exchanges += inner_.Exchanges() - before;
        return e;
    }
    SendcmdAlignRadio inner_;
};

// The instrument with the time of its measurements and of everything else counted.
class TimedInstrument : public Instrument {
public:
    explicit TimedInstrument(Instrument& inner) : inner_(inner) {}
    Error send(std::string_view command) override {
        const auto start = Clock::now();
        Error e = inner_.send(command);
        otherSeconds += since(start);
        return e;
    }
    Result<std::string> query(std::string_view command) override {
        const auto start = Clock::now();
        Result<std::string> r = inner_.query(command);
        const bool reading = command.rfind("MEAS:", 0) == 0;
        (reading ? readSeconds : otherSeconds) += since(start);
        if (reading) ++readings;
        return r;
    }
    std::string describe() const override { return inner_.describe(); }

    double readSeconds = 0, otherSeconds = 0;
    std::uint64_t readings = 0;

private:
    Instrument& inner_;
};

struct RadioFigures {
    double tries = 0;   // per point
    double seconds = 0;
    double floor = 0;
    bool passed = false;
    std::vector<PointResult> points;
    bool alarm = false;  // the line alarm after this radio
    std::vector<std::string> alarms;
};

// One virtual radio with serial `serial`, recorded in `store`; with history
// the run starts from the records of the radios before.
RadioFigures AlignOne(const Procedure& procedure, const std::string& serial, std::shared_ptr<RecordStore> store,
                      bool history, int number, double drift, std::string& problem) {
    RadioFigures out;
    ResetGlobalState();
    ResetPollState();
    VirtualBackend backend(VirtualPreset::LargeNewFirmware);
    backend.radio().setSerial(serial);
    SetDeviceBackend(&backend);
    VirtualInstrument test(backend.sharedRadio());
    test.setRadioNumber(number);
    if (drift > 0) test.setDrift(drift, kDriftFrom);
    if (Error e = test.start(); !e.ok()) {
        problem = e.text();
        return out;
    }
    Result<std::unique_ptr<Instrument>> link = OpenInstrument(test.url(), std::chrono::milliseconds(2000));
    if (!link) {
        problem = link.error().text();
        return out;
    }
    TimedInstrument instrument(*link.value());
    TimedRadio radio;
    if (Error e = radio.prepare(); !e.ok()) {
        problem = e.text();
        return out;
    }
    Recorder& recorder = CalibrationRecorder();
    recorder.setStore(store);
    recorder.setSerial(serial);
    (void)recorder.entered(radioInfo, tunerImage);
    AlignEngine engine(procedure, radio, &instrument, VirtualTestSetModel());
    if (history) {
        Result<std::vector<HistoryEntry>> entries =
            LoadAlignHistory(*store, radioInfo.modelName(), radioInfo.firmwareVersion());
        if (entries && !entries->empty()) engine.setPredictor(Predictor(entries.value()));
    }
    engine.setRecordSink(CalibrationRecordSink());
    const AlignReport report = engine.run();
    (void)recorder.left(tunerImage);
    out.passed = report.complete() && report.failed() == 0;
    out.points = report.points;
    if (Result<DriftAnalysis> drifting =
            LoadDriftAnalysis(*store, radioInfo.modelName(), radioInfo.firmwareVersion())) {
            out.alarm = !drifting->alarms.empty();
        for (const DriftAlarm& a : drifting->alarms) out.alarms.push_back(DriftAlarmText(a));
    } else {
        problem = drifting.error().text();
    }
    out.seconds = report.seconds;
    int tries = 0;
    for (const PointResult& p : report.points) tries += p.tries;
    out.tries = report.points.empty() ? 0 : static_cast<double>(tries) / static_cast<double>(report.points.size());

    const double perExchange = radio.exchanges > 0 ? radio.seconds / static_cast<double>(radio.exchanges) : 0;
    const double perInstrumentReading =
        instrument.readings > 0 ? instrument.readSeconds / static_cast<double>(instrument.readings) : 0;
    const double perRadioReading = radio.readings > 0 ? radio.readSeconds / static_cast<double>(radio.readings) : 0;
    double floor = static_cast<double>(radio.saves) * perExchange + instrument.otherSeconds;
    for (const PointResult& p : report.points) {
        const ProcedureStep& step = procedure.steps[static_cast<std::size_t>(p.stepIndex)];
        const int settle = step.settleMs >= 0 ? step.settleMs : VirtualTestSetModel().settleMs;
        floor += 4 * perExchange + settle / 1000.0 + (step.radioMeasures() ? perRadioReading : perInstrumentReading);
    }
    out.floor = floor;
    linkHandle.reset();
    SetDeviceBackend(nullptr);
    return out;
}

struct BatchFigures {
    std::vector<RadioFigures> radios;
    double laterTries = 0, laterOverFloor = 0, yield = 0;
};

BatchFigures AlignBatch(const Procedure& procedure, int count, bool history, double drift, const std::string& tag,
                        std::string& problem) {
    BatchFigures out;
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("varnel-batch-bench-" + tag + "-" +
                                        std::to_string(Clock::now().time_since_epoch().count()) + ".sqlite");
    Result<std::unique_ptr<RecordStore>> opened = OpenSqliteStore(file);
    if (!opened) {
        problem = opened.error().text();
        return out;
    }
    std::shared_ptr<RecordStore> store(std::move(opened.value()));
    int passed = 0;
    for (int i = 1; i <= count && problem.empty(); ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "VB%010d", i);
        out.radios.push_back(AlignOne(procedure, serial, store, history, i, drift, problem));
        const RadioFigures& r = out.radios.back();
        passed += r.passed ? 1 : 0;
        if (i > 1) {
            out.laterTries += r.tries / (count - 1);
            out.laterOverFloor += (r.floor > 0 ? r.seconds / r.floor : 0) / (count - 1);
        }
    }
    CalibrationRecorder().setStore(nullptr);
    store.reset();
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    out.yield = count > 0 ? 100.0 * passed / count : 0;
    return out;
}

void BM_AlignBatch(benchmark::State& state) {
    Result<Procedure> procedure = LoadProcedure(std::string(VARNEL_SOURCE_DIR) + "/procedures/large.json");
    if (!procedure) {
        state.SkipWithError(procedure.error().text().c_str());
        return;
    }
    constexpr int kRadios = 30;
    constexpr int kSearchRadios = 10;
    for (auto _ : state) {
        std::string problem;
        const BatchFigures with = AlignBatch(procedure.value(), kRadios, true, 0, "history", problem);
        const BatchFigures without = AlignBatch(procedure.value(), kSearchRadios, false, 0, "search", problem);
        const BatchFigures drifting = AlignBatch(procedure.value(), kRadios, true, 0.05, "drift", problem);
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
        double seconds = 0;
        for (const RadioFigures& r : with.radios) seconds += r.seconds;
        state.SetIterationTime(seconds);
        const RadioFigures& first = with.radios.front();
        std::printf("radio 1 (no history yet): %.2f tries per point, %.2f s, floor %.2f s (%.2f x)\n", first.tries,
                    first.seconds, first.floor, first.seconds / first.floor);
        std::printf("radios 2-%d with history: %.2f tries per point, %.2f x one-try floor, first-pass yield %.0f %%\n",
                    kRadios, with.laterTries, with.laterOverFloor, with.yield);
        std::printf("radios 2-%d without:      %.2f tries per point, %.2f x one-try floor, first-pass yield %.0f %%\n",
                    kSearchRadios, without.laterTries, without.laterOverFloor, without.yield);
        for (std::size_t i = 0; i < with.radios.size(); ++i) {
            std::printf("  radio %2zu: %.2f tries %.2f s (floor %.2f s)", i + 1, with.radios[i].tries,
                        with.radios[i].seconds, with.radios[i].floor);
            if (i < without.radios.size())
                std::printf(" | without history %.2f tries %.2f s", without.radios[i].tries, without.radios[i].seconds);
            std::printf("\n");
        }
        // How close the points end to their targets, and the capability per step.
        std::vector<double> distances;
        int marginal = 0, points = 0;
        std::map<int, std::vector<double>> readingsOfStep;
        for (const RadioFigures& r : with.radios) {
            for (const PointResult& p : r.points) {
                ++points;
                if (std::string(AlignVerdict(p)) == record_verdict::kMarginal) ++marginal;
                if (!p.reading) continue;
                distances.push_back(std::fabs(*p.reading - p.target) / p.tolerance);
                readingsOfStep[p.stepIndex].push_back(*p.reading);
            }
        }
        std::sort(distances.begin(), distances.end());
        const double median = distances.empty() ? 0 : distances[distances.size() / 2];
        const double marginalPct = points > 0 ? 100.0 * marginal / points : 0;
        for (const auto& [index, readings] : readingsOfStep) {
            const ProcedureStep& step = procedure->steps[static_cast<std::size_t>(index)];
            const std::optional<double> cpk = Cpk(readings, step.target - step.tolerance, step.target + step.tolerance);
            std::printf("  step %d %-50s Cpk %s\n", index + 1, step.name.c_str(),
                        cpk ? std::to_string(std::round(*cpk * 100) / 100).substr(0, 4).c_str() : "-");
        }
        // The line alarm: how soon after the drift begins, and how often without one.
        int falseAlarms = 0;
        for (const RadioFigures& r : with.radios) falseAlarms += r.alarm ? 1 : 0;
        int alarmAfter = 0;
        for (std::size_t i = kDriftFrom - 1; i < drifting.radios.size(); ++i) {
            if (drifting.radios[i].alarm) {
                alarmAfter = static_cast<int>(i) - (kDriftFrom - 1) + 1;
                break;
            }
        }
        for (std::size_t i = 0; i < with.radios.size(); ++i)
            for (const std::string& a : with.radios[i].alarms) std::printf("  clean batch, radio %zu: %s\n", i + 1, a.c_str());
        for (std::size_t i = 0; i < drifting.radios.size(); ++i)
            for (const std::string& a : drifting.radios[i].alarms)
                std::printf("  drift batch, radio %zu: %s\n", i + 1, a.c_str());
        int earlyAlarms = 0;
        for (std::size_t i = 0; i + 1 < kDriftFrom && i < drifting.radios.size(); ++i)
            earlyAlarms += drifting.radios[i].alarm ? 1 : 0;
        std::printf("drift batch: %d alarm(s) before the drift began\n", earlyAlarms);
        std::printf("batch alignment: later radios %.2f tries per point, %.2f x one-try floor, median distance %.0f %% "
                    "of tolerance, marginal %.1f %%\n",
                    with.laterTries, with.laterOverFloor, 100 * median, marginalPct);
        if (alarmAfter > 0)
            std::printf("line drift: alarm after %d radios (clean batch: %d false alarms)\n", alarmAfter, falseAlarms);
        else
            std::printf("line drift: no alarm within %d radios (clean batch: %d false alarms)\n",
                        kRadios - kDriftFrom + 1, falseAlarms);
        state.counters["median_distance_pct"] = 100 * median;
        state.counters["marginal_pct"] = marginalPct;
        state.counters["drift_alarm_after"] = alarmAfter;
        state.counters["clean_false_alarms"] = falseAlarms;
        state.counters["later_tries_per_point"] = with.laterTries;
        state.counters["later_over_floor"] = with.laterOverFloor;
        state.counters["search_tries_per_point"] = without.laterTries;
        state.counters["search_over_floor"] = without.laterOverFloor;
        state.counters["yield_pct"] = with.yield;
        state.counters["search_yield_pct"] = without.yield;
        if (with.yield < without.yield) state.SkipWithError("the history lowered the first-pass yield");
    }
}
BENCHMARK(BM_AlignBatch)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
