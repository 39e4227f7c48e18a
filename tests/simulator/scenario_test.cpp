// Scenario files (ZOLT_SIM_SCENARIO): identities, board counts, faults on
// chosen calls, latency, scheduled events and the refusal of bad files.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../environment.h"
#include "fixture.h"

namespace simtest {
namespace {

constexpr std::uint32_t kForever = ZOLT_SIM_WAIT_FOREVER;

void setEnvironment(const char* name, const char* value) { testenv::set(name, value); }

// Writes `text` as a scenario file, points ZOLT_SIM_SCENARIO at it and
// reloads the simulator; what it printed on stderr is kept in `complaint`.
class Scenario : public ::testing::Test {
   protected:
    // One file per test, so that tests run in parallel keep apart.
    std::string path = ::testing::TempDir() + "zolt_scenario_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".toml";
    std::string complaint;

    void load(const std::string& text, const char* boards = nullptr) {
        std::ofstream(path, std::ios::binary) << text;
        loadPath(path, boards);
    }
    void loadPath(const std::string& file, const char* boards = nullptr) {
        setEnvironment("ZOLT_SIM_SCENARIO", file.c_str());
        setEnvironment("ZOLT_SIM_BOARDS", boards);
        ::testing::internal::CaptureStderr();
        zoltsim_reset();
        complaint = ::testing::internal::GetCapturedStderr();
    }
    void TearDown() override {
        setEnvironment("ZOLT_SIM_SCENARIO", nullptr);
        setEnvironment("ZOLT_SIM_BOARDS", nullptr);
        zoltsim_reset();
        std::remove(path.c_str());
    }

    static LV_ZOLT_Handle open(std::uint32_t index, std::uint16_t* value = nullptr) {
        LV_ZOLT_Handle h = 0;
        std::uint16_t v = 0;
        EXPECT_EQ(LV_ZOLT_open(&h, index, value ? value : &v), 0) << "board " << index;
        return h;
    }
};

// ---------------------------------------------------------------------------
// Identity, position and board count

TEST_F(Scenario, DescribedBoardShowsItsIdentityAndOthersKeepTheDefaults) {
    load(R"(
[[board]]
index = 1
serial = 4242
firmware = "0a-0B-ff"
fpga = "01-02-03"
latitude = -33.8568
longitude = 151.2153
altitude = 58.0
satellites = 4
fix = 2
)");
    ASSERT_EQ(complaint, "");
    EXPECT_EQ(zoltsim_boardCount(), 2u);  // the highest index plus one

    std::uint16_t value = 0;
    const LV_ZOLT_Handle b1 = open(1, &value);
    EXPECT_EQ(value, 4242);
    char text[9];
    ASSERT_EQ(LV_ZOLT_getFirmware(b1, text), 0);
    EXPECT_STREQ(text, "0A-0B-FF");
    ASSERT_EQ(LV_ZOLT_getFPGA(b1, text), 0);
    EXPECT_STREQ(text, "01-02-03");
    std::int16_t whole = 0;
    float minutes = 0, altitude = 0;
    ASSERT_EQ(LV_ZOLT_getLatitude(b1, &whole, &minutes), 0);
    EXPECT_EQ(whole, -33);
    EXPECT_NEAR(minutes, -51.408f, 1e-3);
    ASSERT_EQ(LV_ZOLT_getLongitude(b1, &whole, &minutes), 0);
    EXPECT_EQ(whole, 151);
    EXPECT_NEAR(minutes, 12.918f, 1e-3);
    ASSERT_EQ(LV_ZOLT_getAltitude(b1, &altitude), 0);
    EXPECT_FLOAT_EQ(altitude, 58.0f);
    std::uint8_t tracked = 0, fix = 0;
    ASSERT_EQ(LV_ZOLT_getSatInfo(b1, &tracked, &fix), 0);
    EXPECT_EQ(tracked, 4);
    EXPECT_EQ(fix, 2);

    // Board 0 is not described: every default.
    const LV_ZOLT_Handle b0 = open(0, &value);
    EXPECT_EQ(value, ZOLT_SIM_SERIAL_BASE);
    ASSERT_EQ(LV_ZOLT_getFirmware(b0, text), 0);
    EXPECT_STREQ(text, "02-07-13");
    ASSERT_EQ(LV_ZOLT_getLatitude(b0, &whole, &minutes), 0);
    EXPECT_EQ(whole, 47);
    EXPECT_FLOAT_EQ(minutes, 22.917f);
    ASSERT_EQ(LV_ZOLT_getSatInfo(b0, &tracked, &fix), 0);
    EXPECT_EQ(tracked, 9);
    EXPECT_EQ(fix, 3);
}

TEST_F(Scenario, DecimalDegreesBecomeWholeDegreesAndSignedMinutes) {
    const struct {
        const char* degrees;
        std::int16_t whole;
        float minutes;
    } cases[] = {
        {"-33.8568", -33, -51.408f}, {"-0.5", 0, -30.0f},      {"12.25", 12, 15.0f},
        {"-90", -90, 0.0f},          {"90.0", 90, 0.0f},       {"0", 0, 0.0f},
        {"-12.5", -12, -30.0f},      {"33.99999999999", 34, 0.0f},  // not 33 and 60 minutes
        {"-179.99999999999", -180, 0.0f},
    };
    for (const auto& c : cases) {
        const double lat = std::atof(c.degrees);
        const bool fitsLatitude = lat >= -90 && lat <= 90;
        load(std::string("[[board]]\nindex = 0\nlongitude = ") + c.degrees +
             (fitsLatitude ? std::string("\nlatitude = ") + c.degrees : std::string()) + "\n");
        ASSERT_EQ(complaint, "") << c.degrees;
        const LV_ZOLT_Handle h = open(0);
        std::int16_t whole = 0;
        float minutes = 99;
        ASSERT_EQ(LV_ZOLT_getLongitude(h, &whole, &minutes), 0);
        EXPECT_EQ(whole, c.whole) << c.degrees;
        EXPECT_NEAR(minutes, c.minutes, 1e-3) << c.degrees;
        EXPECT_LT(std::abs(minutes), 60.0f) << c.degrees;
        if (fitsLatitude) {
            ASSERT_EQ(LV_ZOLT_getLatitude(h, &whole, &minutes), 0);
            EXPECT_EQ(whole, c.whole) << c.degrees;
            EXPECT_NEAR(minutes, c.minutes, 1e-3) << c.degrees;
        }
    }
}

TEST_F(Scenario, BoardCountIsTheHighestIndexPlusOneUnlessTheEnvironmentAddsBoards) {
    const struct {
        const char* file;
        const char* boards;
        std::uint32_t count;
    } cases[] = {
        {"[[board]]\nindex = 3\n", nullptr, 4},
        {"[[board]]\nindex = 0\n", nullptr, 1},
        {"[[board]]\nindex = 7\n[[board]]\nindex = 2\n", nullptr, 8},
        {"", nullptr, ZOLT_SIM_DEFAULT_BOARDS},  // nothing described
        {"", "5", 5},
        {"[[board]]\nindex = 3\n", "6", 6},  // boards 4 and 5 keep the defaults
        {"[[board]]\nindex = 3\n", "4", 4},
    };
    for (const auto& c : cases) {
        load(c.file, c.boards);
        EXPECT_EQ(complaint, "") << c.file;
        EXPECT_EQ(zoltsim_boardCount(), c.count) << c.file;
        LV_ZOLT_Handle h = 0;
        std::uint16_t value = 0;
        EXPECT_EQ(LV_ZOLT_open(&h, c.count - 1, &value), 0) << c.file;
        EXPECT_EQ(value, ZOLT_SIM_SERIAL_BASE + c.count - 1) << c.file;
        EXPECT_EQ(LV_ZOLT_open(&h, c.count, &value), ZOLT_SIM_NO_SUCH_BOARD) << c.file;
    }
}

TEST_F(Scenario, StartSetsTheBoardClockWhichRunsFromThere) {
    load(R"(
[[board]]
index = 0
start = "2030-01-01T00:00:00"
[[board]]
index = 1
start = 2031-06-15T12:30:00+02:00
)");
    ASSERT_EQ(complaint, "");
    const LV_ZOLT_Handle b0 = open(0);
    const LV_ZOLT_Handle b1 = open(1);
    EXPECT_EQ(dateOf(b0), (Date{2030, 1, 1}));
    Time t = timeOf(b0);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hours, 0);
    EXPECT_LT(t.minutes, 2);  // the host's clock runs on meanwhile
    EXPECT_EQ(dateOf(b1), (Date{2031, 6, 15}));
    t = timeOf(b1);
    EXPECT_EQ(t.hours, 10);  // UTC
    EXPECT_GE(t.minutes, 30);
    EXPECT_LT(t.minutes, 32);
    // The start is taken again from the file by each reset.
    ASSERT_EQ(LV_ZOLT_setYear(b0, 2040), 0);
    zoltsim_reset();
    EXPECT_EQ(dateOf(open(0)), (Date{2030, 1, 1}));
}

// ---------------------------------------------------------------------------
// Faults

// The status of each getTime in a row on `board`.
std::vector<int> getTimes(LV_ZOLT_Handle board, int calls) {
    std::vector<int> statuses;
    for (int i = 0; i < calls; ++i) {
        double seconds = -1;
        std::uint8_t minutes = 0xFF, hours = 0xFF;
        std::uint16_t day = 0xFFFF;
        const int status = LV_ZOLT_getTime(board, &seconds, &minutes, &hours, &day);
        statuses.push_back(status);
        if (status != 0) {  // a failed operation fills its record with zeros
            EXPECT_EQ(seconds, 0.0);
            EXPECT_EQ(minutes + hours + day, 0);
        }
    }
    return statuses;
}

TEST_F(Scenario, EachFaultSelectorFailsExactlyItsCalls) {
    const struct {
        const char* selector;
        std::vector<int> statuses;
    } cases[] = {
        {"calls = [2, 4]", {0, 9, 0, 9, 0, 0, 0}},
        {"calls = [1]", {9, 0, 0, 0, 0, 0, 0}},
        {"after = 3", {0, 0, 0, 9, 9, 9, 9}},
        {"after = 0", {9, 9, 9, 9, 9, 9, 9}},
        {"every = 3", {0, 0, 9, 0, 0, 9, 0}},
        {"every = 1", {9, 9, 9, 9, 9, 9, 9}},
    };
    for (const auto& c : cases) {
        load(std::string("[[fault]]\noperation = \"getTime\"\n") + c.selector + "\nstatus = 9\n");
        ASSERT_EQ(complaint, "") << c.selector;
        EXPECT_EQ(getTimes(open(0), 7), c.statuses) << c.selector;
    }
}

TEST_F(Scenario, FaultsCountEachOperationOnEachBoardAndResetRestartsThem) {
    load(R"(
[[fault]]
operation = "getTime"
board = 1
calls = [2]
status = 200
)");
    ASSERT_EQ(complaint, "");
    const LV_ZOLT_Handle b0 = open(0), b1 = open(1), b1again = open(1);
    EXPECT_EQ(getTimes(b0, 3), (std::vector<int>{0, 0, 0}));  // another board
    dateOf(b1);                                               // another operation
    // Calls through any handle of the board count.
    EXPECT_EQ(getTimes(b1again, 1), (std::vector<int>{0}));
    EXPECT_EQ(getTimes(b1, 2), (std::vector<int>{200, 0}));
    zoltsim_reset();  // counts from 1 again
    EXPECT_EQ(getTimes(open(1), 3), (std::vector<int>{0, 200, 0}));
}

TEST_F(Scenario, AFailedOperationChangesNothing) {
    load(R"(
[[fault]]
operation = "setTime"
calls = [1]
status = 77
[[fault]]
operation = "close"
calls = [1]
status = 78
[[fault]]
operation = "waitEvent"
calls = [1]
status = 79
[[fault]]
operation = "open"
board = 1
calls = [1]
status = 80
[[fault]]
operation = "getFirmware"
every = 1
status = 81
)");
    ASSERT_EQ(complaint, "");
    zoltsim_useManualClock(kStart);
    const LV_ZOLT_Handle board = open(0);
    EXPECT_EQ(LV_ZOLT_setTime(board, 0, 0, 12, 200, 0), 77);
    expectTime(board, 73, 9, 26, 53.589793238);  // the clock was not set
    EXPECT_EQ(LV_ZOLT_close(board), 78);
    EXPECT_EQ(LV_ZOLT_simEvent(board), 0);  // the handle is still open
    EventTag e = waitEvent(board, 0);
    EXPECT_EQ(e.status, 79);
    EXPECT_EQ(e.number, 0);  // zeros, and the event stays queued
    e = waitEvent(board, 0);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.number, 1);
    LV_ZOLT_Handle h = 1;
    std::uint16_t value = 7;
    EXPECT_EQ(LV_ZOLT_open(&h, 1, &value), 80);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(LV_ZOLT_open(&h, 1, &value), 0);
    char text[9] = "unmoved";
    EXPECT_EQ(LV_ZOLT_getFirmware(board, text), 81);
    EXPECT_STREQ(text, "unmoved");  // LV_zolt writes the text only on success
    // A bad handle is still reported as such, and not counted as a call.
    EXPECT_EQ(LV_ZOLT_getFirmware(0, text), ZOLT_SIM_NULL_HANDLE);
}

// ---------------------------------------------------------------------------
// Latency

// Runs `call` on another thread while the manual clock moves on, `from`
// milliseconds at once, then one at a time; returns how many milliseconds
// it took (or -1). Each step gives the call 30 ms to return.
template <class F>
int millisecondsFor(F call, int from = 0, int most = 400) {
    auto done = later(call);
    untilWaiting(0, 1);
    zoltsim_advanceClock(from * kMs);
    for (int ms = from; ms <= most; ++ms) {
        if (done.wait_for(std::chrono::milliseconds(30)) == std::future_status::ready) {
            EXPECT_EQ(done.get(), 0);
            return ms;
        }
        zoltsim_advanceClock(kMs);
    }
    zoltsim_reset();  // ends the call
    done.get();
    return -1;
}

TEST_F(Scenario, LatencyHoldsTheCallOnTheClockInUse) {
    load(R"(
[[latency]]
operation = "getDate"
board = 0
ms = 150
[[latency]]
operation = "getDate"
ms = 5.5
)");
    ASSERT_EQ(complaint, "");
    zoltsim_useManualClock(kStart);
    const LV_ZOLT_Handle b0 = open(0), b1 = open(1);
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0;
    auto slow = later([&] { return LV_ZOLT_getDate(b0, &year, &month, &day); });
    untilWaiting(0, 1);
    zoltsim_advanceClock(155 * kMs);  // both entries apply to board 0
    EXPECT_EQ(slow.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    zoltsim_advanceClock(kMs / 2);
    EXPECT_EQ(slow.get(), 0);
    EXPECT_EQ(year, 2026);
    // Only the second entry applies to board 1, and to no other operation.
    std::int16_t whole;
    float minutes;
    EXPECT_EQ(LV_ZOLT_getLatitude(b1, &whole, &minutes), 0);  // does not block
    auto quick = later([&] { return LV_ZOLT_getDate(b1, &year, &month, &day); });
    untilWaiting(1, 1);
    zoltsim_advanceClock(5 * kMs);
    EXPECT_EQ(quick.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    zoltsim_advanceClock(kMs / 2);
    EXPECT_EQ(quick.get(), 0);
}

TEST_F(Scenario, LatencyJitterStaysInRangeAndRepeatsFromItsSeed) {
    const std::string file = R"(
[[latency]]
operation = "getAltitude"
ms = 10
jitter_ms = 12
seed = 12345
)";
    std::vector<int> runs[2];
    for (auto& run : runs) {
        load(file);
        ASSERT_EQ(complaint, "");
        zoltsim_useManualClock(kStart);
        const LV_ZOLT_Handle board = open(0);
        for (int i = 0; i < 4; ++i) {
            float altitude = 0;
            run.push_back(
                millisecondsFor([&] { return LV_ZOLT_getAltitude(board, &altitude); }, 10));
            EXPECT_GE(run.back(), 10);
            EXPECT_LE(run.back(), 22);
        }
    }
    EXPECT_EQ(runs[0], runs[1]);
}

TEST_F(Scenario, LatencyWithoutAnOperationSlowsEveryOperation) {
    load("[[latency]]\nms = 2\n");
    ASSERT_EQ(complaint, "");
    zoltsim_useManualClock(kStart);
    LV_ZOLT_Handle board = 0;
    std::uint16_t value = 0;
    EXPECT_EQ(millisecondsFor([&] { return LV_ZOLT_open(&board, 0, &value); }), 2);
    EXPECT_EQ(millisecondsFor([&] { return LV_ZOLT_simEvent(board); }), 2);
    EXPECT_EQ(millisecondsFor([&] { return LV_ZOLT_close(board); }), 2);
}

// ---------------------------------------------------------------------------
// Scheduled events

TEST_F(Scenario, ScheduledEventsArriveOnTheBoardClock) {
    load(R"(
[[events]]
board = 0
every = 0.25
)");
    ASSERT_EQ(complaint, "");
    zoltsim_useManualClock(kStart);
    const LV_ZOLT_Handle board = open(0), other = open(1);
    ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 8, 10, 0), 0);  // day 10 08:00:00.000
    EXPECT_EQ(waitEvent(board, 0).status, ZOLT_SIM_TIMEOUT);

    // A wait without limit ends at the next instant of the schedule.
    auto first = later([&] { return waitEvent(board, kForever); });
    untilWaiting(0, 1);
    zoltsim_advanceClock(249 * kMs);
    EXPECT_EQ(first.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    zoltsim_advanceClock(kMs);
    EventTag e = first.get();
    ASSERT_EQ(e.status, 0);
    EXPECT_EQ(e.day, 10);
    EXPECT_EQ(e.hours, 8);
    EXPECT_NEAR(e.seconds, 0.25, 1e-9);
    EXPECT_EQ(e.number, 1);

    // Those that fall due while nobody waits are queued with their own tags,
    // among events raised by simEvent.
    zoltsim_advanceClock(600 * kMs);  // 0.85: 0.5 and 0.75 are due
    ASSERT_EQ(LV_ZOLT_simEvent(board), 0);
    const double tags[] = {0.5, 0.75, 0.85};
    for (int i = 0; i < 3; ++i) {
        e = waitEvent(board, 0);
        ASSERT_EQ(e.status, 0);
        EXPECT_NEAR(e.seconds, tags[i], 1e-9);
        EXPECT_EQ(e.number, i + 2);
    }
    EXPECT_EQ(waitEvent(board, 0).status, ZOLT_SIM_TIMEOUT);
    EXPECT_EQ(waitEvent(other, 0).status, ZOLT_SIM_TIMEOUT);  // not scheduled
}

TEST_F(Scenario, ScheduleNeitherFloodsAfterAClockSetNorLosesTrackOfOverflow) {
    load("[[events]]\nevery = 0.25\n");  // every board
    ASSERT_EQ(complaint, "");
    zoltsim_useManualClock(kStart);
    const LV_ZOLT_Handle board = open(0);
    ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 8, 10, 0), 0);
    // Setting the clock an hour on is no hour passing.
    ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 9, 10, 0), 0);
    zoltsim_advanceClock(250 * kMs);
    EventTag e = waitEvent(board, 0);
    EXPECT_EQ(e.number, 1);
    EXPECT_EQ(e.hours, 9);
    EXPECT_EQ(waitEvent(board, 0).status, ZOLT_SIM_TIMEOUT);
    // 100 s unread: 400 events, of which the queue keeps the newest 64.
    zoltsim_advanceClock(100 * kSec);
    e = waitEvent(board, 0);
    ASSERT_EQ(e.status, 0);
    EXPECT_EQ(e.dropped, 255);  // 336, at most 255 shown
    EXPECT_EQ(e.number, (1 + 337) & 0xFF);
    EXPECT_EQ(e.minutes, 1);
    EXPECT_NEAR(e.seconds, 24.5, 1e-9);  // 09:01:24.5, the 338th instant
    for (int i = 1; i < ZOLT_SIM_EVENT_QUEUE; ++i) ASSERT_EQ(waitEvent(board, 0).dropped, 0);
    EXPECT_EQ(waitEvent(board, 0).status, ZOLT_SIM_TIMEOUT);
    // Other boards have their schedule too.
    zoltsim_advanceClock(250 * kMs);
    EXPECT_EQ(waitEvent(open(1), 0).status, 0);
}

// ---------------------------------------------------------------------------
// Bad files

TEST_F(Scenario, BadFileIsNamedOnOneLineAndEveryOperationRefuses) {
    const struct {
        const char* file;
        const char* message;  // after "<path>:"
    } cases[] = {
        {"[[boards]]\nindex = 0\n", "1: boards: unknown key"},
        {"[[board]]\nindex = 0\nserail = 1\n", "3: board.serail: unknown key"},
        {"[[board]]\nserial = 1\n", "1: board.index: missing"},
        {"[[board]]\nindex = 0\nserial = \"4242\"\n",
         "3: board.serial: expected an integer, not a string"},
        {"[[board]]\nindex = 0\nserial = 65536\n",
         "3: board.serial: 65536 is out of range (0 to 65535)"},
        {"[[board]]\nindex = 8\n", "2: board.index: 8 is out of range (0 to 7)"},
        {"[[board]]\nindex = -1\n", "2: board.index: -1 is out of range"},
        {"[[board]]\nindex = 0\n[[board]]\nindex = 0\n", "4: board.index: board 0 is described twice"},
        {"[[board]]\nindex = 0\nfirmware = \"1-2-3\"\n",
         "3: board.firmware: '1-2-3' is not three hex bytes"},
        {"[[board]]\nindex = 0\nfpga = \"01-02-0G\"\n", "3: board.fpga: '01-02-0G'"},
        {"[[board]]\nindex = 0\nlatitude = 90.5\n", "3: board.latitude: 90.5 is out of range"},
        {"[[board]]\nindex = 0\nlongitude = -181\n", "3: board.longitude: -181 is out of range"},
        {"[[board]]\nindex = 0\nlongitude = nan\n", "3: board.longitude: "},
        {"[[board]]\nindex = 0\naltitude = \"high\"\n",
         "3: board.altitude: expected a number, not a string"},
        {"[[board]]\nindex = 0\nsatellites = 256\n", "3: board.satellites: 256 is out of range"},
        {"[[board]]\nindex = 0\nfix = 1\n", "3: board.fix: 1 is not a fix: 0, 2 or 3"},
        {"[[board]]\nindex = 0\nfix = 4\n", "3: board.fix: 4 is out of range"},
        {"[[board]]\nindex = 0\nstart = \"tomorrow\"\n", "3: board.start: 'tomorrow' is not a date"},
        {"[[board]]\nindex = 0\nstart = \"2030-01-01T00:00:00\\nx = 1\"\n", "3: board.start: '2030"},
        {"[[board]]\nindex = 0\nstart = 1969-12-31T23:00:00\n",
         "3: board.start: the year must be 1970 to 2200"},
        {"[[board]]\nindex = 0\nstart = 2030-01-01\n",
         "3: board.start: expected a date and time, not a date"},
        {"[[fault]]\noperation = \"getTimes\"\ncalls = [1]\nstatus = 9\n",
         "2: fault.operation: 'getTimes' is not a driver operation"},
        {"[[fault]]\noperation = \"ZOLT_getTime\"\ncalls = [1]\nstatus = 9\n",
         "2: fault.operation: 'ZOLT_getTime'"},
        {"[[fault]]\noperation = \"getTime\"\nstatus = 9\n",
         "1: fault.calls: give exactly one of calls, after and every (0 given)"},
        {"[[fault]]\noperation = \"getTime\"\ncalls = [1]\nevery = 2\nstatus = 9\n",
         "1: fault.calls: give exactly one of calls, after and every (2 given)"},
        {"[[fault]]\noperation = \"getTime\"\ncalls = [0]\nstatus = 9\n",
         "3: fault.calls: 0 is out of range"},
        {"[[fault]]\noperation = \"getTime\"\ncalls = []\nstatus = 9\n",
         "3: fault.calls: expected a list of call numbers such as [2, 5], not an empty list"},
        {"[[fault]]\noperation = \"getTime\"\ncalls = 2\nstatus = 9\n",
         "3: fault.calls: expected a list of call numbers such as [2, 5], not an integer"},
        {"[[fault]]\noperation = \"getTime\"\nevery = 0\nstatus = 9\n", "3: fault.every: 0 is out of range"},
        {"[[fault]]\noperation = \"getTime\"\nafter = -1\nstatus = 9\n", "3: fault.after: -1 is out of range"},
        {"[[fault]]\noperation = \"getTime\"\ncalls = [1]\nstatus = 0\n",
         "4: fault.status: 0 is out of range (1 to 255)"},
        {"[[fault]]\noperation = \"getTime\"\ncalls = [1]\n", "1: fault.status: missing"},
        {"[[fault]]\noperation = \"getTime\"\nboard = 5\ncalls = [1]\nstatus = 9\n",
         "3: fault.board: board 5 is not simulated (2 boards)"},
        {"[[latency]]\nms = -1\n", "2: latency.ms: -1 is out of range (0 to 60000 ms)"},
        {"[[latency]]\nms = 1\njitter_ms = true\n",
         "3: latency.jitter_ms: expected a number, not a boolean"},
        {"[[latency]]\noperation = \"getTime\"\n", "1: latency.ms: missing"},
        {"[[latency]]\nms = 1\nseed = 1.5\n", "3: latency.seed: expected an integer, not a real"},
        {"[[events]]\nevery = 0\n", "2: events.every: 0 is out of range (0.001 to 86400 seconds)"},
        {"[[events]]\nboard = 0\nevery = 1\nperiod = 2\n", "4: events.period: unknown key"},
        {"[[events]]\nevery = 1\n[[events]]\nboard = 1\nevery = 2\n",
         "3: events.board: events for board 1 are scheduled twice"},
        {"board = 3\n", "1: board: expected [[board]] tables, not an integer"},
        {"[board]\nindex = 0\n", "1: board: expected [[board]] tables, not a table"},
        {"[[board]\nindex = 0\n", "1: "},  // not TOML
        {"[[board]]\nindex = 0\nindex = 1\n", "3: "},
    };
    for (const auto& c : cases) {
        load(c.file);
        EXPECT_EQ(complaint.rfind("zolt simulator: " + path + ":" + c.message, 0), 0u)
            << c.file << "\n" << complaint;
        EXPECT_EQ(std::count(complaint.begin(), complaint.end(), '\n'), 1) << complaint;
        EXPECT_NE(complaint.find("ZOLT_SIM_BAD_SCENARIO"), std::string::npos) << complaint;

        // No board opens, and every operation refuses whatever its handle.
        EXPECT_EQ(zoltsim_boardCount(), 0u);
        LV_ZOLT_Handle h = 1;
        std::uint16_t value = 7;
        EXPECT_EQ(LV_ZOLT_open(&h, 0, &value), ZOLT_SIM_BAD_SCENARIO) << c.file;
        EXPECT_EQ(h, 0u);
        EXPECT_EQ(value, 7);
        double seconds = -1;
        std::uint8_t minutes = 0xFF, hours = 0xFF;
        std::uint16_t day = 0xFFFF;
        EXPECT_EQ(LV_ZOLT_getTime(0, &seconds, &minutes, &hours, &day), ZOLT_SIM_BAD_SCENARIO);
        EXPECT_EQ(seconds, 0.0);
        EXPECT_EQ(minutes + hours + day, 0);
        EXPECT_EQ(LV_ZOLT_close(1), ZOLT_SIM_BAD_SCENARIO);
        EXPECT_EQ(waitEvent(0, kForever).status, ZOLT_SIM_BAD_SCENARIO);
    }
}

TEST_F(Scenario, UnreadableFileAndTooFewBoardsAreRefusedToo) {
    const std::string missing = ::testing::TempDir() + "no_such_scenario.toml";
    const struct {
        std::string file;
        const char* boards;
        std::string start;
    } cases[] = {
        {missing, nullptr, missing + ": cannot be read"},
        {::testing::TempDir(), nullptr, ::testing::TempDir() + ": cannot be read"},
        {path, "1", "ZOLT_SIM_BOARDS=1 leaves out board 1 that " + path + " describes"},
    };
    std::ofstream(path) << "[[board]]\nindex = 1\n";
    for (const auto& c : cases) {
        loadPath(c.file, c.boards);
        EXPECT_EQ(complaint.rfind("zolt simulator: " + c.start, 0), 0u) << complaint;
        LV_ZOLT_Handle h = 1;
        std::uint16_t value = 0;
        EXPECT_EQ(LV_ZOLT_open(&h, 0, &value), ZOLT_SIM_BAD_SCENARIO) << c.file;
    }
    // A good file and a reset bring the boards back.
    loadPath(path);
    EXPECT_EQ(complaint, "");
    open(1);
}

}  // namespace
}  // namespace simtest
