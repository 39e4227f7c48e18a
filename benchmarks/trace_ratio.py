#!/usr/bin/env python3
"""Runs the trace benchmark once and prints the cost of tracing getTime as a
ratio to the untraced call measured in the same run (CPU time per call,
median of the repetitions). The goal is at most 4; the ratio is reported,
not enforced: a shared machine's noise would make a bound flaky.

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
    program = args.build / "benchmarks" / "lv_zolt_trace_benchmark"
    if not program.exists():
        print(f"trace_ratio: {program} not built", file=sys.stderr)
        return 2
    run = subprocess.run(
        [str(program), "--benchmark_format=json", f"--benchmark_repetitions={args.repetitions}"],
        check=True, capture_output=True, text=True)
    times: dict[str, list[float]] = {}
    for b in json.loads(run.stdout)["benchmarks"]:
        if b.get("run_type") == "iteration":
            times.setdefault(b["run_name"].split("/")[0], []).append(b["cpu_time"])
    untraced = statistics.median(times["untraced"])
    traced = statistics.median(times["traced"])
    print(f"getTime untraced {untraced:.1f} ns, traced {traced:.1f} ns (CPU, median of "
          f"{args.repetitions}): ratio {traced / untraced:.2f} (goal <= 4)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
