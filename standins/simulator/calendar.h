// Board time as nanoseconds since 1970-01-01 00:00 UTC, and its calendar
// fields (proleptic Gregorian, no leap seconds).
#pragma once

#include <chrono>
#include <cstdint>

namespace zoltsim {

using Nanos = std::int64_t;

inline constexpr Nanos kMillisecond = 1'000'000;
inline constexpr Nanos kSecond = 1'000 * kMillisecond;
inline constexpr Nanos kMinute = 60 * kSecond;
inline constexpr Nanos kHour = 60 * kMinute;
inline constexpr Nanos kDay = 24 * kHour;

// Rounds towards minus infinity, so instants before 1970 split correctly.
constexpr Nanos floorDiv(Nanos a, Nanos b) {
    const Nanos q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

struct Civil {
    int year;
    unsigned month;       // 1-12
    unsigned dayOfMonth;  // 1-31
    unsigned dayOfYear;   // 1-366
    Nanos ofDay;          // 0 <= ofDay < kDay
};

inline Nanos yearStart(int year) {
    using namespace std::chrono;
    const sys_days jan1{std::chrono::year{year} / January / 1};
    return static_cast<Nanos>(jan1.time_since_epoch().count()) * kDay;
}

inline bool isLeap(int year) { return std::chrono::year{year}.is_leap(); }
inline unsigned daysInYear(int year) { return isLeap(year) ? 366u : 365u; }

inline Civil civil(Nanos t) {
    using namespace std::chrono;
    const Nanos dayNumber = floorDiv(t, kDay);
    const sys_days day{std::chrono::days{dayNumber}};
    const year_month_day ymd{day};
    const int y = static_cast<int>(ymd.year());
    const auto dayOfYear = static_cast<unsigned>((dayNumber * kDay - yearStart(y)) / kDay) + 1u;
    return Civil{y, static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), dayOfYear,
                 t - dayNumber * kDay};
}

}  // namespace zoltsim
