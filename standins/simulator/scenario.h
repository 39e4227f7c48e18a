// A scenario: what ZOLT_SIM_SCENARIO describes (the boards' identities,
// faults on chosen calls, latency, scheduled events), read from a TOML file.
// The file is parsed and checked here; simulator.cpp applies the result.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "calendar.h"

namespace zoltsim {

inline constexpr std::uint32_t kMaxBoards = 8;  // ZOLT_SIM_MAX_BOARDS

// The driver's operations, by the names a scenario uses (without ZOLT_).
enum class Operation : std::uint8_t {
    open, close, getAltitude, getDate, getDriver, getFPGA, getFirmware, getLatitude,
    getLongitude, getSatInfo, getTime, resetFirmware, setHeartbeat, setMatchTime,
    setOscillator, setPropDelayCorr, setTime, setYear, simEvent, synchControl, synchStatus,
    waitEvent, waitHeartbeat, waitMatch,
};
inline constexpr std::size_t kOperations = 24;
inline constexpr std::array<std::string_view, kOperations> kOperationNames = {
    "open",          "close",        "getAltitude",  "getDate",          "getDriver",
    "getFPGA",       "getFirmware",  "getLatitude",  "getLongitude",     "getSatInfo",
    "getTime",       "resetFirmware", "setHeartbeat", "setMatchTime",    "setOscillator",
    "setPropDelayCorr", "setTime",   "setYear",      "simEvent",         "synchControl",
    "synchStatus",   "waitEvent",    "waitHeartbeat", "waitMatch",
};

// An angle as the AngleRecord carries it: whole degrees and minutes of arc,
// both with the angle's sign.
struct Angle {
    std::int16_t whole;
    float minutes;
};
// Decimal degrees to that form; |minutes| < 60 also after rounding to float.
Angle angleOf(double degrees);

// What one board shows. Boards a scenario does not describe keep these
// defaults (defaultBoard).
struct BoardDescription {
    std::uint16_t serial;
    std::array<std::uint8_t, 3> firmware;
    std::array<std::uint8_t, 3> fpga;
    Angle latitude;
    Angle longitude;
    float altitude;  // metres
    std::uint8_t satellites;
    std::uint8_t fix;
    std::optional<Nanos> start;  // board time when the scenario is loaded
    Nanos eventsEvery = 0;       // period of scheduled events; 0 none
};
BoardDescription defaultBoard(std::uint32_t index);

struct Fault {
    enum class Selector { calls, after, every };
    Operation operation;
    std::optional<std::uint32_t> board;  // none: every board
    Selector selector;
    std::vector<std::uint64_t> calls;    // Selector::calls
    std::uint64_t n = 0;                 // Selector::after, Selector::every
    std::uint8_t status;
    // Whether call number `call` (counting from 1) fails.
    bool hits(std::uint64_t call) const;
};

struct Latency {
    std::optional<Operation> operation;  // none: every operation
    std::optional<std::uint32_t> board;  // none: every board
    Nanos delay = 0;
    Nanos jitter = 0;  // up to this much more, drawn from the seed
    std::uint64_t seed = 0;
};

struct Scenario {
    std::string path;
    std::array<BoardDescription, kMaxBoards> boards;
    std::uint32_t boardCount = 0;  // of boards simulated
    std::vector<Fault> faults;
    std::vector<Latency> latencies;
};

// Reads and checks the scenario at `path`. `boardsFromEnvironment` is a
// valid ZOLT_SIM_BOARDS, or 0; `defaultBoards` the count without either.
// A bad file gives one line naming the file, the line and the key.
std::variant<Scenario, std::string> loadScenario(const std::string& path,
                                                 std::uint32_t boardsFromEnvironment,
                                                 std::uint32_t defaultBoards);

}  // namespace zoltsim
