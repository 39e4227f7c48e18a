// The simulated board's waits, driven by the manual clock, and its events
// across threads and boards.
#include <atomic>
#include <limits>
#include <set>
#include <vector>

#include "fixture.h"

namespace simtest {
namespace {

constexpr std::uint32_t kForever = ZOLT_SIM_WAIT_FOREVER;
// From the start to the next whole second.
constexpr std::int64_t kToWholeSecond = kSec - 589793238;

using Heartbeat = SimulatedBoard;

TEST_F(Heartbeat, WaitEndsAtTheNextBeatAndNotBefore) {
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 1.0), 0);
    // Limit 410 ms runs out 0.2 ms before the beat.
    auto early = later([&] { return LV_ZOLT_waitHeartbeat(board, 410); });
    auto onTime = later([&] { return LV_ZOLT_waitHeartbeat(board, kForever); });
    untilWaiting(0, 2);
    zoltsim_advanceClock(410 * kMs);
    EXPECT_EQ(early.get(), ZOLT_SIM_TIMEOUT);
    untilWaiting(0, 1);
    zoltsim_advanceClock(kToWholeSecond - 410 * kMs);
    EXPECT_EQ(onTime.get(), 0);
    const Time t = timeOf(board);
    EXPECT_EQ(t.seconds, 54.0);
}

TEST_F(Heartbeat, OneBeatReleasesEveryWaiterOnTheBoard) {
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 0.25), 0);
    const LV_ZOLT_Handle other = open(0);
    std::vector<std::future<std::uint8_t>> waits;
    for (int i = 0; i < 4; ++i)
        waits.push_back(
            later([&, i] { return LV_ZOLT_waitHeartbeat(i % 2 ? other : board, kForever); }));
    untilWaiting(0, 4);
    zoltsim_advanceClock(kToWholeSecond % (250 * kMs));  // 53.75 s
    for (auto& w : waits) EXPECT_EQ(w.get(), 0);
}

TEST_F(Heartbeat, ImmediateAnswers) {
    EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, kForever), ZOLT_SIM_NOT_ARMED);  // off
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 1.0), 0);
    EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, 0), ZOLT_SIM_TIMEOUT);  // only looks
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 0, 0, 0, 0.0), 0);       // off again; rest unread
    EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, kForever), ZOLT_SIM_NOT_ARMED);
}

TEST_F(Heartbeat, TurningItOffEndsTheWait) {
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 60.0), 0);
    auto wait = later([&] { return LV_ZOLT_waitHeartbeat(board, kForever); });
    untilWaiting(0, 1);
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 0, 0, 0, 0.0), 0);
    EXPECT_EQ(wait.get(), ZOLT_SIM_NOT_ARMED);
}

TEST_F(Heartbeat, ClockSetBackDuringAWaitGoesOnToTheNextBeatOfTheNewClock) {
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 1.0), 0);
    auto wait = later([&] { return LV_ZOLT_waitHeartbeat(board, 2000); });
    untilWaiting(0, 1);
    ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 1, 1, 500), 0);  // hours back, at .5 s
    zoltsim_advanceClock(500 * kMs);
    EXPECT_EQ(wait.get(), 0);
    EXPECT_EQ(timeOf(board).seconds, 1.0);
}

TEST_F(Heartbeat, RefusesSettingsOutOfRange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        std::uint32_t on, width, polarity;
        double period;
    } cases[] = {
        {2, 10, 0, 1.0},   {1, 0, 0, 1.0},  {1, 10, 2, 1.0}, {1, 10, 0, 0.0009},
        {1, 10, 0, 86401}, {1, 10, 0, nan}, {1, 10, 0, inf}, {1, 10, 0, -1.0},
    };
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 1.0), 0);
    for (const auto& c : cases)
        EXPECT_EQ(LV_ZOLT_setHeartbeat(board, c.on, c.width, c.polarity, c.period),
                  ZOLT_SIM_INVALID_VALUE)
            << c.on << " " << c.width << " " << c.polarity << " " << c.period;
    // The 1 s heartbeat is still in force.
    auto wait = later([&] { return LV_ZOLT_waitHeartbeat(board, kForever); });
    untilWaiting(0, 1);
    zoltsim_advanceClock(kToWholeSecond);
    EXPECT_EQ(wait.get(), 0);
}

using Match = SimulatedBoard;

TEST_F(Match, DailyMatchEndsTheWaitWhenTheClockReachesIt) {
    // 09:26:55.5, two seconds after the start and a bit.
    ASSERT_EQ(LV_ZOLT_setMatchTime(board, 1, 55.5, 26, 9, 0), 0);
    auto early = later([&] { return LV_ZOLT_waitMatch(board, 1910); });
    auto onTime = later([&] { return LV_ZOLT_waitMatch(board, kForever); });
    untilWaiting(0, 2);
    zoltsim_advanceClock(1910 * kMs);  // 55.4998 s
    EXPECT_EQ(early.get(), ZOLT_SIM_TIMEOUT);
    untilWaiting(0, 1);
    zoltsim_advanceClock(kMs);
    EXPECT_EQ(onTime.get(), 0);
}

TEST_F(Match, DailyMatchAlreadyPassedTodayWaitsForTomorrow) {
    ASSERT_EQ(LV_ZOLT_setMatchTime(board, 1, 0.0, 0, 9, 0), 0);  // 09:00, passed
    auto wait = later([&] { return LV_ZOLT_waitMatch(board, kForever); });
    untilWaiting(0, 1);
    zoltsim_advanceClock(23 * 3600 * kSec);
    untilWaiting(0, 1);  // still waiting at 08:26 the next day
    zoltsim_advanceClock(34 * 60 * kSec);
    EXPECT_EQ(wait.get(), 0);
    EXPECT_EQ(timeOf(board).day, 74);
}

TEST_F(Match, OnceMatchEndsWhenTheClockIsSetPastIt) {
    ASSERT_EQ(LV_ZOLT_setMatchTime(board, 2, 0.0, 0, 12, 80), 0);  // day 80, noon
    auto wait = later([&] { return LV_ZOLT_waitMatch(board, kForever); });
    untilWaiting(0, 1);
    ASSERT_EQ(LV_ZOLT_setTime(board, 0, 0, 13, 80, 0), 0);
    EXPECT_EQ(wait.get(), 0);
    // It has passed: a later wait has nothing to wait for.
    EXPECT_EQ(LV_ZOLT_waitMatch(board, kForever), ZOLT_SIM_NOT_ARMED);
}

TEST_F(Match, NewSettingRetargetsAWaitAndOffEndsIt) {
    ASSERT_EQ(LV_ZOLT_setMatchTime(board, 1, 0.0, 0, 10, 0), 0);
    auto wait = later([&] { return LV_ZOLT_waitMatch(board, kForever); });
    untilWaiting(0, 1);
    ASSERT_EQ(LV_ZOLT_setMatchTime(board, 1, 54.0, 26, 9, 0), 0);  // sooner
    zoltsim_advanceClock(kToWholeSecond);
    EXPECT_EQ(wait.get(), 0);

    wait = later([&] { return LV_ZOLT_waitMatch(board, kForever); });
    untilWaiting(0, 1);
    ASSERT_EQ(LV_ZOLT_setMatchTime(board, 0, 0.0, 0, 0, 0), 0);
    EXPECT_EQ(wait.get(), ZOLT_SIM_NOT_ARMED);
}

TEST_F(Match, RefusesSettingsOutOfRangeOrInThePast) {
    const struct {
        std::uint32_t mode;
        double seconds;
        std::uint32_t minutes, hours, day;
    } cases[] = {
        {3, 0.0, 0, 0, 0},
        {1, 60.0, 0, 0, 0},
        {1, -0.5, 0, 0, 0},
        {1, 0.0, 60, 0, 0},
        {1, 0.0, 0, 24, 0},
        {1, 0.0, 0, 12, 5},
        {2, 0.0, 0, 12, 0},  // day 0 for "once"
        {2, 0.0, 0, 12, 72},
        {2, 53.0, 26, 9, 73},  // in the past
        {1, std::numeric_limits<double>::quiet_NaN(), 0, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LV_ZOLT_setMatchTime(board, c.mode, c.seconds, c.minutes, c.hours, c.day),
                  ZOLT_SIM_INVALID_VALUE)
            << c.mode << " " << c.seconds << " " << c.minutes << " " << c.hours << " " << c.day;
    EXPECT_EQ(LV_ZOLT_waitMatch(board, kForever), ZOLT_SIM_NOT_ARMED);
}

using Events = SimulatedBoard;

TEST_F(Events, EventFromAnotherThreadEndsTheWaitWithItsTimeTag) {
    auto wait = later([&] { return waitEvent(board, kForever); });
    untilWaiting(0, 1);
    zoltsim_advanceClock(kToWholeSecond);  // 09:26:54.000
    std::thread raiser([&] { EXPECT_EQ(LV_ZOLT_simEvent(board), 0); });
    raiser.join();
    const EventTag e = wait.get();
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.seconds, 54.0);
    EXPECT_EQ(e.minutes, 26);
    EXPECT_EQ(e.hours, 9);
    EXPECT_EQ(e.day, 73);
    EXPECT_EQ(e.year, 2026);
    EXPECT_EQ(e.dropped, 0);
    EXPECT_EQ(e.number, 1);
}

TEST_F(Events, QueuedEventsComeOutOldestFirst) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(LV_ZOLT_simEvent(board), 0);
        zoltsim_advanceClock(kSec);
    }
    for (std::uint8_t n = 1; n <= 3; ++n) {
        const EventTag e = waitEvent(board, 0);
        ASSERT_EQ(e.status, 0);
        EXPECT_EQ(e.number, n);
        EXPECT_NEAR(e.seconds, 52.589793238 + n, 1e-9);
    }
    const EventTag none = waitEvent(board, 0);
    EXPECT_EQ(none.status, ZOLT_SIM_TIMEOUT);
    // A failed wait hands out zeros, not stale values.
    EXPECT_EQ(none.seconds, 0.0);
    EXPECT_EQ(none.number, 0);
    EXPECT_EQ(none.year, 0);
}

TEST_F(Events, FullQueueDropsTheOldestAndTheNextEventSaysHowMany) {
    for (int i = 0; i < ZOLT_SIM_EVENT_QUEUE + 5; ++i) ASSERT_EQ(LV_ZOLT_simEvent(board), 0);
    EventTag e = waitEvent(board, 0);
    EXPECT_EQ(e.number, 6);
    EXPECT_EQ(e.dropped, 5);
    e = waitEvent(board, 0);
    EXPECT_EQ(e.number, 7);
    EXPECT_EQ(e.dropped, 0);
}

TEST_F(Events, ResetFirmwareNumbersEventsFromOneAgain) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(LV_ZOLT_simEvent(board), 0);
    ASSERT_EQ(LV_ZOLT_resetFirmware(board), 0);
    ASSERT_EQ(LV_ZOLT_simEvent(board), 0);
    EXPECT_EQ(waitEvent(board, 0).number, 1);
}

TEST_F(Events, WaitLimitRunsOutOnTheManualClock) {
    auto wait = later([&] { return waitEvent(board, 250); });
    untilWaiting(0, 1);
    zoltsim_advanceClock(249 * kMs);
    untilWaiting(0, 1);
    zoltsim_advanceClock(kMs);
    EXPECT_EQ(wait.get().status, ZOLT_SIM_TIMEOUT);
}

TEST_F(Events, StayOnTheirOwnBoard) {
    const LV_ZOLT_Handle other = open(1);
    auto wait = later([&] { return waitEvent(board, 100); });
    untilWaiting(0, 1);
    ASSERT_EQ(LV_ZOLT_simEvent(other), 0);
    zoltsim_advanceClock(100 * kMs);
    EXPECT_EQ(wait.get().status, ZOLT_SIM_TIMEOUT);
    EXPECT_EQ(waitEvent(other, 0).number, 1);
}

TEST_F(Events, EachEventReachesExactlyOneOfManyWaiters) {
    // As many events as the queue holds, so that none is dropped.
    constexpr int kWaiters = 4, kEach = ZOLT_SIM_EVENT_QUEUE / kWaiters;
    const LV_ZOLT_Handle other = open(1);
    std::vector<std::future<std::vector<int>>> waiters;
    for (int w = 0; w < kWaiters; ++w)
        waiters.push_back(later([&] {
            std::vector<int> numbers;
            for (int i = 0; i < kEach; ++i) {
                const EventTag e = waitEvent(board, kForever);
                EXPECT_EQ(e.status, 0);
                EXPECT_EQ(e.dropped, 0);
                numbers.push_back(e.number);
            }
            return numbers;
        }));
    // Raisers on two threads, with readers of both boards alongside.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            timeOf(board);
            dateOf(other);
            LV_ZOLT_simEvent(other);
        }
    });
    std::vector<std::thread> raisers;
    for (int r = 0; r < 2; ++r)
        raisers.emplace_back([&] {
            for (int i = 0; i < kWaiters * kEach / 2; ++i) EXPECT_EQ(LV_ZOLT_simEvent(board), 0);
        });
    for (auto& r : raisers) r.join();
    std::set<int> seen;
    for (auto& w : waiters)
        for (const int n : w.get()) EXPECT_TRUE(seen.insert(n).second) << "event " << n << " twice";
    stop = true;
    reader.join();
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kWaiters * kEach));
}

using Ending = SimulatedBoard;

TEST_F(Ending, ClosingTheHandleEndsItsWaitsOnly) {
    const LV_ZOLT_Handle other = open(0);
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 10, 0, 10.0), 0);
    auto onClosed = later([&] { return waitEvent(other, kForever); });
    auto beat = later([&] { return LV_ZOLT_waitHeartbeat(other, kForever); });
    auto onOpen = later([&] { return waitEvent(board, kForever); });
    untilWaiting(0, 3);
    ASSERT_EQ(LV_ZOLT_close(other), 0);
    EXPECT_EQ(onClosed.get().status, ZOLT_SIM_CLOSED_HANDLE);
    EXPECT_EQ(beat.get(), ZOLT_SIM_CLOSED_HANDLE);
    untilWaiting(0, 1);
    ASSERT_EQ(LV_ZOLT_simEvent(board), 0);
    EXPECT_EQ(onOpen.get().status, 0);
}

TEST_F(Ending, ResetEndsEveryWait) {
    auto a = later([&] { return waitEvent(board, kForever); });
    auto b = later([&] { return waitEvent(open(1), kForever); });
    untilWaiting(0, 1);
    untilWaiting(1, 1);
    zoltsim_reset();
    EXPECT_EQ(a.get().status, ZOLT_SIM_CLOSED_HANDLE);
    EXPECT_EQ(b.get().status, ZOLT_SIM_CLOSED_HANDLE);
}

// The host's own clock, with waits of a few milliseconds.
TEST_F(Heartbeat, WaitsOnTheHostClock) {
    zoltsim_useHostClock();
    ASSERT_EQ(LV_ZOLT_setHeartbeat(board, 1, 1, 0, 0.002), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(LV_ZOLT_waitHeartbeat(board, 1000), 0);
    EXPECT_EQ(waitEvent(board, 2).status, ZOLT_SIM_TIMEOUT);
}

}  // namespace
}  // namespace simtest
