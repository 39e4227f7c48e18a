// zolt-trace's commands. Each reads its traces with the trace reader, whose
// ReadError (file and line) reaches main, and writes to the given stream;
// main turns a failed write into exit status 1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "reader.h"

namespace zolt_trace {

// Bad input that is not a trace's (an option's value, an output file).
struct UsageError {
    std::string message;
};

// Output that could not be written (exit status 1).
struct WriteError {
    std::string message;
};

// Every option of every command; each command uses its own.
struct Options {
    std::vector<std::string> files;
    std::vector<std::string> ops;            // show: operation names
    std::vector<std::uint64_t> threads;      // show: thread ids
    std::string seq;                         // show: "N", "A-B", "A-"
    bool failed = false;                     // show: failures only
    std::string output = "-";                // timeline: "-" is stdout
    std::size_t maxDifferences = 10;         // diff
};

int show(const Options& options, std::FILE* out);
int stats(const Options& options, std::FILE* out);
int diff(const Options& options, std::FILE* out);
int timeline(const Options& options, std::FILE* out);

// Shared by the commands.

// "800 ns", "1.05 us", "12.3 ms", "2.50 s".
std::string durationText(std::int64_t ns);

// A record field's value as a number (integers exact, reals as read).
struct FieldValue {
    bool real = false;
    std::int64_t integer = 0;  // unsigned fields fit: they are at most 4 bytes wide
    double value = 0;
};
FieldValue fieldValue(const zolt::Field& field, const std::vector<std::uint8_t>& bytes);

// Whether the layer reads the call's outputs (some only after status 0).
bool outputsRead(const zolt::trace::Call& call);

void print(std::FILE* out, const std::string& text);

}  // namespace zolt_trace
