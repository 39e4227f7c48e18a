#!/usr/bin/env python3
"""Runs the trace benchmark and prints the cost of tracing getTime as a ratio
to the untraced call measured in the same run (CPU time of the calling thread
per call, median of the repetitions; the real time's ratio beside it, which
also shows any wait for the tracer's own thread). The goal is at most 4; the
ratio is reported, not enforced: a shared machine's noise would make a bound
flaky.

It runs twice. First on memory as the machine has it; then after writing and
deleting a file as large as the trace will grow (LV_ZOLT_TRACE_BENCHMARK_WARM_MB),
so that the trace's pages are ones the machine has just used. On a virtual
machine whose host takes free memory back, the first run's figure is mostly
the host handing pages out again (docs/performance.md). Each line says in how
many traced repetitions the calling thread faulted on the trace file's pages,
that is, outran the tracer's thread.

Usage: trace_ratio.py BUILD_DIR [--repetitions N]"""
import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys

# Calls a repetition and before the first, as in trace_benchmark.cpp, and a
# call's two trace lines; the file written first is half as large again as
# the trace, since other allocations take some of the pages it frees.
CALLS, WARM_UP_CALLS, BYTES_PER_CALL = 300000, 200000, 265


def measure(program: pathlib.Path, repetitions: int, warm_mib: int) -> str:
    environment = dict(os.environ, LV_ZOLT_TRACE_BENCHMARK_WARM_MB=str(warm_mib))
    run = subprocess.run(
        [str(program), "--benchmark_format=json", f"--benchmark_repetitions={repetitions}"],
        check=True, capture_output=True, text=True, env=environment)
    times: dict[tuple[str, str], list[float]] = {}
    faulted = 0
    for b in json.loads(run.stdout)["benchmarks"]:
        if b.get("run_type") == "iteration":
            for clock in ("cpu_time", "real_time"):
                times.setdefault((b["run_name"].split("/")[0], clock), []).append(b[clock])
            if b["run_name"].startswith("traced") and b.get("faults", 0) > 0:
                faulted += 1
    untraced = statistics.median(times[("untraced", "cpu_time")])
    traced = statistics.median(times[("traced", "cpu_time")])
    untraced_real = statistics.median(times[("untraced", "real_time")])
    traced_real = statistics.median(times[("traced", "real_time")])
    return (f"getTime untraced {untraced:.1f} ns, traced {traced:.1f} ns (CPU, median of "
            f"{repetitions}): ratio {traced / untraced:.2f} (goal <= 4); real time "
            f"{untraced_real:.1f} ns, {traced_real:.1f} ns: ratio "
            f"{traced_real / untraced_real:.2f}; traced repetitions that waited for the "
            f"file's pages: {faulted} of {repetitions}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    if not 1 <= args.repetitions <= 12:
        print("trace_ratio: --repetitions is 1 to 12 (the trace of more would fill its 1 GiB)",
              file=sys.stderr)
        return 2
    program = args.build / "benchmarks" / "lv_zolt_trace_benchmark"
    if not program.exists():
        print(f"trace_ratio: {program} not built", file=sys.stderr)
        return 2
    warm_mib = (WARM_UP_CALLS + CALLS * args.repetitions) * BYTES_PER_CALL * 3 // 2 >> 20
    print("memory as found:", measure(program, args.repetitions, 0))
    print(f"memory just used ({warm_mib} MiB written and deleted first):",
          measure(program, args.repetitions, warm_mib))
    return 0


if __name__ == "__main__":
    sys.exit(main())
