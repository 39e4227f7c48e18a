// The lvzolt tool, run as a program over LV_zolt and the simulated board:
// its output, its exit codes and its usage errors. Waits use periods of a
// millisecond or two on the host's clock.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

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
// optional environment assignment in front.
Outcome lvzolt(const std::string& args, const std::string& environment = "") {
    const std::string base = ::testing::TempDir() + "lvzolt_" + std::to_string(getpid());
    const std::string command = environment + " " LVZOLT_EMULATOR " '" LVZOLT_PROGRAM "' " + args +
                                " >" + base +
                                ".out 2>" + base + ".err </dev/null";
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
        {"watch heartbeat --count 3 --period 0.001", R"(heartbeat \d  day \d+ [\d:.]+\n)"},
        {"watch match --count 2 --every 0.002", R"(match \d  day \d+ [\d:.]+\n)"},
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
        {"watch heartbeat --timeout 0", "", "lvzolt: LV_ZOLT_waitHeartbeat returned status 7\n"},
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

TEST(Lvzolt, BadCommandLinesGetUsageAndExitTwo) {
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command 'frobnicate'"},
        {"info --verbose", "unknown option '--verbose'"},
        {"info --count 3", "unknown option '--count'"},
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
        {"set-time 24:00:00", "'24:00:00' is not now, HH:MM:SS[.mmm]"},
        {"set-time 12:00", "is not now"},
        {"set-time 12:00:00.1234", "is not now"},
        {"set-time 2025-02-29T00:00:00", "is not now"},
        {"set-time 2025-13-01T00:00:00", "is not now"},
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
        {"--help", "usage: lvzolt COMMAND"},
        {"help", "usage: lvzolt COMMAND"},
        {"-h", "usage: lvzolt COMMAND"},
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

}  // namespace
