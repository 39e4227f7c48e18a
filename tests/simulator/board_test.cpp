// The simulated board's handles, clock, identity, position and settings.
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

#include "../environment.h"
#include "driver/zolt.h"
#include "fixture.h"

namespace simtest {
namespace {

// Every export that takes a handle, called so that it cannot block.
struct HandleCall {
    const char* name;
    std::function<std::uint8_t(LV_ZOLT_Handle)> call;
};

const std::vector<HandleCall>& handleCalls() {
    static double real;
    static std::uint8_t b1, b2, b3, b4;
    static std::uint16_t w1, w2;
    static std::int16_t whole;
    static float f;
    static char text[9];
    static const std::vector<HandleCall> calls = {
        {"close", [](LV_ZOLT_Handle h) { return LV_ZOLT_close(h); }},
        {"getDriver", [](LV_ZOLT_Handle h) { return LV_ZOLT_getDriver(h, 1); }},
        {"resetFirmware", [](LV_ZOLT_Handle h) { return LV_ZOLT_resetFirmware(h); }},
        {"setOscillator", [](LV_ZOLT_Handle h) { return LV_ZOLT_setOscillator(h, 0); }},
        {"setPropDelayCorr", [](LV_ZOLT_Handle h) { return LV_ZOLT_setPropDelayCorr(h, 0); }},
        {"simEvent", [](LV_ZOLT_Handle h) { return LV_ZOLT_simEvent(h); }},
        {"synchControl", [](LV_ZOLT_Handle h) { return LV_ZOLT_synchControl(h, 1); }},
        {"synchStatus", [](LV_ZOLT_Handle h) { return LV_ZOLT_synchStatus(h, 1); }},
        {"getFirmware", [](LV_ZOLT_Handle h) { return LV_ZOLT_getFirmware(h, text); }},
        {"getFPGA", [](LV_ZOLT_Handle h) { return LV_ZOLT_getFPGA(h, text); }},
        {"getTime", [](LV_ZOLT_Handle h) { return LV_ZOLT_getTime(h, &real, &b1, &b2, &w1); }},
        {"setTime", [](LV_ZOLT_Handle h) { return LV_ZOLT_setTime(h, 0, 0, 0, 1, 0); }},
        {"getDate", [](LV_ZOLT_Handle h) { return LV_ZOLT_getDate(h, &w1, &b1, &b2); }},
        {"setYear", [](LV_ZOLT_Handle h) { return LV_ZOLT_setYear(h, 2026); }},
        {"getAltitude", [](LV_ZOLT_Handle h) { return LV_ZOLT_getAltitude(h, &f); }},
        {"getLatitude", [](LV_ZOLT_Handle h) { return LV_ZOLT_getLatitude(h, &whole, &f); }},
        {"getLongitude", [](LV_ZOLT_Handle h) { return LV_ZOLT_getLongitude(h, &whole, &f); }},
        {"getSatInfo", [](LV_ZOLT_Handle h) { return LV_ZOLT_getSatInfo(h, &b1, &b2); }},
        {"setHeartbeat", [](LV_ZOLT_Handle h) { return LV_ZOLT_setHeartbeat(h, 1, 10, 0, 1.0); }},
        {"setMatchTime", [](LV_ZOLT_Handle h) { return LV_ZOLT_setMatchTime(h, 0, 0.0, 0, 0, 0); }},
        {"waitHeartbeat", [](LV_ZOLT_Handle h) { return LV_ZOLT_waitHeartbeat(h, 0); }},
        {"waitMatch", [](LV_ZOLT_Handle h) { return LV_ZOLT_waitMatch(h, 0); }},
        {"waitEvent",
         [](LV_ZOLT_Handle h) {
             return LV_ZOLT_waitEvent(h, &real, &b1, &b2, &w1, &w2, &b3, &b4, 0);
         }},
    };
    return calls;
}

using Handles = SimulatedBoard;

TEST_F(Handles, BadHandlesGetTheirOwnStatusFromEveryOperation) {
    const LV_ZOLT_Handle closed = open(1);
    ASSERT_EQ(LV_ZOLT_close(closed), 0);
    alignas(8) std::uint8_t foreign[16] = {};
    const struct {
        const char* what;
        LV_ZOLT_Handle handle;
        std::uint8_t status;
    } cases[] = {
        {"null", 0, ZOLT_SIM_NULL_HANDLE},
        {"never issued", reinterpret_cast<LV_ZOLT_Handle>(foreign), ZOLT_SIM_UNKNOWN_HANDLE},
        {"closed", closed, ZOLT_SIM_CLOSED_HANDLE},
    };
    for (const auto& c : cases)
        for (const HandleCall& op : handleCalls())
            EXPECT_EQ(op.call(c.handle), c.status) << op.name << " on a " << c.what << " handle";
    // Nothing was written into the foreign memory, and the open board is untouched.
    for (const std::uint8_t b : foreign) EXPECT_EQ(b, 0);
    EXPECT_EQ(dateOf(board), (Date{2026, 3, 14}));
}

TEST_F(Handles, OpenGivesEachBoardItsSerialAndRefusesOtherIndexes) {
    std::uint16_t value = 0;
    LV_ZOLT_Handle h = 0;
    ASSERT_EQ(LV_ZOLT_open(&h, 1, &value), 0);
    EXPECT_EQ(value, ZOLT_SIM_SERIAL_BASE + 1);
    EXPECT_NE(h, board);
    for (const std::uint32_t index : {2u, 255u, 0xFFFFFFFFu}) {
        value = 7;
        h = 1;
        EXPECT_EQ(LV_ZOLT_open(&h, index, &value), ZOLT_SIM_NO_SUCH_BOARD) << index;
        EXPECT_EQ(h, 0u);
        EXPECT_EQ(value, 7);
    }
}

TEST_F(Handles, HandlesOfOneBoardShareItAndCloseIndependently) {
    const LV_ZOLT_Handle second = open(0);
    ASSERT_NE(second, board);
    ASSERT_EQ(LV_ZOLT_setTime(second, 0, 0, 12, 200, 0), 0);
    EXPECT_EQ(timeOf(board).day, 200);
    ASSERT_EQ(LV_ZOLT_close(second), 0);
    EXPECT_EQ(LV_ZOLT_close(second), ZOLT_SIM_CLOSED_HANDLE);
    EXPECT_EQ(timeOf(board).hours, 12);
}

TEST_F(Handles, ClosedHandleStaysRecognisedWhileOthersComeAndGo) {
    const LV_ZOLT_Handle first = open(1);
    ASSERT_EQ(LV_ZOLT_close(first), 0);
    for (int i = 0; i < 1023; ++i) ASSERT_EQ(LV_ZOLT_close(open(1)), 0);
    EXPECT_EQ(LV_ZOLT_simEvent(first), ZOLT_SIM_CLOSED_HANDLE);
}

TEST_F(Handles, NullRecordIsRefusedAfterTheHandleIsJudged) {
    auto* record = reinterpret_cast<BoardRecord*>(board);
    EXPECT_EQ(ZOLT_open(nullptr, 0), ZOLT_SIM_NULL_POINTER);
    EXPECT_EQ(ZOLT_getTime(record, nullptr), ZOLT_SIM_NULL_POINTER);
    EXPECT_EQ(ZOLT_setTime(record, nullptr), ZOLT_SIM_NULL_POINTER);
    EXPECT_EQ(ZOLT_waitEvent(record, nullptr), ZOLT_SIM_NULL_POINTER);
    EXPECT_EQ(ZOLT_getTime(nullptr, nullptr), ZOLT_SIM_NULL_HANDLE);
}

// The environment is read again by every reset.
class BoardCount : public ::testing::Test {
   protected:
    static void setBoards(const char* value) { testenv::set("ZOLT_SIM_BOARDS", value); }
    void TearDown() override {
        setBoards(nullptr);
        zoltsim_reset();
    }
};

TEST_F(BoardCount, ComesFromTheEnvironmentWithASafeDefault) {
    const struct {
        const char* value;
        std::uint32_t boards;
        bool complaint;
    } cases[] = {
        {nullptr, 2, false}, {"1", 1, false}, {"8", 8, false}, {"08", 8, false},
        {"0", 2, true},      {"9", 2, true},  {"", 2, true},   {"two", 2, true},
        {"3x", 2, true},     {"-1", 2, true}, {" 3", 2, true}, {"100", 2, true},
    };
    for (const auto& c : cases) {
#if defined(_WIN32)
        // Windows keeps no empty variables: setting "" removes it.
        if (c.value && !*c.value) continue;
#endif
        setBoards(c.value);
        ::testing::internal::CaptureStderr();
        zoltsim_reset();
        const std::string err = ::testing::internal::GetCapturedStderr();
        const std::string shown = c.value ? c.value : "(unset)";
        EXPECT_EQ(zoltsim_boardCount(), c.boards) << shown;
        if (c.complaint)
            EXPECT_NE(err.find("ZOLT_SIM_BOARDS=\"" + std::string(c.value) + "\""),
                      std::string::npos)
                << shown << ": " << err;
        else
            EXPECT_EQ(err, "") << shown;
        // The last board opens; the one after it does not.
        LV_ZOLT_Handle h = 0;
        std::uint16_t value = 0;
        EXPECT_EQ(LV_ZOLT_open(&h, c.boards - 1, &value), 0) << shown;
        EXPECT_EQ(LV_ZOLT_open(&h, c.boards, &value), ZOLT_SIM_NO_SUCH_BOARD) << shown;
    }
}

using Clock = SimulatedBoard;

TEST_F(Clock, ShowsTheHostClockAndKeepsRunning) {
    expectTime(board, 73, 9, 26, 53.589793238);
    EXPECT_EQ(dateOf(board), (Date{2026, 3, 14}));
    zoltsim_advanceClock(7 * kSec);  // into the next minute
    expectTime(board, 73, 9, 27, 0.589793238);
}

TEST_F(Clock, RollsOverIntoTheNextYear) {
    zoltsim_useManualClock(1735689599500000000);  // 2024-12-31 23:59:59.5, a leap year
    expectTime(board, 366, 23, 59, 59.5);
    EXPECT_EQ(dateOf(board), (Date{2024, 12, 31}));
    zoltsim_advanceClock(kSec);
    expectTime(board, 1, 0, 0, 0.5);
    EXPECT_EQ(dateOf(board), (Date{2025, 1, 1}));
}

TEST_F(Clock, SetTimeMovesTheClockWhichThenRunsOn) {
    ASSERT_EQ(LV_ZOLT_setTime(board, 30, 15, 12, 100, 250), 0);
    expectTime(board, 100, 12, 15, 30.25);
    EXPECT_EQ(dateOf(board), (Date{2026, 4, 10}));
    zoltsim_advanceClock(kSec);
    EXPECT_NEAR(timeOf(board).seconds, 31.25, 1e-9);
    // Other boards keep the host's time.
    EXPECT_EQ(timeOf(open(1)).day, 73);
}

TEST_F(Clock, SetTimeRefusesFieldsOutOfRangeAndChangesNothing) {
    const struct {
        std::uint32_t s, m, h, day, ms;
    } cases[] = {
        {60, 0, 0, 1, 0}, {0, 60, 0, 1, 0},  {0, 0, 24, 1, 0},
        {0, 0, 0, 0, 0},  {0, 0, 0, 366, 0}, {0, 0, 0, 1, 1000},  // 2026 has 365 days
    };
    for (const auto& c : cases)
        EXPECT_EQ(LV_ZOLT_setTime(board, c.s, c.m, c.h, c.day, c.ms), ZOLT_SIM_INVALID_VALUE)
            << c.s << " " << c.m << " " << c.h << " " << c.day << " " << c.ms;
    EXPECT_NEAR(timeOf(board).seconds, 53.589793238, 1e-9);
    EXPECT_EQ(dateOf(board), (Date{2026, 3, 14}));
}

TEST_F(Clock, SetYearKeepsDayOfYearAndTimeOfDay) {
    ASSERT_EQ(LV_ZOLT_setYear(board, 2024), 0);
    EXPECT_EQ(dateOf(board), (Date{2024, 3, 13}));  // day 73 of a leap year
    const Time t = timeOf(board);
    EXPECT_EQ(t.day, 73);
    EXPECT_NEAR(t.seconds, 53.589793238, 1e-6);
    for (const std::uint32_t year : {1969u, 2201u, 0u, 0xFFFFFFFFu})
        EXPECT_EQ(LV_ZOLT_setYear(board, year), ZOLT_SIM_INVALID_VALUE) << year;
    EXPECT_EQ(dateOf(board).year, 2024);
}

TEST_F(Clock, SetYearRefusesDay366InAShortYear) {
    ASSERT_EQ(LV_ZOLT_setYear(board, 2024), 0);
    ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 8, 366, 0), 0);
    EXPECT_EQ(LV_ZOLT_setYear(board, 2025), ZOLT_SIM_INVALID_VALUE);
    EXPECT_EQ(LV_ZOLT_setYear(board, 2028), 0);
    EXPECT_EQ(dateOf(board), (Date{2028, 12, 31}));
}

TEST_F(Clock, PropagationDelayCorrectionShiftsTheClock) {
    ASSERT_EQ(LV_ZOLT_setPropDelayCorr(board, 500000), 0);  // +0.5 ms
    EXPECT_NEAR(timeOf(board).seconds, 53.590293238, 1e-9);
    ASSERT_EQ(LV_ZOLT_setPropDelayCorr(board, static_cast<std::uint32_t>(-1000000)), 0);
    EXPECT_NEAR(timeOf(board).seconds, 53.588793238, 1e-9);
    for (const std::int32_t ns : {1000001, -1000001})
        EXPECT_EQ(LV_ZOLT_setPropDelayCorr(board, static_cast<std::uint32_t>(ns)),
                  ZOLT_SIM_INVALID_VALUE);
    // setTime sets the time shown, correction included.
    ASSERT_EQ(LV_ZOLT_setTime(board, 10, 0, 0, 1, 0), 0);
    EXPECT_NEAR(timeOf(board).seconds, 10.0, 1e-9);
}

TEST_F(Clock, FollowsTheHostClockWhenNotDriven) {
    zoltsim_useHostClock();
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    const Date d = dateOf(board);
    const bool sameDay =
        d.year == utc.tm_year + 1900 && d.month == utc.tm_mon + 1 && d.day == utc.tm_mday;
    if (!sameDay) {  // midnight passed between the two readings
        const Time t = timeOf(board);
        EXPECT_TRUE(t.hours == 0 && t.minutes == 0) << d.year << "-" << int{d.month};
    }
}

using Identity = SimulatedBoard;

TEST_F(Identity, DriverRevisionsAndIdentifiers) {
    for (std::uint32_t r = 1; r <= ZOLT_SIM_DRIVER_REVISION; ++r)
        EXPECT_EQ(LV_ZOLT_getDriver(board, r), 0);
    for (const std::uint32_t r : {0u, ZOLT_SIM_DRIVER_REVISION + 1u, 0xFFFFFFFFu})
        EXPECT_EQ(LV_ZOLT_getDriver(board, r), ZOLT_SIM_UNSUPPORTED) << r;
    char text[9];
    ASSERT_EQ(LV_ZOLT_getFirmware(board, text), 0);
    EXPECT_STREQ(text, "02-07-13");
    ASSERT_EQ(LV_ZOLT_getFPGA(board, text), 0);
    EXPECT_STREQ(text, "01-04-2A");
}

TEST_F(Identity, PositionAndSatellitesPerBoard) {
    const struct {
        std::uint32_t index;
        float latMinutes, altitude;
    } cases[] = {{0, 22.917f, 408.5f}, {1, 22.927f, 409.5f}};
    for (const auto& c : cases) {
        const LV_ZOLT_Handle h = c.index == 0 ? board : open(c.index);
        std::int16_t whole = 0;
        float minutes = 0, altitude = 0;
        ASSERT_EQ(LV_ZOLT_getLatitude(h, &whole, &minutes), 0);
        EXPECT_EQ(whole, 47);
        EXPECT_FLOAT_EQ(minutes, c.latMinutes);
        ASSERT_EQ(LV_ZOLT_getLongitude(h, &whole, &minutes), 0);
        EXPECT_EQ(whole, 8);
        EXPECT_FLOAT_EQ(minutes, 32.533f);
        ASSERT_EQ(LV_ZOLT_getAltitude(h, &altitude), 0);
        EXPECT_FLOAT_EQ(altitude, c.altitude);
        std::uint8_t tracked = 0, fix = 0;
        ASSERT_EQ(LV_ZOLT_getSatInfo(h, &tracked, &fix), 0);
        EXPECT_EQ(tracked, 9);
        EXPECT_EQ(fix, 3);
    }
}

using Settings = SimulatedBoard;

TEST_F(Settings, SynchStatusReportsSynchronisationAndOscillator) {
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_GNSS), 0);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_TIMECODE), ZOLT_SIM_NOT_SYNCHRONISED);
    ASSERT_EQ(LV_ZOLT_setOscillator(board, ZOLT_SIM_OSC_FREE), 0);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_GNSS), ZOLT_SIM_NOT_SYNCHRONISED);
    ASSERT_EQ(LV_ZOLT_setOscillator(board, ZOLT_SIM_OSC_EXTERNAL), 0);
    ASSERT_EQ(LV_ZOLT_synchControl(board, ZOLT_SIM_SYNC_TIMECODE), 0);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_TIMECODE), 0);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_GNSS), ZOLT_SIM_NOT_SYNCHRONISED);
    ASSERT_EQ(LV_ZOLT_synchControl(board, ZOLT_SIM_SYNC_OFF), 0);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_TIMECODE), ZOLT_SIM_NOT_SYNCHRONISED);
    // Settings belong to one board.
    EXPECT_EQ(LV_ZOLT_synchStatus(open(1), ZOLT_SIM_SYNC_GNSS), 0);
}

TEST_F(Settings, ValuesOutOfRangeAreRefusedAndKeepTheSetting) {
    ASSERT_EQ(LV_ZOLT_synchControl(board, ZOLT_SIM_SYNC_TIMECODE), 0);
    EXPECT_EQ(LV_ZOLT_setOscillator(board, 3), ZOLT_SIM_INVALID_VALUE);
    EXPECT_EQ(LV_ZOLT_synchControl(board, 3), ZOLT_SIM_INVALID_VALUE);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, 0), ZOLT_SIM_INVALID_VALUE);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, 3), ZOLT_SIM_INVALID_VALUE);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_TIMECODE), 0);
}

TEST_F(Settings, ResetFirmwareRestoresPowerOnSettingsButKeepsTheClock) {
    ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 6, 10, 0), 0);
    ASSERT_EQ(LV_ZOLT_setPropDelayCorr(board, 1000), 0);
    ASSERT_EQ(LV_ZOLT_setOscillator(board, ZOLT_SIM_OSC_FREE), 0);
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 1.0), 0);
    ASSERT_EQ(LV_ZOLT_simEvent(board), 0);
    ASSERT_EQ(LV_ZOLT_resetFirmware(board), 0);
    EXPECT_EQ(LV_ZOLT_synchStatus(board, ZOLT_SIM_SYNC_GNSS), 0);
    EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, 0), ZOLT_SIM_NOT_ARMED);
    EXPECT_EQ(waitEvent(board, 0).status, ZOLT_SIM_TIMEOUT);
    expectTime(board, 10, 6, 0, 0.0);  // the correction is gone
}

}  // namespace
}  // namespace simtest
