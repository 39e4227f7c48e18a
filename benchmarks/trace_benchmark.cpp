// The cost of tracing: ZOLT_getTime of the simulated board called directly
// and through the tracing driver, in one run. Both are loaded from the build
// tree by path; the tracer forwards to that same simulator, so both calls
// reach the same board. Names are "untraced/getTime" and "traced/getTime".
// Each driver makes kWarmUp calls when it is loaded, outside the timing: the
// figure is the steady cost of a call, not the tracer's start (creating the
// file, its thread getting ahead of the writers). The counter "faults" is the
// calling thread's page faults over a repetition: a traced run that has them
// has outrun the tracer's thread and waited for the file's pages.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/zolt.h"

namespace {

constexpr int kWarmUp = 200000;

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
    TimeRecord record{};
    for (int i = 0; i < kWarmUp; ++i) d.getTime(d.board, &record);
    return d;
}

const std::string traceFile =
    (std::getenv("BENCH_DIR") ? std::string(std::getenv("BENCH_DIR")) : std::string("/tmp")) + "/lv_zolt_trace_benchmark_" + std::to_string(getpid()) + ".jsonl";

Driver& untraced() {
    static Driver d = load(LV_ZOLT_SIMULATOR_FILE);
    return d;
}

// With LV_ZOLT_TRACE_BENCHMARK_WARM_MB=N, writes and deletes an N MiB file
// beside the trace before the tracer starts: the trace's pages then come
// from memory this machine has just used, not from memory its host took
// back, whose first use costs microseconds a page (docs/performance.md).
void warmFileMemory() {
    const char* text = std::getenv("LV_ZOLT_TRACE_BENCHMARK_WARM_MB");
    const long mib = text != nullptr ? std::atol(text) : 0;
    if (mib <= 0) return;
    const std::string scratch = traceFile + ".warm";
    const int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        std::perror(scratch.c_str());
        std::exit(1);
    }
    static char block[1 << 20];
    for (long i = 0; i < mib; ++i)
        if (write(fd, block, sizeof block) != static_cast<ssize_t>(sizeof block)) break;
    close(fd);
    unlink(scratch.c_str());
}

Driver& traced() {
    static Driver d = [] {
        setenv("ZOLT_TRACE_DRIVER", LV_ZOLT_SIMULATOR_FILE, 1);
        setenv("ZOLT_TRACE_FILE", traceFile.c_str(), 1);
        // Room for every call of the run: a full trace would stop writing
        // and flatter the figure.
        setenv("ZOLT_TRACE_LIMIT", "1G", 0);
        warmFileMemory();
        return load(LV_ZOLT_TRACE_FILE);
    }();
    return d;
}

void run(benchmark::State& state, Driver& (*driver)()) {
    Driver& d = driver();
    TimeRecord record{};
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    for (auto _ : state) {
        benchmark::DoNotOptimize(d.getTime(d.board, &record));
        benchmark::ClobberMemory();
    }
    getrusage(RUSAGE_THREAD, &after);
    state.counters["faults"] = static_cast<double>(after.ru_minflt - before.ru_minflt);
}

// A fixed count: the traced run writes about 250 bytes per call into the
// file, 75 MB a repetition, and the 1 GiB limit holds a dozen repetitions.
constexpr benchmark::IterationCount kCalls = 300000;

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
