// Cost of the frame work on the poll path: building and testing the largest
// reply (857 bytes, the large model's enter reply) and one whole poll tick
// against the virtual radio. A tick of the 10 ms polls must stay far below
// its interval.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "data/Global.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"

using namespace varnel;

namespace {

void BM_BuildAndMatch857(benchmark::State& state) {
    std::vector<std::uint8_t> payload(849);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 31);
    std::array<std::uint8_t, kReplyBufferSize> buffer{};
    for (auto _ : state) {
        const std::uint16_t n = BuildFrame(buffer.data(), 0x8060, payload.data(), 849);
        const bool match = MatchReply(buffer.data(), 0x8060, n);
        benchmark::DoNotOptimize(match);
        benchmark::ClobberMemory();
    }
    // Seconds per frame, printed with its SI prefix (e.g. "790ns").
    state.counters["time_per_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BuildAndMatch857);

void BM_MatchReply857(benchmark::State& state) {
    std::vector<std::uint8_t> payload(849, 0x5A);
    std::array<std::uint8_t, kReplyBufferSize> buffer{};
    const std::uint16_t n = BuildFrame(buffer.data(), 0x8060, payload.data(), 849);
    for (auto _ : state) {
        benchmark::DoNotOptimize(MatchReply(buffer.data(), 0x8060, n));
    }
}
BENCHMARK(BM_MatchReply857);

// One tick: zero and read 9 bytes through the virtual link, then match.
void BM_PollStepNineByteReply(benchmark::State& state) {
    ResetGlobalState();
    ResetPollState();
    VirtualBackend backend;
    SetDeviceBackend(&backend);
    ScanRadioDrives();
    linkHandle = OpenRadio();
    SendExitTunerMode();  // leaves a 9-byte reply pending
    bool allMatched = true;
    for (auto _ : state) {
        pollTicks = 0;
        allMatched &= PollStep(0x8061) == PollResult::Match;
    }
    if (!allMatched) state.SkipWithError("the pending reply did not match");
    ResetPollState();
    SetDeviceBackend(nullptr);
}
BENCHMARK(BM_PollStepNineByteReply);

}  // namespace
