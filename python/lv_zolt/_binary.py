"""What a shared library was built for, read from its ELF or PE header.

Loading a library built for another architecture (a 32-bit DLL in a 64-bit
Python) fails with a message that rarely says so; these readers name both
sides. Only the standard library is used, so they work in any environment.
"""

from __future__ import annotations

import struct
import sys
from dataclasses import dataclass, field
from pathlib import Path

_ELF_MACHINES = {3: "i386", 8: "MIPS", 20: "PowerPC", 21: "PowerPC64", 22: "S/390",
                 40: "ARM", 62: "x86-64", 183: "AArch64", 243: "RISC-V"}
_PE_MACHINES = {0x14C: "i386", 0x8664: "x86-64", 0x1C0: "ARM", 0x1C4: "ARM",
                0xAA64: "AArch64"}
_DT_NEEDED, _DT_SONAME, _DT_RPATH, _DT_RUNPATH = 1, 14, 15, 29


class BinaryError(Exception):
    """The file is not an ELF or PE library that can be read."""


@dataclass(frozen=True)
class Binary:
    format: str     # "ELF" or "PE"
    bits: int       # 32 or 64
    machine: str    # "x86-64", "i386", ... or "machine 0x..." when unknown
    needed: tuple[str, ...] = field(default=())   # ELF: libraries it names as needed
    soname: str | None = None
    runpath: str | None = None

    def describe(self) -> str:
        return f"{self.format} {self.bits}-bit {self.machine}"

    def same_architecture(self, other: Binary) -> bool:
        return (self.bits, self.machine) == (other.bits, other.machine)


def read(path) -> Binary:
    """The format, word size and machine of the file at `path`."""
    try:
        data = Path(path).read_bytes()
    except OSError as error:
        raise BinaryError(f"cannot read {path}: {error.strerror}") from error
    if data[:4] == b"\x7fELF":
        return _elf(data, path)
    if data[:2] == b"MZ":
        return _pe(data, path)
    raise BinaryError(f"{path} is neither an ELF nor a PE file")


def interpreter() -> Binary:
    """The running Python's own architecture: its executable's header where
    it can be read, else the pointer width and the platform's machine name."""
    try:
        return read(sys.executable)
    except BinaryError:
        import platform
        machine = {"x86_64": "x86-64", "amd64": "x86-64", "i686": "i386", "x86": "i386",
                   "aarch64": "AArch64", "arm64": "AArch64"}.get(platform.machine().lower(),
                                                                 platform.machine())
        return Binary("?", struct.calcsize("P") * 8, machine)


def _elf(data: bytes, path) -> Binary:
    if len(data) < 64 or data[4] not in (1, 2) or data[5] not in (1, 2):
        raise BinaryError(f"{path}: truncated or malformed ELF header")
    bits = 32 if data[4] == 1 else 64
    order = "<" if data[5] == 1 else ">"
    machine_code = struct.unpack_from(order + "H", data, 18)[0]
    machine = _ELF_MACHINES.get(machine_code, f"machine 0x{machine_code:x}")
    needed, soname, runpath = _elf_dynamic(data, bits, order)
    return Binary("ELF", bits, machine, tuple(needed), soname, runpath)


def _elf_dynamic(data: bytes, bits: int, order: str):
    """NEEDED, SONAME and RUNPATH (or RPATH) from the .dynamic section; empty
    when the file has none or its section table cannot be followed."""
    try:
        if bits == 64:
            shoff, = struct.unpack_from(order + "Q", data, 0x28)
            shentsize, shnum = struct.unpack_from(order + "HH", data, 0x3A)
            section = order + "IIQQQQIIQQ"
            dyn, dynsize = order + "qQ", 16
        else:
            shoff, = struct.unpack_from(order + "I", data, 0x20)
            shentsize, shnum = struct.unpack_from(order + "HH", data, 0x2E)
            section = order + "IIIIIIIIII"
            dyn, dynsize = order + "iI", 8
        sections = [struct.unpack_from(section, data, shoff + i * shentsize)
                    for i in range(shnum)]
        # (name, type, flags, addr, offset, size, link, ...): .dynamic is type 6.
        dynamic = next(s for s in sections if s[1] == 6)
        strings = sections[dynamic[6]]
        table = data[strings[4]:strings[4] + strings[5]]

        def text(offset):
            return table[offset:table.index(b"\0", offset)].decode("utf-8", "replace")

        needed, soname, runpath = [], None, None
        for at in range(dynamic[4], dynamic[4] + dynamic[5], dynsize):
            tag, value = struct.unpack_from(dyn, data, at)
            if tag == 0:
                break
            if tag == _DT_NEEDED:
                needed.append(text(value))
            elif tag == _DT_SONAME:
                soname = text(value)
            elif tag in (_DT_RUNPATH, _DT_RPATH):
                runpath = text(value)
        return needed, soname, runpath
    except (struct.error, StopIteration, IndexError, ValueError):
        return [], None, None


def _pe(data: bytes, path) -> Binary:
    try:
        offset, = struct.unpack_from("<I", data, 0x3C)
        if data[offset:offset + 4] != b"PE\0\0":
            raise BinaryError(f"{path}: MZ file without a PE header")
        machine_code, = struct.unpack_from("<H", data, offset + 4)
        magic, = struct.unpack_from("<H", data, offset + 24)
    except struct.error as error:
        raise BinaryError(f"{path}: truncated PE header") from error
    bits = {0x10B: 32, 0x20B: 64}.get(magic)
    if bits is None:
        raise BinaryError(f"{path}: unknown PE optional-header magic 0x{magic:x}")
    return Binary("PE", bits, _PE_MACHINES.get(machine_code, f"machine 0x{machine_code:x}"))
