// The lvzolt commands. They call nothing but LV_zolt's 24 exports, so they
// run unchanged over any zolt driver placed beside the library, and they
// interpret no status code: those are the driver's.
#include "tool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "LV_zolt.h"
#include "command_line.h"
#include "output.h"

namespace lvzolt {
namespace {

// A nonzero status from an export: reported once, ends the command. The
// note says what became of the board, where that matters.
struct Failure {
    const char* exportName;
    std::uint8_t status;
    std::string note = "";
};

void check(const char* exportName, std::uint8_t status) {
    if (status != 0) throw Failure{exportName, status};
}
#define CALL(name, ...) check(#name, name(__VA_ARGS__))

// What the command in progress must put back on the board when it is
// stopped or ends, and whether it was stopped.
std::mutex undoMutex;
std::function<void()> undoAction;
std::atomic<bool> stopped{false};

// Holds an undo action for its scope: run() at the normal end, or by
// interrupt(), whichever comes first; exactly once.
class Undo {
   public:
    explicit Undo(std::function<void()> action) {
        const std::lock_guard lock(undoMutex);
        undoAction = std::move(action);
    }
    ~Undo() {
        try {
            run();
        } catch (...) {  // on the way out after another failure: that one is reported
        }
    }
    Undo(const Undo&) = delete;
    Undo& operator=(const Undo&) = delete;
    // Runs f unless the action has already run; an interrupt waits for it,
    // so that nothing is set again after it has been put back.
    template <class F>
    bool whileHeld(F f) {
        const std::lock_guard lock(undoMutex);
        if (!undoAction) return false;
        f();
        return true;
    }
    void run() {
        std::function<void()> action;
        {
            const std::lock_guard lock(undoMutex);
            action.swap(undoAction);
        }
        if (action) action();
    }
};

// The open board for the length of a command.
class Board {
   public:
    explicit Board(std::uint32_t index) { CALL(LV_ZOLT_open, &handle, index, &value); }
    ~Board() {
        if (!closed) LV_ZOLT_close(handle);  // on the way out after a failure
    }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;
    void close() {
        closed = true;
        CALL(LV_ZOLT_close, handle);
    }
    LV_ZOLT_Handle handle = 0;
    std::uint16_t value = 0;

   private:
    bool closed = false;
};

struct Time {
    double seconds = 0;
    std::uint8_t minutes = 0, hours = 0;
    std::uint16_t day = 0;
};

Time timeOf(const Board& b) {
    Time t;
    CALL(LV_ZOLT_getTime, b.handle, &t.seconds, &t.minutes, &t.hours, &t.day);
    return t;
}

std::string text(const Time& t) {
    return "day " + std::to_string(t.day) + " " + timeOfDay(t.hours, t.minutes, t.seconds);
}

Json json(const Time& t) {
    return Json()
        .add("day", std::int64_t{t.day})
        .add("hours", std::int64_t{t.hours})
        .add("minutes", std::int64_t{t.minutes})
        .add("seconds", t.seconds);
}

// ---------------------------------------------------------------------------
// Instants of the board's clock as nanoseconds since 1970-01-01 00:00 UTC.

constexpr std::int64_t kMillisecond = 1'000'000;
constexpr std::int64_t kSecond = 1'000 * kMillisecond;
constexpr std::int64_t kDay = 86'400 * kSecond;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

std::int64_t yearStart(int year) {
    using namespace std::chrono;
    return sys_days(std::chrono::year(year) / 1 / 1).time_since_epoch().count() * kDay;
}

int daysInYear(int year) { return std::chrono::year(year).is_leap() ? 366 : 365; }

std::int64_t instant(int year, const Time& t) {
    return yearStart(year) + (std::int64_t{t.day} - 1) * kDay +
           (t.hours * std::int64_t{3600} + t.minutes * std::int64_t{60}) * kSecond +
           std::llround(t.seconds * 1e9);
}

// An instant as the board's setters take it.
struct Civil {
    int year = 0;
    std::uint32_t day = 0, hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
};

Civil civil(std::int64_t at) {
    using namespace std::chrono;
    const std::int64_t days = floorDiv(at, kDay);
    const sys_days date{std::chrono::days(days)};
    const year_month_day ymd{date};
    Civil c;
    c.year = static_cast<int>(ymd.year());
    c.day = static_cast<std::uint32_t>((date - sys_days(ymd.year() / 1 / 1)).count() + 1);
    const auto ms = static_cast<std::uint32_t>((at - days * kDay) / kMillisecond);
    c.hours = ms / 3'600'000;
    c.minutes = ms / 60'000 % 60;
    c.seconds = ms / 1000 % 60;
    c.milliseconds = ms % 1000;
    return c;
}

std::string iso(const Civil& c) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days(std::chrono::year(c.year) / 1 / 1) + days(c.day - 1)};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%03u", c.year,
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), c.hours,
                  c.minutes, c.seconds, c.milliseconds);
    return text;
}

// The board's clock. getTime gives the day of the year and the time of day;
// the year is read once with getDate and carried over New Year.
class BoardClock {
   public:
    explicit BoardClock(const Board& b) : board(b) {
        // Date and time agree unless midnight fell between them: read again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const Time before = timeOf(b);
            std::uint16_t y = 0;
            std::uint8_t month = 0, day = 0;
            CALL(LV_ZOLT_getDate, b.handle, &y, &month, &day);
            last = timeOf(b);
            year = y;
            if (before.day == last.day) break;
        }
        at = instant(year, last);
    }
    // Reads the clock.
    std::int64_t now() {
        const Time t = timeOf(board);
        // Only the last days of a year turning into the first ones are New
        // Year; a clock set back stays in its year.
        if (t.day < last.day && last.day >= 365 && t.day <= 2) ++year;
        last = t;
        at = instant(year, last);
        return at;
    }
    Time last;            // the last reading
    int year = 0;         // its year
    std::int64_t at = 0;  // and its instant

   private:
    const Board& board;
};

void show(const Request& r, std::FILE* out, const std::string& asText, const Json& asJson) {
    printLine(out, r.json ? asJson.str() : asText);
}

// ---------------------------------------------------------------------------
// The commands.

void info(const Request& r, std::FILE* out, Board& b) {
    // The driver value: the highest revision that getDriver accepts.
    std::uint32_t revision = 0;
    for (std::uint32_t next = 1; next <= 255; ++next) {
        const std::uint8_t status = LV_ZOLT_getDriver(b.handle, next);
        if (status != 0) {
            if (next == 1) check("LV_ZOLT_getDriver", status);
            break;
        }
        revision = next;
    }
    char firmware[9], fpga[9];
    CALL(LV_ZOLT_getFirmware, b.handle, firmware);
    CALL(LV_ZOLT_getFPGA, b.handle, fpga);
    show(r, out,
         "board        " + std::to_string(r.board) + "\nboard value  " + std::to_string(b.value) +
             "\ndriver       revision " + std::to_string(revision) + "\nfirmware     " + firmware +
             "\nFPGA         " + fpga,
         Json()
             .add("board", std::int64_t{r.board})
             .add("boardValue", std::int64_t{b.value})
             .add("driverRevision", std::int64_t{revision})
             .add("firmware", std::string(firmware))
             .add("fpga", std::string(fpga)));
}

void date(const Request& r, std::FILE* out, Board& b) {
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0;
    CALL(LV_ZOLT_getDate, b.handle, &year, &month, &day);
    char iso[16];
    std::snprintf(iso, sizeof iso, "%04u-%02u-%02u", unsigned{year}, unsigned{month},
                  unsigned{day});
    show(r, out, iso,
         Json()
             .add("year", std::int64_t{year})
             .add("month", std::int64_t{month})
             .add("day", std::int64_t{day}));
}

// An angle as degrees and minutes of the same sign; hemisphere letters for
// the text.
std::string angleText(std::int16_t degrees, float minutes, char positive, char negative) {
    const bool south = degrees < 0 || (degrees == 0 && minutes < 0);
    char text[64];
    std::snprintf(text, sizeof text, "%3d %07.4f' %c  (%.6f)", std::abs(int{degrees}),
                  std::fabs(double{minutes}), south ? negative : positive,
                  degrees + double{minutes} / 60.0);
    return text;
}

Json angleJson(std::int16_t degrees, float minutes) {
    // Rounded to 1e-7 degrees (about a centimetre): the 32-bit minutes carry
    // no more, and the rest would be noise.
    const double decimal = std::round((degrees + double{minutes} / 60.0) * 1e7) / 1e7;
    return Json()
        .add("degrees", std::int64_t{degrees})
        .add("minutes", minutes)
        .add("decimal", decimal);
}

void position(const Request& r, std::FILE* out, Board& b) {
    std::int16_t latDegrees = 0, lonDegrees = 0;
    float latMinutes = 0, lonMinutes = 0, altitude = 0;
    std::uint8_t satellites = 0, fix = 0;
    CALL(LV_ZOLT_getLatitude, b.handle, &latDegrees, &latMinutes);
    CALL(LV_ZOLT_getLongitude, b.handle, &lonDegrees, &lonMinutes);
    CALL(LV_ZOLT_getAltitude, b.handle, &altitude);
    CALL(LV_ZOLT_getSatInfo, b.handle, &satellites, &fix);
    char rest[96];
    std::snprintf(rest, sizeof rest, "altitude   %.1f m\nsatellites %u tracked, fix %u",
                  double{altitude}, unsigned{satellites}, unsigned{fix});
    show(r, out,
         "latitude  " + angleText(latDegrees, latMinutes, 'N', 'S') + "\nlongitude " +
             angleText(lonDegrees, lonMinutes, 'E', 'W') + "\n" + rest,
         Json()
             .add("latitude", angleJson(latDegrees, latMinutes))
             .add("longitude", angleJson(lonDegrees, lonMinutes))
             .add("altitude", altitude)
             .add("satellites", std::int64_t{satellites})
             .add("fix", std::int64_t{fix}));
}

// One call that sets the board's clock.
struct Step {
    const char* exportName;
    std::function<std::uint8_t()> call;
};

// The calls that take the board's clock to `to`, the board standing in
// `boardYear` on day `boardDay`. setYear keeps the day of the year, so it
// goes first (the driver's year range is what a board is likely to refuse,
// and a refusal then changes nothing) unless the board's day does not exist
// in the new year (day 366 into a common year): then the time goes first.
std::vector<Step> stepsTo(LV_ZOLT_Handle h, const Civil& to, int boardYear, unsigned boardDay) {
    const Step year{"LV_ZOLT_setYear",
                    [h, to] { return LV_ZOLT_setYear(h, static_cast<std::uint32_t>(to.year)); }};
    const Step time{"LV_ZOLT_setTime", [h, to] {
                        return LV_ZOLT_setTime(h, to.seconds, to.minutes, to.hours, to.day,
                                               to.milliseconds);
                    }};
    if (to.year == boardYear) return {time};
    if (boardDay <= static_cast<unsigned>(daysInYear(to.year))) return {year, time};
    return {time, year};
}

void setTime(const Request& r, std::FILE* out, Board& b) {
    const SetTime& w = r.when;
    if (w.keepDate) {
        // One call: refused, it changed nothing.
        const std::uint32_t day = timeOf(b).day;
        const std::uint8_t status =
            LV_ZOLT_setTime(b.handle, w.seconds, w.minutes, w.hours, day, w.milliseconds);
        if (status != 0)
            throw Failure{"LV_ZOLT_setTime", status, "; the board's clock was not changed"};
    } else {
        // What the board showed, to put back if a later call is refused.
        const BoardClock before(b);
        const auto readAt = std::chrono::steady_clock::now();
        int year = before.year;
        unsigned day = before.last.day;
        const Civil to{
            static_cast<int>(w.year), w.dayOfYear, w.hours, w.minutes, w.seconds, w.milliseconds};
        const std::vector<Step> steps = stepsTo(b.handle, to, year, day);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const std::uint8_t status = steps[i].call();
            if (status != 0) {
                if (i == 0)
                    throw Failure{steps[i].exportName, status,
                                  "; the board's clock was not changed"};
                // Back to the time read first plus the time since, to the
                // nearest millisecond.
                const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::steady_clock::now() - readAt)
                                       .count();
                const Civil back = civil(before.at + since + kMillisecond / 2);
                for (const Step& undo : stepsTo(b.handle, back, year, day)) {
                    const std::uint8_t again = undo.call();
                    if (again != 0)
                        throw Failure{steps[i].exportName, status,
                                      std::string("; putting the clock back failed too (") +
                                          undo.exportName + " returned status " +
                                          std::to_string(again) +
                                          "): the board's clock is changed"};
                }
                throw Failure{steps[i].exportName, status,
                              "; the board's clock was put back to " + iso(back)};
            }
            if (steps[i].exportName == std::string("LV_ZOLT_setYear"))
                year = to.year;
            else
                day = to.day;
        }
    }
    const Time t = timeOf(b);
    show(r, out, text(t), json(t));
}

void event(const Request& r, std::FILE* out, Board& b) {
    CALL(LV_ZOLT_simEvent, b.handle);
    show(r, out, "event raised on board " + std::to_string(r.board),
         Json().add("event", std::string("raised")).add("board", std::int64_t{r.board}));
}

// Raises an event every `every` milliseconds until stopped, from a thread of
// its own; a failure is kept for the main thread to report.
class Raiser {
   public:
    Raiser(LV_ZOLT_Handle board, std::uint32_t every)
        : thread([this, board, every] {
              std::unique_lock lock(mutex);
              while (!stopping.wait_for(lock, std::chrono::milliseconds(every),
                                        [this] { return stop; })) {
                  const std::uint8_t status = LV_ZOLT_simEvent(board);
                  if (status != 0) {
                      failed = status;
                      return;
                  }
              }
          }) {}
    ~Raiser() {
        {
            const std::lock_guard lock(mutex);
            stop = true;
        }
        stopping.notify_all();
        thread.join();
    }
    Raiser(const Raiser&) = delete;
    Raiser& operator=(const Raiser&) = delete;
    std::atomic<std::uint8_t> failed{0};

   private:
    std::mutex mutex;
    std::condition_variable stopping;
    bool stop = false;
    std::thread thread;
};

// The first wait of a watch failed where the board may simply not be set
// to produce what is watched: say how to set it.
Failure unarmed(const char* exportName, std::uint8_t status, const char* what, const char* option) {
    return Failure{exportName, status,
                   std::string("\nlvzolt: the ") + what +
                       " may be off (as on a fresh simulated board); a watch changes no "
                       "setting unless asked: " +
                       option + " S turns it on"};
}

}  // namespace

Aim nextMatch(std::int64_t last, std::int64_t now, std::int64_t every) {
    const std::int64_t k = now < last + every ? 1 : (now - last) / every + 1;
    return Aim{last + k * every, static_cast<std::uint64_t>(k - 1)};
}

namespace {

// Grace after a match time before a wait that has not seen it is taken to
// have started too late (the driver then aims at the next day).
constexpr std::int64_t kMatchGrace = 50 * kMillisecond;
// How far ahead a match is aimed at least, once waits start too late: it
// doubles with each such miss, up to this, and halves with each match seen,
// so that a slow host still sees matches. A wait that runs out even so is
// reported with its status.
constexpr std::int64_t kMaxLead = kSecond;

void watch(const Request& r, std::FILE* out, Board& b) {
    const char* kind = r.watch == Watch::heartbeat ? "heartbeat"
                       : r.watch == Watch::match   ? "match"
                                                   : "event";
    std::unique_ptr<Raiser> raiser;
    std::optional<BoardClock> clock;  // where missed occurrences can be counted
    std::int64_t last = 0;            // heartbeat: beat number; match: instant
    std::int64_t step = 0;            // period or interval, nanoseconds
    std::unique_ptr<Undo> undo;
    if (r.watch == Watch::heartbeat && r.period) {
        // On, with 10 ms pulses of positive polarity.
        CALL(LV_ZOLT_setHeartbeat, b.handle, 1, 10, 0, *r.period);
        step = std::llround(*r.period * 1e9);
        clock.emplace(b);
    }
    if (r.watch == Watch::match && r.every) {
        step = std::llround(*r.every * 1e9);
        clock.emplace(b);
        last = clock->at;
        const LV_ZOLT_Handle h = b.handle;
        undo = std::make_unique<Undo>([h] { CALL(LV_ZOLT_setMatchTime, h, 0, 0.0, 0, 0, 0); });
    }
    if (r.watch == Watch::event && r.raiseEvery)
        raiser = std::make_unique<Raiser>(b.handle, *r.raiseEvery);
    bool first = true;
    std::uint64_t missed = 0;
    std::int64_t lead = 0;  // match: see kMaxLead
    for (std::uint64_t n = 1; !r.count || n <= *r.count; ++n) {
        Time t;
        Json extra;
        std::string extraText;
        if (r.watch == Watch::heartbeat) {
            const std::uint8_t status = LV_ZOLT_waitHeartbeat(b.handle, r.timeout);
            if (status != 0 && first && !r.period)
                throw unarmed("LV_ZOLT_waitHeartbeat", status, "heartbeat",
                              "lvzolt watch heartbeat --period");
            check("LV_ZOLT_waitHeartbeat", status);
            if (clock) {
                // Beats fall on whole multiples of the period: the number of
                // the beat just gone tells how many passed unseen.
                const std::int64_t beat = floorDiv(clock->now(), step);
                missed =
                    first ? 0
                          : static_cast<std::uint64_t>(std::max<std::int64_t>(beat - last - 1, 0));
                last = beat;
                t = clock->last;
            } else {
                t = timeOf(b);
            }
        } else if (r.watch == Watch::match && clock) {
            // Aim at the next instant still ahead; a wait that started after
            // its instant would end only the next day, so it gets a limit of
            // its own just past the instant.
            const std::int64_t now = clock->now();
            const Aim aim = nextMatch(last, now + lead, step);
            missed += aim.missed;
            const std::int64_t ofDay = aim.target - floorDiv(aim.target, kDay) * kDay;
            const auto ms = static_cast<std::uint32_t>(ofDay / kMillisecond);
            const bool armed = undo->whileHeld([&] {
                CALL(LV_ZOLT_setMatchTime, b.handle, 1,
                     static_cast<double>(ofDay % (60 * kSecond)) / 1e9, ms / 60'000 % 60,
                     ms / 3'600'000, 0);
            });
            if (!armed) return;  // stopped
            const auto own = static_cast<std::uint32_t>(
                (aim.target - now + kMillisecond - 1) / kMillisecond + kMatchGrace / kMillisecond);
            const bool ownLimit = r.timeout > own;
            const std::uint8_t status = LV_ZOLT_waitMatch(b.handle, ownLimit ? own : r.timeout);
            last = aim.target;
            if (status != 0) {
                if (stopped) return;
                // A wait aimed the longest lead ahead did not start late:
                // its status is a failure like any other.
                if (ownLimit && lead < kMaxLead && clock->now() >= aim.target + kMatchGrace / 2) {
                    ++missed;
                    lead = std::min(std::max(2 * lead, kMillisecond), kMaxLead);
                    --n;
                    continue;
                }
                check("LV_ZOLT_waitMatch", status);
            }
            lead /= 2;
            clock->now();
            t = clock->last;
        } else if (r.watch == Watch::match) {
            const std::uint8_t status = LV_ZOLT_waitMatch(b.handle, r.timeout);
            if (status != 0 && first)
                throw unarmed("LV_ZOLT_waitMatch", status, "time match",
                              "lvzolt watch match --every");
            check("LV_ZOLT_waitMatch", status);
            t = timeOf(b);
        } else {
            std::uint16_t year = 0;
            std::uint8_t dropped = 0, number = 0;
            const std::uint8_t status =
                LV_ZOLT_waitEvent(b.handle, &t.seconds, &t.minutes, &t.hours, &t.day, &year,
                                  &dropped, &number, r.timeout);
            if (raiser && raiser->failed) check("LV_ZOLT_simEvent", raiser->failed);
            check("LV_ZOLT_waitEvent", status);
            extraText = " year " + std::to_string(year) + " number " + std::to_string(number) +
                        " dropped " + std::to_string(dropped);
            extra.add("year", std::int64_t{year})
                .add("number", std::int64_t{number})
                .add("dropped", std::int64_t{dropped});
        }
        first = false;
        Json line =
            Json().add("kind", std::string(kind)).add("count", static_cast<std::int64_t>(n));
        line.add("time", json(t));
        if (r.watch == Watch::event) line.add("tag", extra);
        if (clock) line.add("missed", static_cast<std::int64_t>(missed));
        show(r, out,
             std::string(kind) + " " + std::to_string(n) + "  " + text(t) + extraText +
                 (missed > 0 ? "  missed " + std::to_string(missed) : ""),
             line);
        missed = 0;
    }
    if (undo) undo->run();
}

}  // namespace

void interrupt() {
    stopped = true;
    std::function<void()> action;
    {
        const std::lock_guard lock(undoMutex);
        action.swap(undoAction);
    }
    if (!action) return;
    try {
        action();
    } catch (const Failure&) {  // the process is ending: nothing more to do
    }
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    stopped = false;
    const auto parsed = parse(args);
    if (const auto* e = std::get_if<UsageError>(&parsed)) {
        std::fprintf(err, "lvzolt: %s\n\n%s", e->message.c_str(), helpText(e->command));
        return 2;
    }
    const Request& r = std::get<Request>(parsed);
    try {
        if (r.command == Command::help) {
            print(out, helpText(r.helpTopic));
            return 0;
        }
        Board b(r.board);
        switch (r.command) {
            case Command::info:
                info(r, out, b);
                break;
            case Command::time: {
                const Time t = timeOf(b);
                show(r, out, text(t), json(t));
                break;
            }
            case Command::date:
                date(r, out, b);
                break;
            case Command::position:
                position(r, out, b);
                break;
            case Command::setTime:
                setTime(r, out, b);
                break;
            case Command::watch:
                watch(r, out, b);
                break;
            case Command::event:
                event(r, out, b);
                break;
            case Command::help:
                break;
        }
        b.close();
    } catch (const Failure& f) {
        if (stopped) return kStopped;
        std::fprintf(err, "lvzolt: %s returned status %u%s\n", f.exportName, unsigned{f.status},
                     f.note.c_str());
        return 1;
    } catch (const WriteError& e) {
        if (stopped) return kStopped;
        std::fprintf(err, "lvzolt: cannot write the output: %s\n", e.reason.c_str());
        return 1;
    }
    return stopped ? kStopped : 0;
}

}  // namespace lvzolt
