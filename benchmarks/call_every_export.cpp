// Calls each of the 24 exports the same number of times (the first argument,
// default 1000), for an instruction count under callgrind: with the trivial
// driver underneath, each export's inclusive cost minus its operation's is
// what the layer itself executes.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "calls.h"

int main(int argc, char** argv) {
    long calls = 1000;
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [calls per export]\n", argv[0]);
        return 2;
    }
    if (argc == 2) {
        char* end = nullptr;
        errno = 0;
        calls = std::strtol(argv[1], &end, 10);
        if (errno != 0 || end == argv[1] || *end != '\0' || calls < 1 || calls > 100000000) {
            std::fprintf(stderr,
                         "%s: calls per export must be an integer from 1 to 100000000, not '%s'\n",
                         argv[0], argv[1]);
            return 2;
        }
    }
    bench::Host h;
    if (LV_ZOLT_open(&h.board, 0, &h.boardValue) != 0) {
        std::fprintf(stderr, "%s: the driver did not open a board\n", argv[0]);
        return 1;
    }
    unsigned failures = 0;
#define BENCH_CALL(name, exportCall, directCall) \
    for (long i = 0; i < calls; ++i) failures += exportCall != 0;
    BENCH_CALLS(BENCH_CALL)
#undef BENCH_CALL
    if (failures != 0) {
        std::fprintf(stderr, "%s: %u calls failed\n", argv[0], failures);
        return 1;
    }
    std::printf("%ld calls of each of the 24 exports\n", calls);
    return 0;
}
