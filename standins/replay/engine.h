// The replay engine: the recorded calls of a trace in queues by key, and the
// answer to each live call. It knows nothing of live handles or of the
// environment (the driver maps handles and reads the settings), and it is not
// thread-safe: the driver calls it under its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "reader.h"
#include "replay_report.h"

namespace zolt::replay {

enum class Exhausted { fail, repeatLast };

// The board a call is made on: a recorded board, numbered from 1 in the
// recorded order of successful opens, or a raw handle value that no recorded
// open returned (null, a stale or foreign handle).
struct Target {
    bool board = false;
    std::uint64_t id = 0;  // board number, or the raw handle value
};

struct Request {
    std::size_t operation = 0;         // index into zolt::operations
    Target target;                     // not for open
    std::uint64_t value = 0;           // open and the value operations
    const std::uint8_t* in = nullptr;  // the record, for record operations
};

struct Answer {
    bool played = false;                // false: not recorded, see message
    const trace::Call* call = nullptr;  // the recording answered with
    std::uint64_t openedBoard = 0;      // a successful open: the board it opened
    std::string message;                // the line to print when not played
};

class Engine {
   public:
    Engine(trace::Trace trace, Exhausted exhausted);

    Answer answer(const Request& request);

    // Counts per operation name, for every operation recorded or called.
    std::map<std::string, OperationCounts, std::less<>> counts() const;
    const trace::Trace& trace() const { return trace_; }

   private:
    struct Queue {
        std::vector<std::size_t> calls;  // indexes into trace_.calls, in seq order
        std::size_t next = 0;
    };

    std::string keyOf(std::size_t operation, Target target, std::uint64_t value,
                      const std::uint8_t* in) const;
    std::string describe(const Request& request) const;
    std::string describe(std::size_t call) const;
    std::string nearest(const Request& request) const;
    std::string where(std::size_t line) const;

    trace::Trace trace_;
    Exhausted exhausted_;
    std::vector<Target> targets_;             // per recorded call (not for open)
    std::vector<std::uint64_t> openedBoard_;  // per recorded call: board a successful open opened
    std::vector<bool> used_;                  // per recorded call
    std::map<std::string, Queue> queues_;
    std::vector<OperationCounts> live_;  // per operation: played, repeated, notMatched
};

}  // namespace zolt::replay
