// Reads a trace written by the tracing driver: a header line, then one entry
// event per call and one exit event per call that returned, as JSON Lines
// (docs/trace-format.md). The calls come back ordered by sequence number,
// whatever order the threads wrote them in; records are decoded with the
// driver interface table (driver/interface.h).
//
// Damage is reported as a ReadError naming the file and line. Only the ways a
// killed process leaves its trace are tolerated: NUL bytes after the last
// line and an unterminated last line mark the trace as cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "driver/interface.h"

namespace zolt::trace {

// what(): "FILE:LINE: message"; line 0 stands for the file as a whole (it
// cannot be opened or read), and what() is then "FILE: message".
struct ReadError : std::runtime_error {
    ReadError(std::string file, std::size_t line, const std::string& message);
    std::string file;
    std::size_t line;
    std::string message;  // what() without the "FILE:LINE: " in front
};

struct Header {
    int version;
    std::int64_t pid;
    std::string os, arch, driver, start;  // start: UTC wall time, ISO 8601
    std::int64_t clock;                   // monotonic ns at start ("clock_ns")
    std::uint64_t limit;                  // the file's size bound in bytes
};

struct Call {
    std::uint64_t seq;
    std::uint64_t thread;
    std::size_t operation;  // index into zolt::operations
    std::size_t line;       // line of the entry event
    std::int64_t enterTime;  // monotonic ns
    std::optional<std::uint64_t> handle;  // the board handle passed (not for open)
    std::optional<std::uint64_t> value;   // open's and the value operations' argument
    std::vector<std::uint8_t> in;         // record bytes at entry (record operations)
    std::uint32_t unset = 0;              // bit i: byte i left unset by the layer
    bool returned = false;                // an exit event was found
    std::int64_t exitTime = 0, duration = 0;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> out;              // record bytes at exit
    std::optional<std::uint64_t> openedHandle;  // open: the handle variable after the call
    std::optional<std::uint16_t> boardValue;    // open, status 0
    std::size_t exitLine = 0;                   // line of the exit event, when returned

    const zolt::Operation& op() const { return zolt::operations[operation]; }
};

struct Trace {
    std::string file;
    Header header;
    std::vector<Call> calls;  // by seq
    bool cutShort = false;    // ends in NUL bytes or an unterminated line (a kill)
    std::optional<std::uint64_t> fullAt;  // the size bound was reached at this call
    std::int64_t endTime = 0;  // the latest t of any event (the full marker's included)
};

Trace read(const std::filesystem::path& file);  // throws ReadError
Trace parse(std::string_view text, std::string_view name);  // the same over text

// A record field's value as written in the record (little-endian bytes),
// for display: integers exactly, reals in their shortest round-trip form.
std::string fieldText(const zolt::Field& field, const std::vector<std::uint8_t>& bytes);

// "0x" + lowercase hex, as the trace writes handles.
std::string handleText(std::uint64_t handle);

// Lowercase hex of the bytes, two digits a byte.
std::string hexText(const std::vector<std::uint8_t>& bytes);

// "first-last" or "n" ranges joined by ",", as the trace writes "unset".
std::string rangesText(std::uint32_t mask);

}  // namespace zolt::trace
