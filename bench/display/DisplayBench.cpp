// What one look at the display list and the pointer costs against the X server: each call asks
// the server afresh rather than caching, so this is the price of every Screen::screens().
#include "platform/display/Screen.h"

#include <benchmark/benchmark.h>

static void BM_Screens(benchmark::State& state) {
    for (auto _ : state) {
        auto list = platform::Screen::screens();
        if (list.empty()) {
            state.SkipWithError("no displays (is DISPLAY set?)");
            break;
        }
        benchmark::DoNotOptimize(list);
    }
}
BENCHMARK(BM_Screens)->Unit(benchmark::kMicrosecond);

static void BM_MouseLocation(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::Screen::mouseLocation());
}
BENCHMARK(BM_MouseLocation)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
