// The lvzolt tool, run as a program over LV_zolt and the simulated board
// (its output, exit codes and usage errors; waits of a millisecond or two
// on the host's clock), and run inside this process on a manual clock,
// where the tests see what it leaves on the board and move time themselves.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fixture.h"
#include "tool.h"

namespace {

struct Outcome {
    int exit = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs lvzolt with the arguments (already shell-quoted where needed) and an
// optional environment assignment in front; its output goes to `output`
// when one is given.
Outcome lvzolt(const std::string& args, const std::string& environment = "",
               const std::string& output = "") {
    const std::string base = ::testing::TempDir() + "lvzolt_" + std::to_string(getpid());
    const std::string command = environment + " " LVZOLT_EMULATOR " '" LVZOLT_PROGRAM "' " +
                                args + " >" +
                                (output.empty() ? base + ".out" : output) + " 2>" + base +
                                ".err </dev/null";
    const int status = std::system(command.c_str());
    Outcome r;
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(base + ".out");
    r.err = slurp(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return r;
}

int countMatches(const std::string& text, const std::regex& line) {
    int n = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
         it != std::sregex_iterator(); ++it)
        ++n;
    return n;
}

TEST(Lvzolt, InfoShowsTheBoardsIdentity) {
    Outcome r = lvzolt("info");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "board        0\n"
              "board value  4100\n"
              "driver       revision 3\n"
              "firmware     02-07-13\n"
              "FPGA         01-04-2A\n");
    EXPECT_EQ(r.err, "");
    r = lvzolt("--json info --board 1");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(
        r.out,
        R"({"board":1,"boardValue":4101,"driverRevision":3,"firmware":"02-07-13","fpga":"01-04-2A"})"
        "\n");
}

TEST(Lvzolt, PositionAsTextAndJson) {
    Outcome r = lvzolt("position");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "latitude   47 22.9170' N  (47.381950)\n"
              "longitude   8 32.5330' E  (8.542217)\n"
              "altitude   408.5 m\n"
              "satellites 9 tracked, fix 3\n");
    r = lvzolt("position --json");
    EXPECT_EQ(r.out, R"({"latitude":{"degrees":47,"minutes":22.917,"decimal":47.38195},)"
                     R"("longitude":{"degrees":8,"minutes":32.533,"decimal":8.5422167},)"
                     R"("altitude":408.5,"satellites":9,"fix":3})"
                     "\n");
}

TEST(Lvzolt, TimeAndDate) {
    Outcome r = lvzolt("time");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(R"(day \d{1,3} \d\d:\d\d:\d\d\.\d{6}\n)")))
        << r.out;
    r = lvzolt("date --json");
    EXPECT_TRUE(std::regex_match(r.out, std::regex(R"(\{"year":20\d\d,"month":\d+,"day":\d+\}\n)")))
        << r.out;
}

TEST(Lvzolt, SetTimeSetsTheClockAndShowsIt) {
    const struct {
        const char* when;
        const char* shown;
    } cases[] = {
        {"2024-12-31T23:59:59.250", "day 366 23:59:59.25"},
        {"'2024-02-29 12:00:00.5'", "day 60 12:00:00.5"},
        {"2025-01-01T00:00:00", "day 1 00:00:00.0"},
        {"06:07:08.9", "day "},  // the board's own day stays
    };
    for (const auto& c : cases) {
        const Outcome r = lvzolt(std::string("set-time ") + c.when);
        EXPECT_EQ(r.exit, 0) << c.when << ": " << r.err;
        EXPECT_EQ(r.out.rfind(c.shown, 0), 0u) << c.when << ": " << r.out;
    }
    EXPECT_NE(lvzolt("set-time 06:07:08.9").out.find(" 06:07:08.9"), std::string::npos);
}

TEST(Lvzolt, WatchPrintsEachOccurrenceLive) {
    const struct {
        const char* args;
        const char* line;
    } cases[] = {
        {"watch heartbeat --count 3 --period 0.001",
         R"(heartbeat \d  day \d+ [\d:.]+(  missed \d+)?\n)"},
        {"watch match --count 2 --every 0.002", R"(match \d  day \d+ [\d:.]+(  missed \d+)?\n)"},
        {"watch event --count 3 --raise 1",
         R"(event \d  day \d+ [\d:.]+ year 20\d\d number \d dropped 0\n)"},
    };
    for (const auto& c : cases) {
        const Outcome r = lvzolt(c.args);
        EXPECT_EQ(r.exit, 0) << c.args << ": " << r.err;
        const int expected = c.args[std::string(c.args).find("--count ") + 8] - '0';
        EXPECT_EQ(countMatches(r.out, std::regex(c.line)), expected) << c.args << ":\n" << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), expected) << r.out;
    }
    const Outcome r = lvzolt("watch event --count 2 --raise 1 --json");
    EXPECT_TRUE(std::regex_match(
        r.out,
        std::regex(
            R"((\{"kind":"event","count":\d,"time":\{"day":\d+,"hours":\d+,"minutes":\d+,)"
            R"("seconds":[\d.e-]+\},"tag":\{"year":20\d\d,"number":\d,"dropped":0\}\}\n){2})")))
        << r.out;
}

TEST(Lvzolt, NonzeroStatusNamesTheExportAndFails) {
    const struct {
        const char* args;
        const char* environment;
        const char* message;
    } cases[] = {
        {"watch event --timeout 1", "", "lvzolt: LV_ZOLT_waitEvent returned status 7\n"},
        {"watch heartbeat --period 1 --timeout 0", "",
         "lvzolt: LV_ZOLT_waitHeartbeat returned status 7\n"},
        {"info --board 2", "", "lvzolt: LV_ZOLT_open returned status 4\n"},
        {"set-time 2025-06-01T00:00:00 --board 8", "ZOLT_SIM_BOARDS=8",
         "lvzolt: LV_ZOLT_open returned status 4\n"},
    };
    for (const auto& c : cases) {
        const Outcome r = lvzolt(c.args, c.environment);
        EXPECT_EQ(r.exit, 1) << c.args;
        EXPECT_EQ(r.err, c.message) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
    }
}

TEST(Lvzolt, SimulatorConfigurationFromTheEnvironment) {
    Outcome r = lvzolt("info --board 2 --json", "ZOLT_SIM_BOARDS=3");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find(R"("boardValue":4102)"), std::string::npos) << r.out;
    r = lvzolt("event", "ZOLT_SIM_BOARDS=many");
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "event raised on board 0\n");
    EXPECT_NE(r.err.find("ZOLT_SIM_BOARDS=\"many\""), std::string::npos) << r.err;
}

// The example scenarios, each over the tool as a host developer would run it.
TEST(Lvzolt, ExampleScenariosShowTheirBoards) {
    const struct {
        const char* scenario;
        const char* args;
        int exit;
        const char* out;
        const char* err;
    } cases[] = {
        {"southern-hemisphere", "info", 0,
         "board        0\n"
         "board value  4242\n"
         "driver       revision 3\n"
         "firmware     0A-0B-0C\n"
         "FPGA         01-02-03\n",
         ""},
        {"southern-hemisphere", "position", 0,
         "latitude   33 51.4080' S  (-33.856800)\n"
         "longitude 151 12.9180' E  (151.215300)\n"
         "altitude   58.0 m\n"
         "satellites 4 tracked, fix 2\n",
         ""},
        {"southern-hemisphere", "position --board 1", 0,
         "latitude   22 57.1140' S  (-22.951900)\n"
         "longitude  43 12.6300' W  (-43.210500)\n"
         "altitude   710.0 m\n"
         "satellites 9 tracked, fix 3\n",
         ""},
        {"southern-hemisphere", "date", 0, "2030-01-01\n", ""},
        {"southern-hemisphere", "date --board 1 --json", 0,
         R"({"year":2030,"month":1,"day":1})"
         "\n",
         ""},
        {"no-fix", "position --json", 0,
         R"({"latitude":{"degrees":47,"minutes":22.917,"decimal":47.38195},)"
         R"("longitude":{"degrees":8,"minutes":32.533,"decimal":8.5422167},)"
         R"("altitude":408.5,"satellites":0,"fix":0})"
         "\n",
         ""},
        {"no-fix", "info --board 1", 1, "", "lvzolt: LV_ZOLT_open returned status 4\n"},
        {"failing-driver", "date", 1, "", "lvzolt: LV_ZOLT_getDate returned status 42\n"},
        {"failing-driver", "info", 0,
         "board        0\n"
         "board value  4100\n"
         "driver       revision 3\n"
         "firmware     02-07-13\n"
         "FPGA         01-04-2A\n",
         ""},
    };
    for (const auto& c : cases) {
        const std::string environment =
            std::string("ZOLT_SIM_SCENARIO='" LVZOLT_SCENARIOS "/") + c.scenario + ".toml'";
        const Outcome r = lvzolt(c.args, environment);
        EXPECT_EQ(r.exit, c.exit) << c.scenario << ": " << c.args << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.scenario << ": " << c.args;
        EXPECT_EQ(r.err, c.err) << c.scenario << ": " << c.args;
    }
}

TEST(Lvzolt, ScheduledEventsArriveWithoutBeingRaised) {
    const Outcome r = lvzolt("watch event --count 3",
                             "ZOLT_SIM_SCENARIO='" LVZOLT_SCENARIOS "/failing-driver.toml'");
    EXPECT_EQ(r.exit, 0) << r.err;
    // Tags on the 0.3 s schedule of the board's clock, numbered from 1.
    const std::regex line(
        R"(event (\d)  day \d+ \d\d:\d\d:(\d\d\.\d{6}) year 20\d\d number (\d) dropped 0)");
    int count = 0;
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line);
         it != std::sregex_iterator(); ++it) {
        ++count;
        EXPECT_EQ((*it)[1], std::to_string(count));
        EXPECT_EQ((*it)[3], std::to_string(count));
        const double seconds = std::stod((*it)[2]);  // a minute holds 200 periods
        EXPECT_NEAR(std::remainder(seconds, 0.3), 0.0, 1e-6) << r.out;
    }
    EXPECT_EQ(count, 3) << r.out;
}

TEST(Lvzolt, BadScenarioStopsTheToolWithTheSimulatorsReason) {
    const Outcome r = lvzolt("info", "ZOLT_SIM_SCENARIO=/nonexistent/scenario.toml");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("zolt simulator: /nonexistent/scenario.toml: cannot be read", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("\nlvzolt: LV_ZOLT_open returned status 11\n"), std::string::npos)
        << r.err;
}

TEST(Lvzolt, BadCommandLinesGetUsageAndExitTwo) {
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command 'frobnicate'"},
        {"info --verbose", "unknown option '--verbose'"},
        {"info --count 3", "option --count goes with watch only, not with info"},
        {"--count 3 info", "option --count goes with watch only, not with info"},
        {"--board 1", "no command given"},
        {"info --board", "option --board needs a value"},
        {"info --board x", "option --board: 'x' is not a board index"},
        {"info --board -1", "'-1' is not a board index"},
        {"info --board 4294967296", "is not a board index"},
        {"info extra", "unexpected argument 'extra'"},
        {"watch", "missing argument"},
        {"watch tide", "'tide' is not heartbeat, match or event"},
        {"watch heartbeat --count 0", "is not a count from 1"},
        {"watch heartbeat --timeout 4294967295", "is not a number of milliseconds"},
        {"watch heartbeat --period 0", "is not a period of 0.001 to 86400 seconds"},
        {"watch heartbeat --period 1e3", "is not a period"},
        {"watch match --every -1", "is not an interval"},
        {"watch event --raise 0", "is not a number of milliseconds from 1"},
        {"watch match --period 1", "option --period does not go with watch match"},
        {"set-time", "missing argument"},
        // A wrong form, and a value out of range, each named as such.
        {"set-time 12:00", "'12:00' is not now, HH:MM:SS[.mmm] or YYYY-MM-DDTHH:MM:SS[.mmm]"},
        {"set-time 12:00:00.1234", "is not now"},
        {"set-time 2025-13-01", "is not now"},
        {"set-time 2025-02-30T12:00", "is not now"},
        {"set-time 24:00:00", "'24:00:00': hour 24 is out of range (00-23)"},
        {"set-time 12:60:00", "'12:60:00': minute 60 is out of range (00-59)"},
        {"set-time 23:59:60", "'23:59:60': second 60 is out of range (00-59; leap seconds"},
        {"set-time 2026-02-29T00:00:00",
         "'2026-02-29T00:00:00': day 29 is out of range: February 2026 has 28 days"},
        {"set-time 2025-04-31T00:00:00", "day 31 is out of range: April has 30 days"},
        {"set-time 2025-13-01T00:00:00", "month 13 is out of range (01-12)"},
        {"set-time 2025-00-01T00:00:00", "month 00 is out of range (01-12)"},
        {"set-time 2024-12-31T24:00:00", "'2024-12-31T24:00:00': hour 24 is out of range"},
        {"help nothing", "unknown command 'nothing'"},
    };
    for (const auto& c : cases) {
        const Outcome r = lvzolt(c.args);
        EXPECT_EQ(r.exit, 2) << c.args;
        EXPECT_EQ(r.err.rfind("lvzolt: ", 0), 0u) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find("usage: lvzolt"), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
}

TEST(Lvzolt, HelpForTheToolAndEveryCommand) {
    const struct {
        const char* args;
        const char* start;
    } cases[] = {
        {"--help", "usage: lvzolt [--board N] [--json] COMMAND"},
        {"help", "usage: lvzolt [--board N] [--json] COMMAND"},
        {"-h", "usage: lvzolt [--board N] [--json] COMMAND"},
        {"help watch", "usage: lvzolt watch"},
        {"info --help", "usage: lvzolt info"},
        {"time --help", "usage: lvzolt time"},
        {"date --help", "usage: lvzolt date"},
        {"position --help", "usage: lvzolt position"},
        {"set-time --help", "usage: lvzolt set-time"},
        {"watch event --help", "usage: lvzolt watch"},
        {"event --help", "usage: lvzolt event"},
        {"help help", "usage: lvzolt help"},
    };
    for (const auto& c : cases) {
        const Outcome r = lvzolt(c.args);
        EXPECT_EQ(r.exit, 0) << c.args;
        EXPECT_EQ(r.out.rfind(c.start, 0), 0u) << c.args << ": " << r.out;
        EXPECT_EQ(r.err, "") << c.args;
    }
}

TEST(Lvzolt, OptionsGoOnEitherSideOfTheCommandWord) {
    const struct {
        const char* args;
        const char* line;
    } cases[] = {
        {"--count 2 watch heartbeat --period 0.001",
         R"(heartbeat \d  day \d+ [\d:.]+(  missed \d+)?\n)"},
        {"--count 2 --period 0.001 watch heartbeat",
         R"(heartbeat \d  day \d+ [\d:.]+(  missed \d+)?\n)"},
        {"--board 1 --json info", R"(\{"board":1,"boardValue":4101,.*\}\n)"},
        {"--every 0.001 --count 2 --json watch match", R"(\{"kind":"match","count":\d,.*\}\n)"},
    };
    for (const auto& c : cases) {
        const Outcome r = lvzolt(c.args);
        EXPECT_EQ(r.exit, 0) << c.args << ": " << r.err;
        const int lines = static_cast<int>(std::count(r.out.begin(), r.out.end(), '\n'));
        EXPECT_EQ(countMatches(r.out, std::regex(c.line)), lines) << c.args << ":\n" << r.out;
        EXPECT_GE(lines, 1) << c.args;
    }
}

// Output that cannot be written is a failure, whatever the command.
TEST(Lvzolt, LostOutputFails) {
    for (const char* args :
         {"time", "info --json", "date", "position", "--help", "help watch", "set-time 12:00:00",
          "watch heartbeat --period 0.001 --count 2", "watch event --raise 1 --count 1"}) {
        const Outcome r = lvzolt(args, "", "/dev/full");
        EXPECT_EQ(r.exit, 1) << args;
        EXPECT_EQ(r.err, "lvzolt: cannot write the output: No space left on device\n") << args;
    }
}

// The loop that falls behind must not aim at a match time already gone
// (the board would arm it for the next day): a thousand matches a second,
// printed through a pipe, all come.
TEST(Lvzolt, FastMatchesNeverStall) {
    const std::string out = ::testing::TempDir() + "lvzolt_fast_" + std::to_string(getpid());
    const std::string command = "{ timeout 60 " LVZOLT_EMULATOR " '" LVZOLT_PROGRAM
                                "' watch match --every 0.001 --count 300 --json </dev/null; "
                                "echo \"exit $?\"; } 2>&1 | cat >" +
                                out;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string text = slurp(out);
    std::remove(out.c_str());
    EXPECT_EQ(countMatches(text, std::regex(R"(\{"kind":"match","count":\d+,.*"missed":\d+\}\n)")),
              300);
    EXPECT_EQ(text.substr(text.size() - 7), "exit 0\n") << text.substr(text.size() - 200);
}

// What the help promises: which options change the board, what the printed
// time is, where the status codes are documented, and that the simulated
// board's clock does not outlive the process.
TEST(Lvzolt, HelpSaysWhatChangesTheBoardAndWhereCodesAreDocumented) {
    const struct {
        const char* topic;
        std::vector<const char*> phrases;
    } cases[] = {
        {"", {"change no setting", "zolt_simulator.h", "the driver's own", "before or after"}},
        {"watch",
         {"--period S  changes the board", "--every S   changes the board",
          "--raise MS  changes the board", "missed N", "read just after",
          "turned\n"
          "                off when the command ends"}},
        {"set-time",
         {"each process has boards of its own", "gone when lvzolt exits", "left as it\nwas",
          "put back"}},
    };
    for (const auto& c : cases) {
        const Outcome r = lvzolt(std::string("help ") + c.topic);
        EXPECT_EQ(r.exit, 0);
        for (const char* phrase : c.phrases)
            EXPECT_NE(r.out.find(phrase), std::string::npos) << c.topic << ": " << phrase;
    }
}

// ---------------------------------------------------------------------------
// lvzolt inside this process, over the simulated board on a manual clock.

std::string contents(std::FILE* f) {
    std::string text;
    std::rewind(f);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    return text;
}

std::vector<std::string> words(const std::string& args) {
    std::istringstream in(args);
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    return w;
}

class LvzoltHere : public simtest::SimulatedBoard {
   protected:
    static constexpr auto kPatience = std::chrono::seconds(10);

    static std::size_t lines(std::FILE* f) {
        std::ifstream in("/proc/self/fd/" + std::to_string(fileno(f)));
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    // Runs lvzolt on a thread of its own. Each step moves the manual clock
    // once the tool waits, and must bring the next line of output: a tool
    // that still waits then has aimed at the wrong time.
    Outcome run(const std::string& args, const std::vector<std::int64_t>& steps = {}) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        auto done =
            std::async(std::launch::async, [&] { return lvzolt::run(words(args), out, err); });
        const auto ended = [&] {
            return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        };
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const auto giveUp = std::chrono::steady_clock::now() + kPatience;
            while (!ended() && zoltsim_waiting(0) == 0 && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::yield();
            if (ended()) break;
            zoltsim_advanceClock(steps[i]);
            while (!ended() && lines(out) < i + 1 && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::yield();
            if (lines(out) < i + 1 && !ended()) {
                ADD_FAILURE() << args << ": still waiting after step " << i + 1 << " (" << steps[i]
                              << " ns); output so far:\n"
                              << contents(out);
                break;
            }
        }
        if (done.wait_for(kPatience) != std::future_status::ready) {
            ADD_FAILURE() << args << ": did not end";
            zoltsim_reset();  // ends its wait
        }
        Outcome r;
        r.exit = done.get();
        r.out = contents(out);
        r.err = contents(err);
        std::fclose(out);
        std::fclose(err);
        return r;
    }

    // The board's heartbeat or match, looked at without waiting: 0 there,
    // ZOLT_SIM_TIMEOUT set but not there now, ZOLT_SIM_NOT_ARMED off.
    std::uint8_t heartbeat() { return LV_ZOLT_waitHeartbeat(board, 0); }
    std::uint8_t match() { return LV_ZOLT_waitMatch(board, 0); }

    void setClock(unsigned year, unsigned day, unsigned hours) {
        ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 0, 1, 0), 0);
        ASSERT_EQ(LV_ZOLT_setYear(board, year), 0);
        ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, hours, day, 0), 0);
    }
};

using simtest::kMs;
using simtest::kSec;

TEST(LvzoltMatch, NextMatchIsTheFirstStillAhead) {
    const struct {
        std::int64_t last, now, every, target;
        std::uint64_t missed;
    } cases[] = {
        {0, 0, 10, 10, 0},  {0, 9, 10, 10, 0},     {0, 10, 10, 20, 1},  // the one due now is gone
        {0, 35, 10, 40, 3}, {100, 50, 10, 110, 0},                      // clock set back: next one
        {-5, 0, 1, 1, 5},
    };
    for (const auto& c : cases) {
        const lvzolt::Aim aim = lvzolt::nextMatch(c.last, c.now, c.every);
        EXPECT_EQ(aim.target, c.target) << c.last << " " << c.now << " " << c.every;
        EXPECT_EQ(aim.missed, c.missed) << c.last << " " << c.now << " " << c.every;
    }
}

// The clock jumps past several match times while the tool is busy: it aims
// at the next one still ahead and says how many it missed.
TEST_F(LvzoltHere, MatchLoopThatFallsBehindCatchesUpAndCountsTheMissed) {
    const Outcome r = run("watch match --every 0.001 --count 4", {kMs, 5 * kMs, kMs, kMs});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "match 1  day 73 09:26:53.590793\n"
              "match 2  day 73 09:26:53.595793\n"
              "match 3  day 73 09:26:53.596793  missed 4\n"
              "match 4  day 73 09:26:53.597793\n");
    EXPECT_EQ(match(), ZOLT_SIM_NOT_ARMED) << "the watch left its match armed";
}

TEST_F(LvzoltHere, HeartbeatLinesCountTheBeatsMissedOnTheBoardsClock) {
    const Outcome r = run("watch heartbeat --period 0.001 --count 3 --json", {kMs, 5 * kMs, kMs});
    EXPECT_EQ(r.exit, 0) << r.err;
    const std::regex line(
        R"(\{"kind":"heartbeat","count":(\d),"time":\{[^}]*\},"missed":(\d+)\}\n)");
    std::vector<std::string> missed;
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line);
         it != std::sregex_iterator(); ++it)
        missed.push_back((*it)[2]);
    EXPECT_EQ(missed, (std::vector<std::string>{"0", "4", "0"})) << r.out;
    // What --period asked for stays: the heartbeat is on.
    EXPECT_NE(heartbeat(), ZOLT_SIM_NOT_ARMED);
}

// Watching changes nothing the user did not ask for: the board's own
// heartbeat period is kept, no match is left armed, and where there is
// nothing to watch the tool says how to turn it on.
TEST_F(LvzoltHere, WatchingLeavesTheBoardsSettings) {
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 5, 1, 0.5), 0);
    Outcome r = run("watch heartbeat --count 2", {500 * kMs, 500 * kMs});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "heartbeat 1  day 73 09:26:54.089793\n"
              "heartbeat 2  day 73 09:26:54.589793\n");

    r = run("watch match --every 1 --count 2", {kSec, kSec});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(match(), ZOLT_SIM_NOT_ARMED) << "a match left armed after the watch";
}

TEST_F(LvzoltHere, NothingToWatchSaysHowToTurnItOn) {
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"watch heartbeat",
         "lvzolt: LV_ZOLT_waitHeartbeat returned status 8\n"
         "lvzolt: the heartbeat may be off (as on a fresh simulated board); a "
         "watch changes no setting unless asked: lvzolt watch heartbeat "
         "--period S turns it on\n"},
        {"watch match --count 1",
         "lvzolt: LV_ZOLT_waitMatch returned status 8\n"
         "lvzolt: the time match may be off (as on a fresh simulated "
         "board); a watch changes no setting unless asked: lvzolt watch "
         "match --every S turns it on\n"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.exit, 1) << c.args;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(heartbeat(), ZOLT_SIM_NOT_ARMED) << c.args;
        EXPECT_EQ(match(), ZOLT_SIM_NOT_ARMED) << c.args;
    }
}

// Stopped while it waits (Ctrl-C), a match watch turns its match off.
TEST_F(LvzoltHere, StoppedMatchWatchTurnsItsMatchOff) {
    auto done = std::async(std::launch::async, [] {
        std::FILE* sink = std::tmpfile();
        const int exit = lvzolt::run(words("watch match --every 60"), sink, sink);
        std::fclose(sink);
        return exit;
    });
    simtest::untilWaiting(0, 1);
    lvzolt::interrupt();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(done.get(), lvzolt::kStopped);
    EXPECT_EQ(match(), ZOLT_SIM_NOT_ARMED);
}

// A refused set-time leaves the clock as it was: the year, which the board
// may refuse, goes first; when it must go second (the board on 31 December
// of a leap year, a common year asked for), the time set first is put back.
TEST_F(LvzoltHere, RefusedSetTimeLeavesTheClock) {
    Outcome r = run("set-time 2201-06-15T12:00:00");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err,
              "lvzolt: LV_ZOLT_setYear returned status 6; the board's clock was not changed\n");
    simtest::expectTime(board, 73, 9, 26, 53.589793238);
    EXPECT_EQ(simtest::dateOf(board), (simtest::Date{2026, 3, 14}));

    setClock(2024, 366, 23);
    r = run("set-time 2201-06-15T12:00:00");
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(std::regex_match(
        r.err,
        std::regex(
            R"(lvzolt: LV_ZOLT_setYear returned status 6; the board's clock was put back to 2024-12-31T23:00:00\.0\d\d\n)")))
        << r.err;
    EXPECT_EQ(simtest::dateOf(board), (simtest::Date{2024, 12, 31}));
    const simtest::Time t = simtest::timeOf(board);
    EXPECT_EQ(t.day, 366);
    EXPECT_EQ(t.hours, 23);
    EXPECT_EQ(t.minutes, 0);
    EXPECT_LT(t.seconds, 0.1);
}

// Whatever day the board stands on, the date and time asked for are set.
TEST_F(LvzoltHere, SetTimeFromEveryKindOfBoardDate) {
    const struct {
        unsigned year, day;  // the board's
        const char* when;
        simtest::Date date;
        unsigned dayOfYear;
    } cases[] = {
        {2024, 366, "2023-12-31T06:00:00", {2023, 12, 31}, 365},  // day 366 into a common year
        {2024, 366, "2025-03-01T06:00:00", {2025, 3, 1}, 60},
        {2025, 152, "2024-12-31T06:00:00", {2024, 12, 31}, 366},
        {2025, 1, "2025-02-28T06:00:00", {2025, 2, 28}, 59},  // same year: the time only
    };
    for (const auto& c : cases) {
        setClock(c.year, c.day, 12);
        const Outcome r = run(std::string("set-time ") + c.when);
        EXPECT_EQ(r.exit, 0) << c.when << ": " << r.err;
        EXPECT_EQ(simtest::dateOf(board), c.date) << c.when;
        simtest::expectTime(board, c.dayOfYear, 6, 0, 0.0);
    }
}

}  // namespace
