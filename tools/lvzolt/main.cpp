// lvzolt: a command-line host of LV_zolt. It calls nothing but the library's
// 24 exports, so it runs unchanged over any zolt driver placed beside it.
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LV_zolt.h"
#include "command_line.h"
#include "output.h"

using namespace lvzolt;

namespace {

// A nonzero status from an export: reported once, ends the command.
struct Failure {
    const char* exportName;
    std::uint8_t status;
};

void check(const char* exportName, std::uint8_t status) {
    if (status != 0) throw Failure{exportName, status};
}
#define CALL(name, ...) check(#name, name(__VA_ARGS__))

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

void show(const Request& r, const std::string& asText, const Json& asJson) {
    printLine(r.json ? asJson.str() : asText);
}

void info(const Request& r, Board& b) {
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
    show(r,
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

void date(const Request& r, Board& b) {
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0;
    CALL(LV_ZOLT_getDate, b.handle, &year, &month, &day);
    char iso[16];
    std::snprintf(iso, sizeof iso, "%04u-%02u-%02u", unsigned{year}, unsigned{month},
                  unsigned{day});
    show(r, iso,
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

void position(const Request& r, Board& b) {
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
    show(r,
         "latitude  " + angleText(latDegrees, latMinutes, 'N', 'S') + "\nlongitude " +
             angleText(lonDegrees, lonMinutes, 'E', 'W') + "\n" + rest,
         Json()
             .add("latitude", angleJson(latDegrees, latMinutes))
             .add("longitude", angleJson(lonDegrees, lonMinutes))
             .add("altitude", altitude)
             .add("satellites", std::int64_t{satellites})
             .add("fix", std::int64_t{fix}));
}

void setTime(const Request& r, Board& b) {
    const SetTime& w = r.when;
    std::uint32_t day = w.dayOfYear;
    if (w.keepDate) {
        day = timeOf(b).day;
    } else {
        // Through 1 January, so that the year can change whatever the day.
        CALL(LV_ZOLT_setTime, b.handle, 0, 0, 0, 1, 0);
        CALL(LV_ZOLT_setYear, b.handle, w.year);
    }
    CALL(LV_ZOLT_setTime, b.handle, w.seconds, w.minutes, w.hours, day, w.milliseconds);
    const Time t = timeOf(b);
    show(r, text(t), json(t));
}

void event(const Request& r, Board& b) {
    CALL(LV_ZOLT_simEvent, b.handle);
    show(r, "event raised on board " + std::to_string(r.board),
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

void watch(const Request& r, Board& b) {
    const char* kind = r.watch == Watch::heartbeat ? "heartbeat"
                       : r.watch == Watch::match   ? "match"
                                                   : "event";
    std::unique_ptr<Raiser> raiser;
    double matchAt = 0;  // seconds of the day of the next match
    // On, with 10 ms pulses of positive polarity.
    if (r.watch == Watch::heartbeat) CALL(LV_ZOLT_setHeartbeat, b.handle, 1, 10, 0, r.period);
    if (r.watch == Watch::match) {
        const Time t = timeOf(b);
        matchAt = t.hours * 3600.0 + t.minutes * 60.0 + t.seconds;
    }
    if (r.watch == Watch::event && r.raiseEvery)
        raiser = std::make_unique<Raiser>(b.handle, *r.raiseEvery);
    for (std::uint64_t n = 1; !r.count || n <= *r.count; ++n) {
        Time t;
        Json extra;
        std::string extraText;
        if (r.watch == Watch::heartbeat) {
            CALL(LV_ZOLT_waitHeartbeat, b.handle, r.timeout);
            t = timeOf(b);
        } else if (r.watch == Watch::match) {
            matchAt = std::fmod(matchAt + r.every, 86400.0);
            const auto whole = static_cast<std::uint32_t>(matchAt);
            // Mode 1: daily, at this time of day (day 0).
            CALL(LV_ZOLT_setMatchTime, b.handle, 1, std::fmod(matchAt, 60.0), whole / 60 % 60,
                 whole / 3600, 0);
            CALL(LV_ZOLT_waitMatch, b.handle, r.timeout);
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
        Json line =
            Json().add("kind", std::string(kind)).add("count", static_cast<std::int64_t>(n));
        line.add("time", json(t));
        if (r.watch == Watch::event) line.add("tag", extra);
        show(r, std::string(kind) + " " + std::to_string(n) + "  " + text(t) + extraText, line);
    }
}

int usage(const UsageError& e) {
    std::fprintf(stderr, "lvzolt: %s\n\n%s", e.message.c_str(), helpText(e.command));
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parse(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* e = std::get_if<UsageError>(&parsed)) return usage(*e);
    const Request& r = std::get<Request>(parsed);
    if (r.command == Command::help) {
        const char* help = helpText(r.helpTopic);
        if (!help) return usage(UsageError{"unknown command '" + r.helpTopic + "'", ""});
        std::fputs(help, stdout);
        return 0;
    }
    try {
        Board b(r.board);
        switch (r.command) {
            case Command::info:
                info(r, b);
                break;
            case Command::time: {
                const Time t = timeOf(b);
                show(r, text(t), json(t));
                break;
            }
            case Command::date:
                date(r, b);
                break;
            case Command::position:
                position(r, b);
                break;
            case Command::setTime:
                setTime(r, b);
                break;
            case Command::watch:
                watch(r, b);
                break;
            case Command::event:
                event(r, b);
                break;
            case Command::help:
                break;
        }
        b.close();
    } catch (const Failure& f) {
        std::fprintf(stderr, "lvzolt: %s returned status %u\n", f.exportName, unsigned{f.status});
        return 1;
    }
    return 0;
}
