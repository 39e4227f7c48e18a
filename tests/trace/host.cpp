// A host over LV_zolt for the tracer's tests. It sits beside a copy of the
// tracing driver, which it (and so LV_zolt) loads ahead of any other zolt.
// Prints "<export> <status>" for each call it makes.
//
//   zolt_trace_host all          every export once, on board 0
//   zolt_trace_host time [N]     open, N getTime (default 1), close
//   zolt_trace_host threads N    open, N getTime on each of two threads, close
//   zolt_trace_host boards N    open boards 0 and 1, N getTime on each in
//                                turn (0, 1, 0, ...), close both
//   zolt_trace_host fork N       open, getTime, fork; the child and the parent
//                                call getTime N times at once, the child
//                                exits normally, the parent closes (Linux)
//   zolt_trace_host lone N       open, N getTime, then whether the C library
//                                still counts the process single-threaded and
//                                the names of its threads, close (Linux)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <dirent.h>
#include <sys/single_threaded.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>
#endif

#include "LV_zolt.h"

namespace {

std::uint8_t report(const char* name, std::uint8_t status) {
    std::printf("%s %u\n", name, static_cast<unsigned>(status));
    return status;
}
#define CALL(name, ...) report(#name, name(__VA_ARGS__))

// The first nonzero status, or 0.
std::uint8_t getTimes(LV_ZOLT_Handle board, long n) {
    double real;
    std::uint8_t a, b;
    std::uint16_t w;
    std::uint8_t first = 0;
    for (long i = 0; i < n; ++i) {
        const std::uint8_t status = LV_ZOLT_getTime(board, &real, &a, &b, &w);
        if (first == 0) first = status;
    }
    return first;
}

int every(LV_ZOLT_Handle board) {
    char text[9];
    double real;
    float single;
    std::int16_t whole;
    std::uint8_t a, b, c, d;
    std::uint16_t w, x;
    CALL(LV_ZOLT_getDriver, board, 3);
    CALL(LV_ZOLT_resetFirmware, board);
    CALL(LV_ZOLT_setOscillator, board, 0);
    CALL(LV_ZOLT_setPropDelayCorr, board, 5);
    CALL(LV_ZOLT_synchControl, board, 1);
    CALL(LV_ZOLT_synchStatus, board, 1);
    CALL(LV_ZOLT_getFirmware, board, text);
    CALL(LV_ZOLT_getFPGA, board, text);
    CALL(LV_ZOLT_getTime, board, &real, &a, &b, &w);
    CALL(LV_ZOLT_setTime, board, 30, 15, 12, 100, 250);
    CALL(LV_ZOLT_getDate, board, &w, &a, &b);
    CALL(LV_ZOLT_setYear, board, 2026);
    CALL(LV_ZOLT_getAltitude, board, &single);
    CALL(LV_ZOLT_getLatitude, board, &whole, &single);
    CALL(LV_ZOLT_getLongitude, board, &whole, &single);
    CALL(LV_ZOLT_getSatInfo, board, &a, &b);
    CALL(LV_ZOLT_setHeartbeat, board, 1, 10, 0, 0.001);
    CALL(LV_ZOLT_setMatchTime, board, 0, 30.5, 15, 12, 100);
    CALL(LV_ZOLT_waitHeartbeat, board, 1000);
    CALL(LV_ZOLT_waitMatch, board, 0);
    CALL(LV_ZOLT_simEvent, board);
    CALL(LV_ZOLT_waitEvent, board, &real, &a, &b, &w, &x, &c, &d, 1000);
    return 0;
}

#if !defined(_WIN32)
// "single-threaded 1" and "threads a,b": the names of the process's
// threads, sorted.
void threadsAsTheLibraryAndTheKernelSeeThem() {
    std::printf("single-threaded %d\n", __libc_single_threaded ? 1 : 0);
    std::vector<std::string> names;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* task = readdir(tasks)) {
            if (task->d_name[0] == '.') continue;
            std::ifstream comm(std::string("/proc/self/task/") + task->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            names.push_back(name);
        }
        closedir(tasks);
    }
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ",") + name;
    std::printf("threads %s\n", list.c_str());
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);  // the same lines as on Linux
#endif
    const std::string mode = argc > 1 ? argv[1] : "";
    const long n = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1;
    if (mode != "all" && mode != "time" && mode != "threads" && mode != "fork" &&
        mode != "boards" && mode != "lone") {
        std::fprintf(stderr, "usage: zolt_trace_host all | time [N] | threads N | boards N | "
                             "fork N | lone N\n");
        return 2;
    }
    LV_ZOLT_Handle board = 0;
    std::uint16_t value = 0;
    if (CALL(LV_ZOLT_open, &board, 0, &value) != 0) return 1;
    if (mode == "all") {
        every(board);
    } else if (mode == "time") {
        report("LV_ZOLT_getTime", getTimes(board, n));
    } else if (mode == "boards") {
        LV_ZOLT_Handle second = 0;
        if (CALL(LV_ZOLT_open, &second, 1, &value) != 0) return 1;
        std::uint8_t first = 0;
        for (long i = 0; i < n; ++i) {
            for (const LV_ZOLT_Handle b : {board, second}) {
                const std::uint8_t status = getTimes(b, 1);
                if (first == 0) first = status;
            }
        }
        report("LV_ZOLT_getTime", first);
        CALL(LV_ZOLT_close, second);
    } else if (mode == "lone") {
#if !defined(_WIN32)
        report("LV_ZOLT_getTime", getTimes(board, n));
        threadsAsTheLibraryAndTheKernelSeeThem();
#endif
    } else if (mode == "fork") {
#if !defined(_WIN32)
        report("LV_ZOLT_getTime", getTimes(board, 1));
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            getTimes(board, n);
            std::exit(0);  // destructors run, as at any normal exit
        }
        report("LV_ZOLT_getTime", getTimes(board, n));
        int status = 0;
        waitpid(child, &status, 0);
#endif
    } else {
        std::thread other([&] { getTimes(board, n); });
        getTimes(board, n);
        other.join();
    }
    CALL(LV_ZOLT_close, board);
    return 0;
}
