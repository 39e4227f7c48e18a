#include "command_line.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>

namespace lvzolt {
namespace {

constexpr const char* kToolHelp =
    "usage: lvzolt [--board N] [--json] COMMAND [options]\n"
    "\n"
    "Talks to a timing board through LV_zolt. Options go before or after the\n"
    "command word.\n"
    "\n"
    "commands:\n"
    "  info                 driver revision, firmware and FPGA identifiers, board value\n"
    "  time                 the board's time: day of the year and time of day (UTC)\n"
    "  date                 the board's date\n"
    "  position             latitude, longitude, altitude and satellites\n"
    "  set-time WHEN        set the board's clock (changes the board)\n"
    "  watch heartbeat|match|event\n"
    "                       print each heartbeat, time match or event as it comes\n"
    "  event                raise a simulated event on the board (changes the board)\n"
    "  help [COMMAND]       this text, or a command's\n"
    "\n"
    "Commands that read or watch change no setting of the board; only the\n"
    "options whose help says so do.\n"
    "\n"
    "options of every command:\n"
    "  --board N            the board to open (default 0)\n"
    "  --json               one JSON object per line instead of text\n"
    "  --help               the command's help\n"
    "\n"
    "Exit status: 0 done; 1 an export returned a nonzero status (its name and\n"
    "status byte are printed on stderr), or the output could not be written;\n"
    "2 bad command line. The status codes are the driver's own and lvzolt does\n"
    "not interpret them: the driver's documentation lists them (the simulated\n"
    "board's are in its header, zolt_simulator.h, installed with it as\n"
    "share/doc/LV_zolt/zolt_simulator.h).\n";

const std::map<std::string, const char*> kCommandHelp = {
    {"info",
     "usage: lvzolt info [--board N] [--json]\n"
     "\n"
     "Opens the board and prints its board value, the driver revision (the\n"
     "highest revision from 1 up that LV_ZOLT_getDriver accepts) and the\n"
     "firmware and FPGA identifiers.\n"},
    {"time",
     "usage: lvzolt time [--board N] [--json]\n"
     "\n"
     "Prints the board's time: day of the year (1 = 1 January) and time of\n"
     "day, seconds to the microsecond.\n"},
    {"date",
     "usage: lvzolt date [--board N] [--json]\n"
     "\n"
     "Prints the board's date as YYYY-MM-DD.\n"},
    {"position",
     "usage: lvzolt position [--board N] [--json]\n"
     "\n"
     "Prints latitude and longitude (degrees and minutes, and decimal\n"
     "degrees), altitude in metres, satellites tracked and the fix\n"
     "(0 none, 2 two-dimensional, 3 three-dimensional).\n"},
    {"set-time",
     "usage: lvzolt set-time WHEN [--board N] [--json]\n"
     "\n"
     "Sets the board's clock and prints its new time. WHEN is one of\n"
     "  now                         the host's clock (UTC)\n"
     "  HH:MM:SS[.mmm]              a time of day; the board's day stays\n"
     "  YYYY-MM-DDTHH:MM:SS[.mmm]   a date and time (UTC)\n"
     "\n"
     "The board's date and time are read first. When the driver refuses a\n"
     "value (a year outside the board's range, say), the board is left as it\n"
     "was: what can be refused is set first, and when a later call is refused\n"
     "what the earlier ones changed is put back (to the time read first plus\n"
     "the time since, to the millisecond). The message says which.\n"
     "\n"
     "On the simulated board each process has boards of its own, so the time\n"
     "set here is gone when lvzolt exits: the next run starts from the host's\n"
     "clock again.\n"},
    {"watch",
     "usage: lvzolt watch heartbeat|match|event [--count N] [--timeout MS]\n"
     "                    [--period S] [--every S] [--raise MS] [--board N] [--json]\n"
     "\n"
     "Prints each occurrence as it comes, until N have come (default: until\n"
     "stopped). The time printed is the board's clock read just after the\n"
     "wait returned, so a little after the occurrence itself (for an event,\n"
     "its time tag). Without the options marked \"changes the board\" a watch\n"
     "changes no setting: it waits for what the board is set to do.\n"
     "  heartbeat   each beat of the board's heartbeat\n"
     "    --period S  changes the board: turns the heartbeat on with a beat\n"
     "                every S seconds (10 ms pulses, positive) and leaves it on;\n"
     "                beats that passed unseen between two printed ones are\n"
     "                counted from the board's clock (\"missed N\", beats taken\n"
     "                to fall on whole multiples of S)\n"
     "  match       each time match the board is set for\n"
     "    --every S   changes the board: sets a daily match S seconds ahead of\n"
     "                the board's clock, and S seconds after each one; a match\n"
     "                time that passed before the wait is counted as missed and\n"
     "                the next one still ahead is aimed at. The match is turned\n"
     "                off when the command ends or is stopped.\n"
     "  event       each event's time tag\n"
     "    --raise MS  changes the board: raises an event every MS milliseconds\n"
     "                from a second thread\n"
     "  --timeout MS  time limit of each wait, in milliseconds (default: none);\n"
     "                a wait that runs out ends the command with its status\n"},
    {"event",
     "usage: lvzolt event [--board N] [--json]\n"
     "\n"
     "Raises a simulated event on the board. The simulated board lives in\n"
     "each process of its own: to see the event, watch it from the same\n"
     "process (lvzolt watch event --raise MS).\n"},
    {"help",
     "usage: lvzolt help [COMMAND]\n"
     "\n"
     "Prints the tool's help, or a command's.\n"},
};

const std::map<std::string, Command> kCommands = {
    {"help", Command::help},   {"info", Command::info},         {"time", Command::time},
    {"date", Command::date},   {"position", Command::position}, {"set-time", Command::setTime},
    {"watch", Command::watch}, {"event", Command::event},
};

// A whole number of at most max, digits only.
std::optional<std::uint64_t> number(const std::string& text, std::uint64_t max) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (n > (max - digit) / 10) return std::nullopt;
        n = n * 10 + digit;
    }
    return n;
}

// A decimal number of seconds in [min, max]: digits with at most one point.
std::optional<double> seconds(const std::string& text, double min, double max) {
    bool digit = false, point = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == '.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (!digit) return std::nullopt;
    const double v = std::strtod(text.c_str(), nullptr);
    if (!(v >= min && v <= max)) return std::nullopt;
    return v;
}

// Fixed-width digits at text[at, at+width).
std::optional<std::uint32_t> digits(const std::string& text, std::size_t at, std::size_t width) {
    if (at + width > text.size()) return std::nullopt;
    const auto n = number(text.substr(at, width), 99999);
    if (!n) return std::nullopt;
    return static_cast<std::uint32_t>(*n);
}

bool isLeap(std::uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::uint32_t dayOfYear(std::uint32_t y, std::uint32_t m, std::uint32_t d) {
    static constexpr std::uint32_t before[] = {0,   31,  59,  90,  120, 151,
                                               181, 212, 243, 273, 304, 334};
    return before[m - 1] + d + (m > 2 && isLeap(y) ? 1 : 0);
}

std::uint32_t daysInMonth(std::uint32_t y, std::uint32_t m) {
    static constexpr std::uint32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

constexpr const char* kForms = "is not now, HH:MM:SS[.mmm] or YYYY-MM-DDTHH:MM:SS[.mmm]";

// "HH:MM:SS[.m[m[m]]]" from text[at] to the end. A wrong form gives
// kForms; a value out of range is named.
std::optional<std::string> timeOfDay(const std::string& text, std::size_t at, SetTime& t) {
    const auto h = digits(text, at, 2), m = digits(text, at + 3, 2), s = digits(text, at + 6, 2);
    if (!h || !m || !s || text[at + 2] != ':' || text[at + 5] != ':') return kForms;
    const std::size_t rest = at + 8;
    std::uint32_t milliseconds = 0;
    if (rest != text.size()) {
        const std::size_t width = text.size() - rest - 1;
        if (text[rest] != '.' || width < 1 || width > 3) return kForms;
        const auto ms = digits(text, rest + 1, width);
        if (!ms) return kForms;
        milliseconds = *ms * (width == 1 ? 100u : width == 2 ? 10u : 1u);
    }
    const auto pad = [](std::uint32_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (*h > 23) return "hour " + pad(*h) + " is out of range (00-23)";
    if (*m > 59) return "minute " + pad(*m) + " is out of range (00-59)";
    if (*s > 59)
        return "second " + pad(*s) + " is out of range (00-59; leap seconds cannot be set)";
    t.hours = *h;
    t.minutes = *m;
    t.seconds = *s;
    t.milliseconds = milliseconds;
    return std::nullopt;
}

}  // namespace

std::variant<SetTime, std::string> parseWhen(const std::string& text) {
    SetTime t;
    if (text == "now") {
        using namespace std::chrono;
        const auto now = system_clock::now();
        const auto day = floor<days>(now);
        const year_month_day ymd{day};
        const auto ms = duration_cast<milliseconds>(now - day).count();
        t.keepDate = false;
        t.year = static_cast<std::uint32_t>(static_cast<int>(ymd.year()));
        t.dayOfYear =
            dayOfYear(t.year, static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
        t.hours = static_cast<std::uint32_t>(ms / 3'600'000);
        t.minutes = static_cast<std::uint32_t>(ms / 60'000 % 60);
        t.seconds = static_cast<std::uint32_t>(ms / 1000 % 60);
        t.milliseconds = static_cast<std::uint32_t>(ms % 1000);
        return t;
    }
    // "'WHEN' is not ..." for a wrong form, "'WHEN': VALUE is out of range" else.
    const auto problem = [&](const std::string& what) {
        return "'" + text + (what == kForms ? "' " : "': ") + what;
    };
    if (text.size() >= 8 && text[2] == ':') {
        if (auto e = timeOfDay(text, 0, t)) return problem(*e);
        return t;
    }
    const auto y = digits(text, 0, 4), m = digits(text, 5, 2), d = digits(text, 8, 2);
    if (!y || !m || !d || text[4] != '-' || text[7] != '-' || text.size() < 19 ||
        (text[10] != 'T' && text[10] != ' '))
        return problem(kForms);
    // The form of the whole first, so that a bad form is not reported as a
    // value out of range.
    SetTime probe;
    const auto timeError = timeOfDay(text, 11, probe);
    if (timeError && *timeError == kForms) return problem(kForms);
    if (*m < 1 || *m > 12)
        return problem("month " + text.substr(5, 2) + " is out of range (01-12)");
    if (*d < 1 || *d > daysInMonth(*y, *m))
        return problem("day " + text.substr(8, 2) + " is out of range: " + kMonths[*m - 1] +
                       (*m == 2 ? " " + text.substr(0, 4) : std::string()) + " has " +
                       std::to_string(daysInMonth(*y, *m)) + " days");
    if (timeError) return problem(*timeError);
    t = probe;
    t.keepDate = false;
    t.year = *y;
    t.dayOfYear = dayOfYear(*y, *m, *d);
    return t;
}

const char* helpText(const std::string& command) {
    if (command.empty()) return kToolHelp;
    const auto it = kCommandHelp.find(command);
    return it == kCommandHelp.end() ? nullptr : it->second;
}

std::variant<Request, UsageError> parse(const std::vector<std::string>& args) {
    Request r;
    // Options may stand on either side of the command word: the words and
    // options are collected first, then checked against the command.
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> options;  // with a value
    std::optional<std::string> unknown, valueless;
    bool help = false;
    static const std::map<std::string, bool> withValue = {
        {"--board", false}, {"--count", true}, {"--timeout", true},
        {"--period", true}, {"--every", true}, {"--raise", true}};  // true: watch only
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a != "-h" && (a.size() < 2 || a[0] != '-' || a[1] != '-')) {
            words.push_back(a);
        } else if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--json") {
            r.json = true;
        } else if (!withValue.count(a)) {
            if (!unknown) unknown = a;
        } else if (i + 1 == args.size()) {
            valueless = a;
        } else {
            options.emplace_back(a, args[++i]);
        }
    }
    const std::string name = words.empty() ? "" : words.front();
    if (!words.empty()) words.erase(words.begin());
    if (!name.empty() && !kCommands.count(name))
        return UsageError{"unknown command '" + name + "'", ""};
    if (unknown) return UsageError{"unknown option '" + *unknown + "'", name};
    if (valueless) return UsageError{"option " + *valueless + " needs a value", name};

    std::vector<std::string> kindOptions;  // --period, --every, --raise as given
    for (const auto& option : options) {
        const std::string& a = option.first;
        const std::string& v = option.second;
        if (withValue.at(a) && name != "watch")
            return UsageError{"option " + a + " goes with watch only" +
                                  (name.empty() ? std::string() : ", not with " + name),
                              name};
        if (a != "--board" && a != "--count" && a != "--timeout") kindOptions.push_back(a);
        const auto bad = [&](const char* what) {
            return UsageError{"option " + a + ": '" + v + "' is not " + what, name};
        };
        if (a == "--board") {
            const auto n = number(v, 0xFFFFFFFFu);
            if (!n) return bad("a board index");
            r.board = static_cast<std::uint32_t>(*n);
        } else if (a == "--count") {
            const auto n = number(v, 0xFFFFFFFFu);
            if (!n || *n == 0) return bad("a count from 1");
            r.count = static_cast<std::uint32_t>(*n);
        } else if (a == "--timeout") {
            const auto n = number(v, 0xFFFFFFFEu);
            if (!n) return bad("a number of milliseconds below 4294967295");
            r.timeout = static_cast<std::uint32_t>(*n);
        } else if (a == "--period") {
            const auto s = seconds(v, 0.001, 86400.0);
            if (!s) return bad("a period of 0.001 to 86400 seconds");
            r.period = *s;
        } else if (a == "--every") {
            const auto s = seconds(v, 0.001, 86399.0);
            if (!s) return bad("an interval of 0.001 to 86399 seconds");
            r.every = *s;
        } else {
            const auto n = number(v, 86'400'000u);
            if (!n || *n == 0) return bad("a number of milliseconds from 1 to 86400000");
            r.raiseEvery = static_cast<std::uint32_t>(*n);
        }
    }
    if (help) {
        r.command = Command::help;
        r.helpTopic = name == "help" ? (words.empty() ? "" : words[0]) : name;
        return r;
    }
    if (name.empty()) return UsageError{"no command given", ""};
    r.command = kCommands.at(name);
    const auto expectWords = [&](std::size_t n) -> std::optional<UsageError> {
        if (words.size() > n) return UsageError{"unexpected argument '" + words[n] + "'", name};
        if (words.size() < n) return UsageError{"missing argument", name};
        return std::nullopt;
    };
    switch (r.command) {
        case Command::help:
            if (words.size() > 1) return UsageError{"unexpected argument '" + words[1] + "'", name};
            r.helpTopic = words.empty() ? "" : words[0];
            if (!helpText(r.helpTopic))
                return UsageError{"unknown command '" + r.helpTopic + "'", ""};
            break;
        case Command::setTime: {
            if (auto e = expectWords(1)) return *e;
            auto when = parseWhen(words[0]);
            if (const auto* e = std::get_if<std::string>(&when)) return UsageError{*e, name};
            r.when = std::get<SetTime>(when);
            break;
        }
        case Command::watch: {
            if (auto e = expectWords(1)) return *e;
            static const std::map<std::string, Watch> kinds = {
                {"heartbeat", Watch::heartbeat}, {"match", Watch::match}, {"event", Watch::event}};
            const auto kind = kinds.find(words[0]);
            if (kind == kinds.end())
                return UsageError{"'" + words[0] + "' is not heartbeat, match or event", name};
            r.watch = kind->second;
            static const std::map<Watch, std::string> ownOption = {{Watch::heartbeat, "--period"},
                                                                   {Watch::match, "--every"},
                                                                   {Watch::event, "--raise"}};
            for (const std::string& o : kindOptions)
                if (o != ownOption.at(r.watch))
                    return UsageError{"option " + o + " does not go with watch " + words[0], name};
            break;
        }
        default:
            if (auto e = expectWords(0)) return *e;
    }
    return r;
}

}  // namespace lvzolt
