/*
 * The tracing zolt driver: a shared library named zolt (libzolt.so,
 * zolt.dll) that sits between LV_zolt and the real driver. It forwards each
 * of the 24 operations to the real driver, unchanged, and writes every call
 * to a trace file: which operation, the record bytes going in and coming
 * out, the status, when, and on which thread. Neither the host, LV_zolt nor
 * the driver is changed.
 *
 * ---------------------------------------------------------------------------
 * Putting it in front of a driver
 *
 *   The build places it in build/<preset>/bin/trace/; an install with
 *   LV_ZOLT_INSTALL_TRACER=ON puts it, with this header, in lib/zolt-trace/
 *   (Windows: tracing-driver\), never over a driver that is not a tracer.
 *   LV_zolt loads the first zolt the loader finds, so:
 *
 *   Linux: put the tracer's folder ahead on the loader's path, or put
 *   libzolt.so of the tracer beside libLV_zolt.so (moving the real driver
 *   elsewhere), and name the real driver by its path:
 *
 *     LD_LIBRARY_PATH=/path/to/bin/trace \
 *     ZOLT_TRACE_DRIVER=/opt/vendor/lib/libzolt.so \
 *     ZOLT_TRACE_FILE=/tmp/run.trace.jsonl  my_host ...
 *
 *   (LD_LIBRARY_PATH comes before LV_zolt's own folder; a host program
 *   linked with an old-style DT_RPATH ignores it: use the placement beside
 *   libLV_zolt.so then.)
 *
 *   Windows: put the tracer's zolt.dll where the host finds zolt.dll (the
 *   host program's folder, ahead of the real one) and set
 *     set ZOLT_TRACE_DRIVER=C:\vendor\zolt.dll
 *   The real driver is loaded by that full path, so it may keep its own
 *   file name zolt.dll in another folder.
 *
 *   The real driver's calls of its own operations stay inside it: it is
 *   loaded with its own names first (RTLD_DEEPBIND on Linux; on Windows
 *   each module binds its own imports), so they are neither traced nor
 *   redirected to the tracer.
 *
 * ---------------------------------------------------------------------------
 * Environment (read once, at the first call of any operation)
 *
 *   ZOLT_TRACE_DRIVER  path of the real driver (required).
 *   ZOLT_TRACE_FILE    path of the trace file. Default: zolt-trace-<pid>.jsonl
 *                      in the current folder. The text "%p" in it is replaced
 *                      by the process id.
 *   ZOLT_TRACE_LIMIT   the file's size bound in bytes, decimal, optionally
 *                      followed by K, M or G (times 1024, 1024^2, 1024^3).
 *                      Default 64M (67108864). At least 4K; at most 1G on
 *                      32-bit targets, 1024G on 64-bit ones.
 *
 * ---------------------------------------------------------------------------
 * The trace file
 *
 *   JSON Lines, UTF-8: a header line, then one "enter" line written before
 *   each call reaches the driver and one "exit" line after it returns. Lines
 *   of concurrent calls never mix (each line's space is reserved whole), but
 *   they may appear out of order: "seq" numbers the calls in the order they
 *   entered. A call the process never returned from (killed, or crashed in
 *   the driver) has its enter line and no exit line.
 *
 *     {"trace":"zolt","version":1,"pid":..,"os":"linux"|"windows",
 *      "arch":"x86_64"|"i386",.."driver":"<absolute path>",
 *      "start":"<UTC, ISO 8601, microseconds>","clock_ns":..,"limit":..}
 *     {"ev":"enter","seq":N,"t":ns,"tid":..,"op":"getTime","handle":"0x..",
 *      "in":"<record bytes, hex>","unset":"<bytes LV_zolt leaves unset>"}
 *     {"ev":"exit","seq":N,"t":ns,"tid":..,"status":S,"dur":ns,
 *      "out":"<record bytes, hex>"}
 *
 *   t is the monotonic clock in nanoseconds (clock_ns in the header places
 *   it on the wall clock), read as the call enters the tracer and as the
 *   driver returns; dur is the difference, the time the call took (the
 *   enter line's writing, a fraction of a microsecond, included). open's enter
 *   line has "value" and no handle; its exit line the new "handle" and, on
 *   status 0, "word4" (the board value). The operations that take a 32-bit
 *   value have "value"; close, resetFirmware and simEvent only the handle.
 *   A record address that is null is not read: its line has no "in"/"out".
 *
 *   The file is mapped into memory at its full size (the limit), its disk
 *   space reserved up front (so that a full disk cannot end the host in the
 *   middle of a run; a disk without room for the limit refuses at the
 *   start), and written there: no system call per call, and whatever was
 *   written survives a kill of the process. At normal exit the file is cut to what was
 *   written; after a kill it keeps NUL bytes after the last line. When the
 *   next line would pass the limit, one line {"ev":"full","seq":N,"t":..}
 *   is written (N: the call that did not fit) and nothing more; calls still
 *   go to the driver.
 *
 *   The file is always created new, readable and writable by its owner
 *   only (mode 0600 on Linux; on Windows an access list that admits only
 *   the owner). It is never opened through a symbolic link. A file already
 *   at the path is replaced only when it is a regular file whose first line
 *   is a zolt trace header; anything else there is left alone and the
 *   tracer refuses to trace.
 *
 *   A child made by fork() does not write to its parent's trace: its calls
 *   go to the driver untraced, and its exit does not cut the file.
 *
 * ---------------------------------------------------------------------------
 * Its thread, and the cost of a call
 *
 *   On Linux the tracer starts one thread of its own, when the trace
 *   begins (at the first call of any operation), named "zolt-trace". It
 *   blocks every signal and does one thing: it asks the kernel to ready
 *   the file's pages (MADV_POPULATE_WRITE, 256 KiB at a time) up to 16 MiB
 *   ahead of where the lines are being written, so that the calling
 *   threads neither fault on the file's pages nor wait for the kernel to
 *   clear them. The writers wake it with one atomic step when they enter
 *   a new 256 KiB stretch; no call waits for it or takes a lock. It ends at
 *   the process's normal exit (or when the tracer is unloaded) before the
 *   file is cut; a child made by fork() has no such thread and does not
 *   wait for one. When the thread cannot be started, the calling threads
 *   ready each stretch themselves, as they would without it. Windows has
 *   no such thread: pages there come by faults.
 *
 *   On x86-64 the thread is made with clone(), not pthread_create(), and
 *   runs no C library code: a host with a single thread stays, for its C
 *   library, single-threaded, and keeps the library's fast paths (an
 *   uncontended mutex taken without an atomic step), which a pthread would
 *   end for the rest of the run. Debuggers and /proc/PID/task list it as
 *   usual.
 *
 *   Each call costs, beside the driver's own time, two readings of the
 *   monotonic clock, the formatting of two lines (about 250 bytes for
 *   getTime; the parts that repeat, the thread id, operation and handle,
 *   are made once per thread), three atomic steps and the copy into the
 *   mapping. docs/performance.md gives the measured figures.
 *
 * ---------------------------------------------------------------------------
 * Status
 *
 *   Every operation returns the real driver's status unchanged, except:
 *
 *   ZOLT_TRACE_UNAVAILABLE (240) from every operation, without calling any
 *   driver, when the tracer cannot trace: ZOLT_TRACE_DRIVER is not set, the
 *   driver cannot be loaded or lacks one of the 24 operations, it is a
 *   tracing driver itself (this one or a copy), ZOLT_TRACE_FILE or
 *   ZOLT_TRACE_LIMIT is unusable, or the trace file cannot be created. One
 *   line on stderr, "zolt trace: ...", says why. A host therefore never
 *   runs untraced believing it is traced.
 */
#ifndef ZOLT_TRACE_H
#define ZOLT_TRACE_H

#define ZOLT_TRACE_UNAVAILABLE 240

/* A function exported by every tracing driver; a driver that has it is
 * refused as the real driver. It returns the trace format version. */
#define ZOLT_TRACE_MARKER "zolt_trace_format"

#endif
