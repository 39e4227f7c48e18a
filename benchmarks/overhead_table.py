#!/usr/bin/env python3
"""Runs the overhead benchmark and prints, for each export, the median time
per call of the direct driver call and of the export, and their difference.

Times are CPU time per call, median over the repetitions. They vary with the
machine and its load; the instruction counts of callgrind_bounds.py are the
figures to compare across machines. Extra arguments go to the benchmark.
"""
import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build", type=Path, help="build folder of a performance preset")
    ap.add_argument("--repetitions", type=int, default=9)
    ap.add_argument("--min-time", type=float, default=0.2, help="seconds per repetition")
    args, extra = ap.parse_known_args()
    if args.repetitions < 1 or args.min_time <= 0:
        print("overhead_table: --repetitions must be at least 1 and --min-time above 0",
              file=sys.stderr)
        return 2
    program = args.build / "benchmarks" / "lv_zolt_overhead_benchmark"
    if not program.exists():
        print(f"overhead_table: {program} is missing: build a performance preset first",
              file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "result.json"
        run = subprocess.run(
            [str(program), f"--benchmark_repetitions={args.repetitions}",
             f"--benchmark_min_time={args.min_time}", "--benchmark_report_aggregates_only=true",
             "--benchmark_enable_random_interleaving=true", f"--benchmark_out={out}",
             "--benchmark_out_format=json", *extra],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if run.returncode != 0:
            print(f"overhead_table: the benchmark failed:\n{run.stderr}", file=sys.stderr)
            return 1
        result = json.loads(out.read_text())

    medians = {}
    for b in result["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        side, name = b["run_name"].split("/", 1)
        medians.setdefault(name, {})[side] = b["cpu_time"] * scale
    if not medians:
        print("overhead_table: the benchmark reported no medians", file=sys.stderr)
        return 1

    ctx = result.get("context", {})
    print(f"{ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz, "
          f"{ctx.get('library_build_type', '?')} Google Benchmark; median CPU ns per call "
          f"over {args.repetitions} repetitions")
    rows = [("export", "direct ns", "export ns", "difference ns")]
    for name in sorted(medians, key=str.lower):
        m = medians[name]
        if "direct" not in m or "export" not in m:
            continue
        rows.append((f"LV_ZOLT_{name}", f"{m['direct']:.2f}", f"{m['export']:.2f}",
                     f"{m['export'] - m['direct']:+.2f}"))
    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    for r in rows:
        print("  ".join([r[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(r[1:], widths[1:])]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
