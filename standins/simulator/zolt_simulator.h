/*
 * The simulated zolt driver: a shared library named zolt that stands in for
 * the board's driver, so that a host can be developed and tested without a
 * board. Place it beside LV_zolt (libzolt.so, zolt.dll); a host then uses it
 * exactly as it would the real driver, through LV_zolt's exports.
 *
 * This header documents what each simulated operation does and declares the
 * status codes, the configuration and the test hooks. Hosts that talk to
 * LV_zolt need only LV_zolt.h; the test hooks exist only in the simulator.
 *
 * The simulator lives inside the host's process: every process that loads it
 * has boards of its own, and nothing is shared between processes.
 *
 * ---------------------------------------------------------------------------
 * Boards and handles
 *
 *   ZOLT_open(&handle, index) opens simulated board `index` (0, 1, ...; see
 *   ZOLT_SIM_BOARDS and ZOLT_SIM_SCENARIO). A board may be open through
 *   several handles at once (several threads or parts of a host); all of
 *   them see the same clock, settings and events. The handle points to a
 *   record whose 16-bit field at byte offset 4 is the board value: the
 *   board's serial number, ZOLT_SIM_SERIAL_BASE + index unless a scenario
 *   gives another. On failure the handle variable is set to null.
 *
 *   ZOLT_close(handle) closes that handle; other handles of the board stay
 *   open. Waits in progress on the handle end with ZOLT_SIM_CLOSED_HANDLE.
 *   A closed handle is still recognised as closed until 1024 other handles
 *   have been closed after it; after that its memory may be issued again.
 *
 *   Every operation first checks the handle: a null one gives
 *   ZOLT_SIM_NULL_HANDLE, one this driver never issued ZOLT_SIM_UNKNOWN_HANDLE
 *   (it is never dereferenced), a closed one ZOLT_SIM_CLOSED_HANDLE. A null
 *   record address gives ZOLT_SIM_NULL_POINTER. A failed operation changes no
 *   setting; where it has a record to fill, it fills those fields with zeros.
 *
 * ---------------------------------------------------------------------------
 * The clock
 *
 *   Each board's clock is the host's clock (UTC) plus an offset that
 *   ZOLT_setTime and ZOLT_setYear establish (or a scenario's start), plus the
 *   propagation-delay correction; a board that was never set shows the
 *   host's time. The clock keeps running between calls. Leap seconds are not
 *   simulated.
 *
 *   ZOLT_getTime fills the TimeRecord with the current time:
 *     real0  (offset 0)  seconds within the minute, with fraction: 0 <= s < 60
 *     byte9  (offset 9)  minutes, 0-59
 *     byte10 (offset 10) hours, 0-23
 *     word12 (offset 12) day of the year, 1-366 (1 January is day 1)
 *     byte8, word14      0
 *   These four values, in this order, are the board's "time quadruple"; the
 *   match time and event time tags use the same one.
 *
 *   ZOLT_setTime reads from the TimeRecord:
 *     byte8  (offset 8)  seconds, 0-59
 *     byte9  (offset 9)  minutes, 0-59
 *     byte10 (offset 10) hours, 0-23
 *     word12 (offset 12) day of the year, 1-365, or 366 in a leap year
 *     word14 (offset 14) milliseconds, 0-999
 *   and sets the clock to that instant of the board's current year. The real
 *   (offset 0) and byte 11 are not read. A value out of range gives
 *   ZOLT_SIM_INVALID_VALUE and leaves the clock alone.
 *
 *   ZOLT_getDate fills the DateRecord: word0 (offset 0) the year, byte2
 *   (offset 2) the month 1-12, byte3 (offset 3) the day of the month 1-31.
 *
 *   ZOLT_setYear reads a 32-bit year, 1970-2200, and moves the clock to that
 *   year, keeping the day of the year and the time of day. A year out of
 *   range, or day 366 moved into a year that is not a leap year, gives
 *   ZOLT_SIM_INVALID_VALUE.
 *
 * ---------------------------------------------------------------------------
 * Identification, position and settings
 *
 *   ZOLT_getDriver(handle, revision) asks whether the driver serves interface
 *   revision `revision`: 0 for 1 to ZOLT_SIM_DRIVER_REVISION (revisions are
 *   backward compatible), ZOLT_SIM_UNSUPPORTED for any other value. The
 *   highest revision accepted is the driver value.
 *
 *   ZOLT_getFirmware and ZOLT_getFPGA fill bytes 0-2 of the IdBuffer with the
 *   identifier (ZOLT_SIM_FIRMWARE_ID, ZOLT_SIM_FPGA_ID: major, minor, build;
 *   or the scenario's) and bytes 3-11 with zeros.
 *
 *   ZOLT_getLatitude / ZOLT_getLongitude fill the AngleRecord with a fixed
 *   position: word0 (offset 0) signed whole degrees, real4 (offset 4) signed
 *   minutes of arc, 0 <= |minutes| < 60, with the same sign as the angle.
 *   North and east are positive, so 12 degrees 30 minutes west is (-12,
 *   -30.0) and half a degree south is (0, -30.0). Board i sits at latitude
 *   47 degrees 22.917 + 0.010 * i minutes north, longitude 8 degrees 32.533
 *   minutes east. ZOLT_getAltitude gives 408.5 + i metres above mean sea
 *   level as a 32-bit real. A scenario may place a board elsewhere.
 *
 *   ZOLT_getSatInfo fills the SatRecord: byte0 (offset 0) the number of
 *   satellites tracked, byte1 (offset 1) the fix: 0 none, 2 two-dimensional,
 *   3 three-dimensional. Every board tracks 9 satellites with a 3-D fix,
 *   unless a scenario says otherwise.
 *
 *   ZOLT_setOscillator(handle, source): ZOLT_SIM_OSC_DISCIPLINED (0, the
 *   power-on setting), ZOLT_SIM_OSC_EXTERNAL (1) or ZOLT_SIM_OSC_FREE (2).
 *   ZOLT_synchControl(handle, source): ZOLT_SIM_SYNC_OFF (0), _GNSS (1, the
 *   power-on setting) or _TIMECODE (2).
 *   ZOLT_synchStatus(handle, source) reports both: 0 when the board is
 *   synchronised to `source` (1 or 2), that is synchControl selected it and
 *   the oscillator is not free-running; ZOLT_SIM_NOT_SYNCHRONISED otherwise.
 *   ZOLT_setPropDelayCorr(handle, ns): a signed 32-bit correction in
 *   nanoseconds, -1000000 to 1000000 (power-on 0), added to the board's
 *   clock, so ZOLT_getTime and every time tag report it.
 *   Values out of range give ZOLT_SIM_INVALID_VALUE.
 *
 *   ZOLT_resetFirmware restores the power-on settings of the board (heartbeat
 *   and match off, oscillator, synchronisation, correction 0), empties its
 *   event queue and numbers events from 1 again. The clock offset stays, and
 *   so does all that a scenario gives the board (identity, schedule, fault
 *   counts).
 *
 * ---------------------------------------------------------------------------
 * Heartbeat, match and events
 *
 *   ZOLT_setHeartbeat reads the HeartbeatRecord:
 *     byte0 (offset 0)  0 turns the heartbeat off (the rest is not read),
 *                       1 turns it on
 *     byte1 (offset 1)  pulse width in milliseconds, 1-255 (stored only)
 *     byte2 (offset 2)  pulse polarity, 0 positive or 1 negative (stored only)
 *     real8 (offset 8)  seconds between beats, 0.001 to 86400
 *   Beats fall on the instants of the board's clock that are whole multiples
 *   of the period counted from 1970-01-01 00:00 UTC: with a period of 1 s,
 *   on every whole second.
 *
 *   ZOLT_setMatchTime reads the MatchRecord: byte0 (offset 0), the mode, and
 *   a time quadruple (real8, byte16, byte17, word18: seconds 0 <= s < 60,
 *   minutes, hours, day of the year).
 *     mode 0  match off (the rest is not read)
 *     mode 1  daily: matches every time the clock reaches that time of day;
 *             the day must be 0
 *     mode 2  once: matches when the clock reaches that day of the board's
 *             current year and time; the instant must lie in the future
 *   Through LV_zolt the day can only be 0 to 255.
 *
 *   ZOLT_simEvent raises an event on the board, from any thread: its time
 *   tag is the board's clock at that moment. A scenario may also raise
 *   events on a schedule. Events queue on the board (up to
 *   ZOLT_SIM_EVENT_QUEUE); when the queue is full the oldest is dropped.
 *
 *   The waits. The 32-bit value0 of the WaitRecord (and of the EventRecord)
 *   is a time limit in milliseconds on the host's clock: the wait returns
 *   ZOLT_SIM_TIMEOUT when the limit runs out first. 0 only looks whether the
 *   occurrence is already there. ZOLT_SIM_WAIT_FOREVER
 *   (0xFFFFFFFF, all ones) sets no limit. Any number of threads may wait on
 *   one board at once; each wait blocks only its calling thread.
 *     ZOLT_waitHeartbeat returns at the first beat after the call. With the
 *       heartbeat off it returns ZOLT_SIM_NOT_ARMED at once, or as soon as
 *       the heartbeat is turned off during the wait.
 *     ZOLT_waitMatch returns when the clock reaches the match time: for a
 *       daily match its next occurrence after the call. It returns
 *       ZOLT_SIM_NOT_ARMED when the match is off or its one instant has
 *       passed.
 *     A heartbeat wait always ends at a beat of the clock as it stands: if
 *     the clock or the heartbeat is set during the wait, it goes on to the
 *     next beat after that. A match wait ends when the clock reaches the
 *     instant it aimed at when it started: a clock set forward past it ends
 *     the wait, one set back prolongs it; a new match setting retargets it.
 *     ZOLT_waitEvent takes the oldest queued event, or waits for the next
 *       one, and fills the EventRecord:
 *         real8, byte16, byte17, word18 (offsets 8, 16, 17, 18) the time tag
 *                                  as a time quadruple
 *         word20 (offset 20)       the year of the time tag
 *         byte22 (offset 22)       events dropped from a full queue just
 *                                  before this one (at most 255)
 *         byte23 (offset 23)       the event's number on this board, low 8
 *                                  bits, 1 for the first since the driver
 *                                  was loaded, the last ZOLT_resetFirmware
 *                                  or zoltsim_reset
 *       Each event goes to exactly one waiter. On failure all seven fields
 *       are 0.
 *
 * ---------------------------------------------------------------------------
 * Configuration: environment variables, read when the driver is first used
 * (and again by zoltsim_reset).
 *
 *   ZOLT_SIM_BOARDS     number of simulated boards, a whole number from 1 to
 *                       ZOLT_SIM_MAX_BOARDS; default 2, or the highest board
 *                       index of the scenario plus one. Any other value
 *                       prints one line on stderr and is ignored. With a
 *                       scenario it may add boards (they keep the defaults)
 *                       but not leave out one the scenario describes: that
 *                       makes the scenario bad (below).
 *   ZOLT_SIM_SCENARIO   path of a scenario file (TOML, below); unset or
 *                       empty: no scenario.
 *
 * ---------------------------------------------------------------------------
 * Scenarios: boards that differ from the default, faults, latency, events.
 *
 *   Every key is optional unless marked; each table may appear any number
 *   of times. Numbers that are reals may be written as integers.
 *
 *   [[board]]             a board that differs from the default
 *   index = 0             required, 0-7; each board at most once
 *   serial = 4242         the board value, 0-65535
 *   firmware = "0A-0B-0C" three hex bytes (either case) for ZOLT_getFirmware
 *   fpga = "01-02-03"     the same for ZOLT_getFPGA
 *   latitude = -33.8568   decimal degrees, -90 to 90; south negative
 *   longitude = 151.2153  decimal degrees, -180 to 180; west negative
 *   altitude = 58.0       metres, -1000 to 100000
 *   satellites = 4        0-255
 *   fix = 2               0, 2 or 3
 *   start = "2030-01-01T00:00:00"
 *                         the board's clock when the scenario is loaded; a
 *                         string or a TOML date-time, UTC unless it carries
 *                         an offset ("...T00:00:00+02:00"); years 1970-2200.
 *                         The clock runs on from there.
 *
 *   The AngleRecord shows a position as signed whole degrees and signed
 *   minutes: whole = the degrees without their fraction, minutes = that
 *   fraction times 60, so -33.8568 is (-33, -51.408) and -0.5 is (0, -30.0).
 *   Minutes that round to 60 as a 32-bit real carry into the degrees.
 *
 *   [[fault]]             chosen calls of an operation fail
 *   operation = "getTime" required: an operation's name without ZOLT_
 *   board = 0             the board (0-7, simulated); omitted: every board
 *   calls = [2, 5]        which calls fail, counting this operation's calls
 *                         on this board from 1 (through any of its handles);
 *   after = 3             or every call after the 3rd;
 *   every = 4             or every 4th call. Exactly one of the three.
 *   status = 9            required, 1-255: the status the call returns
 *
 *   [[latency]]           calls take longer
 *   operation = "getDate" an operation; omitted: every operation
 *   board = 0             omitted: every board
 *   ms = 150              required, 0-60000: milliseconds added to each call
 *   jitter_ms = 20        0-60000: up to this many milliseconds more, drawn
 *   seed = 7              from a generator of this seed (default 0), one
 *                         draw per call delayed, so runs repeat
 *
 *   [[events]]            the board raises events on its own
 *   board = 0             omitted: every board (each board at most once)
 *   every = 0.3           required, 0.001-86400 seconds of the board's clock
 *
 *   Faults. Only calls on an open handle of the board count (and ZOLT_open
 *   of a board index in range); a bad handle gets its own status as always
 *   and is not counted. A failing call does nothing else: it changes no
 *   setting, opens, closes and consumes nothing (ZOLT_open sets the handle
 *   variable to null), and where it fills a record it fills it with zeros,
 *   keeping the time limit of an EventRecord. When several faults match a
 *   call, the first in the file gives the status.
 *
 *   Latency. The delays of every matching entry add up. A call is held
 *   before it does anything, on the clock in use (so the manual clock of
 *   the test hooks drives it and zoltsim_waiting counts it), and then runs
 *   or fails by a fault.
 *
 *   Scheduled events fall on the instants of the board's clock that are
 *   whole multiples of the period counted from 1970-01-01 00:00 UTC, each
 *   tagged with its instant and queued like a ZOLT_simEvent event. Setting
 *   the clock (ZOLT_setTime, ZOLT_setYear, ZOLT_setPropDelayCorr,
 *   ZOLT_resetFirmware) or changing the host clock the test hooks use is no
 *   time passing: the schedule goes on from the new time. Time that does
 *   pass unread fills the queue as raised events would.
 *
 *   A bad scenario: a file that cannot be read, is not TOML, or holds an
 *   unknown key, a value of the wrong type or out of range (or a
 *   ZOLT_SIM_BOARDS that leaves out one of its boards) prints one line on
 *   stderr, such as
 *     zolt simulator: s.toml:12: fault.status: 300 is out of range (1 to 255); ...
 *   and then every operation returns ZOLT_SIM_BAD_SCENARIO, whatever its
 *   arguments, null handles included: ZOLT_open sets the handle variable to
 *   null, so no handle is ever issued, and records to fill are filled with
 *   zeros. zoltsim_boardCount gives 0. Only a good file and zoltsim_reset
 *   (or a new process) end this.
 *
 *   zoltsim_reset reads the environment and the scenario file again: the
 *   boards get the scenario's identities and start times again, fault call
 *   counts and jitter generators start afresh, and the schedules go on from
 *   the new time.
 *
 * ---------------------------------------------------------------------------
 * Thread safety: every operation and hook may be called from any thread at
 * any time, on one board or on several.
 */
#ifndef ZOLT_SIMULATOR_H
#define ZOLT_SIMULATOR_H

#include <stdint.h>

#if defined(_WIN32)
#define ZOLT_SIM_CALL __cdecl
#if defined(ZOLT_SIM_BUILD)
#define ZOLT_SIM_API __declspec(dllexport)
#else
#define ZOLT_SIM_API __declspec(dllimport)
#endif
#else
#define ZOLT_SIM_CALL
#define ZOLT_SIM_API __attribute__((visibility("default")))
#endif

/* Status codes of the simulated operations. */
#define ZOLT_SIM_OK 0
#define ZOLT_SIM_NULL_HANDLE 1        /* the board handle is null */
#define ZOLT_SIM_UNKNOWN_HANDLE 2     /* not a handle this driver issued */
#define ZOLT_SIM_CLOSED_HANDLE 3      /* the handle was closed (also ends waits) */
#define ZOLT_SIM_NO_SUCH_BOARD 4      /* open: board index out of range */
#define ZOLT_SIM_NULL_POINTER 5       /* a record or handle-variable address is null */
#define ZOLT_SIM_INVALID_VALUE 6      /* a value outside its documented range */
#define ZOLT_SIM_TIMEOUT 7            /* a wait's time limit ran out */
#define ZOLT_SIM_NOT_ARMED 8          /* heartbeat or match off, or match passed */
#define ZOLT_SIM_NOT_SYNCHRONISED 9   /* synchStatus: not synchronised to that source */
#define ZOLT_SIM_UNSUPPORTED 10       /* getDriver: revision not served */
#define ZOLT_SIM_BAD_SCENARIO 11      /* ZOLT_SIM_SCENARIO is bad: every operation returns it */

/* Fixed values of the simulated boards. */
#define ZOLT_SIM_MAX_BOARDS 8
#define ZOLT_SIM_DEFAULT_BOARDS 2
#define ZOLT_SIM_SERIAL_BASE 4100
#define ZOLT_SIM_DRIVER_REVISION 3
#define ZOLT_SIM_FIRMWARE_ID {0x02, 0x07, 0x13}
#define ZOLT_SIM_FPGA_ID {0x01, 0x04, 0x2A}
#define ZOLT_SIM_EVENT_QUEUE 64
#define ZOLT_SIM_WAIT_FOREVER 0xFFFFFFFFu

#define ZOLT_SIM_OSC_DISCIPLINED 0
#define ZOLT_SIM_OSC_EXTERNAL 1
#define ZOLT_SIM_OSC_FREE 2
#define ZOLT_SIM_SYNC_OFF 0
#define ZOLT_SIM_SYNC_GNSS 1
#define ZOLT_SIM_SYNC_TIMECODE 2

#ifdef __cplusplus
extern "C" {
#endif

/* Test hooks. They are not part of the real driver: a host that uses them
 * runs only over the simulator. */

/* Every board back to its power-on state (clock offset 0, settings, empty
 * queue, event numbers from 1), every handle closed (waits in progress end
 * with ZOLT_SIM_CLOSED_HANDLE, calls held by a latency go on at once), the
 * host's clock in use, the environment and the scenario read again. */
ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_reset(void);

/* From now on the host's clock is a manual one standing at `unixNanoseconds`
 * (nanoseconds since 1970-01-01 00:00 UTC) that moves only by
 * zoltsim_advanceClock. Waits then end only when the manual clock gets there. */
ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_useManualClock(int64_t unixNanoseconds);

/* Moves the manual clock forward by `nanoseconds` (>= 0) and lets every wait
 * look at the new time; does nothing on the host's clock. */
ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_advanceClock(int64_t nanoseconds);

/* Back to the host's own clock. */
ZOLT_SIM_API void ZOLT_SIM_CALL zoltsim_useHostClock(void);

/* How many threads are inside a wait on board `index` right now, calls held
 * by a scenario's latency included. A thread is counted from the moment its
 * wait has looked at the clock, so a test that sees the count can move the
 * clock without a race. */
ZOLT_SIM_API int ZOLT_SIM_CALL zoltsim_waiting(uint32_t index);

/* The number of simulated boards in use; 0 with a bad scenario. */
ZOLT_SIM_API uint32_t ZOLT_SIM_CALL zoltsim_boardCount(void);

#ifdef __cplusplus
}
#endif

#endif /* ZOLT_SIMULATOR_H */
