#!/usr/bin/env python3
"""Instructions that LV_zolt itself executes per call of each export, against
its bound.

Runs lv_zolt_call_every_export of a performance build under callgrind, N and
2N calls of each export, and takes each export's inclusive count minus that
of its driver operation, per call (the difference of the two runs leaves out
one-off costs). Fails when an export goes over its bound, makes other than
one driver call per call, or when an object of the layer holds writable data
or a function-local static.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools" / "interface"))
import header  # noqa: E402

HEADER = Path(__file__).resolve().parent.parent / "include" / "LV_zolt.h"


def bound(export):
    """(kind, bound) by what the export takes after the board handle."""
    names = [p.name for p in export.parameters[1:]]
    if names in ([], ["value"]):
        return "pass-through", 2
    if names == ["text"]:
        return "identification", 50
    if export.operation == "waitEvent":
        return "record", 44
    return "record", 30


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw).stdout


def layer_costs(program, calls, out):
    """Per function of libLV_zolt: (self cost + cost of calls other than the
    driver operation, driver calls)."""
    run(["valgrind", "--tool=callgrind", "--compress-strings=no", "--compress-pos=no",
         f"--callgrind-out-file={out}", str(program), str(calls)],
        env=dict(os.environ, LD_BIND_NOW="1"))
    funcs, ob, fn, cfn, calls_line = {}, None, None, None, None
    for line in out.read_text().splitlines():
        key, _, value = line.partition("=")
        if key == "ob":
            ob = value
        elif key == "fn":
            fn = value
        elif key == "cfn":
            cfn = value
        elif key == "calls":
            calls_line = int(value.split()[0])
        elif line[:1].isdigit() or line[:1] in "+-*":
            if fn is None or "libLV_zolt" not in (ob or ""):
                calls_line = None
                continue
            cost = int(line.split()[1]) if len(line.split()) > 1 else 0
            f = funcs.setdefault(fn, [0, 0])
            if calls_line is None or cfn != f"ZOLT_{fn[len('LV_ZOLT_'):]}":
                f[0] += cost
            else:
                f[1] += calls_line
            calls_line = None
    return funcs


def writable(obj):
    """Writable data sections and function-local statics of an object."""
    found = []
    for line in run(["objdump", "-h", "-w", str(obj)]).splitlines():
        m = re.match(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+(?:\S+\s+){4}(.*)$", line)
        if m and int(m[2], 16) and "ALLOC" in m[3] and not {"READONLY", "CODE"} & set(
                m[3].replace(",", " ").split()):
            found.append(f"{m[1]} ({int(m[2], 16)} bytes)")
    found += [n for n in run(["nm", str(obj)]).split() if re.match(r"^_{1,2}Z(Z|GV)", n)]
    return found


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build", type=Path, help="build folder of a performance preset")
    ap.add_argument("--calls", type=int, default=1000, help="calls of each export per run")
    args = ap.parse_args()
    program = args.build / "benchmarks" / "lv_zolt_call_every_export"
    if args.calls < 1 or not program.exists():
        print(f"callgrind_bounds: needs --calls >= 1 and {program} (build a performance preset)",
              file=sys.stderr)
        return 2
    exports = header.read(HEADER)
    with tempfile.TemporaryDirectory() as tmp:
        once = layer_costs(program, args.calls, Path(tmp) / "once.out")
        twice = layer_costs(program, 2 * args.calls, Path(tmp) / "twice.out")
    errors = []
    print(f"{'export':26}{'kind':16}{'bound':7}instructions")
    for export in sorted(exports, key=lambda e: e.name.lower()):
        kind, limit = bound(export)
        (cost1, driver1), (cost2, driver2) = once.get(export.name, (0, 0)), twice.get(
            export.name, (0, 0))
        count = (cost2 - cost1) / args.calls
        if driver2 - driver1 != args.calls:
            errors.append(f"{export.name} made {driver2 - driver1} driver calls in {args.calls}")
        if count > limit:
            errors.append(f"{export.name}: {count:g} instructions, bound {limit}")
        print(f"{export.name:26}{kind:16}{'<= ' + str(limit):7}{count:g}"
              f"{'' if count <= limit else '  OVER'}")
    objects = sorted((args.build / "src" / "CMakeFiles" / "LV_zolt.dir").rglob("*.o"))
    if not objects:
        errors.append("no objects of LV_zolt in the build")
    errors += [f"{obj.name}: {what}" for obj in objects for what in writable(obj)]
    for error in errors:
        print(f"FAIL: {error}", file=sys.stderr)
    if not errors:
        print(f"writable data and function-local statics in {len(objects)} objects: none")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
