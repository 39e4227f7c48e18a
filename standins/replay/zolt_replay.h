/*
 * The replay driver: a shared library named zolt that answers a host's calls
 * from a trace recorded by the tracing driver, so that a run recorded once on
 * a board can be played again without one (in CI, for instance). Place it
 * beside LV_zolt (libzolt.so, zolt.dll) or ahead of it on the loader's path;
 * a host then runs unchanged. This header is its manual.
 *
 * ---------------------------------------------------------------------------
 * Configuration: environment variables, read at the first call of any
 * operation (or at process exit when there was none).
 *
 *   ZOLT_REPLAY_FILE       the trace to play (required).
 *   ZOLT_REPLAY_EXHAUSTED  what a call gets once the recordings of its key are
 *                          used up: "fail" (default) status
 *                          ZOLT_REPLAY_NOT_RECORDED, or "repeat-last" the last
 *                          recording of that key again.
 *   ZOLT_REPLAY_TIMING     "instant" (default): every call, waits included,
 *                          is answered at once; "recorded": each answered call
 *                          lasts as long as it did when recorded.
 *   ZOLT_REPLAY_REPORT     where to write the report (see below); none when
 *                          unset.
 *   An empty value counts as unset. No ZOLT_REPLAY_FILE, a trace that cannot
 *   be read, or any other value of these variables prints one line on stderr
 *   naming the variable and value (or the file and line), and from then on
 *   every operation returns ZOLT_REPLAY_BAD_TRACE: a host never talks
 *   silently to nothing.
 *
 * ---------------------------------------------------------------------------
 * Matching. A call is looked up by its key: the operation, the board it is
 * made on and its inputs -- the value of open and of the value operations,
 * the bytes of the record the layer sets (the bytes it leaves unset are
 * ignored). Each key has a queue of its recordings in the order they were
 * recorded: identical calls get the recorded answers one after the other (a
 * host polling getTime gets each recorded time once, in order). Calls on
 * several threads match per key, so their interleaving need not be the
 * recorded one. A matched call gets the recorded status and the record bytes
 * as the recorded driver left them.
 *
 *   Boards. Each successful open issues a handle of the replay driver's own,
 *   whose BoardRecord holds the recorded board value at offset 4; the board
 *   is the recorded board that the matched open opened, so the n-th open
 *   with a given value gets the n-th such recorded open. Boards are named in
 *   messages and the report by their number in the recorded order of
 *   opening ("board 1" first). A handle stays known after close, so calls on
 *   a closed handle replay what the recorded driver answered to them. A
 *   recorded open that failed is answered with its status and no new handle:
 *   the handle variable gets the value the recorded driver left there (null,
 *   as a rule).
 *
 *   Handles the replay driver did not issue (null, say) are matched by their
 *   value against recorded calls on handles that no recorded open returned;
 *   a call on such a handle that the trace does not hold gets
 *   ZOLT_REPLAY_NOT_RECORDED. Handles are never dereferenced.
 *
 *   A call the trace does not hold, or whose recordings are used up under
 *   ZOLT_REPLAY_EXHAUSTED=fail, returns ZOLT_REPLAY_NOT_RECORDED at once and
 *   prints one line on stderr naming the call and the nearest recorded call
 *   (its file and line) with the fields that differ. Such a call, like every
 *   call answered ZOLT_REPLAY_BAD_TRACE, gets zeros in the fields of its
 *   record that the layer reads, and an open a null handle.
 *
 *   A recorded call that never returned (the recording process ended inside
 *   the driver: an entry without an exit) cannot be replayed: the call it
 *   matches gets ZOLT_REPLAY_NOT_RECORDED and a line naming it.
 *
 *   A trace that filled its size bound ("full at call N") or was cut short by
 *   a kill is played as far as it goes; a full trace prints one line saying
 *   so, since the calls after it were not recorded.
 *
 * ---------------------------------------------------------------------------
 * The report (ZOLT_REPLAY_REPORT), JSON, one object:
 *
 *   {"report":"zolt-replay","version":1,
 *    "trace":"FILE","finished":true,"error":null,
 *    "exhausted":"fail","timing":"instant",
 *    "played":12,"repeated":0,"notMatched":0,"unplayed":0,"notReturned":0,
 *    "complete":true,
 *    "operations":{"getTime":{"recorded":3,"played":3,"repeated":0,
 *                             "notMatched":0,"unplayed":0,"notReturned":0},...}}
 *
 *   played      calls answered from a recording (first use of it)
 *   repeated    calls answered again from the last recording of their key
 *               (ZOLT_REPLAY_EXHAUSTED=repeat-last)
 *   notMatched  calls answered ZOLT_REPLAY_NOT_RECORDED
 *   unplayed    recordings that no call used
 *   notReturned recordings of calls that never returned and no call reached
 *   operations  the same per operation, for every operation that was recorded
 *               or called; "recorded" counts its recordings.
 *   error       null, or the line printed when the trace or a variable was
 *               bad (every call then returned ZOLT_REPLAY_BAD_TRACE)
 *   finished    false in the report written when the replay starts; the one
 *               written at normal process exit has true. A report still
 *               false means the host ended without exiting normally.
 *   complete    finished, no error, notMatched 0 and unplayed 0: the host
 *               made exactly the recorded calls.
 *
 *   `zolt-trace check-report REPORT` checks one: exit status 0 complete,
 *   1 incomplete (with what is missing), 2 not a readable report.
 *
 * ---------------------------------------------------------------------------
 * Thread safety: every operation may be called from any thread; one lock
 * guards the queues and is not held while a call sleeps its recorded time.
 */
#ifndef ZOLT_REPLAY_H
#define ZOLT_REPLAY_H

#include <stdint.h>

#if defined(_WIN32)
#define ZOLT_REPLAY_CALL __cdecl
#if defined(ZOLT_REPLAY_BUILD)
#define ZOLT_REPLAY_API __declspec(dllexport)
#else
#define ZOLT_REPLAY_API __declspec(dllimport)
#endif
#else
#define ZOLT_REPLAY_CALL
#define ZOLT_REPLAY_API __attribute__((visibility("default")))
#endif

/* Status codes of the replay driver; every other status is a recorded one. */
#define ZOLT_REPLAY_NOT_RECORDED 241 /* the trace holds no (further) answer to this call */
#define ZOLT_REPLAY_BAD_TRACE 242    /* no trace: unreadable, damaged, or bad settings */

#ifdef __cplusplus
extern "C" {
#endif

/* Test hook, not part of a real driver: ends the replay in progress as the
 * process exit would (its report is written), then reads the environment and
 * the trace afresh. Handles issued before stay unknown to the new replay. */
ZOLT_REPLAY_API void ZOLT_REPLAY_CALL zoltreplay_restart(void);

#ifdef __cplusplus
}
#endif

#endif
