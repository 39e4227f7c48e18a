#!/usr/bin/env python3
"""Instructions that LV_zolt itself executes per call of each export, and its
code size and writable data.

x86-64: measured with callgrind on a build that has the benchmark programs
(the performance presets): each export's inclusive count minus that of its
driver operation, per call, the trampoline to the driver included. Fails when
an export goes over its bound or makes other than one driver call per call.

i386 and Win32 (which valgrind cannot run here): the same sources compiled
with the build's own flags by g++ -m32 and i686-w64-mingw32-g++, counted from
the disassembly: the export's instructions (every export is straight-line on
its success path) plus those of the trampoline it reaches the driver through.

Also fails when any object of the layer has writable data or a function-local
static.
"""
import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

PASS_THROUGH = ["close", "getDriver", "resetFirmware", "setOscillator", "setPropDelayCorr",
                "simEvent", "synchControl", "synchStatus"]
IDENTIFICATION = ["getFirmware", "getFPGA"]
RECORD = ["open", "getTime", "setTime", "getDate", "setYear", "getAltitude", "getLatitude",
          "getLongitude", "getSatInfo", "setHeartbeat", "setMatchTime", "waitHeartbeat",
          "waitMatch"]
BOUNDS = {**{n: ("pass-through", 2) for n in PASS_THROUGH},
          **{n: ("identification", 50) for n in IDENTIFICATION},
          **{n: ("record", 30) for n in RECORD},
          "waitEvent": ("record", 40)}
NAMES = sorted(BOUNDS, key=str.lower)

# Instructions of the trampoline an export passes through to reach the driver:
# i386's program-counter thunk (mov, ret) and Win32's import thunk (jmp).
PC_THUNK = re.compile(r"__x86\.get_pc_thunk\.\w+")
PADDING = re.compile(r"^(nop\w*|xchg\s+%ax,%ax|lea\s+0x0\(%[er]?si(,%eiz,1)?\),%[er]?si|"
                     r"data16.*|cs nopw.*|int3)\s*$")


class Failure(Exception):
    pass


def run(cmd, **kw):
    try:
        return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw).stdout
    except FileNotFoundError:
        raise Failure(f"{cmd[0]} is not installed")
    except subprocess.CalledProcessError as e:
        raise Failure(f"{' '.join(map(str, cmd))} failed:\n{e.stderr.strip()}")


# ---- x86-64: callgrind ---------------------------------------------------

def parse_callgrind(text):
    """Per function of libLV_zolt: self cost, and calls made (callee -> [count, cost])."""
    funcs = {}
    ob = cob = fn = cfn = None
    pending_calls = None
    for line in text.splitlines():
        if line.startswith("ob="):
            ob = line[3:]
        elif line.startswith("fn="):
            fn = line[3:]
            cob = ob
        elif line.startswith("cob="):
            cob = line[4:]
        elif line.startswith("cfn="):
            cfn = line[4:]
        elif line.startswith("calls="):
            pending_calls = int(line.split()[0][6:])
        elif line[:1].isdigit() or line[:1] in "+-*":
            parts = line.split()
            cost = int(parts[1]) if len(parts) > 1 else 0
            if fn is None or "libLV_zolt" not in (ob or ""):
                pending_calls = None
                continue
            f = funcs.setdefault(fn, {"self": 0, "calls": {}})
            if pending_calls is not None:
                c = f["calls"].setdefault(cfn, [0, 0])
                c[0] += pending_calls
                c[1] += cost
                pending_calls = None
                cob = ob
            else:
                f["self"] += cost
    return funcs


def layer_costs(program, calls, workdir):
    """Per export: (total layer instructions, driver calls) for one run."""
    out = Path(workdir) / f"callgrind.{calls}.out"
    env = dict(os.environ, LD_BIND_NOW="1")
    run(["valgrind", "--tool=callgrind", "--compress-strings=no", "--compress-pos=no",
         f"--callgrind-out-file={out}", str(program), str(calls)], env=env)
    funcs = parse_callgrind(out.read_text())
    result = {}
    for name in NAMES:
        f = funcs.get(f"LV_ZOLT_{name}")
        if f is None:
            raise Failure(f"callgrind saw no call of LV_ZOLT_{name}")
        driver = f["calls"].get(f"ZOLT_{name}", [0, 0])
        others = sum(c[1] for callee, c in f["calls"].items() if callee != f"ZOLT_{name}")
        result[name] = (f["self"] + others, driver[0])
    return result


def x86_64_counts(build, calls, workdir):
    program = build / "benchmarks" / "lv_zolt_call_every_export"
    if not program.exists():
        raise Failure(f"{program} is missing: build a performance preset first")
    once = layer_costs(program, calls, workdir)
    twice = layer_costs(program, 2 * calls, workdir)
    counts, errors = {}, []
    # The difference of two runs leaves out whatever happens only once.
    for name in NAMES:
        (cost1, driver1), (cost2, driver2) = once[name], twice[name]
        if driver2 - driver1 != calls:
            errors.append(f"LV_ZOLT_{name} made {driver2 - driver1} driver calls in {calls} calls")
        counts[name] = (cost2 - cost1) / calls
    return counts, errors


# ---- i386 and Win32: disassembly ------------------------------------------

def layer_sources(build):
    path = build / "compile_commands.json"
    if not path.exists():
        raise Failure(f"{path} is missing: configure the build first")
    entries = []
    for e in json.loads(path.read_text()):
        args = shlex.split(e["command"])
        output = args[args.index("-o") + 1] if "-o" in args else ""
        if "CMakeFiles/LV_zolt.dir/" in output:
            entries.append(dict(e, output=output))
    if not entries:
        raise Failure(f"{path} has no sources of LV_zolt")
    return entries


def compile_for(entries, compiler, extra, drop, outdir):
    """Each source of LV_zolt compiled with the build's flags by another compiler."""
    objects = []
    outdir.mkdir(parents=True, exist_ok=True)
    for e in entries:
        args = shlex.split(e["command"])[1:]
        flags, skip = [], False
        for a in args:
            if skip:
                skip = False
            elif a in ("-o", "-c"):
                skip = True
            elif a not in drop:
                flags.append(a)
        obj = outdir / (Path(e["file"]).stem + ".o")
        run(compiler + extra + flags + ["-c", e["file"], "-o", str(obj)], cwd=e["directory"])
        objects.append(obj)
    return objects


def disassembled_exports(objects, prefix):
    """name -> (instructions, trampoline instructions, bytes) for each export."""
    result = {}
    for obj in objects:
        text = run(["objdump", "-dr", "--no-show-raw-insn", "-M", "att", str(obj)])
        current, body = None, []
        blocks = []
        for line in text.splitlines():
            m = re.match(r"^([0-9a-f]+) <(.+)>:$", line)
            if m:
                if current:
                    blocks.append((current, body))
                current, body = m.group(2), []
                continue
            if current is None:
                continue
            # An instruction has a tab after its address, a relocation a space.
            m = re.match(r"^\s+([0-9a-f]+):\t(.*)$", line)
            if m:
                body.append(("insn", int(m.group(1), 16), m.group(2).strip()))
                continue
            m = re.match(r"^\s+[0-9a-f]+: (\S+)\s+(\S+)$", line)
            if m:
                body.append(("reloc", m.group(1), m.group(2)))
        if current:
            blocks.append((current, body))
        for sym, body in blocks:
            if not sym.startswith(prefix + "LV_ZOLT_"):
                continue
            name = sym[len(prefix) + len("LV_ZOLT_"):]
            insns = [b for b in body if b[0] == "insn"]
            while insns and PADDING.match(insns[-1][2]):
                insns.pop()
            trampoline = 0
            for b in body:
                if b[0] != "reloc":
                    continue
                kind, target = b[1], b[2]
                if PC_THUNK.search(target):
                    trampoline += 2
                elif re.fullmatch(rf"{prefix}ZOLT_\w+", target) and kind != "R_386_GOT32X":
                    # A call by name reaches the driver through one jump: the
                    # procedure linkage table's on i386, the import thunk's on
                    # Win32. A call through the address table has none.
                    trampoline += 1
            size = insns[-1][1] - insns[0][1] + instruction_length(obj, insns[-1][1]) if insns else 0
            result[name] = (len(insns), trampoline, size)
    return result


_lengths = {}


def instruction_length(obj, address):
    key = (obj, address)
    if key not in _lengths:
        text = run(["objdump", "-d", f"--start-address={address}", f"--stop-address={address + 16}",
                    str(obj)])
        lines = [l for l in text.splitlines() if re.match(r"^\s+[0-9a-f]+:\t", l)]
        _lengths[key] = len(lines[0].split("\t")[1].split()) if lines else 0
    return _lengths[key]


# ---- data and code size ---------------------------------------------------

def writable_data(obj):
    """Sections of an object that would hold writable data, with their sizes."""
    text = run(["objdump", "-h", "-w", str(obj)])
    found = []
    for line in text.splitlines():
        m = re.match(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+\S+\s+\S+\s+\S+\s+\S+\s+(.*)$", line)
        if not m:
            continue
        name, size, flags = m.group(1), int(m.group(2), 16), m.group(3)
        # .drectve holds the linker's directives (the export list), which the
        # linker reads and drops.
        if name == ".drectve":
            continue
        if size and "ALLOC" in flags and "READONLY" not in flags and "CODE" not in flags:
            found.append(f"{name} ({size} bytes)")
    return found


def local_statics(obj):
    # Function-local statics and their guards are mangled as _ZZ... and _ZGV...
    names = run(["nm", str(obj)]).split()
    return sorted(n for n in names if re.match(r"^_{1,2}Z(Z|GV)", n))


def library_text(lib):
    sizes = {}
    for line in run(["nm", "-S", "--defined-only", str(lib)]).splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[3].startswith("LV_ZOLT_"):
            sizes[parts[3][len("LV_ZOLT_"):]] = int(parts[1], 16)
    return sizes


# ---- report ---------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build", type=Path, help="build folder of a performance preset")
    ap.add_argument("--calls", type=int, default=1000, help="calls of each export per run")
    args = ap.parse_args()
    if args.calls < 1:
        raise Failure("--calls must be at least 1")
    build = args.build.resolve()
    if not build.is_dir():
        raise Failure(f"{args.build} is not a folder")
    lib = build / "bin" / "libLV_zolt.so"
    if not lib.exists():
        raise Failure(f"{lib} is missing: build the preset first")

    errors = []
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        x64, call_errors = x86_64_counts(build, args.calls, tmp)
        errors += call_errors
        entries = layer_sources(build)
        x64_objects = [Path(e["directory"]) / e["output"] for e in entries]
        i386_objects = compile_for(entries, ["g++"], ["-m32"], set(), tmp / "i386")
        win32_objects = compile_for(entries, ["i686-w64-mingw32-g++"], [], {"-fPIC", "-fno-plt"}, tmp / "win32")
        i386 = disassembled_exports(i386_objects, "")
        win32 = disassembled_exports(win32_objects, "_")
        sizes = library_text(lib)
        for target, objects in (("x86-64", x64_objects), ("i386", i386_objects),
                                ("Win32", win32_objects)):
            for obj in objects:
                for what in writable_data(obj) + local_statics(obj):
                    errors.append(f"{target} {obj.name}: {what}")
        missing = [n for n in NAMES if n not in i386 or n not in win32 or n not in sizes]
        if missing:
            raise Failure(f"no code found for: {', '.join(missing)}")

    def cell(t):
        return f"{t[0] + t[1]} ({t[0]}+{t[1]})" if t[1] else f"{t[0]}"

    header = ("export", "kind", "bound", "x86-64", "i386", "Win32", "bytes x86-64/i386/Win32", "")
    rows = []
    for name in NAMES:
        kind, bound = BOUNDS[name]
        count = x64[name]
        ok = count <= bound
        if not ok:
            errors.append(f"LV_ZOLT_{name}: {count:g} instructions, bound {bound}")
        rows.append((f"LV_ZOLT_{name}", kind, f"<= {bound}", f"{count:g}", cell(i386[name]),
                     cell(win32[name]), f"{sizes[name]}/{i386[name][2]}/{win32[name][2]}",
                     "ok" if ok else "OVER"))
    rows.append(("24 exports", "", "", "", "", "",
                 f"{sum(sizes.values())}/{sum(v[2] for v in i386.values())}/"
                 f"{sum(v[2] for v in win32.values())}", ""))
    widths = [max(len(r[i]) for r in [header] + rows) for i in range(len(header))]
    for r in [header] + rows:
        print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
    sys.stdout.flush()
    print("Instructions per call inside LV_zolt (x86-64: callgrind; i386, Win32: disassembly, "
          "export+trampoline); .text bytes of each export.")
    if errors:
        for e in errors:
            print(f"FAIL: {e}", file=sys.stderr)
        return 1
    print("writable data and function-local statics in the layer's objects "
          f"({len(x64_objects)} per target, 3 targets): none")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as e:
        print(f"callgrind_bounds: {e}", file=sys.stderr)
        sys.exit(2)
