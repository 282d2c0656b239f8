// Hostile inputs stay cheap: the serial pattern on the misscans that make a
// backtracking engine run for seconds to minutes, the procedure loader on a
// file of 50,000 nested arrays, and a path-loss table of 128,853 rows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "align/Procedure.h"
#include "line/LineSettings.h"
#include "util/LinearPattern.h"

namespace {

void Match(benchmark::State& state, const char* pattern, const std::string& text) {
    const varnel::Result<varnel::LinearPattern> p = varnel::LinearPattern::compile(pattern);
    if (!p) {
        state.SkipWithError("the pattern does not compile");
        return;
    }
    bool matched = true;
    for (auto _ : state) {
        matched = p->matchesWhole(text);
        benchmark::DoNotOptimize(matched);
    }
    state.SetLabel(matched ? "match" : "no match");
}

// ([A-Z0-9]+-?)+ against a misscan: 19.2 s with std::regex, doubling with each character.
void BM_SerialPatternMisscan(benchmark::State& state) {
    Match(state, "([A-Z0-9]+-?)+", "SN12345678901234567890123456!");
}
BENCHMARK(BM_SerialPatternMisscan)->Unit(benchmark::kMicrosecond);

// (a+)+$ against 31 a's and '!': past 60 s with std::regex.
void BM_SerialPatternNestedPlus(benchmark::State& state) { Match(state, "(a+)+$", std::string(31, 'a') + "!"); }
BENCHMARK(BM_SerialPatternNestedPlus)->Unit(benchmark::kMicrosecond);

// The same on 30,000 characters: linear in the text (a serial is refused
// above 64 characters before it is matched; the matcher would not mind).
void BM_SerialPatternNestedPlus30k(benchmark::State& state) {
    Match(state, "(a+)+$", std::string(30000, 'a') + "!");
}
BENCHMARK(BM_SerialPatternNestedPlus30k)->Unit(benchmark::kMillisecond);

// A procedure of 50,000 nested arrays (100 kB): refused at the 65th level.
void BM_ProcedureDeepNesting(benchmark::State& state) {
    const std::string text = "{\"steps\": " + std::string(50000, '[') + std::string(50000, ']') + "}";
    bool refused = false;
    for (auto _ : state) {
        refused = !varnel::ParseProcedureText(text, "deep.json").ok();
        benchmark::DoNotOptimize(refused);
    }
    state.SetLabel(refused ? "refused" : "taken");
}
BENCHMARK(BM_ProcedureDeepNesting)->Unit(benchmark::kMicrosecond);

// A path-loss table of 128,853 rows: its duplicate check was quadratic.
void BM_PathLossLargeTable(benchmark::State& state) {
    std::string text;
    char row[64];
    for (int i = 0; i < 128853; ++i) {
        std::snprintf(row, sizeof row, "%.4f,%.2f\n", 100.0 + i * 0.003, 0.5 + (i % 100) * 0.01);
        text += row;
    }
    bool taken = false;
    for (auto _ : state) {
        taken = varnel::ParsePathLoss(text, "large.csv").ok();
        benchmark::DoNotOptimize(taken);
    }
    state.SetLabel(taken ? "taken" : "refused");
}
BENCHMARK(BM_PathLossLargeTable)->Unit(benchmark::kMillisecond);

}  // namespace
