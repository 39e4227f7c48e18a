#!/usr/bin/python3
"""dll_test.py [--header H] [--interface I] [--export NAME...] LV_ZOLT_DLL

Runs the 32-bit Windows LV_zolt.dll in a CPU emulator, as a Win32 host
would: every export called through cdecl argument slots, at the DLL's
preferred base and relocated, at four stack alignments, with a recording
driver behind its zolt.dll imports; and its entry routine for process attach
and detach.

For every call it checks the record bytes as they reach the driver, every
output at its width and in argument order with canaries around it (apart,
misaligned, all at one address, staggered by a byte), the status byte with
junk above it, the cdecl contract (stack pointer back at the first argument
slot, ebx/esi/edi/ebp kept, direction flag clear), stores only in the
export's own frame and the outputs, exactly one call of the right driver
operation, and that no x87 or conversion instruction was executed: the
emulator's x87 copies a signalling NaN unchanged where hardware quiets it,
so value checks alone cannot see such a copy.

Exits 0 when every check holds, 1 when one fails, 2 on a bad command line,
77 (skipped) when the emulator's Python modules are missing.
"""
import argparse
import random
import re
import struct
import sys
import time
from dataclasses import dataclass
from pathlib import Path

SKIPPED = 77
ROOT = Path(__file__).resolve().parents[2]

try:
    import capstone  # noqa: F401  (win32 needs all three)
    import pefile  # noqa: F401
    import unicorn  # noqa: F401
except ImportError as missing:
    print(f"skipped: the emulator needs Debian's python3-unicorn, python3-pefile and "
          f"python3-capstone for {sys.executable} ({missing})")
    sys.exit(SKIPPED)

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(ROOT / "tools" / "interface"))
import header as header_reader  # noqa: E402
import win32  # noqa: E402

# ---------------------------------------------------------------------------
# What each export carries where.

# For each operation that takes a record: the record field that each argument
# after the handle carries, in argument order. "text" is the id text made of
# the record's out bytes; "/8" marks a field filled from only 8 bits of its
# slot, zero-extended. Checked against the driver interface's field rows.
CARRIES = {
    "getFirmware": ("text",),
    "getFPGA": ("text",),
    "getTime": ("real0", "byte9", "byte10", "word12"),
    "setTime": ("byte8", "byte9", "byte10", "word12", "word14"),
    "getDate": ("word0", "byte2", "byte3"),
    "setYear": ("value0",),
    "getAltitude": ("real0",),
    "getLatitude": ("word0", "real4"),
    "getLongitude": ("word0", "real4"),
    "getSatInfo": ("byte0", "byte1"),
    "setHeartbeat": ("byte0", "byte1", "byte2", "real8"),
    "setMatchTime": ("byte0", "real8", "byte16", "byte17", "word18/8"),
    "waitHeartbeat": ("value0",),
    "waitMatch": ("value0",),
    "waitEvent": ("real8", "byte16", "byte17", "word18", "word20", "byte22", "byte23", "value0"),
}
ID_TEXT_SIZE = 9
WIDTH = {"uint8_t": 1, "int8_t": 1, "uint16_t": 2, "int16_t": 2, "uint32_t": 4, "int32_t": 4,
         "float": 4, "double": 8, "LV_ZOLT_Handle": 4}

# Reals that an x87 copy or a conversion would alter: signalling NaNs with a
# payload, negative zero, subnormals; and a quiet NaN and an infinity.
DOUBLES = (0x7FF123456789ABCD, 0xFFF0000000000001, 0x8000000000000000, 0x000FFFFFFFFFFFFF,
           0x8000000000000001, 0x7FF8000000001234, 0x7FF0000000000000)
FLOATS = (0x7FA12345, 0xFF800001, 0x80000000, 0x00000001, 0x807FFFFF, 0x7FC01234, 0xFF800000)

STATUSES = (0x00, 0x07, 0xFF)
STATUS_JUNK = 0x5A3C9E00       # what the driver leaves above the status byte
LAYOUTS = ("apart", "misaligned", "one address", "staggered")
ALIGNMENTS = (0, 4, 8, 12)     # the first argument slot's address, modulo 16
CANARY = 0xC5
BOARD_RECORD = win32.DRIVER + 0x100


@dataclass(frozen=True)
class Field:
    name: str
    offset: int
    width: int
    kind: str   # unsigned_integer, signed_integer, real
    flow: str   # in, out


@dataclass(frozen=True)
class Operation:
    name: str
    shape: str  # open, handle, value, record
    size: int
    fields: tuple
    success_only: bool


_FIELD_ARRAY = re.compile(r"inline constexpr Field (\w+)\[\] = \{(.*?)\};", re.S)
_FIELD_ROW = re.compile(r'\{"(\w+)",\s*(\d+),\s*(\d+),\s*(\w+),\s*(in|out),\s*(?:true|false)\}')
_OPERATION_ROW = re.compile(r'\{"(\w+)",\s*Shape::(\w+),\s*(?:"\w*"|\{\}),\s*(\d+),\s*'
                            r'(?:fields::(\w+)|\{\}),\s*(true|false)\}')


def read_interface(path):
    """The driver interface's operations, in order, from its field and operation rows."""
    text = Path(path).read_text(encoding="utf-8")
    arrays = {name: tuple(Field(f, int(o), int(w), k, d) for f, o, w, k, d in
                          _FIELD_ROW.findall(body))
              for name, body in _FIELD_ARRAY.findall(text)}
    operations = [Operation(name, shape, int(size), arrays[fields] if fields else (),
                            success == "true")
                  for name, shape, size, fields, success in _OPERATION_ROW.findall(text)]
    if len(operations) != 24 or any(op.shape == "record" and not op.fields for op in operations):
        raise SystemExit(f"dll_test: cannot read the 24 operations from {path}")
    return {op.name: op for op in operations}


@dataclass(frozen=True)
class Argument:
    role: str          # handle, value, real, out, text
    field: Field = None
    taken: int = 32    # bits of a value slot that the export uses
    width: int = 4     # bytes: of an output, or of a value's field

    @property
    def slots(self):
        return 2 if self.role == "real" else 1


@dataclass(frozen=True)
class Model:
    export: str
    operation: Operation
    arguments: tuple   # every argument, the handle (or open's handle output) first


def model(export, operation, problems):
    """How export's arguments map to the driver call, from the table and the
    header's parameter types; mismatches with the interface go to problems."""
    params = export.parameters
    where = f"{export.name}"
    fields = {f.name: f for f in operation.fields}
    args = []
    if operation.shape == "open":
        word = operation.fields[0] if operation.fields else None
        if ([(p.type, p.pointer) for p in params] !=
                [("LV_ZOLT_Handle", True), ("uint32_t", False), ("uint16_t", True)]
                or word is None or word.flow != "out" or word.width != 2):
            problems.append(f"{where}: parameters or field rows are not those of open")
            return None
        return Model(export.name, operation,
                     (Argument("out", width=4), Argument("value"), Argument("out", word, width=2)))
    if not params or params[0].type != "LV_ZOLT_Handle" or params[0].pointer:
        problems.append(f"{where}: the board handle is not the first parameter")
        return None
    args.append(Argument("handle"))
    rest = params[1:]
    if operation.shape in ("handle", "value"):
        want = [] if operation.shape == "handle" else [("uint32_t", False)]
        if [(p.type, p.pointer) for p in rest] != want or operation.fields:
            problems.append(f"{where}: a {operation.shape} operation takes {want} after the handle")
            return None
        return Model(export.name, operation, tuple(args + [Argument("value")] * len(want)))
    carried = CARRIES.get(operation.name)
    if carried is None or len(carried) != len(rest):
        problems.append(f"{where}: the table gives {carried} for {len(rest)} parameters")
        return None
    used = set()
    for param, carries in zip(rest, carried):
        if carries == "text":
            ids = [f for f in operation.fields if f.flow == "out"]
            if (param.type, param.pointer) != ("char", True) or \
                    [(f.offset, f.width) for f in ids] != [(0, 1), (1, 1), (2, 1)]:
                problems.append(f"{where}: the id text needs a char buffer and out bytes 0-2")
                return None
            used.update(f.name for f in ids)
            args.append(Argument("text", width=ID_TEXT_SIZE))
            continue
        name, _, taken = carries.partition("/")
        f = fields.get(name)
        if f is None:
            problems.append(f"{where}: the driver interface has no field {name} in {operation.name}")
            return None
        used.add(name)
        # A field's name gives its kind of value and its offset.
        spelled = re.fullmatch(r"(byte|word|value|real)(\d+)", name)
        if not spelled or int(spelled[2]) != f.offset or \
                {"byte": 1, "word": 2, "value": 4}.get(spelled[1], f.width) != f.width:
            problems.append(f"{where}: field {name} lies at offset {f.offset}, {f.width} bytes")
            return None
        is_real = param.type in ("float", "double")
        if (f.kind == "real") != is_real or (f.flow == "out") != param.pointer:
            problems.append(f"{where}: {name} is {f.kind} {f.flow}, the parameter "
                            f"{param.type}{'*' if param.pointer else ''}")
            return None
        if param.pointer:
            if WIDTH.get(param.type) != f.width:
                problems.append(f"{where}: {name} has {f.width} bytes, its output {param.type}")
                return None
            args.append(Argument("out", f, width=f.width))
        elif param.type == "double":
            if f.width != 8:
                problems.append(f"{where}: {name} is not a 64-bit real")
                return None
            args.append(Argument("real", f, width=8))
        elif param.type == "uint32_t":
            bits = int(taken) if taken else 8 * f.width
            if bits > 8 * f.width:
                problems.append(f"{where}: {name} takes {bits} bits into {f.width} bytes")
                return None
            args.append(Argument("value", f, taken=bits, width=f.width))
        else:
            problems.append(f"{where}: no slot rule for a {param.type} input")
            return None
    missing = set(fields) - used
    if missing:
        problems.append(f"{where}: the table leaves out the fields {sorted(missing)}")
        return None
    return Model(export.name, operation, tuple(args))


# ---------------------------------------------------------------------------
# One call.

@dataclass
class Case:
    status: int
    layout: str
    alignment: int
    number: int


class Driver:
    """The recording driver: notes each call (Process does), fills the record
    it is given from the plan, and returns the planned status with junk above it."""

    def __init__(self, operations):
        self.operations = operations
        self.plan = None

    def __call__(self, name, process, call):
        op = self.operations.get(name)
        if op is None:
            raise RuntimeError(f"unknown operation {name}")
        plan = self.plan
        if op.shape == "record":
            call.record = process.read(call.arguments[1], op.size)
            process.write(call.arguments[1], plan["fill"][:op.size])
        elif op.shape == "open":
            process.write(call.arguments[0], struct.pack("<I", BOARD_RECORD))
        return STATUS_JUNK | plan["status"]


def place_outputs(layout, widths):
    """Addresses of the outputs in the host region for a layout."""
    base = win32.HOST + 0x10
    if layout == "apart":
        return [base + 0x40 * i for i in range(len(widths))]
    if layout == "misaligned":
        return [base + 0x40 * i + 1 + i % 3 for i in range(len(widths))]
    if layout == "one address":
        return [base + 3] * len(widths)
    return [base + i for i in range(len(widths))]  # staggered by one byte


def choose(rng, number, specials, bits):
    """Rotates through the special values, zero, all ones and a random value."""
    pool = tuple(specials) + (0, (1 << bits) - 1, None)
    value = pool[number % len(pool)]
    return rng.getrandbits(bits) if value is None else value


def run_case(process, driver, m, case):
    """Calls one export once; returns the list of what went wrong."""
    rng = random.Random(f"{m.export}/{case.number}/{case.layout}/{case.alignment}")
    op = m.operation
    outputs = [a for a in m.arguments if a.role in ("out", "text")]
    addresses = iter(place_outputs(case.layout, [a.width for a in outputs]))
    slots, expected_in, writes = [], [], []  # writes: (address, bytes, always)
    handle = (rng.getrandbits(32), 0, 0xFFFFFFFF)[case.number % 3]
    value_arguments = []
    fill = bytearray(rng.getrandbits(8) for _ in range(32))
    board = bytearray(rng.getrandbits(8) for _ in range(16))
    for index, arg in enumerate(m.arguments):
        if arg.role == "handle":
            slots.append(handle)
        elif arg.role == "value":
            low = choose(rng, case.number + index, (), arg.taken)
            junk = 0 if arg.taken == 32 else (rng.getrandbits(32 - arg.taken) | 1) << arg.taken
            slots.append(junk | low)
            value_arguments.append(junk | low)
            if arg.field is not None:
                expected_in.append((arg.field, low.to_bytes(arg.width, "little")))
        elif arg.role == "real":
            bits = choose(rng, case.number + index, DOUBLES, 64)
            slots += [bits & 0xFFFFFFFF, bits >> 32]  # low-order half first
            expected_in.append((arg.field, bits.to_bytes(8, "little")))
        elif arg.role == "text":
            address = next(addresses)
            slots.append(address)
            text = "{:02X}-{:02X}-{:02X}".format(*fill[:3]).encode() + b"\0"
            writes.append((address, text, not op.success_only))
        elif arg.field is None:  # open's handle output
            address = next(addresses)
            slots.append(address)
            writes.append((address, struct.pack("<I", BOARD_RECORD), True))
        else:
            address = next(addresses)
            slots.append(address)
            f = arg.field
            if f.kind == "real":
                specials = DOUBLES if f.width == 8 else FLOATS
                bits = choose(rng, case.number + index, specials, 8 * f.width)
                fill[f.offset:f.offset + f.width] = bits.to_bytes(f.width, "little")
            source = board if op.shape == "open" else fill
            writes.append((address, bytes(source[f.offset:f.offset + f.width]),
                           not op.success_only))
    first_slot = win32.STACK_TOP - 0x200 - (win32.STACK_TOP % 16) + case.alignment
    process.write(win32.HOST, bytes([CANARY]) * 0x200)
    process.write(BOARD_RECORD, bytes(board))
    driver.plan = {"status": case.status, "fill": bytes(fill)}
    run = process.call(process.base + process.image.exports[m.export], slots, first_slot,
                       watch=(BOARD_RECORD, BOARD_RECORD + len(board)))

    faults = []
    if run.error:
        return [run.error]
    if run.floating:
        faults.append(f"executed {', '.join(sorted(set(run.floating)))}")
    if run.esp != first_slot:
        faults.append(f"returned with esp {run.esp - first_slot:+d} from the first argument slot")
    for name, (now, before) in run.registers.items():
        if now != before:
            faults.append(f"{name} not kept: {before:#x} became {now:#x}")
    if run.eflags & 0x400:
        faults.append("returned with the direction flag set")
    if run.eax & 0xFF != case.status:
        faults.append(f"returned status {run.eax & 0xFF:#04x}, the driver {case.status:#04x}")
    calls = run.driver_calls
    if [c.operation for c in calls] != [op.name]:
        faults.append(f"called {['ZOLT_' + c.operation for c in calls]}, "
                      f"not once ZOLT_{op.name}")
        return faults
    call = calls[0]
    frame_end = first_slot + 4 * len(slots)
    if op.shape == "open":
        if call.arguments[1] != value_arguments[0]:
            faults.append(f"handed ZOLT_open {call.arguments[1]:#x}, not {value_arguments[0]:#x}")
        if not call.esp < call.arguments[0] < first_slot - 4:
            faults.append(f"the handle variable {call.arguments[0]:#x} is not in its own frame")
    else:
        if call.arguments[0] != handle:
            faults.append(f"handed the driver handle {call.arguments[0]:#x}, not {handle:#x}")
        if op.shape == "value" and call.arguments[1] != value_arguments[0]:
            faults.append(f"handed the driver {call.arguments[1]:#x}, not {value_arguments[0]:#x}")
    if op.shape == "record":
        record = call.arguments[1]
        if not (call.esp < record and record + op.size <= frame_end):
            faults.append(f"the record at {record:#x} is not in its own frame or arguments")
        has_real = any(f.kind == "real" and f.width == 8 for f in op.fields)
        # Whatever the caller's alignment (Win32 promises 4), a record with a
        # 64-bit real must reach the driver 8-aligned.
        if has_real and record % 8:
            faults.append(f"the record at {record:#x} is not 8-aligned")
        for f, want in expected_in:
            got = call.record[f.offset:f.offset + f.width]
            if got != want:
                faults.append(f"record field {f.name} reached the driver as {got.hex()}, "
                              f"not {want.hex()}")
    # Outputs: applied in argument order, each at its width, over canaries.
    succeeded = case.status == 0
    expected = bytearray([CANARY]) * 0x200
    for address, data, always in writes:
        if always or succeeded:
            offset = address - win32.HOST
            expected[offset:offset + len(data)] = data
    got = process.read(win32.HOST, 0x200)
    if got != bytes(expected):
        diff = [i for i in range(len(got)) if got[i] != expected[i]]
        faults.append(f"host memory from +{diff[0]:#x}: {got[diff[0]:diff[-1] + 1].hex()}, "
                      f"expected {bytes(expected[diff[0]:diff[-1] + 1]).hex()}")
    if op.shape == "open" and not succeeded and run.watched_reads:
        faults.append("read the board record after a failed open")
    faults += check_stores(run, writes, first_slot, frame_end, case.layout)
    return faults


def check_stores(run, writes, first_slot, frame_end, layout):
    """Stores go to the export's own frame and arguments, or to the outputs
    after the driver call; with outputs apart, in argument order, each byte once."""
    faults, last, seen = [], -1, set()
    for address, size, phase in run.writes:
        if win32.STACK <= address and address + size <= frame_end:
            continue
        if not win32.HOST <= address < win32.HOST + win32.HOST_SIZE:
            faults.append(f"stored {size} bytes at {address:#x}, outside its frame and outputs")
            continue
        if phase == 0:
            faults.append(f"stored at output {address:#x} before the driver call")
        if layout not in ("apart", "misaligned"):
            continue
        owner = [i for i, (a, data, _) in enumerate(writes) if a <= address < a + len(data)]
        if not owner or address + size > writes[owner[0]][0] + len(writes[owner[0]][1]):
            faults.append(f"stored {size} bytes at {address:#x}, beyond its output")
            continue
        if owner[0] < last:
            faults.append(f"stored output {owner[0] + 1} after output {last + 1}")
        last = owner[0]
        for byte in range(address, address + size):
            if byte in seen:
                faults.append(f"stored the byte at {byte:#x} twice")
            seen.add(byte)
    return faults


def cases_for(m):
    """The calls made of one export: every status, layout and alignment; the
    layouts that overlap outputs only where there are two or more."""
    outputs = sum(a.role in ("out", "text") for a in m.arguments)
    layouts = LAYOUTS if outputs > 1 else LAYOUTS[:2] if outputs else LAYOUTS[:1]
    number = 0
    for status in STATUSES:
        for layout in layouts:
            for alignment in ALIGNMENTS:
                yield Case(status, layout, alignment, number)
                number += 1


# ---------------------------------------------------------------------------
# The entry routine.

def run_entry(image, base):
    """Process attach, then detach, as the loader does them: TLS callbacks and
    the entry routine, each stdcall(instance, reason, reserved)."""
    faults = []

    def driver(name, process, call):
        raise RuntimeError("the entry routine reached the driver")

    process = win32.Process(image, base, driver)
    first_slot = win32.STACK_TOP - 0x400
    steps = []
    for reason, name in ((1, "attach"), (0, "detach")):
        routines = [("TLS callback", rva) for rva in image.tls_callbacks]
        routines = routines + [("entry routine", image.entry)] if reason else \
            [("entry routine", image.entry)] + routines
        for what, rva in routines:
            run = process.call(base + rva, [base, reason, 0], first_slot)
            steps.append(f"{what} ({name}): {run.instructions} instructions")
            if run.error:
                faults.append(f"{what} for process {name}: {run.error}")
                continue
            if run.driver_calls:
                faults.append(f"{what} for process {name} called the driver")
            if run.esp != first_slot + 12:
                faults.append(f"{what} for process {name} left esp "
                              f"{run.esp - first_slot:+d} from its first slot (stdcall: +12)")
            if what == "entry routine" and run.eax != 1:
                faults.append(f"entry routine for process {name} returned {run.eax:#x}, not TRUE")
            for reg, (now, before) in run.registers.items():
                if now != before:
                    faults.append(f"{what} for process {name}: {reg} not kept")
            if run.floating:
                faults.append(f"{what} for process {name} executed "
                              f"{', '.join(sorted(set(run.floating)))}")
    return faults, steps


# ---------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[1])
    parser.add_argument("--header", default=ROOT / "include" / "LV_zolt.h")
    parser.add_argument("--interface", default=ROOT / "src" / "driver" / "interface.h")
    parser.add_argument("--export", action="append", help="call only this export (repeatable)")
    parser.add_argument("dll")
    args = parser.parse_args()
    start = time.monotonic()
    try:
        exports = header_reader.read(args.header)
    except header_reader.HeaderError as error:
        parser.error(str(error))
    operations = read_interface(args.interface)
    problems, models = [], []
    for export in exports:
        op = operations.get(export.operation)
        if op is None:
            problems.append(f"{export.name}: the driver interface has no {export.operation}")
            continue
        m = model(export, op, problems)
        if m is not None:
            models.append(m)
    if [e.operation for e in exports] != list(operations):
        problems.append("the header and the driver interface list the operations in different orders")
    extra = set(CARRIES) - {op.name for op in operations.values() if op.shape == "record"}
    if extra:
        problems.append(f"the table names operations without a record: {sorted(extra)}")
    for problem in problems:
        print(f"dll_test: table: {problem}")
    if problems:
        return 1

    image = win32.Image(args.dll)
    missing = [m.export for m in models if m.export not in image.exports]
    if missing:
        print(f"dll_test: {args.dll} does not export {', '.join(missing)}")
        return 1
    relocated = 0x10000000 if image.preferred_base != 0x10000000 else 0x20000000
    failed = 0
    calls = 0
    driver = Driver(operations)
    chosen = [m for m in models if not args.export or m.export in args.export]
    for base, where in ((image.preferred_base, "preferred base"), (relocated, "relocated")):
        process = win32.Process(image, base, driver)
        for m in chosen:
            bad = []
            count = 0
            for case in cases_for(m):
                faults = run_case(process, driver, m, case)
                count += 1
                if faults:
                    bad.append(f"status {case.status:#04x}, outputs {case.layout}, "
                               f"stack {case.alignment} mod 16: " + "; ".join(faults))
            calls += count
            if bad:
                failed += 1
                print(f"FAIL {m.export} at {where} {base:#010x}: {len(bad)} of {count} calls")
                for line in bad[:4]:
                    print(f"    {line}")
            else:
                print(f"ok   {m.export} at {where}: {count} calls")
        faults, steps = run_entry(image, base)
        if faults:
            failed += 1
            print(f"FAIL entry routine at {where}:")
            for fault in faults:
                print(f"    {fault}")
        else:
            print(f"ok   entry routine at {where}: {'; '.join(steps)}; returned TRUE, "
                  "no driver call")
    print(f"dll_test: {calls} export calls and the entry routine at two bases, "
          f"{'%d failed' % failed if failed else 'all passed'} "
          f"({time.monotonic() - start:.1f} s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
