// The cost of each export against a direct call of its driver operation,
// both through the same trivial driver in the same run. Names are
// "export/<operation>" and "direct/<operation>".
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "calls.h"

namespace {

bench::Host openedHost() {
    bench::Host h;
    if (LV_ZOLT_open(&h.board, 0, &h.boardValue) != 0) std::abort();
    return h;
}

bench::Direct openedDirect() {
    bench::Direct d;
    if (ZOLT_open(&d.board, 0) != 0) std::abort();
    return d;
}

#define BENCH_DEFINE(name, exportCall, directCall)   \
    void export_##name(benchmark::State& state) {    \
        bench::Host h = openedHost();                \
        for (auto _ : state) {                       \
            benchmark::DoNotOptimize(exportCall);    \
            benchmark::ClobberMemory();              \
        }                                            \
    }                                                \
    void direct_##name(benchmark::State& state) {    \
        bench::Direct d = openedDirect();            \
        for (auto _ : state) {                       \
            benchmark::DoNotOptimize(directCall);    \
            benchmark::ClobberMemory();              \
        }                                            \
    }                                                \
    BENCHMARK(direct_##name)->Name("direct/" #name); \
    BENCHMARK(export_##name)->Name("export/" #name);
BENCH_CALLS(BENCH_DEFINE)
#undef BENCH_DEFINE

}  // namespace

BENCHMARK_MAIN();
