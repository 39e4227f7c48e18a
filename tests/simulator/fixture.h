// A simulated board on a manual clock, reached through LV_zolt's exports as
// a host would reach it, and helpers to run waits on other threads.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>

#include "LV_zolt.h"
#include "zolt_simulator.h"

namespace simtest {

// 2026-03-14 09:26:53.589793238 UTC, day 73.
inline constexpr std::int64_t kStart = 1773480413589793238;
inline constexpr std::int64_t kMs = 1'000'000;
inline constexpr std::int64_t kSec = 1'000 * kMs;

struct Time {
    double seconds;
    std::uint8_t minutes, hours;
    std::uint16_t day;
};

inline Time timeOf(LV_ZOLT_Handle board) {
    Time t{};
    EXPECT_EQ(LV_ZOLT_getTime(board, &t.seconds, &t.minutes, &t.hours, &t.day), 0);
    return t;
}

// Checks the board's time to the nanosecond.
inline void expectTime(LV_ZOLT_Handle board, unsigned day, unsigned hours, unsigned minutes,
                       double seconds) {
    const Time t = timeOf(board);
    EXPECT_EQ(t.day, day);
    EXPECT_EQ(t.hours, hours);
    EXPECT_EQ(t.minutes, minutes);
    EXPECT_NEAR(t.seconds, seconds, 1e-9);
}

struct Date {
    std::uint16_t year;
    std::uint8_t month, day;
    bool operator==(const Date&) const = default;
};

inline Date dateOf(LV_ZOLT_Handle board) {
    Date d{};
    EXPECT_EQ(LV_ZOLT_getDate(board, &d.year, &d.month, &d.day), 0);
    return d;
}

struct EventTag {
    std::uint8_t status = 0xFF;
    double seconds = -1;
    std::uint8_t minutes = 0xFF, hours = 0xFF;
    std::uint16_t day = 0xFFFF, year = 0xFFFF;
    std::uint8_t dropped = 0xFF, number = 0xFF;
};

inline EventTag waitEvent(LV_ZOLT_Handle board, std::uint32_t limit) {
    EventTag e;
    e.status = LV_ZOLT_waitEvent(board, &e.seconds, &e.minutes, &e.hours, &e.day, &e.year,
                                 &e.dropped, &e.number, limit);
    return e;
}

// Runs f on a thread of its own.
template <class F>
auto later(F f) {
    return std::async(std::launch::async, f);
}

// Returns once `count` threads are inside a wait on board `index`: from then
// on moving the clock reaches them. Fails after ten seconds.
inline void untilWaiting(std::uint32_t index, int count) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (zoltsim_waiting(index) != count) {
        ASSERT_LT(std::chrono::steady_clock::now(), giveUp)
            << zoltsim_waiting(index) << " waiting on board " << index << ", not " << count;
        std::this_thread::yield();
    }
}

class SimulatedBoard : public ::testing::Test {
   protected:
    LV_ZOLT_Handle board = 0;

    void SetUp() override {
        zoltsim_reset();
        zoltsim_useManualClock(kStart);
        std::uint16_t value = 0;
        ASSERT_EQ(LV_ZOLT_open(&board, 0, &value), 0);
    }
    void TearDown() override { zoltsim_reset(); }

    LV_ZOLT_Handle open(std::uint32_t index) {
        LV_ZOLT_Handle h = 0;
        std::uint16_t value = 0;
        EXPECT_EQ(LV_ZOLT_open(&h, index, &value), 0);
        return h;
    }
};

}  // namespace simtest
