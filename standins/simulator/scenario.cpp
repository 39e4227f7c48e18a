// Reading a scenario file. Every key is checked (type and range), unknown
// keys are refused, and the first problem ends the reading with one line
// that names the file, the line and the key: a host must never run on a
// board the file did not mean.
#include "scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>

#define TOML_ENABLE_WINDOWS_COMPAT 0
#include <toml++/toml.h>

#include "zolt_simulator.h"

namespace zoltsim {

Angle angleOf(double degrees) {
    double whole = std::trunc(degrees);
    auto minutes = static_cast<float>((degrees - whole) * 60.0);
    // 33.99999999 degrees would otherwise show 60.0 minutes.
    if (std::fabs(minutes) >= 60.0f) {
        whole += degrees < 0 ? -1.0 : 1.0;
        minutes = 0.0f;
    }
    return Angle{static_cast<std::int16_t>(whole), minutes};
}

BoardDescription defaultBoard(std::uint32_t index) {
    const auto i = static_cast<float>(index);
    return BoardDescription{
        static_cast<std::uint16_t>(ZOLT_SIM_SERIAL_BASE + index),
        ZOLT_SIM_FIRMWARE_ID,
        ZOLT_SIM_FPGA_ID,
        Angle{47, 22.917f + 0.010f * i},
        Angle{8, 32.533f},
        408.5f + i,
        9,
        3,
        std::nullopt,
        0,
    };
}

bool Fault::hits(std::uint64_t call) const {
    switch (selector) {
        case Selector::calls:
            return std::find(calls.begin(), calls.end(), call) != calls.end();
        case Selector::after:
            return call > n;
        case Selector::every:
            return call % n == 0;
    }
    return false;
}

namespace {

// The first problem found; what() is the whole line.
struct Problem {
    std::string line;
};

class Reader {
   public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    [[noreturn]] void fail(const toml::source_region& where, const std::string& key,
                           const std::string& message) const {
        std::ostringstream s;
        s << path_ << ":" << where.begin.line << ": " << key << ": " << message;
        throw Problem{s.str()};
    }

    // The keys of one table, each known; `known` lists them.
    void onlyKnown(const toml::table& table, const std::string& section,
                   std::initializer_list<std::string_view> known) const {
        for (auto&& [key, node] : table) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end())
                fail(key.source(), section + std::string(key.str()), "unknown key");
        }
    }

    static std::string typeName(const toml::node& node) {
        switch (node.type()) {
            case toml::node_type::string: return "a string";
            case toml::node_type::integer: return "an integer";
            case toml::node_type::floating_point: return "a real";
            case toml::node_type::boolean: return "a boolean";
            case toml::node_type::date: return "a date";
            case toml::node_type::time: return "a time";
            case toml::node_type::date_time: return "a date-time";
            case toml::node_type::array: return "an array";
            case toml::node_type::table: return "a table";
            default: return "nothing";
        }
    }

    std::int64_t integer(const toml::node& node, const std::string& key, std::int64_t low,
                         std::int64_t high) const {
        const auto* value = node.as_integer();
        if (value == nullptr) fail(node.source(), key, "expected an integer, not " + typeName(node));
        const std::int64_t v = value->get();
        if (v < low || v > high)
            fail(node.source(), key,
                 std::to_string(v) + " is out of range (" + std::to_string(low) + " to " +
                     std::to_string(high) + ")");
        return v;
    }

    double number(const toml::node& node, const std::string& key, double low, double high,
                  const char* range) const {
        double v = 0;
        if (const auto* i = node.as_integer())
            v = static_cast<double>(i->get());
        else if (const auto* f = node.as_floating_point())
            v = f->get();
        else
            fail(node.source(), key, "expected a number, not " + typeName(node));
        if (!(v >= low && v <= high)) {
            std::ostringstream s;
            s << v << " is out of range (" << range << ")";
            fail(node.source(), key, s.str());
        }
        return v;
    }

    std::string text(const toml::node& node, const std::string& key) const {
        const auto* value = node.as_string();
        if (value == nullptr) fail(node.source(), key, "expected a string, not " + typeName(node));
        return value->get();
    }

    std::array<std::uint8_t, 3> identifier(const toml::node& node, const std::string& key) const {
        const std::string t = text(node, key);
        std::array<std::uint8_t, 3> id{};
        bool ok = t.size() == 8 && t[2] == '-' && t[5] == '-';
        for (std::size_t i = 0; ok && i < 3; ++i) {
            unsigned byte = 0;
            for (const char c : t.substr(i * 3, 2)) {
                const char* digits = "0123456789ABCDEF";
                const char* at = std::strchr(digits, std::toupper(static_cast<unsigned char>(c)));
                if (c == '\0' || at == nullptr) {
                    ok = false;
                    break;
                }
                byte = byte * 16 + static_cast<unsigned>(at - digits);
            }
            id[i] = static_cast<std::uint8_t>(byte);
        }
        if (!ok) fail(node.source(), key, "'" + t + "' is not three hex bytes such as 0A-0B-0C");
        return id;
    }

    Operation operation(const toml::node& node, const std::string& key) const {
        const std::string name = text(node, key);
        for (std::size_t i = 0; i < kOperations; ++i)
            if (kOperationNames[i] == name) return static_cast<Operation>(i);
        fail(node.source(), key,
             "'" + name + "' is not a driver operation (getTime, waitEvent, ...; without ZOLT_)");
    }

    // Board time from a TOML date-time or a string holding one; UTC unless
    // it carries an offset.
    Nanos instant(const toml::node& node, const std::string& key) const {
        std::optional<toml::date_time> when;
        std::string shown;
        if (const auto* d = node.as_date_time()) {
            when = d->get();
        } else if (const auto* s = node.as_string()) {
            shown = s->get();
            try {
                const toml::table t = toml::parse("v = " + shown);
                const auto* d2 = t["v"].as_date_time();
                if (t.size() == 1 && d2 != nullptr) when = d2->get();
            } catch (const toml::parse_error&) {
            }
            if (!when)
                fail(node.source(), key,
                     "'" + shown + "' is not a date and time such as 2030-01-01T00:00:00");
        } else {
            fail(node.source(), key, "expected a date and time, not " + typeName(node));
        }
        const toml::date_time& dt = *when;
        if (dt.date.year < 1970 || dt.date.year > 2200)
            fail(node.source(), key, "the year must be 1970 to 2200");
        using namespace std::chrono;
        const sys_days day{year{dt.date.year} / month{dt.date.month} / std::chrono::day{dt.date.day}};
        Nanos t = static_cast<Nanos>(day.time_since_epoch().count()) * kDay +
                  dt.time.hour * kHour + dt.time.minute * kMinute + dt.time.second * kSecond +
                  dt.time.nanosecond;
        if (dt.offset) t -= static_cast<Nanos>(dt.offset->minutes) * kMinute;
        return t;
    }

    std::optional<std::uint32_t> board(const toml::table& table, const std::string& section) const {
        const toml::node* node = table.get("board");
        if (node == nullptr) return std::nullopt;
        return static_cast<std::uint32_t>(integer(*node, section + "board", 0, kMaxBoards - 1));
    }

    const toml::node& required(const toml::table& table, std::string_view key,
                               const std::string& section) const {
        const toml::node* node = table.get(key);
        if (node == nullptr) fail(table.source(), section + std::string(key), "missing");
        return *node;
    }

    const std::string& path() const { return path_; }

   private:
    std::string path_;
};

// The tables of one [[section]].
template <class F>
void eachTable(const Reader& r, const toml::table& root, std::string_view section, F f) {
    const toml::node* node = root.get(section);
    if (node == nullptr) return;
    const auto* array = node->as_array();
    if (array == nullptr || !array->is_array_of_tables())
        r.fail(node->source(), std::string(section),
               "expected [[" + std::string(section) + "]] tables, not " + Reader::typeName(*node));
    for (const toml::node& t : *array) f(*t.as_table(), std::string(section) + ".");
}

struct BoardUse {
    std::uint32_t index;
    toml::source_region where;
    std::string key;
};

Scenario read(const Reader& r, const toml::table& root, std::uint32_t boardsFromEnvironment,
              std::uint32_t defaultBoards) {
    r.onlyKnown(root, "", {"board", "fault", "latency", "events"});
    Scenario s;
    for (std::uint32_t i = 0; i < kMaxBoards; ++i) s.boards[i] = defaultBoard(i);
    std::array<bool, kMaxBoards> described{};
    std::uint32_t highest = 0;
    std::vector<BoardUse> uses;  // boards named by faults, latency and events

    eachTable(r, root, "board", [&](const toml::table& t, const std::string& at) {
        r.onlyKnown(t, at,
                    {"index", "serial", "firmware", "fpga", "latitude", "longitude", "altitude",
                     "satellites", "fix", "start"});
        const auto index = static_cast<std::uint32_t>(
            r.integer(r.required(t, "index", at), at + "index", 0, kMaxBoards - 1));
        if (described[index])
            r.fail(t.get("index")->source(), at + "index",
                   "board " + std::to_string(index) + " is described twice");
        described[index] = true;
        highest = std::max(highest, index + 1);
        BoardDescription& b = s.boards[index];
        if (const auto* n = t.get("serial"))
            b.serial = static_cast<std::uint16_t>(r.integer(*n, at + "serial", 0, 65535));
        if (const auto* n = t.get("firmware")) b.firmware = r.identifier(*n, at + "firmware");
        if (const auto* n = t.get("fpga")) b.fpga = r.identifier(*n, at + "fpga");
        if (const auto* n = t.get("latitude"))
            b.latitude = angleOf(r.number(*n, at + "latitude", -90, 90, "-90 to 90 degrees"));
        if (const auto* n = t.get("longitude"))
            b.longitude =
                angleOf(r.number(*n, at + "longitude", -180, 180, "-180 to 180 degrees"));
        if (const auto* n = t.get("altitude"))
            b.altitude = static_cast<float>(
                r.number(*n, at + "altitude", -1000, 100000, "-1000 to 100000 metres"));
        if (const auto* n = t.get("satellites"))
            b.satellites = static_cast<std::uint8_t>(r.integer(*n, at + "satellites", 0, 255));
        if (const auto* n = t.get("fix")) {
            const auto fix = r.integer(*n, at + "fix", 0, 3);
            if (fix == 1) r.fail(n->source(), at + "fix", "1 is not a fix: 0, 2 or 3");
            b.fix = static_cast<std::uint8_t>(fix);
        }
        if (const auto* n = t.get("start")) b.start = r.instant(*n, at + "start");
    });

    eachTable(r, root, "fault", [&](const toml::table& t, const std::string& at) {
        r.onlyKnown(t, at, {"operation", "board", "calls", "after", "every", "status"});
        Fault f{};
        f.operation = r.operation(r.required(t, "operation", at), at + "operation");
        f.board = r.board(t, at);
        if (f.board) uses.push_back({*f.board, t.get("board")->source(), at + "board"});
        f.status = static_cast<std::uint8_t>(r.integer(r.required(t, "status", at), at + "status",
                                                       1, 255));
        int selectors = 0;
        if (const auto* n = t.get("calls")) {
            ++selectors;
            f.selector = Fault::Selector::calls;
            const auto* list = n->as_array();
            if (list == nullptr || list->empty())
                r.fail(n->source(), at + "calls",
                       "expected a list of call numbers such as [2, 5], not " +
                           (list ? std::string("an empty list") : Reader::typeName(*n)));
            for (const toml::node& c : *list)
                f.calls.push_back(static_cast<std::uint64_t>(
                    r.integer(c, at + "calls", 1, std::numeric_limits<std::int64_t>::max())));
        }
        if (const auto* n = t.get("after")) {
            ++selectors;
            f.selector = Fault::Selector::after;
            f.n = static_cast<std::uint64_t>(
                r.integer(*n, at + "after", 0, std::numeric_limits<std::int64_t>::max()));
        }
        if (const auto* n = t.get("every")) {
            ++selectors;
            f.selector = Fault::Selector::every;
            f.n = static_cast<std::uint64_t>(
                r.integer(*n, at + "every", 1, std::numeric_limits<std::int64_t>::max()));
        }
        if (selectors != 1)
            r.fail(t.source(), at + "calls",
                   "give exactly one of calls, after and every (" + std::to_string(selectors) +
                       " given)");
        s.faults.push_back(std::move(f));
    });

    eachTable(r, root, "latency", [&](const toml::table& t, const std::string& at) {
        r.onlyKnown(t, at, {"operation", "board", "ms", "jitter_ms", "seed"});
        Latency l;
        if (const auto* n = t.get("operation")) l.operation = r.operation(*n, at + "operation");
        l.board = r.board(t, at);
        if (l.board) uses.push_back({*l.board, t.get("board")->source(), at + "board"});
        const auto ms = [&](const toml::node& n, const std::string& key) {
            return static_cast<Nanos>(
                std::llround(r.number(n, key, 0, 60000, "0 to 60000 ms") * 1e6));
        };
        l.delay = ms(r.required(t, "ms", at), at + "ms");
        if (const auto* n = t.get("jitter_ms")) l.jitter = ms(*n, at + "jitter_ms");
        if (const auto* n = t.get("seed"))
            l.seed = static_cast<std::uint64_t>(
                r.integer(*n, at + "seed", 0, std::numeric_limits<std::int64_t>::max()));
        s.latencies.push_back(l);
    });

    std::array<bool, kMaxBoards> scheduled{};
    eachTable(r, root, "events", [&](const toml::table& t, const std::string& at) {
        r.onlyKnown(t, at, {"board", "every"});
        const auto board = r.board(t, at);
        if (board) uses.push_back({*board, t.get("board")->source(), at + "board"});
        const auto every = static_cast<Nanos>(std::llround(
            r.number(r.required(t, "every", at), at + "every", 0.001, 86400,
                     "0.001 to 86400 seconds") *
            1e9));
        for (std::uint32_t i = 0; i < kMaxBoards; ++i) {
            if (board && *board != i) continue;
            if (scheduled[i])
                r.fail(t.source(), at + "board",
                       "events for board " + std::to_string(i) + " are scheduled twice");
            scheduled[i] = true;
            s.boards[i].eventsEvery = every;
        }
    });

    s.boardCount = highest > 0 ? highest : defaultBoards;
    if (boardsFromEnvironment != 0) {
        if (boardsFromEnvironment < highest)
            throw Problem{"ZOLT_SIM_BOARDS=" + std::to_string(boardsFromEnvironment) +
                          " leaves out board " + std::to_string(highest - 1) + " that " + r.path() +
                          " describes"};
        s.boardCount = boardsFromEnvironment;
    }
    for (const BoardUse& use : uses)
        if (use.index >= s.boardCount)
            r.fail(use.where, use.key,
                   "board " + std::to_string(use.index) + " is not simulated (" +
                       std::to_string(s.boardCount) + " boards)");
    return s;
}

// Control characters of a value quoted in a message are escaped: the
// message stays one line.
std::string oneLine(const std::string& message) {
    std::string out;
    for (const char c : message) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u == 0x7F) {
            const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::variant<Scenario, std::string> loadScenario(const std::string& path,
                                                 std::uint32_t boardsFromEnvironment,
                                                 std::uint32_t defaultBoards) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return oneLine(path + ": cannot be read: a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) return oneLine(path + ": cannot be read: " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return oneLine(path + ": cannot be read");
    const Reader reader(path);
    try {
        const toml::table root = toml::parse(content.str(), path);
        Scenario s = read(reader, root, boardsFromEnvironment, defaultBoards);
        s.path = path;
        return s;
    } catch (const toml::parse_error& e) {
        std::ostringstream s;
        s << path << ":" << e.source().begin.line << ": " << e.description();
        return oneLine(s.str());
    } catch (const Problem& p) {
        return oneLine(p.line);
    }
}

}  // namespace zoltsim
