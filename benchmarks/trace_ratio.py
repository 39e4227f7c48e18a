#!/usr/bin/env python3
"""Runs the trace benchmark once and prints the cost of tracing getTime as a
ratio to the untraced call measured in the same run (CPU time of the calling
thread per call, median of the repetitions; the real time's ratio beside it,
which also shows any wait for the tracer's own thread). The goal is at most
4; the ratio is reported, not enforced: a shared machine's noise would make a
bound flaky. It also says in how many traced repetitions the calling thread
faulted on the trace file's pages: those outran the tracer's thread, because
the machine gave it new pages more slowly than the calls filled them (see
docs/performance.md).

Usage: trace_ratio.py BUILD_DIR [--repetitions N]"""
import argparse
import json
import pathlib
import statistics
import subprocess
import sys


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
    run = subprocess.run(
        [str(program), "--benchmark_format=json", f"--benchmark_repetitions={args.repetitions}"],
        check=True, capture_output=True, text=True)
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
    untracedReal = statistics.median(times[("untraced", "real_time")])
    tracedReal = statistics.median(times[("traced", "real_time")])
    print(f"getTime untraced {untraced:.1f} ns, traced {traced:.1f} ns (CPU, median of "
          f"{args.repetitions}): ratio {traced / untraced:.2f} (goal <= 4); real time "
          f"{untracedReal:.1f} ns, {tracedReal:.1f} ns: ratio {tracedReal / untracedReal:.2f}; "
          f"traced repetitions that waited for the file's pages: {faulted} of {args.repetitions}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
