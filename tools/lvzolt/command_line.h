// The lvzolt command line: what the user asked for, or why it makes no sense.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lvzolt {

enum class Command { help, info, time, date, position, setTime, watch, event };
enum class Watch { heartbeat, match, event };

// A time to set, as the board takes it.
struct SetTime {
    bool keepDate = true;  // HH:MM:SS only: the board's day stays
    std::uint32_t year = 0, dayOfYear = 0;
    std::uint32_t hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
};

struct Request {
    Command command = Command::help;
    std::string helpTopic;  // for Command::help: a command name, or empty
    std::uint32_t board = 0;
    bool json = false;
    // set-time
    SetTime when;
    // watch
    Watch watch = Watch::heartbeat;
    std::optional<std::uint32_t> count;   // none: until stopped
    std::uint32_t timeout = 0xFFFFFFFFu;  // milliseconds per wait; all ones: none
    // Options that change the board; without them a watch changes nothing.
    std::optional<double> period;             // heartbeat: turn it on, seconds
    std::optional<double> every;              // match: set one, seconds between matches
    std::optional<std::uint32_t> raiseEvery;  // event: raise one every N milliseconds
};

// Bad input: the message, and the command whose usage to show ("" for all).
struct UsageError {
    std::string message;
    std::string command;
};

std::variant<Request, UsageError> parse(const std::vector<std::string>& args);

// The help text of one command, or of the tool when command is empty;
// nullptr for an unknown command.
const char* helpText(const std::string& command);

// Parses "now", "HH:MM:SS[.mmm]" or "YYYY-MM-DDTHH:MM:SS[.mmm]"; on failure
// the message says whether the form is wrong or which value is out of range.
std::variant<SetTime, std::string> parseWhen(const std::string& text);

}  // namespace lvzolt
