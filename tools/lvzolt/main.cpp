// lvzolt: a command-line host of LV_zolt. It calls nothing but the library's
// 24 exports, so it runs unchanged over any zolt driver placed beside it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include <pthread.h>

#include <thread>
#endif

#include "tool.h"

namespace {
#ifdef _WIN32
// The C runtime runs this on a thread of its own, not inside an interrupted
// call, so it may talk to the board.
void stopped(int) {
    lvzolt::interrupt();
    std::_Exit(lvzolt::kStopped);
}
#endif
}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // A closed pipe is a write error the tool reports, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    // Ctrl-C and the like arrive at one thread, which puts back what the
    // command set on the board before the process ends: a signal handler
    // could not call the driver.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops] {
        int signal = 0;
        if (sigwait(&stops, &signal) != 0) return;
        lvzolt::interrupt();
        std::_Exit(128 + signal);
    }).detach();
#else
    std::signal(SIGINT, stopped);
#endif
    return lvzolt::run(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
