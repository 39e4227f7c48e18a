#!/usr/bin/python3
"""seeded_faults.py: faults seeded into copies of LV_zolt.dll, and the check
that the emulator test catches each of them.

  seeded_faults.py swap DLL OUT EXPORT_A EXPORT_B
      OUT is DLL with the export-table entries of the two exports swapped:
      a host calling one runs the other.
  seeded_faults.py x87 DLL OUT EXPORT [--header H]
      OUT is DLL with EXPORT's entry redirected to code in a section of its
      own that loads EXPORT's first 64-bit real argument onto the x87 stack
      and stores it back (fld/fstp; on hardware that quiets a signalling
      NaN), then jumps to the export.
  seeded_faults.py check DLL WORKDIR [--header H] [--interface I]
      Seeds both into WORKDIR and runs dll_test.py on each copy: passes only
      when each fails, on the seeded export and for the seeded reason, and
      the exports not seeded still pass.

Exits 0 on success, 1 on failure, 77 (skipped) when the emulator's Python
modules are missing.
"""
import argparse
import re
import struct
import subprocess
import sys
from pathlib import Path

SKIPPED = 77
HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]

try:
    import pefile
except ImportError as missing:
    print(f"skipped: seeding needs Debian's python3-pefile for {sys.executable} ({missing})")
    sys.exit(SKIPPED)

sys.path.insert(0, str(ROOT / "tools" / "interface"))
import header as header_reader  # noqa: E402


def _export_slots(pe):
    """name -> file offset of its entry in the export address table."""
    directory = pe.DIRECTORY_ENTRY_EXPORT
    table = directory.struct.AddressOfFunctions
    return {s.name.decode(): pe.get_offset_from_rva(table + 4 * (s.ordinal - directory.struct.Base))
            for s in directory.symbols if s.name}


def swap(dll, out, first, second):
    pe = pefile.PE(str(dll))
    data = bytearray(pe.__data__)
    slots = _export_slots(pe)
    a, b = slots[first], slots[second]
    data[a:a + 4], data[b:b + 4] = data[b:b + 4], data[a:a + 4]
    Path(out).write_bytes(data)


def _align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def x87(dll, out, export, header):
    exports = {e.name: e for e in header_reader.read(header)}
    slot = 0
    for param in exports[export].parameters:
        if param.type == "double" and not param.pointer:
            break
        slot += 1
    else:
        raise SystemExit(f"seeded_faults: {export} takes no 64-bit real")
    displacement = 4 + 4 * slot  # [esp] holds the return address
    pe = pefile.PE(str(dll))
    slots = _export_slots(pe)
    target = struct.unpack_from("<I", pe.__data__, slots[export])[0]
    file_align = pe.OPTIONAL_HEADER.FileAlignment
    section_align = pe.OPTIONAL_HEADER.SectionAlignment
    last = pe.sections[-1]
    rva = _align(last.VirtualAddress + max(last.Misc_VirtualSize, last.SizeOfRawData),
                 section_align)
    code = bytes([0xDD, 0x44, 0x24, displacement,     # fld qword [esp+d]
                  0xDD, 0x5C, 0x24, displacement])    # fstp qword [esp+d]
    code += b"\xE9" + struct.pack("<i", target - (rva + len(code) + 5))  # jmp export
    data = bytearray(pe.__data__)
    header_at = last.get_file_offset() + 40
    if header_at + 40 > pe.OPTIONAL_HEADER.SizeOfHeaders or any(data[header_at:header_at + 40]):
        raise SystemExit(f"seeded_faults: no room for a section header in {dll}")
    raw_at = _align(len(data), file_align)
    raw = code.ljust(file_align, b"\xCC")
    data[header_at:header_at + 40] = struct.pack(
        "<8sIIIIIIHHI", b".seed", len(code), rva, len(raw), raw_at, 0, 0, 0, 0,
        0x60000020)  # code, executable, readable
    struct.pack_into("<H", data, pe.FILE_HEADER.get_file_offset() + 2,
                     pe.FILE_HEADER.NumberOfSections + 1)
    size_at = pe.OPTIONAL_HEADER.get_file_offset() + 56  # SizeOfImage
    struct.pack_into("<I", data, size_at, _align(rva + len(code), section_align))
    struct.pack_into("<I", data, slots[export], rva)
    data = data.ljust(raw_at, b"\0") + raw
    Path(out).write_bytes(data)


# What each seeded copy must make the test report.
SEEDS = (
    ("swapped-twins", "LV_ZOLT_getLatitude",
     re.compile(r"called \['ZOLT_getLongitude'\], not once ZOLT_getLatitude"),
     lambda dll, out, header: swap(dll, out, "LV_ZOLT_getLatitude", "LV_ZOLT_getLongitude")),
    ("x87-copy", "LV_ZOLT_setHeartbeat",
     re.compile(r"executed [0-9a-f]{8}: fld qword ptr \[esp \+ 0x14\]"),
     lambda dll, out, header: x87(dll, out, "LV_ZOLT_setHeartbeat", header)),
)


def check(dll, workdir, header, interface):
    failures = 0
    for name, export, reason, seed in SEEDS:
        folder = Path(workdir) / name
        folder.mkdir(parents=True, exist_ok=True)
        copy = folder / Path(dll).name
        seed(dll, copy, header)
        result = subprocess.run([sys.executable, str(HERE / "dll_test.py"), "--header", str(header),
                                 "--interface", str(interface), str(copy)],
                                capture_output=True, text=True)
        if result.returncode == SKIPPED:
            print(result.stdout, end="")
            return SKIPPED
        failed = re.findall(r"^FAIL (\S+)", result.stdout, re.M)
        caught = result.returncode == 1 and reason.search(result.stdout) is not None
        # The twin called through the swapped entry fails too; nothing else may.
        expected = {export, "LV_ZOLT_getLongitude"} if name == "swapped-twins" else {export}
        if caught and set(failed) == expected:
            print(f"caught  {name}: {' and '.join(sorted(expected))} failed, every other export "
                  f"passed; {reason.search(result.stdout).group(0)}")
            continue
        failures += 1
        print(f"MISSED  {name}: exit {result.returncode}, failed {failed or 'nothing'}, "
              f"expected {sorted(expected)} with /{reason.pattern}/")
        print(result.stdout[-3000:], result.stderr[-2000:], sep="\n")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description="Seeds faults into copies of LV_zolt.dll.")
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("swap")
    p.add_argument("dll"), p.add_argument("out"), p.add_argument("first"), p.add_argument("second")
    p = commands.add_parser("x87")
    p.add_argument("dll"), p.add_argument("out"), p.add_argument("export")
    p.add_argument("--header", default=ROOT / "include" / "LV_zolt.h")
    p = commands.add_parser("check")
    p.add_argument("dll"), p.add_argument("workdir")
    p.add_argument("--header", default=ROOT / "include" / "LV_zolt.h")
    p.add_argument("--interface", default=ROOT / "src" / "driver" / "interface.h")
    args = parser.parse_args()
    if args.command == "swap":
        swap(args.dll, args.out, args.first, args.second)
    elif args.command == "x87":
        x87(args.dll, args.out, args.export, args.header)
    else:
        return check(args.dll, args.workdir, args.header, args.interface)
    return 0


if __name__ == "__main__":
    sys.exit(main())
