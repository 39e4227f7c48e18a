// The replay report: what the replay driver writes at process exit, and the
// check that tells a CI job whether a replay was complete. Its format is
// documented in zolt_replay.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zolt::replay {

struct OperationCounts {
    std::uint64_t recorded = 0;     // recordings in the trace
    std::uint64_t played = 0;       // calls answered from a recording, first use
    std::uint64_t repeated = 0;     // calls answered again from the last recording
    std::uint64_t notMatched = 0;   // calls answered "not recorded"
    std::uint64_t unplayed = 0;     // recordings no call used
    std::uint64_t notReturned = 0;  // recordings of calls that never returned, unused
};

struct Report {
    std::string trace;                 // the trace file, as named in ZOLT_REPLAY_FILE
    bool finished = false;             // written at normal process exit
    std::optional<std::string> error;  // the trace or a setting was bad
    std::string exhausted = "fail";
    std::string timing = "instant";
    std::map<std::string, OperationCounts, std::less<>> operations;

    OperationCounts total() const;
    bool complete() const;
};

// The report as one JSON object on one line, ended by "\n".
std::string reportText(const Report& report);

struct Verdict {
    int status;        // 0 complete, 1 incomplete, 2 not a readable report
    std::string text;  // one line or a few, each ended by "\n"
};

// Checks a report's text; name is the file, for messages.
Verdict checkReport(std::string_view text, std::string_view name);
// The same over a file, which may be missing or unreadable (status 2).
Verdict checkReportFile(const std::string& path);

// `zolt-trace check-report REPORT`: the verdict's text on out (on err when the
// report is not readable, status 2), and its status as the exit status.
int checkReportCommand(const std::string& path, std::FILE* out, std::FILE* err);

}  // namespace zolt::replay
