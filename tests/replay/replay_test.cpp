// The replay driver through LV_zolt's exports, as a host reaches it, over
// handcrafted traces. The test program sits beside the replay driver, which
// it loads; each test starts a replay of its own with the driver's restart
// hook, and ends it (writing the report) the same way.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../environment.h"
#include "LV_zolt.h"
#include "replay_report.h"
#include "trace_fixture.h"
#include "zolt_replay.h"

using namespace replaytest;

namespace {

constexpr std::uint64_t kHandleA = 0x5581a2b0;
constexpr std::uint64_t kHandleB = 0x5581a3c0;

void setVariable(const char* name, const char* value) { testenv::set(name, value); }

std::string tempPath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : test)
        if (c == '/') c = '_';
    return ::testing::TempDir() + "replay_" + test + "_" + name;
}

using Settings = std::vector<std::pair<const char*, const char*>>;

// One replay: the trace written to a file of the test's own, the variables
// set (any not given unset), the driver restarted on them.
class Session {
   public:
    explicit Session(const std::string& traceText, const Settings& settings = {})
        : trace(tempPath("trace.jsonl")), report(tempPath("report.json")) {
        writeFile(trace, traceText);
        std::remove(report.c_str());
        setVariable("ZOLT_REPLAY_FILE", trace.c_str());
        setVariable("ZOLT_REPLAY_REPORT", report.c_str());
        setVariable("ZOLT_REPLAY_EXHAUSTED", nullptr);
        setVariable("ZOLT_REPLAY_TIMING", nullptr);
        for (const auto& [name, value] : settings) setVariable(name, value);
        zoltreplay_restart();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        zoltreplay_restart();
        std::remove(trace.c_str());
        std::remove(report.c_str());
    }

    // Ends the replay as a process exit would; the report it wrote.
    nlohmann::json end() {
        zoltreplay_restart();
        return nlohmann::json::parse(readFile(report));
    }

    std::string at(std::size_t line) const { return trace + ":" + std::to_string(line); }

    std::string trace, report;
};

struct Time {
    std::uint8_t status = 0xEE;
    double seconds = -1;
    std::uint8_t minutes = 0, hours = 0;
    std::uint16_t day = 0;
};

Time getTime(LV_ZOLT_Handle board) {
    Time t;
    t.status = LV_ZOLT_getTime(board, &t.seconds, &t.minutes, &t.hours, &t.day);
    return t;
}

LV_ZOLT_Handle openBoard(std::uint32_t value, std::uint16_t expectedBoardValue) {
    LV_ZOLT_Handle board = 0;
    std::uint16_t boardValue = 0;
    EXPECT_EQ(LV_ZOLT_open(&board, value, &boardValue), 0);
    EXPECT_NE(board, 0u);
    EXPECT_EQ(boardValue, expectedBoardValue);
    return board;
}

void expectCounts(const nlohmann::json& report, const char* op, std::uint64_t played,
                  std::uint64_t repeated, std::uint64_t notMatched, std::uint64_t unplayed) {
    ASSERT_TRUE(report["operations"].contains(op)) << report.dump();
    const auto& c = report["operations"][op];
    EXPECT_EQ(c["played"], played) << op << ": " << c.dump();
    EXPECT_EQ(c["repeated"], repeated) << op << ": " << c.dump();
    EXPECT_EQ(c["notMatched"], notMatched) << op << ": " << c.dump();
    EXPECT_EQ(c["unplayed"], unplayed) << op << ": " << c.dump();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t lines(const std::string& text) {
    std::size_t n = 0;
    for (const char c : text) n += c == '\n';
    return n;
}

// Board 0 opened, its time read three times, closed.
TraceText polledTime(std::size_t* lastGetTime = nullptr) {
    TraceText t;
    t.open(0, kHandleA, 4100);
    for (const double seconds : {1.5, 2.5, 3.5})
        t.record("getTime", kHandleA, TimeRecord{}, 0, timeRecord(seconds, 26, 9, 73));
    if (lastGetTime) *lastGetTime = t.lastEntryLine();
    t.call("close", kHandleA, 0);
    return t;
}

TEST(Replay, PollingGetsEachRecordedAnswerOnceInOrder) {
    Session s(polledTime().text());
    const LV_ZOLT_Handle board = openBoard(0, 4100);
    for (const double seconds : {1.5, 2.5, 3.5}) {
        const Time t = getTime(board);
        EXPECT_EQ(t.status, 0);
        EXPECT_EQ(t.seconds, seconds);
        EXPECT_EQ(t.minutes, 26);
        EXPECT_EQ(t.hours, 9);
        EXPECT_EQ(t.day, 73);
    }
    EXPECT_EQ(LV_ZOLT_close(board), 0);
    const auto report = s.end();
    EXPECT_EQ(report["complete"], true) << report.dump();
    EXPECT_EQ(report["played"], 5);
    expectCounts(report, "getTime", 3, 0, 0, 0);
}

TEST(Replay, ExhaustedRecordingsFailOrRepeatTheLast) {
    const struct {
        const char* policy;  // nullptr: the default
        std::uint8_t status;
        bool complete;
    } cases[] = {{nullptr, ZOLT_REPLAY_NOT_RECORDED, false},
                 {"fail", ZOLT_REPLAY_NOT_RECORDED, false},
                 {"repeat-last", 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.policy ? c.policy : "default");
        std::size_t lastLine = 0;
        Session s(polledTime(&lastLine).text(), {{"ZOLT_REPLAY_EXHAUSTED", c.policy}});
        const LV_ZOLT_Handle board = openBoard(0, 4100);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(getTime(board).status, 0);
        ::testing::internal::CaptureStderr();
        const Time fourth = getTime(board);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(fourth.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(fourth.seconds, 3.5);
            EXPECT_EQ(err, "");
        } else {
            // Zeros, not what the layer's stack held.
            EXPECT_EQ(fourth.seconds, 0);
            EXPECT_EQ(fourth.minutes, 0);
            EXPECT_EQ(fourth.hours, 0);
            EXPECT_EQ(fourth.day, 0);
            EXPECT_EQ(err,
                      "zolt replay: not recorded: getTime on board 1: its recordings are "
                      "used up (3, the last at " +
                          s.at(lastLine) + "; ZOLT_REPLAY_EXHAUSTED=fail)\n");
        }
        EXPECT_EQ(LV_ZOLT_close(board), 0);
        const auto report = s.end();
        EXPECT_EQ(report["complete"], c.complete) << report.dump();
        expectCounts(report, "getTime", 3, c.status == 0 ? 1 : 0, c.status == 0 ? 0 : 1, 0);
    }
}

TEST(Replay, CallsNotRecordedNameTheNearestRecording) {
    TraceText t;
    t.open(0, kHandleA, 4100);
    HeartbeatRecord beat{};
    beat.byte0 = 1;
    beat.byte1 = 10;
    beat.real8 = 0.2;
    t.record("setHeartbeat", kHandleA, beat, 0, beat);
    const std::size_t heartbeatLine = t.lastEntryLine();
    t.record("getTime", kHandleA, TimeRecord{}, 0, timeRecord(1, 2, 3, 4));
    const std::size_t getTimeLine = t.lastEntryLine();
    t.open(1, kHandleB, 4101);
    Session s(t.text());
    const LV_ZOLT_Handle a = openBoard(0, 4100);
    const LV_ZOLT_Handle b = openBoard(1, 4101);
    const struct {
        const char* name;
        std::uint8_t (*call)(LV_ZOLT_Handle);
        LV_ZOLT_Handle board;
        std::string line;
    } cases[] = {
        {"another input", [](LV_ZOLT_Handle h) { return LV_ZOLT_setHeartbeat(h, 1, 10, 0, 0.5); },
         a,
         "zolt replay: not recorded: setHeartbeat on board 1 (byte0=1 byte1=10 byte2=0 "
         "real8=0.5); nearest: " +
             s.at(heartbeatLine) + " setHeartbeat on board 1, differs in real8 (recorded 0.2)"},
        {"another board", [](LV_ZOLT_Handle h) { return getTime(h).status; }, b,
         "zolt replay: not recorded: getTime on board 2; nearest: " + s.at(getTimeLine) +
             " getTime on board 1, differs in board (recorded board 1)"},
        {"a handle not issued", [](LV_ZOLT_Handle h) { return getTime(h).status; }, 0x1234,
         "zolt replay: not recorded: getTime on handle 0x1234 (not issued by the replay "
         "driver); nearest: " +
             s.at(getTimeLine) + " getTime on board 1, differs in board (recorded board 1)"},
        {"an operation never recorded",
         [](LV_ZOLT_Handle h) {
             float v = 0;
             return LV_ZOLT_getAltitude(h, &v);
         },
         a,
         "zolt replay: not recorded: getAltitude on board 1; the trace holds no getAltitude call"},
        {"another open",
         [](LV_ZOLT_Handle) {
             LV_ZOLT_Handle h = 0;
             std::uint16_t v = 0;
             return LV_ZOLT_open(&h, 2, &v);
         },
         0,
         "zolt replay: not recorded: open (value 2); nearest: " + s.at(2) +
             " open, differs in value (recorded 0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(c.call(c.board), ZOLT_REPLAY_NOT_RECORDED);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line + "\n");
    }
    // Nothing was consumed by the misses.
    EXPECT_EQ(LV_ZOLT_setHeartbeat(a, 1, 10, 0, 0.2), 0);
    EXPECT_EQ(getTime(a).seconds, 1);
    const auto report = s.end();
    EXPECT_EQ(report["notMatched"], 5);
    EXPECT_EQ(report["complete"], false);
}

// Bytes the layer leaves unset hold whatever its stack held when recorded;
// the live call's differ, and must not matter.
TEST(Replay, BytesTheLayerLeavesUnsetAreIgnored) {
    TimeRecord setTime{};
    std::memset(&setTime, 0xAB, sizeof setTime);
    setTime.byte8 = 7;
    setTime.byte9 = 8;
    setTime.byte10 = 9;
    setTime.word12 = 10;
    setTime.word14 = 11;
    EventRecord event{};
    std::memset(&event, 0xCD, sizeof event);
    event.value0 = 500;
    EventRecord tag{};
    tag.value0 = 500;
    tag.real8 = 12.25;
    tag.byte16 = 13;
    tag.byte17 = 14;
    tag.word18 = 15;
    tag.word20 = 2026;
    tag.byte22 = 1;
    tag.byte23 = 2;
    TraceText t;
    t.open(0, kHandleA, 4100);
    t.record("setTime", kHandleA, setTime, 0, setTime);
    t.record("waitEvent", kHandleA, event, 0, tag);
    Session s(t.text());
    const LV_ZOLT_Handle board = openBoard(0, 4100);
    EXPECT_EQ(LV_ZOLT_setTime(board, 7, 8, 9, 10, 11), 0);
    double seconds = 0;
    std::uint8_t minutes = 0, hours = 0, dropped = 0, number = 0;
    std::uint16_t day = 0, year = 0;
    EXPECT_EQ(
        LV_ZOLT_waitEvent(board, &seconds, &minutes, &hours, &day, &year, &dropped, &number, 500),
        0);
    EXPECT_EQ(seconds, 12.25);
    EXPECT_EQ(minutes, 13);
    EXPECT_EQ(hours, 14);
    EXPECT_EQ(day, 15);
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(s.end()["complete"], true);
}

// Recorded handles map to the replay's own in the order of opening, per
// opened board: a driver that handed out a closed board's handle again
// opened a new board, and a failed open opened none.
TEST(Replay, HandlesMapToBoardsInOrderOfOpening) {
    TraceText t;
    t.open(0, kHandleA, 4100);
    t.open(1, kHandleB, 4101);
    t.record("getTime", kHandleA, TimeRecord{}, 0, timeRecord(1, 0, 0, 1));
    t.record("getTime", kHandleB, TimeRecord{}, 0, timeRecord(2, 0, 0, 1));
    t.call("close", kHandleA, 0);
    t.record("getTime", kHandleA, TimeRecord{}, 3, TimeRecord{});  // closed
    t.open(0, kHandleA, 4100);                                     // the same address again
    t.record("getTime", kHandleA, TimeRecord{}, 0, timeRecord(3, 0, 0, 1));
    t.open(7, 0, 0, 4);
    Session s(t.text());
    const LV_ZOLT_Handle first = openBoard(0, 4100);
    const LV_ZOLT_Handle second = openBoard(1, 4101);
    EXPECT_NE(first, second);
    EXPECT_EQ(getTime(second).seconds, 2);  // boards need not be used in recorded order
    EXPECT_EQ(getTime(first).seconds, 1);
    EXPECT_EQ(LV_ZOLT_close(first), 0);
    EXPECT_EQ(getTime(first).status, 3);  // what the driver said to a closed handle
    const LV_ZOLT_Handle third = openBoard(0, 4100);
    EXPECT_NE(third, first);
    EXPECT_EQ(getTime(third).seconds, 3);
    LV_ZOLT_Handle failed = 0x77;
    std::uint16_t value = 0x55;
    EXPECT_EQ(LV_ZOLT_open(&failed, 7, &value), 4);
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(value, 0x55);
    const auto report = s.end();
    EXPECT_EQ(report["complete"], true) << report.dump();
    expectCounts(report, "open", 4, 0, 0, 0);
}

// A recording process killed inside the driver left an entry without an
// exit: that call cannot be answered, but a host that does not make it has
// played everything the trace holds.
TEST(Replay, ACallThatNeverReturnedIsNotReplayed) {
    TraceText t;
    t.open(0, kHandleA, 4100);
    WaitRecord wait{1000};
    t.record("waitHeartbeat", kHandleA, wait, 0, wait, 1, 1000, false);
    const std::size_t line = t.lastEntryLine();
    for (const bool called : {true, false}) {
        SCOPED_TRACE(called ? "called" : "not called");
        Session s(t.text());
        const LV_ZOLT_Handle board = openBoard(0, 4100);
        if (called) {
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, 1000), ZOLT_REPLAY_NOT_RECORDED);
            EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                      "zolt replay: not replayable: waitHeartbeat on board 1 (value0=1000): the "
                      "recorded call at " +
                          s.at(line) + " never returned\n");
        }
        const auto report = s.end();
        expectCounts(report, "waitHeartbeat", 0, 0, called ? 1 : 0, 0);
        EXPECT_EQ(report["operations"]["waitHeartbeat"]["notReturned"], called ? 0 : 1);
        EXPECT_EQ(report["complete"], !called);
    }
}

// What a killed recording leaves (NUL bytes after a line cut short) and a
// trace that reached its size bound are played as far as they go.
TEST(Replay, TracesCutShortOrFullPlayAsFarAsTheyGo) {
    const std::string whole = polledTime().text();
    const std::string lastLine = whole.substr(whole.rfind('\n', whole.size() - 2) + 1);
    const struct {
        const char* name;
        std::string text;
        std::uint8_t close;  // the status close gets
        std::string err[2];  // parts of what stderr holds
    } cases[] = {
        {"cut short",
         whole.substr(0, whole.size() - lastLine.size() / 2) + std::string(64, '\0'),
         ZOLT_REPLAY_NOT_RECORDED,
         {"close on board 1: the recorded call at", "never returned"}},
        // close (seq 5) did not fit: in its place, the marker.
        {"full",
         whole.substr(0, whole.rfind('\n', whole.size() - lastLine.size() - 2) + 1) +
             "{\"ev\":\"full\",\"seq\":5,\"t\":9000000}\n",
         ZOLT_REPLAY_NOT_RECORDED,
         {"the trace is full at call 5: the calls after it were not recorded\n",
          "the trace holds no close call\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(c.text);
        ::testing::internal::CaptureStderr();
        const LV_ZOLT_Handle board = openBoard(0, 4100);
        for (const double seconds : {1.5, 2.5, 3.5}) EXPECT_EQ(getTime(board).seconds, seconds);
        EXPECT_EQ(LV_ZOLT_close(board), c.close);
        const std::string err = ::testing::internal::GetCapturedStderr();
        for (const std::string& part : c.err) EXPECT_TRUE(contains(err, part)) << err;
    }
}

// A host never talks silently to nothing: one line naming the problem, then
// every operation answers 242, and the report says why.
TEST(Replay, ABadTraceOrSettingAnswersEveryCallWithItsOwnStatus) {
    const std::string good = polledTime().text();
    const std::string missingFolder = tempPath("no-such-folder") + "/report.json";
    const struct {
        const char* name;
        std::string trace;
        Settings settings;
        std::string message;  // after "zolt replay: "
        bool report;          // the report can be written
    } cases[] = {
        {"no trace named",
         good,
         {{"ZOLT_REPLAY_FILE", nullptr}},
         "ZOLT_REPLAY_FILE is not set",
         true},
        {"no such file",
         good,
         {{"ZOLT_REPLAY_FILE", "/no/such/trace.jsonl"}},
         "/no/such/trace.jsonl: cannot open",
         true},
        {"not a trace", "hello\n", {}, "{trace}:1: not a zolt trace", true},
        {"a later version", "{\"trace\":\"zolt\",\"version\":2}\n", {}, "{trace}:1:", true},
        {"a damaged line",
         good.substr(0, good.find('\n', good.find('\n') + 1) + 1) +
             "{\"ev\":\"enter\",\"seq\":2,\"t\":5,\"tid\":1,\"op\":\"getTime\","
             "\"handle\":\"0x1\",\"in\":\"zz\",\"unset\":\"0-15\"}\n",
         {},
         "{trace}:3:",
         true},
        {"a bad policy",
         good,
         {{"ZOLT_REPLAY_EXHAUSTED", "sometimes"}},
         "ZOLT_REPLAY_EXHAUSTED=\"sometimes\" is not fail or repeat-last",
         true},
        {"a bad timing",
         good,
         {{"ZOLT_REPLAY_TIMING", "fast"}},
         "ZOLT_REPLAY_TIMING=\"fast\" is not instant or recorded",
         true},
        {"an unwritable report",
         good,
         {{"ZOLT_REPLAY_REPORT", missingFolder.c_str()}},
         "ZOLT_REPLAY_REPORT=\"" + missingFolder + "\" cannot be written",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(c.trace, c.settings);
        std::string message = c.message;
        if (const auto at = message.find("{trace}"); at != std::string::npos)
            message.replace(at, 7, s.trace);
        ::testing::internal::CaptureStderr();
        LV_ZOLT_Handle board = 0;
        std::uint16_t value = 0;
        EXPECT_EQ(LV_ZOLT_open(&board, 0, &value), ZOLT_REPLAY_BAD_TRACE);
        EXPECT_EQ(board, 0u);
        const Time time = getTime(board);
        EXPECT_EQ(time.status, ZOLT_REPLAY_BAD_TRACE);
        EXPECT_EQ(time.seconds, 0);
        EXPECT_EQ(time.day, 0);
        EXPECT_EQ(LV_ZOLT_close(board), ZOLT_REPLAY_BAD_TRACE);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(lines(err), 1u) << err;
        EXPECT_EQ(err.rfind("zolt replay: " + message, 0), 0u) << err;
        EXPECT_TRUE(contains(err, "every call returns 242")) << err;
        if (c.report) {
            const auto report = s.end();
            EXPECT_EQ(report["complete"], false);
            EXPECT_EQ(report["error"], err.substr(0, err.size() - 1));
            EXPECT_EQ(zolt::replay::checkReportFile(s.report).status, 1);
        }
    }
}

// Two threads, each with a board of its own, recorded interleaved. The
// replay matches per key, so each thread gets its own answers in order
// whether the threads run one after the other (in either order) or at once.
TEST(Replay, ThreadsNeedNotInterleaveAsRecorded) {
    TraceText t;
    t.open(0, kHandleA, 4100, 0, 11);
    t.open(1, kHandleB, 4101, 0, 22);
    WaitRecord wait{1000};
    for (int i = 1; i <= 3; ++i) {
        t.record("waitHeartbeat", kHandleA, wait, 0, wait, 11);
        t.record("waitHeartbeat", kHandleB, wait, 0, wait, 22);
        t.record("getTime", kHandleB, TimeRecord{}, 0, timeRecord(20.0 + i, 0, 0, 1), 22);
        t.record("getTime", kHandleA, TimeRecord{}, 0, timeRecord(10.0 + i, 0, 0, 1), 11);
    }
    t.call("close", kHandleB, 0, 22);
    t.call("close", kHandleA, 0, 11);
    const auto host = [](std::uint32_t index, double base, std::vector<double>& seen) {
        LV_ZOLT_Handle board = 0;
        std::uint16_t value = 0;
        if (LV_ZOLT_open(&board, index, &value) != 0) return;
        for (int i = 0; i < 3; ++i) {
            if (LV_ZOLT_waitHeartbeat(board, 1000) != 0) return;
            const Time time = getTime(board);
            seen.push_back(time.status == 0 ? time.seconds - base : -1);
        }
        if (LV_ZOLT_close(board) != 0) seen.push_back(-2);
    };
    for (const char* order : {"second board first", "first board first", "at once"}) {
        SCOPED_TRACE(order);
        Session s(t.text());
        std::vector<double> a, b;
        const std::string how = order;
        if (how == "second board first") {
            std::thread([&] { host(1, 20, b); }).join();
            std::thread([&] { host(0, 10, a); }).join();
        } else if (how == "first board first") {
            std::thread([&] { host(0, 10, a); }).join();
            std::thread([&] { host(1, 20, b); }).join();
        } else {
            std::thread one([&] { host(0, 10, a); });
            std::thread two([&] { host(1, 20, b); });
            one.join();
            two.join();
        }
        EXPECT_EQ(a, (std::vector<double>{1, 2, 3}));
        EXPECT_EQ(b, (std::vector<double>{1, 2, 3}));
        EXPECT_EQ(s.end()["complete"], true);
    }
}

// Waits are answered at once unless the recorded timing is asked for.
TEST(Replay, RecordedTimingMakesACallLastAsLongAsItDid) {
    const struct {
        const char* timing;
        std::int64_t recorded;  // ns
        bool slept;
    } cases[] = {{"recorded", 300'000'000, true},
                 {nullptr, 60'000'000'000, false},
                 {"instant", 60'000'000'000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timing ? c.timing : "default");
        TraceText t;
        t.open(0, kHandleA, 4100);
        WaitRecord wait{0xFFFFFFFFu};
        t.record("waitHeartbeat", kHandleA, wait, 0, wait, 1, c.recorded);
        Session s(t.text(), {{"ZOLT_REPLAY_TIMING", c.timing}});
        const LV_ZOLT_Handle board = openBoard(0, 4100);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, 0xFFFFFFFFu), 0);
        const auto took = std::chrono::steady_clock::now() - start;
        if (c.slept)
            EXPECT_GE(took, std::chrono::nanoseconds(c.recorded));
        else  // far from the recorded minute, however loaded the machine
            EXPECT_LT(took, std::chrono::seconds(30));
        EXPECT_EQ(s.end()["timing"], c.timing ? c.timing : "instant");
    }
}

// A report stands from the first call: a host that dies leaves one that
// says so; one that stops early gets one that lists what it left unplayed.
TEST(Replay, TheReportTellsAHostThatStoppedEarly) {
    Session s(polledTime().text());
    const LV_ZOLT_Handle board = openBoard(0, 4100);
    EXPECT_EQ(getTime(board).seconds, 1.5);

    auto verdict = zolt::replay::checkReportFile(s.report);
    EXPECT_EQ(verdict.status, 1) << verdict.text;
    EXPECT_TRUE(contains(verdict.text, "did not exit normally")) << verdict.text;
    // As the replay stood at the first call.
    EXPECT_TRUE(contains(verdict.text, "getTime: 3 recordings left unplayed")) << verdict.text;

    const auto report = s.end();
    EXPECT_EQ(report["finished"], true);
    EXPECT_EQ(report["trace"], s.trace);
    EXPECT_EQ(report["played"], 2);
    EXPECT_EQ(report["unplayed"], 3);
    EXPECT_EQ(report["complete"], false);
    expectCounts(report, "getTime", 1, 0, 0, 2);
    expectCounts(report, "close", 0, 0, 0, 1);
    EXPECT_EQ(report["operations"]["getTime"]["recorded"], 3);
    verdict = zolt::replay::checkReportFile(s.report);
    EXPECT_EQ(verdict.status, 1);
    EXPECT_EQ(verdict.text, s.report + ": incomplete replay of " + s.trace +
                                "\n  close: 1 recording left unplayed"
                                "\n  getTime: 2 recordings left unplayed\n");
}

}  // namespace
