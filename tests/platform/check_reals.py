#!/usr/bin/env python3
"""check_reals.py (--header HEADER | --root NAME...) LIBRARY...

Reals pass through LV_zolt bit for bit only if no instruction on the way can
alter them. From the disassembly of each library (ELF or PE, objdump -d), it
follows the 24 exports of the header (or the functions named) and every function they call or jump to
directly, and fails on any x87 instruction (an fld of a signalling NaN quiets
it), any conversion (cvt*) and any floating-point arithmetic.
"""
import argparse
import re
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent.parent / "tools" / "interface"))
import header  # noqa: E402

FORBIDDEN = re.compile(
    r"^(f[a-z0-9]+|v?cvt[a-z0-9]+|v?(add|sub|mul|div|sqrt|min|max|round|rcp|rsqrt|hadd|hsub|dp)"
    r"[sp][sd]|v?fn?m(add|sub)[a-z0-9]*)$")
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "addr32", "notrack", "bnd",
            "cs", "ds", "es", "ss", "fs", "gs"}
LABEL = re.compile(r"^[0-9a-f]+ <(.+)>:$")
TARGET = re.compile(r"\s[0-9a-f]+ <([^>+]+)(\+0x[0-9a-f]+)?>$")


def plain(name):
    """The C name of a symbol: no i386 PE underscore, no stdcall suffix."""
    name = re.sub(r"@\d+$", "", name)
    if name.startswith("_LV_ZOLT_") or name.startswith("_ZOLT_"):
        name = name[1:]
    return name


def functions(library):
    out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", "-w", library],
                         check=True, capture_output=True, text=True).stdout
    bodies, current = {}, None
    for line in out.splitlines():
        m = LABEL.match(line)
        if m:
            current = bodies.setdefault(plain(m.group(1)), [])
            continue
        if current is not None and re.match(r"^\s*[0-9a-f]+:\t", line):
            current.append(line.strip())
    return bodies


def mnemonic(instruction):
    words = instruction.split("\t", 1)[-1].split()
    while words and words[0] in PREFIXES:
        words = words[1:]
    return words[0] if words else ""


def check(library, exports):
    bodies = functions(library)
    missing = [e for e in exports if e not in bodies]
    if missing:
        return [f"{library}: no symbol for {', '.join(missing)} (stripped?)"], 0
    faults, seen = [], set()
    for root in exports:
        todo = [(root, root)]
        while todo:
            name, path = todo.pop()
            if name in seen or name not in bodies or name.endswith("@plt"):
                continue
            seen.add(name)
            for instruction in bodies[name]:
                if FORBIDDEN.match(mnemonic(instruction)):
                    faults.append(f"{library}: {path}: {instruction}")
                m = TARGET.search(instruction)
                if m and plain(m.group(1)) != name:
                    todo.append((plain(m.group(1)), f"{path} -> {plain(m.group(1))}"))
    return faults, len(seen)


def main():
    parser = argparse.ArgumentParser(description="No real in LV_zolt meets an instruction "
                                     "that can alter its bits.")
    roots = parser.add_mutually_exclusive_group(required=True)
    roots.add_argument("--header", help="the public header; its 24 exports are followed")
    roots.add_argument("--root", nargs="+", help="functions to follow instead")
    parser.add_argument("libraries", nargs="+", metavar="LIBRARY")
    args = parser.parse_args()
    exports = args.root
    if args.header:
        try:
            exports = sorted(e.name for e in header.read(args.header))
        except header.HeaderError as e:
            parser.error(str(e))
    failed = False
    for library in args.libraries:
        try:
            faults, count = check(library, exports)
        except (OSError, subprocess.CalledProcessError) as e:
            faults, count = [f"{library}: cannot disassemble: {e}"], 0
        for fault in faults:
            print(f"check_reals: {fault}")
        if faults:
            failed = True
        else:
            print(f"check_reals: {library}: {count} functions reached from {len(exports)} "
                  "exports, none with an x87, conversion or floating-point arithmetic instruction")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
