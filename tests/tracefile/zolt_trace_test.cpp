// The zolt-trace tool, run as a program over the fixture traces in traces/:
// recorded.trace (six calls from two threads, the last never returned),
// again.trace (the same calls recorded again: other times, threads, handle
// and unset bytes, cut short), changed.trace (two values differ), full.trace
// and damaged.trace.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace {

struct Outcome {
    int exit = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string kTraces = ZOLT_TRACE_FIXTURES;
std::string fixture(const std::string& name) { return kTraces + "/" + name; }

std::string temp(const std::string& name) {
    return ::testing::TempDir() + "zolt_trace_" + std::to_string(getpid()) + "_" + name;
}

// Runs zolt-trace with the arguments (shell words); stdout goes to `out`
// when given, else it is captured.
Outcome zoltTrace(const std::string& args, const std::string& out = "") {
    const std::string o = temp("out"), e = temp("err");
    const std::string command = ZOLT_TRACE_COMMAND " " + args + " >" +
                                (out.empty() ? o : out) + " 2>" + e + " </dev/null";
    const int status = std::system(command.c_str());
    Outcome r;
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(o);
    r.err = slurp(e);
    std::remove(o.c_str());
    std::remove(e.c_str());
    return r;
}

const std::string kRecordedHeading =
    "-- " + fixture("recorded.trace") +
    ": pid 4242, linux x86_64, driver /opt/zolt/libzolt.so, started 2026-12-11T11:40:00.123456Z\n";

const char* const kRecordedCalls[] = {
    "#1 t=+0.001000s tid 5678 open(0) -> 0 handle=0x5581a2b0 word4=4100 [800 ns]\n",
    "#2 t=+0.001100s tid 5678 getTime(0x5581a2b0) -> 0 real0=12.5 byte9=3 byte10=14 word12=73 [1.05 us]\n",
    "#3 t=+0.001100s tid 5679 setOscillator(0x5581a2b0, 2) -> 9 [1.20 us]\n",
    "#4 t=+0.001200s tid 5678 setTime(0x5581a2b0, byte8=0, byte9=12, byte10=30, word12=1000, word14=0) -> 0 [400 ns]\n",
    "#5 t=+0.001300s tid 5678 getTime(0x5581a2b0) -> 0 real0=12.75 byte9=3 byte10=14 word12=73 [2.00 us]\n",
    "#6 t=+0.001400s tid 5679 waitEvent(0x5581a2b0, value0=4294967295) -> never returned\n",
};

TEST(ZoltTraceShow, ALinePerCallAndTheFilters) {
    const struct {
        const char* options;
        std::vector<int> seqs;
    } cases[] = {
        {"", {1, 2, 3, 4, 5, 6}},
        {"--op getTime", {2, 5}},
        {"--op getTime --op open", {1, 2, 5}},
        {"--op setTime,setOscillator", {3, 4}},
        {"--thread 5679", {3, 6}},
        {"--seq 2-4", {2, 3, 4}},
        {"--seq 5-", {5, 6}},
        {"--seq 4", {4}},
        {"--failed", {3, 6}},
        {"--failed --thread 5678", {}},
        {"--op getTime --seq 3-9", {5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const Outcome r = zoltTrace("show " + fixture("recorded.trace") + " " + c.options);
        EXPECT_EQ(r.exit, 0) << r.err;
        std::string expected = kRecordedHeading;
        for (const int seq : c.seqs) expected += kRecordedCalls[seq - 1];
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
    }
}

TEST(ZoltTraceShow, SaysHowTheTraceEnded) {
    Outcome r = zoltTrace("show " + fixture("full.trace"));
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("#2 t=+0.000000s tid 2 simEvent(0x10) -> no exit recorded (the trace was full)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("-- the trace is full from call 3 on"), std::string::npos) << r.out;
    r = zoltTrace("show " + fixture("again.trace") + " --seq 1");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("#1 t=+4.000000s tid 100 open(0) -> 0 handle=0x7f00deadbe00 word4=4100 [2.40 us]\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("-- the trace ends cut short"), std::string::npos) << r.out;
}

TEST(ZoltTraceStats, PerOperationCountsFailuresAndDurations) {
    Outcome r = zoltTrace("stats " + fixture("recorded.trace"));
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, kRecordedHeading +
                         "operation             calls   failed        p50        p99        max  failures by status\n"
                         "open                      1        0     800 ns     800 ns     800 ns\n"
                         "setOscillator             1        1    1.20 us    1.20 us    1.20 us  9: 1\n"
                         "getTime                   2        0    1.05 us    2.00 us    2.00 us\n"
                         "setTime                   1        0     400 ns     400 ns     400 ns\n"
                         "waitEvent                 1        0          -          -          -  never returned: 1\n");

    // Percentiles by nearest rank: getTime lasting 1, 2, ... 200 us; every
    // tenth fails with status 7, every twentieth of those with 12 instead.
    const std::string many = temp("many.trace");
    {
        std::ofstream t(many, std::ios::binary);
        t << slurp(fixture("recorded.trace")).substr(0, slurp(fixture("recorded.trace")).find('\n') + 1);
        for (int i = 1; i <= 200; ++i) {
            const int status = i % 200 == 0 ? 12 : i % 10 == 0 ? 7 : 0;
            t << R"({"ev":"enter","seq":)" << i << R"(,"t":)" << i * 1000000
              << R"(,"tid":1,"op":"getTime","handle":"0x1","in":"00000000000000000000000000000000","unset":"0-15"})"
              << "\n"
              << R"({"ev":"exit","seq":)" << i << R"(,"t":)" << i * 1000000 + 1
              << R"(,"tid":1,"status":)" << status << R"(,"dur":)" << i * 1000
              << R"(,"out":"00000000000000000000000000000000"})" << "\n";
        }
    }
    r = zoltTrace("stats " + many);
    std::remove(many.c_str());
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("getTime                 200       20     100 us     198 us     200 us  7: 19, 12: 1\n"),
              std::string::npos)
        << r.out;
}

TEST(ZoltTraceDiff, IgnoresWhatARecordingCannotRepeat) {
    // Times, threads, handle values, the unset bytes and a cut-short end.
    Outcome r = zoltTrace("diff " + fixture("recorded.trace") + " " + fixture("again.trace"));
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    r = zoltTrace("diff " + fixture("again.trace") + " " + fixture("again.trace"));
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
}

TEST(ZoltTraceDiff, NamesTheSeqAndFieldOfEachDifference) {
    Outcome r = zoltTrace("diff " + fixture("recorded.trace") + " " + fixture("changed.trace"));
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_EQ(r.out, "A: " + fixture("recorded.trace") + "\nB: " + fixture("changed.trace") +
                         "\n"
                         "seq 2 getTime: out byte10: 14 in A, 15 in B\n"
                         "seq 3 setOscillator: value: 2 in A, 1 in B\n");
    r = zoltTrace("diff --max-differences 1 " + fixture("recorded.trace") + " " + fixture("changed.trace"));
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_NE(r.out.find("seq 2 getTime: out byte10: 14 in A, 15 in B\n... 1 more differences\n"),
              std::string::npos)
        << r.out;
    // Other operations from the first call on, and fewer calls in B.
    r = zoltTrace("diff " + fixture("recorded.trace") + " " + fixture("full.trace"));
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_NE(r.out.find("seq 1 open: operation: open in A, getDriver in B\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("seq 3 setOscillator: calls: 6 in A, 2 in B\n"), std::string::npos) << r.out;
}

TEST(ZoltTraceDiff, HandlesComparedByTheOpenThatReturnedThem) {
    const std::string header = slurp(fixture("recorded.trace")).substr(0, slurp(fixture("recorded.trace")).find('\n') + 1);
    // Two boards opened; the second call closes the first board in A, the
    // second board in B.
    const auto trace = [&](const char* name, const char* closed) {
        const std::string path = temp(name);
        std::ofstream t(path, std::ios::binary);
        t << header
          << R"({"ev":"enter","seq":1,"t":1,"tid":1,"op":"open","value":0}
{"ev":"exit","seq":1,"t":2,"tid":1,"status":0,"dur":1,"handle":"0xa0","word4":4100}
{"ev":"enter","seq":2,"t":3,"tid":1,"op":"open","value":1}
{"ev":"exit","seq":2,"t":4,"tid":1,"status":0,"dur":1,"handle":"0xb0","word4":4101}
{"ev":"enter","seq":3,"t":5,"tid":1,"op":"close","handle":")"
          << closed << R"("}
{"ev":"exit","seq":3,"t":6,"tid":1,"status":0,"dur":1}
)";
        return path;
    };
    const std::string a = trace("a.trace", "0xa0"), b = trace("b.trace", "0xb0");
    Outcome r = zoltTrace("diff " + a + " " + b);
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_NE(r.out.find("seq 3 close: handle: board 1 in A, board 2 in B\n"), std::string::npos) << r.out;
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST(ZoltTraceTimeline, ASlicePerCallInALanePerThread) {
    const std::string out = temp("timeline.json");
    Outcome r = zoltTrace("timeline " + fixture("recorded.trace") + " -o " + out);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const nlohmann::json doc = nlohmann::json::parse(slurp(out));
    std::remove(out.c_str());
    std::vector<nlohmann::json> slices;
    std::set<std::uint64_t> named;
    for (const auto& e : doc.at("traceEvents")) {
        EXPECT_EQ(e.at("pid"), 4242);
        if (e.at("ph") == "M" && e.at("name") == "thread_name") named.insert(e.at("tid").get<std::uint64_t>());
        if (e.at("ph") == "X") slices.push_back(e);
    }
    EXPECT_EQ(named, (std::set<std::uint64_t>{5678, 5679}));
    ASSERT_EQ(slices.size(), 6u);
    const auto& time = slices[1];
    EXPECT_EQ(time.at("name"), "getTime");
    EXPECT_EQ(time.at("tid"), 5678);
    EXPECT_DOUBLE_EQ(time.at("ts").get<double>(), 1100.1);  // us from the trace's start
    EXPECT_DOUBLE_EQ(time.at("dur").get<double>(), 1.05);
    EXPECT_EQ(time.at("args").at("status"), 0);
    EXPECT_EQ(time.at("args").at("real0"), 12.5);
    EXPECT_EQ(time.at("args").at("word12"), 73);
    EXPECT_EQ(slices[2].at("args").at("status"), 9);
    EXPECT_EQ(slices[0].at("args").at("word4"), 4100);
    EXPECT_EQ(slices[3].at("args").at("word12"), 1000);  // setTime's inputs
    // The call that never returned lasts to the last event of the trace.
    const auto& wait = slices[5];
    EXPECT_EQ(wait.at("args").at("returned"), false);
    EXPECT_FALSE(wait.at("args").contains("status"));
    EXPECT_DOUBLE_EQ(wait.at("ts").get<double>() + wait.at("dur").get<double>(), 1400.0);

    r = zoltTrace("timeline " + fixture("full.trace"));
    EXPECT_EQ(r.exit, 0) << r.err;
    const nlohmann::json full = nlohmann::json::parse(r.out);
    EXPECT_EQ(full.at("otherData").at("fullAt"), 3);
    for (const auto& e : full.at("traceEvents"))
        if (e.at("name") == "simEvent") {  // entered at 0.2 us, full marker at 0.4 us
            EXPECT_DOUBLE_EQ(e.at("dur").get<double>(), 0.2);
        }
}

TEST(ZoltTrace, ExitStatusesAndMessages) {
    const std::string out = temp("kept.json");
    {
        std::ofstream keep(out);
        keep << "kept";
    }
    const struct {
        std::string args;
        int exit;
        std::string err;     // the start of stderr
        std::string stdoutTo = "";  // captured when empty
    } cases[] = {
        {"show " + fixture("damaged.trace"), 2,
         "zolt-trace: " + fixture("damaged.trace") + ":4: exit of seq 2 without its entry\n"},
        {"stats " + fixture("damaged.trace"), 2, "zolt-trace: " + fixture("damaged.trace") + ":4: "},
        {"diff " + fixture("recorded.trace") + " " + fixture("damaged.trace"), 2,
         "zolt-trace: " + fixture("damaged.trace") + ":4: "},
        {"timeline " + fixture("damaged.trace") + " -o " + out, 2,
         "zolt-trace: " + fixture("damaged.trace") + ":4: "},
        {"show " + fixture("no-such.trace"), 2, "zolt-trace: " + fixture("no-such.trace") + ": cannot open: "},
        {"show " + fixture("recorded.trace") + " --op frob", 2, "zolt-trace: --op: unknown operation 'frob'"},
        {"show " + fixture("recorded.trace") + " --seq 4-2", 2, "zolt-trace: --seq: '4-2' is not N, FIRST-LAST or FIRST-"},
        {"show " + fixture("recorded.trace") + " --seq x", 2, "zolt-trace: --seq: 'x' is not"},
        {"show " + fixture("recorded.trace") + " --thread x", 2, "zolt-trace: "},
        {"show", 2, "zolt-trace: "},
        {"diff " + fixture("recorded.trace"), 2, "zolt-trace: "},
        {"diff --max-differences 0 " + fixture("recorded.trace") + " " + fixture("again.trace"), 2, "zolt-trace: "},
        {"frob " + fixture("recorded.trace"), 2, "zolt-trace: unknown command 'frob'\n"},
        {"", 2, "zolt-trace: "},
        {"show " + fixture("recorded.trace") + " --bogus", 2, "zolt-trace: "},
        {"show " + fixture("recorded.trace"), 1, "zolt-trace: cannot write to standard output: ", "/dev/full"},
        {"timeline " + fixture("recorded.trace") + " -o /dev/full", 1, "zolt-trace: cannot write /dev/full: "},
        {"timeline " + fixture("recorded.trace") + " -o /no/such/folder/t.json", 1,
         "zolt-trace: cannot create /no/such/folder/t.json: "},
        {"--help", 0, ""},
        {"show --help", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const Outcome r = zoltTrace(c.args, c.stdoutTo);
        EXPECT_EQ(r.exit, c.exit) << r.err;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        if (c.exit != 0) {
            EXPECT_EQ(r.err.back(), '\n');
        }
    }
    EXPECT_EQ(slurp(out), "kept");  // bad input leaves the output file alone
    std::remove(out.c_str());
}

}  // namespace
