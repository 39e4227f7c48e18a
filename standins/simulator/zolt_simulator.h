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
 *   ZOLT_SIM_BOARDS). A board may be open through several handles at once
 *   (several threads or parts of a host); all of them see the same clock,
 *   settings and events. The handle points to a record whose 16-bit field at
 *   byte offset 4 is the board value: the board's serial number,
 *   ZOLT_SIM_SERIAL_BASE + index. On failure the handle variable is set to
 *   null.
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
 *   ZOLT_setTime and ZOLT_setYear establish, plus the propagation-delay
 *   correction; a board that was never set shows the host's time. The clock
 *   keeps running between calls. Leap seconds are not simulated.
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
 *   identifier (ZOLT_SIM_FIRMWARE_ID, ZOLT_SIM_FPGA_ID: major, minor, build)
 *   and bytes 3-11 with zeros.
 *
 *   ZOLT_getLatitude / ZOLT_getLongitude fill the AngleRecord with a fixed
 *   position: word0 (offset 0) signed whole degrees, real4 (offset 4) signed
 *   minutes of arc, 0 <= |minutes| < 60, with the same sign as the angle.
 *   North and east are positive, so 12 degrees 30 minutes west is (-12,
 *   -30.0) and half a degree south is (0, -30.0). Board i sits at latitude
 *   47 degrees 22.917 + 0.010 * i minutes north, longitude 8 degrees 32.533
 *   minutes east. ZOLT_getAltitude gives 408.5 + i metres above mean sea
 *   level as a 32-bit real.
 *
 *   ZOLT_getSatInfo fills the SatRecord: byte0 (offset 0) the number of
 *   satellites tracked, byte1 (offset 1) the fix: 0 none, 2 two-dimensional,
 *   3 three-dimensional. Every board tracks 9 satellites with a 3-D fix.
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
 *   and match off, oscillator, synchronisation, correction 0) and empties its
 *   event queue. The clock offset stays.
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
 *   tag is the board's clock at that moment. Events queue on the board (up
 *   to ZOLT_SIM_EVENT_QUEUE); when the queue is full the oldest is dropped.
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
 *         byte23 (offset 23)       the event's number on this board since
 *                                  power-on or reset, low 8 bits (1 first)
 *       Each event goes to exactly one waiter. On failure all seven fields
 *       are 0.
 *
 * ---------------------------------------------------------------------------
 * Configuration: environment variables, read when the driver is first used
 * (and again by zoltsim_reset).
 *
 *   ZOLT_SIM_BOARDS  number of simulated boards, a whole number from 1 to
 *                    ZOLT_SIM_MAX_BOARDS; default 2. Any other value prints
 *                    one line on stderr and the default is used.
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
 * with ZOLT_SIM_CLOSED_HANDLE), the host's clock in use, the environment
 * read again. */
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

/* How many threads are inside a wait on board `index` right now. A thread is
 * counted from the moment its wait has looked at the clock, so a test that
 * sees the count can move the clock without a race. */
ZOLT_SIM_API int ZOLT_SIM_CALL zoltsim_waiting(uint32_t index);

/* The number of simulated boards in use. */
ZOLT_SIM_API uint32_t ZOLT_SIM_CALL zoltsim_boardCount(void);

#ifdef __cplusplus
}
#endif

#endif /* ZOLT_SIMULATOR_H */
