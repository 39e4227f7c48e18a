// The lvzolt tool as a function, so that a test can run it inside its own
// process (where the simulated board's test hooks reach it) as well as main.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lvzolt {

// Runs one command line (without the program name), printing on out and
// err; returns the exit status.
int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// Stops the command in progress: puts back what it set on the board for the
// length of the command (a watch's match) and makes its run return
// kStopped. Callable from any thread, at any time.
void interrupt();
inline constexpr int kStopped = 130;

// The next match of `watch match --every`: the first instant last + k *
// every (k >= 1) still ahead of now, and how many (k - 1) passed unseen.
// Instants in nanoseconds.
struct Aim {
    std::int64_t target;
    std::uint64_t missed;
};
Aim nextMatch(std::int64_t last, std::int64_t now, std::int64_t every);

}  // namespace lvzolt
