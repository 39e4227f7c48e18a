// The cost of tracing: ZOLT_getTime of the simulated board called directly
// and through the tracing driver, in one run. Both are loaded from the build
// tree by path; the tracer forwards to that same simulator, so both calls
// reach the same board. Names are "untraced/getTime" and "traced/getTime".
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/zolt.h"

namespace {

struct Driver {
    decltype(&ZOLT_open) open = nullptr;
    decltype(&ZOLT_getTime) getTime = nullptr;
    BoardRecord* board = nullptr;
};

Driver load(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        std::exit(1);
    }
    Driver d;
    d.open = reinterpret_cast<decltype(&ZOLT_open)>(dlsym(library, "ZOLT_open"));
    d.getTime = reinterpret_cast<decltype(&ZOLT_getTime)>(dlsym(library, "ZOLT_getTime"));
    if (d.open == nullptr || d.getTime == nullptr || d.open(&d.board, 0) != 0) {
        std::fprintf(stderr, "cannot open board 0 through %s\n", path);
        std::exit(1);
    }
    return d;
}

const std::string traceFile =
    (std::getenv("BENCH_DIR") ? std::string(std::getenv("BENCH_DIR")) : std::string("/tmp")) + "/lv_zolt_trace_benchmark_" + std::to_string(getpid()) + ".jsonl";

Driver& untraced() {
    static Driver d = load(LV_ZOLT_SIMULATOR_FILE);
    return d;
}

Driver& traced() {
    static Driver d = [] {
        setenv("ZOLT_TRACE_DRIVER", LV_ZOLT_SIMULATOR_FILE, 1);
        setenv("ZOLT_TRACE_FILE", traceFile.c_str(), 1);
        // Room for every call of the run: a full trace would stop writing
        // and flatter the figure.
        setenv("ZOLT_TRACE_LIMIT", "1G", 0);
        return load(LV_ZOLT_TRACE_FILE);
    }();
    return d;
}

void run(benchmark::State& state, Driver& (*driver)()) {
    Driver& d = driver();
    TimeRecord record{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(d.getTime(d.board, &record));
        benchmark::ClobberMemory();
    }
}

// A fixed count: the traced run writes about 300 bytes per call into the
// file, and the count keeps it well inside the limit over every repetition.
constexpr benchmark::IterationCount kCalls = 400000;

BENCHMARK_CAPTURE(run, untraced, &untraced)->Name("untraced/getTime")->Iterations(kCalls);
BENCHMARK_CAPTURE(run, traced, &traced)->Name("traced/getTime")->Iterations(kCalls);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(traceFile.c_str());
    return 0;
}
