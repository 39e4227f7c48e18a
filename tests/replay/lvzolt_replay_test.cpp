// The lvzolt tool as a host in its own process, over the replay driver put
// ahead on the loader's path: the report written at exit, and (where the
// tracing driver is built) runs recorded over the simulated board and
// replayed byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "replay_report.h"
#include "trace_fixture.h"

using namespace replaytest;

namespace {

struct Outcome {
    int exit = -1;
    std::string out, err;
};

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "lvzolt_replay_" + std::to_string(getpid()) + "_" + name;
}

// Every run names its files by its process id: they go when the test ends.
struct RemovedAtEnd {
    std::vector<std::string> paths;
    ~RemovedAtEnd() {
        for (const std::string& path : paths) std::remove(path.c_str());
    }
};

// Runs lvzolt with the arguments, the environment assignments in front.
Outcome lvzolt(const std::string& args, const std::string& environment) {
    const std::string base = tempPath("run");
    const std::string command = "env " + environment + " " LVZOLT_COMMAND " " + args + " >" + base +
                                ".out 2>" + base + ".err </dev/null";
    const int status = std::system(command.c_str());
    Outcome r;
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(base + ".out");
    r.err = readFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return r;
}

std::string replaying(const std::string& trace, const std::string& report,
                      const std::string& more = "") {
    return "LD_LIBRARY_PATH='" REPLAY_DIR "' ZOLT_REPLAY_FILE='" + trace +
           "' ZOLT_REPLAY_REPORT='" + report + "' " + more;
}

// `lvzolt time` on board 0, as the driver saw it.
std::string timeTrace() {
    TraceText t;
    t.open(0, 0x55d0c0de10, 4100);
    t.record("getTime", 0x55d0c0de10, TimeRecord{}, 0, timeRecord(53.589793, 26, 9, 73));
    t.call("close", 0x55d0c0de10, 0);
    return t.text();
}

TEST(LvzoltReplay, TheReportAtExitTellsWhetherTheHostMadeTheRecordedCalls) {
    const std::string trace = tempPath("time.jsonl"), report = tempPath("report.json");
    const RemovedAtEnd removed{{trace, report}};
    writeFile(trace, timeTrace());
    const struct {
        const char* args;
        int exit;
        std::string out, err;
        int verdict;
        std::string verdictText;  // a part of it
    } cases[] = {
        {"time", 0, "day 73 09:26:53.589793\n", "", 0, "complete: 3 calls played"},
        {"date", 1, "",
         "zolt replay: not recorded: getDate on board 1; the trace holds no getDate call\n"
         "lvzolt: LV_ZOLT_getDate returned status 241\n",
         1, "getTime: 1 recording left unplayed"},
        // No driver call at all: the report still comes, with everything unplayed.
        {"--help", 0, "", "", 1, "open: 1 recording left unplayed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::remove(report.c_str());
        const Outcome r = lvzolt(c.args, replaying(trace, report));
        EXPECT_EQ(r.exit, c.exit) << r.err;
        if (std::string(c.args) != "--help") {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_EQ(r.err, c.err);
        const auto verdict = zolt::replay::checkReportFile(report);
        EXPECT_EQ(verdict.status, c.verdict) << verdict.text;
        EXPECT_NE(verdict.text.find(c.verdictText), std::string::npos) << verdict.text;
    }
}

TEST(LvzoltReplay, ADamagedTraceFailsEveryCallWithOneLine) {
    const std::string trace = tempPath("damaged.jsonl"), report = tempPath("report.json");
    const RemovedAtEnd removed{{trace, report}};
    std::string text = timeTrace();
    text.insert(text.find('\n') + 1, "{\"ev\":\"enter\"\n");
    writeFile(trace, text);
    const Outcome r = lvzolt("time", replaying(trace, report));
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("zolt replay: " + trace + ":2: not JSON", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nlvzolt: LV_ZOLT_open returned status 242\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(zolt::replay::checkReportFile(report).status, 1);
}

// Recorded through the tracing driver over the simulated board, then played:
// the same output, byte for byte, the recorded times rather than the clock,
// and a complete report. The event watch raises its events from a second
// thread, so its calls come from two threads.
TEST(LvzoltReplay, RecordedRunsReplayByteForByte) {
    const struct {
        const char* args;
        const char* settings;
        bool complete;
    } cases[] = {
        {"info", "", true},
        {"time", "", true},
        {"position", "", true},
        {"watch heartbeat --period 0.2 --count 3", "", true},
        {"--json time", "ZOLT_REPLAY_TIMING=recorded", true},
        // Answered at once, the waits end before the second thread raises
        // as many events as it did when recorded; on a slow machine it may
        // raise more, which get the last recorded answer again.
        {"watch event --raise 100 --count 3", "ZOLT_REPLAY_EXHAUSTED=repeat-last", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string trace = tempPath("recorded.jsonl"), report = tempPath("report.json");
        const RemovedAtEnd removed{{trace, report}};
        std::remove(trace.c_str());
        const Outcome recorded =
            lvzolt(c.args, "LD_LIBRARY_PATH='" TRACE_DIR "' ZOLT_TRACE_DRIVER='" SIMULATOR
                           "' ZOLT_TRACE_FILE='" +
                               trace + "'");
        ASSERT_EQ(recorded.exit, 0) << recorded.err;
        ASSERT_NE(recorded.out, "");
        for (int run = 0; run < 2; ++run) {
            const Outcome replayed = lvzolt(c.args, replaying(trace, report, c.settings));
            EXPECT_EQ(replayed.exit, 0) << replayed.err;
            EXPECT_EQ(replayed.out, recorded.out);
            EXPECT_EQ(replayed.err, "");
            const auto verdict = zolt::replay::checkReportFile(report);
            if (c.complete) {
                EXPECT_EQ(verdict.status, 0) << verdict.text;
            }
        }
    }
}

}  // namespace
