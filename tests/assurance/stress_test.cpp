// Several threads call all 24 exports at once on the simulated board: each on
// a board of its own, where it sets a clock, a year, settings and events of
// its own and must read back exactly those, and all on one shared board,
// where every answer must be one the board can give. A value that crossed
// between threads or boards, or a torn record, fails a check; the TSan build
// reports any data race on the way. The manual clock stands still, so every
// value read on an own board is known exactly and every wait only looks.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "../environment.h"
#include "LV_zolt.h"
#include "zolt_simulator.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 2000;
constexpr std::uint32_t kShared = 0;  // board 0 is shared, board t + 1 belongs to thread t
constexpr std::int64_t kStart = 1773480413589793238;  // 2026-03-14 09:26:53.59 UTC

// Set by the first failing check on any thread, so that the threads stop
// after that round instead of repeating the failure in every round.
std::atomic<bool> failed{false};
class FailureFlag : public testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (result.failed()) failed = true;
    }
};

void setBoardCount(int count) {
    testenv::set("ZOLT_SIM_BOARDS", std::to_string(count).c_str());
}

bool leap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Month and day of the month of a day of the year.
std::array<unsigned, 2> monthDay(unsigned year, unsigned dayOfYear) {
    const unsigned lengths[] = {31, leap(year) ? 29u : 28u, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned month = 1;
    for (unsigned length : lengths) {
        if (dayOfYear <= length) break;
        dayOfYear -= length;
        ++month;
    }
    return {month, dayOfYear};
}

struct Event {
    std::uint8_t status;
    double seconds;
    std::uint8_t minutes, hours;
    std::uint16_t day, year;
    std::uint8_t dropped, number;
};

Event takeEvent(LV_ZOLT_Handle board) {
    Event e{};
    std::memset(&e, 0xEE, sizeof e);
    e.status = LV_ZOLT_waitEvent(board, &e.seconds, &e.minutes, &e.hours, &e.day, &e.year,
                                 &e.dropped, &e.number, 0);
    return e;
}

void expectNoEvent(const Event& e) {
    EXPECT_EQ(e.status, ZOLT_SIM_TIMEOUT);
    EXPECT_EQ(e.seconds, 0.0);
    EXPECT_EQ(e.minutes | e.hours | e.day | e.year | e.dropped | e.number, 0);
}

// What the simulator gives every board i, whoever asks.
void expectFixedValues(LV_ZOLT_Handle board, unsigned i) {
    char text[12];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(LV_ZOLT_getFirmware(board, text), 0);
    EXPECT_EQ(std::string(text, 10), std::string("02-07-13\0#", 10));
    EXPECT_EQ(LV_ZOLT_getFPGA(board, text), 0);
    EXPECT_EQ(std::string(text, 10), std::string("01-04-2A\0#", 10));
    EXPECT_EQ(LV_ZOLT_getDriver(board, ZOLT_SIM_DRIVER_REVISION), 0);
    EXPECT_EQ(LV_ZOLT_getDriver(board, ZOLT_SIM_DRIVER_REVISION + 1), ZOLT_SIM_UNSUPPORTED);
    float altitude = 0;
    EXPECT_EQ(LV_ZOLT_getAltitude(board, &altitude), 0);
    EXPECT_FLOAT_EQ(altitude, 408.5f + static_cast<float>(i));
    std::int16_t whole = 0;
    float minutes = 0;
    EXPECT_EQ(LV_ZOLT_getLatitude(board, &whole, &minutes), 0);
    EXPECT_EQ(whole, 47);
    EXPECT_NEAR(minutes, 22.917 + 0.010 * i, 1e-4);
    EXPECT_EQ(LV_ZOLT_getLongitude(board, &whole, &minutes), 0);
    EXPECT_EQ(whole, 8);
    EXPECT_NEAR(minutes, 32.533, 1e-4);
    std::uint8_t satellites = 0, fix = 0;
    EXPECT_EQ(LV_ZOLT_getSatInfo(board, &satellites, &fix), 0);
    EXPECT_EQ(satellites, 9);
    EXPECT_EQ(fix, 3);
}

LV_ZOLT_Handle openBoard(std::uint32_t index) {
    LV_ZOLT_Handle board = 0;
    std::uint16_t serial = 0;
    EXPECT_EQ(LV_ZOLT_open(&board, index, &serial), 0);
    EXPECT_EQ(serial, ZOLT_SIM_SERIAL_BASE + index);
    return board;
}

// One round on the thread's own board: every value it sets is one no other
// thread uses in this round, and it must read back exactly that.
void ownRound(unsigned t, unsigned r) {
    const std::uint32_t index = t + 1;
    const LV_ZOLT_Handle board = openBoard(index);
    expectFixedValues(board, index);

    const unsigned year = 2000 + 4 * t + r % 4;
    const unsigned day = 1 + (37 * t + r) % 365;
    const unsigned hours = t + kThreads * (r % 6);
    const unsigned minutes = r % 60;
    const unsigned seconds = (7 * t + r) % 59;
    const unsigned ms = (100 * t + r) % 1000;
    const std::int32_t correction = static_cast<std::int32_t>((t + 1) * 1000 * (r % 5));
    EXPECT_EQ(LV_ZOLT_setYear(board, year), 0);
    EXPECT_EQ(LV_ZOLT_setTime(board, seconds, minutes, hours, day, ms), 0);
    // Set after the clock, the correction moves it by exactly that much.
    EXPECT_EQ(LV_ZOLT_setPropDelayCorr(board, static_cast<std::uint32_t>(correction)), 0);
    const double wantSeconds = seconds + ms / 1e3 + correction / 1e9;
    double s = -1;
    std::uint8_t m = 0xFF, h = 0xFF;
    std::uint16_t d = 0xFFFF;
    EXPECT_EQ(LV_ZOLT_getTime(board, &s, &m, &h, &d), 0);
    EXPECT_NEAR(s, wantSeconds, 1e-6);
    EXPECT_EQ(m, minutes);
    EXPECT_EQ(h, hours);
    EXPECT_EQ(d, day);
    std::uint16_t y = 0;
    std::uint8_t month = 0, dayOfMonth = 0;
    EXPECT_EQ(LV_ZOLT_getDate(board, &y, &month, &dayOfMonth), 0);
    EXPECT_EQ(y, year);
    const auto md = monthDay(year, day);
    EXPECT_EQ(month, md[0]);
    EXPECT_EQ(dayOfMonth, md[1]);

    const unsigned oscillator = (t + r) % 3;
    const unsigned source = (t + 2 * r) % 3;
    EXPECT_EQ(LV_ZOLT_setOscillator(board, oscillator), 0);
    EXPECT_EQ(LV_ZOLT_synchControl(board, source), 0);
    for (unsigned asked : {1u, 2u}) {
        const bool locked = asked == source && oscillator != ZOLT_SIM_OSC_FREE;
        EXPECT_EQ(LV_ZOLT_synchStatus(board, asked), locked ? 0 : ZOLT_SIM_NOT_SYNCHRONISED);
    }

    // The clock stands still: an armed wait finds nothing yet, a disarmed
    // one says so.
    EXPECT_EQ(LV_ZOLT_setHeartbeat(board, 1, 1 + t, t % 2, 0.5 + t), 0);
    EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, 0), ZOLT_SIM_TIMEOUT);
    EXPECT_EQ(LV_ZOLT_setMatchTime(board, 1, 30.25, minutes, hours, 0), 0);
    EXPECT_EQ(LV_ZOLT_waitMatch(board, 0), ZOLT_SIM_TIMEOUT);
    EXPECT_EQ(LV_ZOLT_setHeartbeat(board, 0, 0, 0, 0.0), 0);
    EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, 0), ZOLT_SIM_NOT_ARMED);
    EXPECT_EQ(LV_ZOLT_setMatchTime(board, 0, 0.0, 0, 0, 0), 0);
    EXPECT_EQ(LV_ZOLT_waitMatch(board, 0), ZOLT_SIM_NOT_ARMED);

    // Events raised here come back here, tagged with this board's clock,
    // numbered one after the other, none lost.
    const unsigned raised = 1 + (t + r) % 3;
    for (unsigned k = 0; k < raised; ++k) EXPECT_EQ(LV_ZOLT_simEvent(board), 0);
    std::uint8_t previous = 0;
    for (unsigned k = 0; k < raised; ++k) {
        const Event e = takeEvent(board);
        EXPECT_EQ(e.status, 0);
        EXPECT_NEAR(e.seconds, wantSeconds, 1e-6);
        EXPECT_EQ(e.minutes, minutes);
        EXPECT_EQ(e.hours, hours);
        EXPECT_EQ(e.day, day);
        EXPECT_EQ(e.year, year);
        EXPECT_EQ(e.dropped, 0);
        if (k > 0) {
            EXPECT_EQ(e.number, static_cast<std::uint8_t>(previous + 1));
        }
        previous = e.number;
    }
    expectNoEvent(takeEvent(board));

    EXPECT_EQ(LV_ZOLT_resetFirmware(board), 0);
    EXPECT_EQ(LV_ZOLT_close(board), 0);
    std::uint8_t satellites = 0xFF, fix = 0xFF;
    EXPECT_EQ(LV_ZOLT_getSatInfo(board, &satellites, &fix), ZOLT_SIM_CLOSED_HANDLE);
    EXPECT_EQ(satellites | fix, 0);
}

// One round on the shared board: the other threads change its settings at
// the same time, so only the fixed values are exact; everything else must be
// an answer the board can give.
void sharedRound(unsigned t, unsigned r) {
    const LV_ZOLT_Handle board = openBoard(kShared);
    expectFixedValues(board, kShared);
    EXPECT_EQ(LV_ZOLT_setPropDelayCorr(board, 1000 * t), 0);
    EXPECT_EQ(LV_ZOLT_setOscillator(board, r % 3), 0);
    EXPECT_EQ(LV_ZOLT_synchControl(board, (t + r) % 3), 0);
    const std::uint8_t locked = LV_ZOLT_synchStatus(board, 1);
    EXPECT_TRUE(locked == 0 || locked == ZOLT_SIM_NOT_SYNCHRONISED) << int{locked};
    // Day 365 at most, so that any year another thread sets stays valid.
    EXPECT_EQ(LV_ZOLT_setYear(board, 2030 + t), 0);
    EXPECT_EQ(LV_ZOLT_setTime(board, r % 59, t, r % 24, 1 + r % 365, r % 1000), 0);
    double s = -1;
    std::uint8_t m = 0xFF, h = 0xFF;
    std::uint16_t d = 0xFFFF;
    EXPECT_EQ(LV_ZOLT_getTime(board, &s, &m, &h, &d), 0);
    EXPECT_TRUE(s >= 0 && s < 60 && m < 60 && h < 24 && d >= 1 && d <= 366)
        << s << " " << int{m} << " " << int{h} << " " << d;
    std::uint16_t y = 0;
    std::uint8_t month = 0, dayOfMonth = 0;
    EXPECT_EQ(LV_ZOLT_getDate(board, &y, &month, &dayOfMonth), 0);
    EXPECT_TRUE(y >= 2030 && y < 2030 + kThreads && month >= 1 && month <= 12 && dayOfMonth >= 1 &&
                dayOfMonth <= 31)
        << y << "-" << int{month} << "-" << int{dayOfMonth};

    EXPECT_EQ(LV_ZOLT_setHeartbeat(board, r % 2, 5, 0, 0.25), 0);
    EXPECT_EQ(LV_ZOLT_setMatchTime(board, r % 2, 12.5, 1, 2, 0), 0);
    // A clock or setting that another thread changes can end a wait, so any
    // of the three answers is right; none may be anything else.
    for (std::uint8_t w : {LV_ZOLT_waitHeartbeat(board, 0), LV_ZOLT_waitMatch(board, 0)})
        EXPECT_TRUE(w == 0 || w == ZOLT_SIM_TIMEOUT || w == ZOLT_SIM_NOT_ARMED) << int{w};

    // Any thread may take any event of the shared board, or find the queue
    // emptied by a reset; what it gets is whole.
    EXPECT_EQ(LV_ZOLT_simEvent(board), 0);
    const Event e = takeEvent(board);
    if (e.status == 0) {
        EXPECT_TRUE(e.seconds >= 0 && e.seconds < 60 && e.minutes < 60 && e.hours < 24 &&
                    e.day >= 1 && e.day <= 366 && e.year >= 2026 && e.year < 2030 + kThreads)
            << e.seconds << " " << int{e.minutes} << " " << int{e.hours} << " " << e.day << " "
            << e.year;
    } else {
        expectNoEvent(e);
    }
    if (r % 10 == t) {
        EXPECT_EQ(LV_ZOLT_resetFirmware(board), 0);
    }
    EXPECT_EQ(LV_ZOLT_close(board), 0);
}

TEST(Stress, ThreadsOnOwnBoardsAndOneSharedBoardSeeOnlyTheirOwnValues) {
    setBoardCount(kThreads + 1);
    zoltsim_reset();
    ASSERT_EQ(zoltsim_boardCount(), static_cast<std::uint32_t>(kThreads + 1));
    zoltsim_useManualClock(kStart);

    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    auto* flag = new FailureFlag;
    listeners.Append(flag);
    std::latch start(kThreads);  // all threads begin together
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &start] {
            start.arrive_and_wait();
            for (unsigned r = 0; r < kRounds && !failed; ++r) {
                SCOPED_TRACE(testing::Message() << "thread " << t << " round " << r);
                ownRound(t, r);
                sharedRound(t, r);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    delete listeners.Release(flag);
    zoltsim_reset();
}

}  // namespace
