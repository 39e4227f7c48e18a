// The simulated zolt driver. One mutex guards all boards and handles: the
// operations are short, and a single lock keeps every cross-board hook (the
// manual clock, reset) simple to get right. Each board has its own condition
// variable, so a change on one board wakes only the waits on that board.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "calendar.h"
#include "driver/zolt.h"
#include "scenario.h"
#include "zolt_simulator.h"

using namespace zoltsim;

namespace {

constexpr std::size_t kQuarantine = 1024;
constexpr Nanos kNever = std::numeric_limits<Nanos>::max();

struct Event {
    Nanos tag;             // board time when raised
    std::uint8_t dropped;  // events lost from a full queue just before this one
    std::uint8_t number;   // low 8 bits of the board's event count
};

// Everything ZOLT_resetFirmware and zoltsim_reset put back.
struct Settings {
    std::uint32_t oscillator = ZOLT_SIM_OSC_DISCIPLINED;
    std::uint32_t synch = ZOLT_SIM_SYNC_GNSS;
    std::int32_t propDelay = 0;  // nanoseconds
    bool heartbeatOn = false;
    std::uint8_t pulseWidth = 0;
    std::uint8_t polarity = 0;
    Nanos period = 0;
    std::uint8_t matchMode = 0;
    Nanos matchTarget = 0;  // board time of the first match after it was set
    std::deque<Event> events;
};

struct Board {
    Nanos offset = 0;  // board clock minus host clock, without the correction
    Settings settings;
    std::uint32_t eventCount = 0;
    // Waits retarget when these change. A heartbeat wait then looks for the
    // first beat after the change, at beatReference (board time), however
    // late it gets to look, so no beat slips through between the change and
    // the wait's next look.
    std::uint32_t beatGeneration = 0;
    Nanos beatReference = 0;
    std::uint32_t matchGeneration = 0;
    int waiting = 0;
    std::condition_variable changed;
    BoardDescription identity{};  // the scenario's, or the defaults
    Nanos nextEvent = 0;          // board time of the next scheduled event
    std::array<std::uint64_t, kOperations> calls{};  // so far, per operation
};

// Queues an event raised at board time `tag`; `lost` events went before it
// without ever being queued.
void raise(Board& b, Nanos tag, Nanos lost = 0) {
    auto& events = b.settings.events;
    if (events.size() == ZOLT_SIM_EVENT_QUEUE) {
        // The next event delivered carries the loss.
        const unsigned dropped = events.front().dropped + 1u;
        events.pop_front();
        events.front().dropped =
            static_cast<std::uint8_t>(std::min(dropped + events.front().dropped, 255u));
    }
    ++b.eventCount;
    events.push_back(Event{tag, static_cast<std::uint8_t>(std::min<Nanos>(lost, 255)),
                           static_cast<std::uint8_t>(b.eventCount)});
    b.changed.notify_all();
}

// A splitmix64 step: latency jitter repeats from its seed.
std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

// The driver's record behind a handle. BoardRecord comes first, so the
// handle is the address of the whole slot.
struct Slot {
    BoardRecord record;
    std::uint32_t board = 0;
    bool open = false;
    std::uint32_t issue = 0;  // bumped each time the slot is handed out
};

// ZOLT_SIM_BOARDS, or 0 when it is not set or not valid.
std::uint32_t boardsFromEnvironment() {
    const char* text = std::getenv("ZOLT_SIM_BOARDS");
    if (text == nullptr) return 0;
    const std::string value(text);
    std::uint32_t n = 0;
    bool ok = !value.empty() && value.size() <= 2;
    for (const char c : value) {
        if (c < '0' || c > '9')
            ok = false;
        else
            n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (ok && n >= 1 && n <= ZOLT_SIM_MAX_BOARDS) return n;
    std::fprintf(stderr,
                 "zolt simulator: ZOLT_SIM_BOARDS=\"%s\" is not a whole number from 1 to %d; "
                 "ignored\n",
                 text, ZOLT_SIM_MAX_BOARDS);
    return 0;
}

class Simulator {
   public:
    std::mutex mutex;
    std::array<Board, ZOLT_SIM_MAX_BOARDS> boards;
    std::uint32_t boardCount = 0;
    bool manualClock = false;
    Nanos manualNow = 0;
    // The scenario's; a bad one turns every operation away.
    bool badScenario = false;
    std::vector<Fault> faults;
    struct Delay {
        Latency latency;
        std::uint64_t random;
    };
    std::vector<Delay> delays;
    std::uint32_t resets = 0;

    Simulator() { configure(); }

    Nanos hostNow() const {
        if (manualClock) return manualNow;
        using namespace std::chrono;
        return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    }
    Nanos boardNow(const Board& b) const { return hostNow() + b.offset + b.settings.propDelay; }
    // The host time at which board b's clock shows t.
    Nanos hostAt(const Board& b, Nanos t) const { return t - b.offset - b.settings.propDelay; }

    // Finds the open slot behind a handle, never reading through an unknown one.
    std::uint8_t find(const BoardRecord* handle, Slot*& slot) {
        if (handle == nullptr) return ZOLT_SIM_NULL_HANDLE;
        const auto it = issued.find(handle);
        if (it == issued.end()) return ZOLT_SIM_UNKNOWN_HANDLE;
        slot = it->second;
        return slot->open ? ZOLT_SIM_OK : ZOLT_SIM_CLOSED_HANDLE;
    }

    Slot& open(std::uint32_t index) {
        Slot* slot;
        if (closed.size() > kQuarantine) {
            slot = closed.front();
            closed.pop_front();
        } else {
            slot = &slots.emplace_back();
            issued.emplace(&slot->record, slot);
        }
        slot->board = index;
        slot->open = true;
        ++slot->issue;
        const std::uint8_t tag[4] = {'S', 'I', 'M', static_cast<std::uint8_t>(index)};
        std::memcpy(slot->record.driverPrivate, tag, sizeof tag);
        slot->record.word4 = boards[index].identity.serial;
        return *slot;
    }

    void close(Slot& slot) {
        slot.open = false;
        closed.push_back(&slot);
        boards[slot.board].changed.notify_all();
    }

    void reset() {
        for (Slot& slot : slots)
            if (slot.open) close(slot);
        for (Board& b : boards) {
            b.offset = 0;
            b.settings = Settings{};
            b.eventCount = 0;
            ++b.beatGeneration;
            ++b.matchGeneration;
            b.changed.notify_all();
        }
        manualClock = false;
        ++resets;
        configure();
    }

    // Reads ZOLT_SIM_BOARDS and ZOLT_SIM_SCENARIO into the boards, which
    // are at their power-on state.
    void configure() {
        const std::uint32_t fromEnvironment = boardsFromEnvironment();
        boardCount = fromEnvironment != 0 ? fromEnvironment : ZOLT_SIM_DEFAULT_BOARDS;
        badScenario = false;
        faults.clear();
        delays.clear();
        for (std::uint32_t i = 0; i < ZOLT_SIM_MAX_BOARDS; ++i) {
            boards[i].identity = defaultBoard(i);
            boards[i].calls = {};
        }
        const char* path = std::getenv("ZOLT_SIM_SCENARIO");
        if (path != nullptr && *path != '\0') {
            auto loaded = loadScenario(path, fromEnvironment, ZOLT_SIM_DEFAULT_BOARDS);
            if (const auto* problem = std::get_if<std::string>(&loaded)) {
                std::fprintf(stderr,
                             "zolt simulator: %s; every operation returns "
                             "ZOLT_SIM_BAD_SCENARIO (%d)\n",
                             problem->c_str(), ZOLT_SIM_BAD_SCENARIO);
                badScenario = true;
                boardCount = 0;
            } else {
                Scenario& scenario = std::get<Scenario>(loaded);
                boardCount = scenario.boardCount;
                faults = std::move(scenario.faults);
                for (const Latency& l : scenario.latencies) delays.push_back({l, l.seed});
                for (std::uint32_t i = 0; i < ZOLT_SIM_MAX_BOARDS; ++i) {
                    boards[i].identity = scenario.boards[i];
                    if (scenario.boards[i].start)
                        boards[i].offset = *scenario.boards[i].start - hostNow();
                }
            }
        }
        for (Board& b : boards) anchorEvents(b);
    }

    // Scheduled events fall on the board-clock instants that are whole
    // multiples of their period. After the clock is set they go on from the
    // new time, rather than making up for the instants it jumped over.
    void anchorEvents(Board& b) const {
        const Nanos every = b.identity.eventsEvery;
        if (every != 0) b.nextEvent = (floorDiv(boardNow(b), every) + 1) * every;
    }

    // Queues the scheduled events whose instant has come. They are raised
    // lazily, whenever the board is used, with the tags they would have had.
    void raiseDue(Board& b) const {
        const Nanos every = b.identity.eventsEvery;
        if (every == 0) return;
        const Nanos now = boardNow(b);
        if (b.nextEvent - now > every) {  // the host's clock went back
            anchorEvents(b);
            return;
        }
        if (b.nextEvent > now) return;
        Nanos due = (now - b.nextEvent) / every + 1;
        Nanos lost = 0;
        constexpr Nanos room = ZOLT_SIM_EVENT_QUEUE;
        if (due > room) {  // only the newest fit: skip to them
            const Nanos skipped = due - room;
            lost = skipped;
            for (const Event& e : b.settings.events) lost += 1 + e.dropped;
            b.eventCount += static_cast<std::uint32_t>(skipped);
            b.settings.events.clear();
            b.nextEvent += skipped * every;
            due = room;
        }
        for (Nanos i = 0; i < due; ++i) {
            raise(b, b.nextEvent, i == 0 ? lost : 0);
            b.nextEvent += every;
        }
    }

    // What the scenario does to call `op` on board `index` before it runs:
    // counts it, holds it for its latency (the lock released), then fails
    // it with a fault's status or lets it run.
    std::optional<std::uint8_t> intercept(Operation op, std::uint32_t index,
                                          std::unique_lock<std::mutex>& lock);

    // A change of clock is no time passing: schedules go on from the new time.
    void anchorAllEvents() {
        for (Board& b : boards) anchorEvents(b);
    }

    void wakeAll() {
        for (Board& b : boards) b.changed.notify_all();
    }

   private:
    std::deque<Slot> slots;  // never shrinks, so handles stay valid addresses
    std::unordered_map<const BoardRecord*, Slot*> issued;
    std::deque<Slot*> closed;  // oldest first
};

// Never destroyed: host threads may still be inside a wait while the
// process exits. `created` tells whether this call made it.
Simulator& sim(bool* created = nullptr) {
    static Simulator* const instance = [created] {
        if (created != nullptr) *created = true;
        return new Simulator;
    }();
    return *instance;
}

using Lock = std::unique_lock<std::mutex>;

// After the clock or the heartbeat of a board changed.
void beatsChanged(const Simulator& s, Board& b) {
    ++b.beatGeneration;
    b.beatReference = s.boardNow(b);
    s.anchorEvents(b);
}

std::optional<std::uint8_t> Simulator::intercept(Operation op, std::uint32_t index, Lock& lock) {
    Board& b = boards[index];
    raiseDue(b);
    const auto which = static_cast<std::size_t>(op);
    const std::uint64_t call = ++b.calls[which];
    Nanos delay = 0;
    for (Delay& d : delays) {
        const Latency& l = d.latency;
        if ((l.operation && *l.operation != op) || (l.board && *l.board != index)) continue;
        delay += l.delay;
        if (l.jitter > 0)
            delay += static_cast<Nanos>(nextRandom(d.random) %
                                        static_cast<std::uint64_t>(l.jitter + 1));
    }
    if (delay > 0) {
        // On the clock in use, so that a manual clock drives it too; a reset
        // ends it.
        const Nanos until = hostNow() + delay;
        const std::uint32_t generation = resets;
        ++b.waiting;
        while (hostNow() < until && resets == generation) {
            if (manualClock) {
                b.changed.wait(lock);
            } else {
                using namespace std::chrono;
                b.changed.wait_until(lock, system_clock::time_point(duration_cast<system_clock::duration>(
                                               nanoseconds(until))));
            }
        }
        --b.waiting;
        if (resets != generation) return std::nullopt;
    }
    for (const Fault& f : faults)
        if (f.operation == op && (!f.board || *f.board == index) && f.hits(call)) return f.status;
    return std::nullopt;
}

// Whether a failure of `op` leaves its record zero (it fills one).
constexpr bool fills(Operation op) {
    switch (op) {
        case Operation::getFirmware:
        case Operation::getFPGA:
        case Operation::getTime:
        case Operation::getDate:
        case Operation::getAltitude:
        case Operation::getLatitude:
        case Operation::getLongitude:
        case Operation::getSatInfo:
        case Operation::waitEvent:
            return true;
        default:
            return false;
    }
}

template <class Record>
void blank(Record* record) {
    *record = Record{};
}
// The time limit is the caller's; the rest is the driver's to fill.
void blank(EventRecord* record) {
    const std::uint32_t limit = record->value0;
    *record = EventRecord{};
    record->value0 = limit;
}

// The scenario's part of an operation, before the operation itself: with a
// bad scenario it fails, whatever its arguments; on an open handle it may be
// delayed or fail by a fault. A failure fills the record with zeros, as the
// operation's own would. Bad handles are left to the operation to report.
template <class Record = int>
std::optional<std::uint8_t> before(Operation op, BoardRecord* handle, Record* record = nullptr) {
    Simulator& s = sim();
    Lock lock(s.mutex);
    std::optional<std::uint8_t> status;
    Slot* slot = nullptr;
    if (s.badScenario)
        status = ZOLT_SIM_BAD_SCENARIO;
    else if (s.find(handle, slot) == ZOLT_SIM_OK)
        status = s.intercept(op, slot->board, lock);
    if (status && record != nullptr && fills(op)) blank(record);
    return status;
}

std::optional<std::uint8_t> beforeOpen(BoardRecord** handle, std::uintptr_t index) {
    Simulator& s = sim();
    Lock lock(s.mutex);
    std::optional<std::uint8_t> status;
    if (s.badScenario)
        status = ZOLT_SIM_BAD_SCENARIO;
    else if (index < s.boardCount)
        status = s.intercept(Operation::open, static_cast<std::uint32_t>(index), lock);
    if (status && handle != nullptr) *handle = nullptr;
    return status;
}

// Runs f(simulator, board, slot, lock) on the open board behind handle.
template <class F>
std::uint8_t onBoard(BoardRecord* handle, F f) {
    Simulator& s = sim();
    Lock lock(s.mutex);
    Slot* slot = nullptr;
    if (const std::uint8_t status = s.find(handle, slot)) return status;
    return static_cast<std::uint8_t>(f(s, s.boards[slot->board], *slot, lock));
}

// The status of an operation given a null record: the handle's, if bad.
std::uint8_t nullRecord(BoardRecord* handle) {
    const std::uint8_t status = onBoard(handle, [](auto&&...) { return ZOLT_SIM_OK; });
    return status ? status : static_cast<std::uint8_t>(ZOLT_SIM_NULL_POINTER);
}

// As onBoard, for an operation that fills a record: f(simulator, board,
// slot) fills it; on any failure its fields are left zero.
template <class Record, class F>
std::uint8_t filling(BoardRecord* handle, Record* record, F f) {
    if (record == nullptr) return nullRecord(handle);
    const std::uint8_t status =
        onBoard(handle, [&](Simulator& s, Board& b, Slot& slot, Lock&) { return f(s, b, slot); });
    if (status != ZOLT_SIM_OK) *record = Record{};
    return status;
}

// As onBoard, for an operation that reads a record and may change the board.
template <class Record, class F>
std::uint8_t reading(BoardRecord* handle, const Record* record, F f) {
    if (record == nullptr) return nullRecord(handle);
    return onBoard(handle, [&](Simulator& s, Board& b, Slot&, Lock&) {
        const auto status = static_cast<std::uint8_t>(f(s, b, *record));
        if (status == ZOLT_SIM_OK) b.changed.notify_all();
        return status;
    });
}

std::uint8_t byChoice(bool valid, auto store) {
    if (!valid) return ZOLT_SIM_INVALID_VALUE;
    store();
    return ZOLT_SIM_OK;
}

// The time quadruple of a board instant.
struct Quadruple {
    double seconds;
    std::uint8_t minutes;
    std::uint8_t hours;
    std::uint16_t dayOfYear;
};

Quadruple quadruple(const Civil& c) {
    const Nanos ofMinute = c.ofDay % kMinute;
    return Quadruple{
        static_cast<double>(ofMinute / kSecond) + static_cast<double>(ofMinute % kSecond) / 1e9,
        static_cast<std::uint8_t>(c.ofDay % kHour / kMinute),
        static_cast<std::uint8_t>(c.ofDay / kHour), static_cast<std::uint16_t>(c.dayOfYear)};
}

// A time of day from quadruple fields, or -1 when a field is out of range.
Nanos timeOfDay(double seconds, unsigned minutes, unsigned hours) {
    if (!(seconds >= 0.0 && seconds < 60.0) || minutes > 59 || hours > 23) return -1;
    const Nanos ns = std::min(static_cast<Nanos>(std::llround(seconds * 1e9)), kMinute - 1);
    return hours * kHour + minutes * kMinute + ns;
}

// One turn of a wait: done with a status, or the host time to look again.
struct Turn {
    bool done;
    std::uint8_t status;
    Nanos wakeAt;
};
constexpr Turn finished(std::uint8_t status) { return {true, status, 0}; }

// Blocks until turn() is done, the handle closes or the limit runs out.
// Whether the occurrence is there is judged before the limit, so a limit
// that runs out at the same instant still lets it through.
template <class F>
std::uint8_t waitOn(Simulator& s, Board& b, Slot& slot, Lock& lock, std::uint32_t limit, F turn) {
    const std::uint32_t issue = slot.issue;
    const bool limited = limit != ZOLT_SIM_WAIT_FOREVER;
    const Nanos deadline = s.hostNow() + static_cast<Nanos>(limit) * kMillisecond;
    ++b.waiting;
    std::uint8_t status;
    for (;;) {
        if (!slot.open || slot.issue != issue) {
            status = ZOLT_SIM_CLOSED_HANDLE;
            break;
        }
        const Turn t = turn();
        if (t.done) {
            status = t.status;
            break;
        }
        if (limited && s.hostNow() >= deadline) {
            status = ZOLT_SIM_TIMEOUT;
            break;
        }
        const Nanos wake = limited ? std::min(t.wakeAt, deadline) : t.wakeAt;
        if (s.manualClock || wake == kNever) {
            b.changed.wait(lock);
        } else {
            using namespace std::chrono;
            b.changed.wait_until(
                lock,
                system_clock::time_point(duration_cast<system_clock::duration>(nanoseconds(wake))));
        }
    }
    --b.waiting;
    return status;
}

}  // namespace

extern "C" {

#define ZOLT_SIM_EXPORT ZOLT_SIM_API std::uint8_t ZOLT_CALL

ZOLT_SIM_EXPORT ZOLT_open(BoardRecord** board, std::uintptr_t value) {
    if (const auto status = beforeOpen(board, value)) return *status;
    if (board == nullptr) return ZOLT_SIM_NULL_POINTER;
    *board = nullptr;
    Simulator& s = sim();
    const Lock lock(s.mutex);
    if (value >= s.boardCount) return ZOLT_SIM_NO_SUCH_BOARD;
    *board = &s.open(static_cast<std::uint32_t>(value)).record;
    return ZOLT_SIM_OK;
}

ZOLT_SIM_EXPORT ZOLT_close(BoardRecord* board) {
    if (const auto status = before(Operation::close, board)) return *status;
    return onBoard(board, [](Simulator& s, Board&, Slot& slot, Lock&) {
        s.close(slot);
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_resetFirmware(BoardRecord* board) {
    if (const auto status = before(Operation::resetFirmware, board)) return *status;
    return onBoard(board, [](Simulator& s, Board& b, Slot&, Lock&) {
        b.settings = Settings{};
        b.eventCount = 0;  // events are numbered from 1 again
        beatsChanged(s, b);
        ++b.matchGeneration;
        b.changed.notify_all();
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_simEvent(BoardRecord* board) {
    if (const auto status = before(Operation::simEvent, board)) return *status;
    return onBoard(board, [](Simulator& s, Board& b, Slot&, Lock&) {
        s.raiseDue(b);  // scheduled events due before this one come first
        raise(b, s.boardNow(b));
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_getDriver(BoardRecord* board, std::uint32_t value) {
    if (const auto status = before(Operation::getDriver, board)) return *status;
    return onBoard(board, [value](Simulator&, Board&, Slot&, Lock&) -> std::uint8_t {
        return value >= 1 && value <= ZOLT_SIM_DRIVER_REVISION ? ZOLT_SIM_OK : ZOLT_SIM_UNSUPPORTED;
    });
}

ZOLT_SIM_EXPORT ZOLT_setOscillator(BoardRecord* board, std::uint32_t value) {
    if (const auto status = before(Operation::setOscillator, board)) return *status;
    return onBoard(board, [value](Simulator&, Board& b, Slot&, Lock&) {
        return byChoice(value <= ZOLT_SIM_OSC_FREE, [&] { b.settings.oscillator = value; });
    });
}

ZOLT_SIM_EXPORT ZOLT_synchControl(BoardRecord* board, std::uint32_t value) {
    if (const auto status = before(Operation::synchControl, board)) return *status;
    return onBoard(board, [value](Simulator&, Board& b, Slot&, Lock&) {
        return byChoice(value <= ZOLT_SIM_SYNC_TIMECODE, [&] { b.settings.synch = value; });
    });
}

ZOLT_SIM_EXPORT ZOLT_synchStatus(BoardRecord* board, std::uint32_t value) {
    if (const auto status = before(Operation::synchStatus, board)) return *status;
    return onBoard(board, [value](Simulator&, Board& b, Slot&, Lock&) -> std::uint8_t {
        if (value != ZOLT_SIM_SYNC_GNSS && value != ZOLT_SIM_SYNC_TIMECODE)
            return ZOLT_SIM_INVALID_VALUE;
        const bool synchronised =
            b.settings.synch == value && b.settings.oscillator != ZOLT_SIM_OSC_FREE;
        return synchronised ? ZOLT_SIM_OK : ZOLT_SIM_NOT_SYNCHRONISED;
    });
}

ZOLT_SIM_EXPORT ZOLT_setPropDelayCorr(BoardRecord* board, std::uint32_t value) {
    if (const auto status = before(Operation::setPropDelayCorr, board)) return *status;
    return onBoard(board, [value](Simulator& s, Board& b, Slot&, Lock&) {
        const auto ns = static_cast<std::int32_t>(value);
        return byChoice(ns >= -1'000'000 && ns <= 1'000'000, [&] {
            b.settings.propDelay = ns;
            beatsChanged(s, b);
            b.changed.notify_all();
        });
    });
}

static std::uint8_t identify(BoardRecord* board, IdBuffer* buffer,
                             std::array<std::uint8_t, 3> BoardDescription::*which) {
    return filling(board, buffer, [&](Simulator&, Board& b, Slot&) {
        const auto& id = b.identity.*which;
        *buffer = IdBuffer{};
        std::memcpy(buffer, id.data(), id.size());
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_getFirmware(BoardRecord* board, IdBuffer* buffer) {
    if (const auto status = before(Operation::getFirmware, board, buffer)) return *status;
    return identify(board, buffer, &BoardDescription::firmware);
}

ZOLT_SIM_EXPORT ZOLT_getFPGA(BoardRecord* board, IdBuffer* buffer) {
    if (const auto status = before(Operation::getFPGA, board, buffer)) return *status;
    return identify(board, buffer, &BoardDescription::fpga);
}

ZOLT_SIM_EXPORT ZOLT_getTime(BoardRecord* board, TimeRecord* record) {
    if (const auto status = before(Operation::getTime, board, record)) return *status;
    return filling(board, record, [&](Simulator& s, Board& b, Slot&) {
        const Quadruple q = quadruple(civil(s.boardNow(b)));
        *record = TimeRecord{};
        record->real0 = q.seconds;
        record->byte9 = q.minutes;
        record->byte10 = q.hours;
        record->word12 = q.dayOfYear;
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_setTime(BoardRecord* board, TimeRecord* record) {
    if (const auto status = before(Operation::setTime, board, record)) return *status;
    return reading(board, record, [](Simulator& s, Board& b, const TimeRecord& r) {
        const Civil now = civil(s.boardNow(b));
        const bool valid = r.byte8 <= 59 && r.byte9 <= 59 && r.byte10 <= 23 && r.word12 >= 1 &&
                           r.word12 <= daysInYear(now.year) && r.word14 <= 999;
        return byChoice(valid, [&] {
            const Nanos target = yearStart(now.year) + (r.word12 - 1) * kDay + r.byte10 * kHour +
                                 r.byte9 * kMinute + r.byte8 * kSecond + r.word14 * kMillisecond;
            b.offset = target - s.hostNow() - b.settings.propDelay;
            beatsChanged(s, b);
        });
    });
}

ZOLT_SIM_EXPORT ZOLT_getDate(BoardRecord* board, DateRecord* record) {
    if (const auto status = before(Operation::getDate, board, record)) return *status;
    return filling(board, record, [&](Simulator& s, Board& b, Slot&) {
        const Civil c = civil(s.boardNow(b));
        record->word0 = static_cast<std::uint16_t>(c.year);
        record->byte2 = static_cast<std::uint8_t>(c.month);
        record->byte3 = static_cast<std::uint8_t>(c.dayOfMonth);
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_setYear(BoardRecord* board, YearValue* value) {
    if (const auto status = before(Operation::setYear, board, value)) return *status;
    return reading(board, value, [](Simulator& s, Board& b, const YearValue& year) {
        const Civil now = civil(s.boardNow(b));
        const auto y = static_cast<int>(year);
        const bool valid = year >= 1970 && year <= 2200 && now.dayOfYear <= daysInYear(y);
        return byChoice(valid, [&] {
            const Nanos target = yearStart(y) + (now.dayOfYear - 1) * kDay + now.ofDay;
            b.offset = target - s.hostNow() - b.settings.propDelay;
            beatsChanged(s, b);
        });
    });
}

ZOLT_SIM_EXPORT ZOLT_getAltitude(BoardRecord* board, AltitudeValue* value) {
    if (const auto status = before(Operation::getAltitude, board, value)) return *status;
    return filling(board, value, [&](Simulator&, Board& b, Slot&) {
        *value = b.identity.altitude;
        return ZOLT_SIM_OK;
    });
}

static std::uint8_t angle(BoardRecord* board, AngleRecord* record, Angle BoardDescription::*which) {
    return filling(board, record, [&](Simulator&, Board& b, Slot&) {
        const auto [degrees, minutes] = b.identity.*which;
        *record = AngleRecord{};
        record->word0 = degrees;
        record->real4 = minutes;
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_getLatitude(BoardRecord* board, AngleRecord* record) {
    if (const auto status = before(Operation::getLatitude, board, record)) return *status;
    return angle(board, record, &BoardDescription::latitude);
}

ZOLT_SIM_EXPORT ZOLT_getLongitude(BoardRecord* board, AngleRecord* record) {
    if (const auto status = before(Operation::getLongitude, board, record)) return *status;
    return angle(board, record, &BoardDescription::longitude);
}

ZOLT_SIM_EXPORT ZOLT_getSatInfo(BoardRecord* board, SatRecord* record) {
    if (const auto status = before(Operation::getSatInfo, board, record)) return *status;
    return filling(board, record, [&](Simulator&, Board& b, Slot&) {
        *record = SatRecord{};
        record->byte0 = b.identity.satellites;
        record->byte1 = b.identity.fix;
        return ZOLT_SIM_OK;
    });
}

ZOLT_SIM_EXPORT ZOLT_setHeartbeat(BoardRecord* board, HeartbeatRecord* record) {
    if (const auto status = before(Operation::setHeartbeat, board, record)) return *status;
    return reading(board, record, [](Simulator& s, Board& b, const HeartbeatRecord& r) {
        const bool valid = r.byte0 == 0 || (r.byte0 == 1 && r.byte1 >= 1 && r.byte2 <= 1 &&
                                            r.real8 >= 0.001 && r.real8 <= 86400.0);
        return byChoice(valid, [&] {
            Settings& set = b.settings;
            set.heartbeatOn = r.byte0 == 1;
            if (set.heartbeatOn) {
                set.pulseWidth = r.byte1;
                set.polarity = r.byte2;
                set.period = static_cast<Nanos>(std::llround(r.real8 * 1e9));
            }
            beatsChanged(s, b);
        });
    });
}

ZOLT_SIM_EXPORT ZOLT_setMatchTime(BoardRecord* board, MatchRecord* record) {
    if (const auto status = before(Operation::setMatchTime, board, record)) return *status;
    return reading(board, record, [](Simulator& s, Board& b, const MatchRecord& r) {
        Settings& set = b.settings;
        if (r.byte0 == 0) {
            set.matchMode = 0;
            ++b.matchGeneration;
            return static_cast<std::uint8_t>(ZOLT_SIM_OK);
        }
        const Nanos ofDay = timeOfDay(r.real8, r.byte16, r.byte17);
        const Nanos now = s.boardNow(b);
        const int year = civil(now).year;
        bool valid = ofDay >= 0;
        Nanos target = 0;
        if (r.byte0 == 1) {
            valid = valid && r.word18 == 0;
            target = floorDiv(now, kDay) * kDay + ofDay;
            if (target <= now) target += kDay;
        } else if (r.byte0 == 2) {
            target = yearStart(year) + (static_cast<Nanos>(r.word18) - 1) * kDay + ofDay;
            valid = valid && r.word18 >= 1 && r.word18 <= daysInYear(year) && target > now;
        } else {
            valid = false;
        }
        return byChoice(valid, [&] {
            set.matchMode = r.byte0;
            set.matchTarget = target;
            ++b.matchGeneration;
        });
    });
}

ZOLT_SIM_EXPORT ZOLT_waitHeartbeat(BoardRecord* board, WaitRecord* record) {
    if (const auto status = before(Operation::waitHeartbeat, board, record)) return *status;
    if (record == nullptr) return nullRecord(board);
    return onBoard(board, [&](Simulator& s, Board& b, Slot& slot, Lock& lock) {
        std::uint32_t generation = b.beatGeneration;
        Nanos reference = s.boardNow(b);
        return waitOn(s, b, slot, lock, record->value0, [&]() -> Turn {
            const Settings& set = b.settings;
            if (!set.heartbeatOn) return finished(ZOLT_SIM_NOT_ARMED);
            if (generation != b.beatGeneration) {
                generation = b.beatGeneration;
                reference = b.beatReference;
            }
            const Nanos now = s.boardNow(b);
            Nanos target = (floorDiv(reference, set.period) + 1) * set.period;
            // The host's clock went back by more than a period.
            if (target - now > set.period) {
                reference = now;
                target = (floorDiv(now, set.period) + 1) * set.period;
            }
            if (now >= target) return finished(ZOLT_SIM_OK);
            return {false, 0, s.hostAt(b, target)};
        });
    });
}

ZOLT_SIM_EXPORT ZOLT_waitMatch(BoardRecord* board, WaitRecord* record) {
    if (const auto status = before(Operation::waitMatch, board, record)) return *status;
    if (record == nullptr) return nullRecord(board);
    return onBoard(board, [&](Simulator& s, Board& b, Slot& slot, Lock& lock) {
        const Nanos start = s.boardNow(b);
        std::uint32_t generation = b.matchGeneration - 1;
        Nanos target = 0;
        return waitOn(s, b, slot, lock, record->value0, [&]() -> Turn {
            const Settings& set = b.settings;
            if (generation != b.matchGeneration) {
                // The first match after the wait began.
                generation = b.matchGeneration;
                if (set.matchMode == 0) return finished(ZOLT_SIM_NOT_ARMED);
                target = set.matchTarget;
                if (target <= start) {
                    if (set.matchMode == 2) return finished(ZOLT_SIM_NOT_ARMED);
                    target += (floorDiv(start - target, kDay) + 1) * kDay;
                }
            }
            if (s.boardNow(b) >= target) return finished(ZOLT_SIM_OK);
            return {false, 0, s.hostAt(b, target)};
        });
    });
}

ZOLT_SIM_EXPORT ZOLT_waitEvent(BoardRecord* board, EventRecord* record) {
    if (const auto status = before(Operation::waitEvent, board, record)) return *status;
    if (record == nullptr) return nullRecord(board);
    const std::uint32_t limit = record->value0;
    Event event{};
    const std::uint8_t status = onBoard(board, [&](Simulator& s, Board& b, Slot& slot, Lock& lock) {
        return waitOn(s, b, slot, lock, limit, [&]() -> Turn {
            auto& events = b.settings.events;
            s.raiseDue(b);
            if (events.empty())
                return {false, 0, b.identity.eventsEvery ? s.hostAt(b, b.nextEvent) : kNever};
            event = events.front();
            events.pop_front();
            return finished(ZOLT_SIM_OK);
        });
    });
    const std::uint32_t wait = record->value0;
    *record = EventRecord{};
    record->value0 = wait;
    if (status != ZOLT_SIM_OK) return status;
    const Civil c = civil(event.tag);
    const Quadruple q = quadruple(c);
    record->real8 = q.seconds;
    record->byte16 = q.minutes;
    record->byte17 = q.hours;
    record->word18 = q.dayOfYear;
    record->word20 = static_cast<std::uint16_t>(c.year);
    record->byte22 = event.dropped;
    record->byte23 = event.number;
    return ZOLT_SIM_OK;
}

// Test hooks.

ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_reset(void) {
    bool created = false;
    Simulator& s = sim(&created);
    if (created) return;  // just configured: reading it all again would say it all twice
    const Lock lock(s.mutex);
    s.reset();
}

ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_useManualClock(std::int64_t unixNanoseconds) {
    Simulator& s = sim();
    const Lock lock(s.mutex);
    s.manualClock = true;
    s.manualNow = unixNanoseconds;
    s.anchorAllEvents();
    s.wakeAll();
}

ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_advanceClock(std::int64_t nanoseconds) {
    Simulator& s = sim();
    const Lock lock(s.mutex);
    if (!s.manualClock || nanoseconds < 0) return;
    s.manualNow += nanoseconds;
    s.wakeAll();
}

ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_useHostClock(void) {
    Simulator& s = sim();
    const Lock lock(s.mutex);
    s.manualClock = false;
    s.anchorAllEvents();
    s.wakeAll();
}

ZOLT_SIM_API int ZOLT_SIM_CALL zoltsim_waiting(std::uint32_t index) {
    Simulator& s = sim();
    const Lock lock(s.mutex);
    return index < ZOLT_SIM_MAX_BOARDS ? s.boards[index].waiting : 0;
}

ZOLT_SIM_API std::uint32_t ZOLT_SIM_CALL zoltsim_boardCount(void) {
    Simulator& s = sim();
    const Lock lock(s.mutex);
    return s.boardCount;
}

}  // extern "C"
