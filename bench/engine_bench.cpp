// One poll tick through the exchange engine on the virtual radio, with the
// transfer inline and on the I/O thread (where the tick only collects a
// completed read and asks for the next one).
#include <benchmark/benchmark.h>

#include "device/Mass_storage.h"
#include "protocol/Exchange.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"

namespace {

using namespace varnel;

void TickOnce(benchmark::State& state, ExchangeEngine::Transport transport, bool answer) {
    VirtualBackend backend(VirtualPreset::Variant0);
    DeviceBackend* previous = CurrentDeviceBackend();
    SetDeviceBackend(&backend);
    Exchange().setTransport(transport);
    if (!Exchange().open().ok()) state.SkipWithError("no virtual radio");
    backend.radio().setTunerMode(true);
    if (!answer) backend.radio().setFault(Fault::NoAnswer);
    SendSetItem(18, 5, 4, 40, 450125000u);
    for (auto _ : state) {
        pollTicks = 0;  // stay inside the 100-tick budget
        const TickResult result = Exchange().tick(cmd::reply(cmd::kSetItem), PollRule::Verify);
        benchmark::DoNotOptimize(result);
    }
    Exchange().waitIdle();
    Exchange().close();
    Exchange().setTransport(ExchangeEngine::Transport::Inline);
    SetDeviceBackend(previous);
}

// A tick of a verifying poll whose reply never comes (the common case while
// waiting), and one that accepts the reply.
void BM_EngineTickInlineNoReply(benchmark::State& state) { TickOnce(state, ExchangeEngine::Transport::Inline, false); }
void BM_EngineTickInlineReply(benchmark::State& state) { TickOnce(state, ExchangeEngine::Transport::Inline, true); }
void BM_EngineTickIoThreadNoReply(benchmark::State& state) {
    TickOnce(state, ExchangeEngine::Transport::IoThread, false);
}

BENCHMARK(BM_EngineTickInlineNoReply);
BENCHMARK(BM_EngineTickInlineReply);
BENCHMARK(BM_EngineTickIoThreadNoReply)->UseRealTime();

}  // namespace
