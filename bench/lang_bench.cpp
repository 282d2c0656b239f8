// One text lookup in the shipped language files. Every caption is looked up
// afresh (the file is opened and read each time), so a lookup must stay far
// below what the operator could notice when a window applies its ~100 texts.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "lang/Profile.h"

namespace {

const std::filesystem::path kLangDir = VARNEL_LANG_DIR;

void BM_LookupEnglish(benchmark::State& state) {
    const std::filesystem::path file = kLangDir / "english.lang";
    for (auto _ : state) {
        // The last key of the file: the whole file is scanned.
        std::string text = varnel::ReadProfileString(file, "TreeView", "T0062");
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_LookupEnglish)->Unit(benchmark::kMicrosecond);

void BM_LookupChinese(benchmark::State& state) {
    const std::filesystem::path file = kLangDir / "chinese.lang";
    for (auto _ : state) {
        std::string text = varnel::ReadProfileString(file, "TreeView", "T0062");
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_LookupChinese)->Unit(benchmark::kMicrosecond);

void BM_LookupMissingKey(benchmark::State& state) {
    const std::filesystem::path file = kLangDir / "chinese.lang";
    for (auto _ : state) {
        std::string text = varnel::ReadProfileString(file, "TreeView", "T9999");
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_LookupMissingKey)->Unit(benchmark::kMicrosecond);

}  // namespace
