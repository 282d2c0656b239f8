// Automatic alignment of the large virtual radio with the virtual test set:
// the whole example procedure, over the real loopback socket and the real
// frames. The floor is what the exchanges cannot go below: one 10 ms poll
// tick per frame sent plus the settle time the procedure asks the
// instrument for before each reading. Goal: wall time within 1.3 times the
// floor and at most 6 tries per point on average.
//
//   build/varnel_bench --benchmark_filter=Align
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "align/AlignEngine.h"
#include "data/Global.h"
#include "instrument/VirtualInstrument.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"

namespace {

using namespace varnel;

void BM_AlignLargeProcedure(benchmark::State& state) {
    Result<Procedure> procedure = LoadProcedure(std::string(VARNEL_SOURCE_DIR) + "/procedures/large.json");
    if (!procedure) {
        state.SkipWithError(procedure.error().text().c_str());
        return;
    }
    double seconds = 0, floor = 0, exchanges = 0, tries = 0, points = 0, queries = 0;
    for (auto _ : state) {
        ResetGlobalState();
        ResetPollState();
        VirtualBackend backend(VirtualPreset::LargeNewFirmware);
        SetDeviceBackend(&backend);
        VirtualInstrument instrument(backend.sharedRadio());
        if (Error e = instrument.start(); !e.ok()) {
            state.SkipWithError(e.text().c_str());
            break;
        }
        Result<std::unique_ptr<Instrument>> link = OpenInstrument(instrument.url(), std::chrono::milliseconds(2000));
        if (!link) {
            state.SkipWithError(link.error().text().c_str());
            break;
        }
        SendcmdAlignRadio radio;
        AlignEngine engine(procedure.value(), radio, link.value().get(), VirtualTestSetModel());
        const AlignReport report = engine.run();
        if (!report.complete() || report.failed() != 0) state.SkipWithError("the procedure did not pass");
        seconds += report.seconds;
        floor += static_cast<double>(report.exchanges) * 0.010 + report.nominalSettleSeconds;
        exchanges += static_cast<double>(report.exchanges);
        queries += static_cast<double>(report.queries);
        for (const PointResult& p : report.points) tries += p.tries;
        points += static_cast<double>(report.points.size());
        state.SetIterationTime(report.seconds);
        linkHandle.reset();
        SetDeviceBackend(nullptr);
    }
    const double n = static_cast<double>(state.iterations());
    if (n == 0 || points == 0) return;
    state.counters["points"] = points / n;
    state.counters["exchanges"] = exchanges / n;
    state.counters["queries"] = queries / n;
    state.counters["tries_per_point"] = tries / points;
    state.counters["floor_s"] = floor / n;
    state.counters["wall_s"] = seconds / n;
    state.counters["wall_over_floor"] = seconds / floor;
}
BENCHMARK(BM_AlignLargeProcedure)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
