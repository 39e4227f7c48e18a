"""A 32-bit Windows process in a CPU emulator, just large enough to run a DLL.

Maps a PE image at a chosen base (applying its base relocations when that is
not the preferred one), binds every import to a stub of its own, gives the
thread a thread environment block through fs, and calls code in the image
with 32-bit argument slots. While code runs it records every driver call,
every store, every read of chosen memory and every x87 or conversion
instruction executed anywhere.

The stubs: each zolt.dll import hands control to a Python driver (a `ret`,
so the caller removes the arguments); KERNEL32.dll stubs return as stdcall;
a few msvcrt.dll functions are emulated, and `_initterm` is real x86 code
so that it can call back into the DLL.
"""
import struct
from dataclasses import dataclass, field

import capstone
import pefile
import unicorn
from unicorn import x86_const as X

PAGE = 0x1000
GDT = 0x00040000
TEB = 0x00050000
TLS_DATA = 0x00058000
STACK = 0x00100000
STACK_SIZE = 0x00010000
STACK_TOP = STACK + STACK_SIZE - 0x100
HOST = 0x00300000       # the host's out-locations
HOST_SIZE = 0x00010000
DRIVER = 0x00400000     # the driver's own memory (board records)
DRIVER_SIZE = 0x00010000
HEAP = 0x00500000
HEAP_SIZE = 0x00040000
CRT_DATA = 0x00600000   # msvcrt data imports (_iob)
STUBS = 0x00700000
STUB_SPACING = 0x10
SENTINEL = STUBS        # return address of every call from the host: hlt
INSTRUCTION_LIMIT = 200000

CALLEE_SAVED = {"ebx": X.UC_X86_REG_EBX, "esi": X.UC_X86_REG_ESI,
                "edi": X.UC_X86_REG_EDI, "ebp": X.UC_X86_REG_EBP}
XMM = [getattr(X, f"UC_X86_REG_XMM{i}") for i in range(8)]

# KERNEL32 functions the C runtime start-up may import: how many argument
# bytes each removes (stdcall), and what it returns.
KERNEL32 = {
    "DeleteCriticalSection": (4, 0), "EnterCriticalSection": (4, 0),
    "LeaveCriticalSection": (4, 0), "InitializeCriticalSection": (4, 0),
    "FreeLibrary": (4, 1), "GetLastError": (0, 0), "GetModuleHandleA": (4, 0),
    "GetModuleHandleW": (4, 0), "GetProcAddress": (8, 0), "LoadLibraryA": (4, 0),
    "LoadLibraryW": (4, 0), "Sleep": (4, 0), "TlsGetValue": (4, 0),
    "VirtualProtect": (16, 1), "VirtualQuery": (12, 28), "SetUnhandledExceptionFilter": (4, 0),
    "GetCurrentProcessId": (0, 0x1234), "GetCurrentThreadId": (0, 0x5678),
    "GetTickCount": (0, 0x1000), "QueryPerformanceCounter": (4, 1),
    "GetSystemTimeAsFileTime": (4, 0),
}
# msvcrt functions that only an error path calls: reaching one is a fault.
CRT_FAILURES = {"abort", "_amsg_exit", "vfprintf", "fprintf", "fwrite", "_assert", "exit", "_exit"}

# _initterm(begin, end): calls every non-null function pointer in [begin, end).
INITTERM = bytes([
    0x56,                          # push esi
    0x57,                          # push edi
    0x8B, 0x74, 0x24, 0x0C,        # mov esi, [esp+12]
    0x8B, 0x7C, 0x24, 0x10,        # mov edi, [esp+16]
    0x39, 0xFE,                    # loop: cmp esi, edi
    0x73, 0x0D,                    # jae done
    0x8B, 0x06,                    # mov eax, [esi]
    0x85, 0xC0,                    # test eax, eax
    0x74, 0x02,                    # jz next
    0xFF, 0xD0,                    # call eax
    0x83, 0xC6, 0x04,              # next: add esi, 4
    0xEB, 0xEF,                    # jmp loop
    0x5F,                          # done: pop edi
    0x5E,                          # pop esi
    0xC3,                          # ret
])


class EmulationError(Exception):
    """The emulated code did something no host process allows."""


@dataclass(frozen=True)
class Import:
    dll: str
    name: str
    rva: int  # of its import address table slot


class Image:
    """A PE file's sections, relocations, imports and exports, by RVA."""

    def __init__(self, path):
        pe = pefile.PE(str(path))
        if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
            raise EmulationError(f"{path}: not an i386 image")
        self.path = str(path)
        self.preferred_base = pe.OPTIONAL_HEADER.ImageBase
        self.size = (pe.OPTIONAL_HEADER.SizeOfImage + PAGE - 1) & ~(PAGE - 1)
        self.entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
        image = bytearray(self.size)
        headers = pe.OPTIONAL_HEADER.SizeOfHeaders
        image[:headers] = pe.__data__[:headers]
        for section in pe.sections:
            raw = section.get_data()[:section.Misc_VirtualSize or section.SizeOfRawData]
            image[section.VirtualAddress:section.VirtualAddress + len(raw)] = raw
        self.image = bytes(image)
        self.relocations = []
        for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
            for entry in block.entries:
                if entry.type == pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]:
                    self.relocations.append(entry.rva)
                elif entry.type != pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]:
                    raise EmulationError(f"{path}: relocation of type {entry.type}")
        self.imports = []
        for descriptor in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
            for imp in descriptor.imports:
                if imp.name is None:
                    raise EmulationError(f"{path}: imports ordinal {imp.ordinal} "
                                         f"from {descriptor.dll.decode()}")
                self.imports.append(Import(descriptor.dll.decode(), imp.name.decode(),
                                           imp.address - self.preferred_base))
        self.exports = {}
        if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
            for symbol in pe.DIRECTORY_ENTRY_EXPORT.symbols:
                if symbol.name:
                    self.exports[symbol.name.decode()] = symbol.address
        self.tls_callbacks = []
        self.tls_index_rva = None
        if hasattr(pe, "DIRECTORY_ENTRY_TLS"):
            tls = pe.DIRECTORY_ENTRY_TLS.struct
            self.tls_index_rva = tls.AddressOfIndex - self.preferred_base
            self.tls_template = (tls.StartAddressOfRawData - self.preferred_base,
                                 tls.EndAddressOfRawData - tls.StartAddressOfRawData)
            at = tls.AddressOfCallBacks - self.preferred_base
            while at and struct.unpack_from("<I", self.image, at)[0]:
                self.tls_callbacks.append(struct.unpack_from("<I", self.image, at)[0]
                                          - self.preferred_base)
                at += 4

    def mapped(self, base):
        """The image as loaded at base: relocated when base is not the preferred one."""
        image = bytearray(self.image)
        delta = (base - self.preferred_base) & 0xFFFFFFFF
        for rva in self.relocations:
            value = struct.unpack_from("<I", image, rva)[0]
            struct.pack_into("<I", image, rva, (value + delta) & 0xFFFFFFFF)
        return bytes(image)


@dataclass
class DriverCall:
    operation: str
    esp: int                 # at the call: [esp] is the return address
    arguments: tuple         # the first two argument slots
    record: bytes = b""      # the record's bytes as the driver received them
    phase: int = 0           # stores before this call have phase 0


@dataclass
class Run:
    """What one call from the host did."""
    eax: int = 0
    esp: int = 0
    eip: int = 0
    registers: dict = field(default_factory=dict)
    eflags: int = 0
    driver_calls: list = field(default_factory=list)
    writes: list = field(default_factory=list)         # (address, size, phase)
    watched_reads: list = field(default_factory=list)  # (address, size, phase)
    floating: list = field(default_factory=list)       # "address: mnemonic operands"
    crt_calls: list = field(default_factory=list)
    instructions: int = 0
    error: str = ""


def _descriptor(base, limit, access, flags):
    return struct.pack("<Q", (limit & 0xFFFF) | ((base & 0xFFFFFF) << 16) | (access << 40)
                       | (((limit >> 16) & 0xF) << 48) | (flags << 52)
                       | (((base >> 24) & 0xFF) << 56))


class Process:
    """One emulated process holding one image, with a driver behind zolt.dll.

    driver(operation, process, call) is invoked at each zolt.dll import and
    returns the value for eax.
    """

    def __init__(self, image, base, driver):
        self.image, self.base, self.driver = image, base, driver
        self.uc = uc = unicorn.Uc(unicorn.UC_ARCH_X86, unicorn.UC_MODE_32)
        self.cs = capstone.Cs(capstone.CS_ARCH_X86, capstone.CS_MODE_32)
        self.decoded = {}
        for address, size in ((GDT, PAGE), (TEB, PAGE), (TLS_DATA, PAGE), (STACK, STACK_SIZE),
                              (HOST, HOST_SIZE), (DRIVER, DRIVER_SIZE), (HEAP, HEAP_SIZE),
                              (CRT_DATA, PAGE), (STUBS, 0x10000)):
            uc.mem_map(address, size)
        uc.mem_map(base, image.size)
        uc.mem_write(base, image.mapped(base))
        self._segments()
        self.heap = HEAP
        self.stubs = {}
        uc.mem_write(SENTINEL, b"\xF4")  # hlt
        for number, imp in enumerate(image.imports, start=1):
            stub = STUBS + number * STUB_SPACING
            if imp.dll.lower() == "msvcrt.dll" and imp.name == "_initterm":
                stub = STUBS + 0x8000
                uc.mem_write(stub, INITTERM)
            elif imp.dll.lower() == "msvcrt.dll" and imp.name.startswith("_iob"):
                stub = CRT_DATA  # a data import: the address of the data
            elif imp.dll.lower() == "kernel32.dll":
                if imp.name not in KERNEL32:
                    raise EmulationError(f"no stub for KERNEL32.dll import {imp.name}")
                uc.mem_write(stub, b"\xC2" + struct.pack("<H", KERNEL32[imp.name][0]))
                self.stubs[stub] = imp
            else:
                uc.mem_write(stub, b"\xC3")
                self.stubs[stub] = imp
            uc.mem_write(base + imp.rva, struct.pack("<I", stub))
        self.run = None
        self.watch = (0, 0)
        self.stack_range = (STACK, STACK + STACK_SIZE)
        uc.hook_add(unicorn.UC_HOOK_CODE, self._on_instruction)
        uc.hook_add(unicorn.UC_HOOK_MEM_WRITE, self._on_write)
        uc.hook_add(unicorn.UC_HOOK_MEM_READ, self._on_read)

    def _segments(self):
        uc = self.uc
        table = (b"\0" * 8 + _descriptor(0, 0xFFFFF, 0x9A, 0xC)    # 1: flat code
                 + _descriptor(0, 0xFFFFF, 0x92, 0xC)              # 2: flat data
                 + _descriptor(TEB, PAGE - 1, 0x92, 0x4))          # 3: the TEB
        uc.mem_write(GDT, table)
        uc.reg_write(X.UC_X86_REG_GDTR, (0, GDT, len(table) - 1, 0))
        for register in (X.UC_X86_REG_SS, X.UC_X86_REG_DS, X.UC_X86_REG_ES):
            uc.reg_write(register, 2 << 3)
        uc.reg_write(X.UC_X86_REG_FS, 3 << 3)
        teb = bytearray(PAGE)
        struct.pack_into("<IIII", teb, 0, 0xFFFFFFFF, STACK + STACK_SIZE, STACK, 0)
        struct.pack_into("<I", teb, 0x18, TEB)          # NT_TIB.Self
        struct.pack_into("<I", teb, 0x2C, TLS_DATA)     # ThreadLocalStoragePointer
        struct.pack_into("<II", teb, 0x20, 0x1234, 0x5678)  # ClientId
        uc.mem_write(TEB, bytes(teb))
        # Slot 0 of the thread's TLS array: a copy of the image's template.
        tls = bytearray(PAGE)
        struct.pack_into("<I", tls, 0, TLS_DATA + 0x100)
        if self.image.tls_index_rva is not None:
            start, length = self.image.tls_template
            tls[0x100:0x100 + length] = self.image.image[start:start + length]
        uc.mem_write(TLS_DATA, bytes(tls))

    # Hooks -----------------------------------------------------------------

    def _fail(self, message):
        if self.run is not None and not self.run.error:
            self.run.error = message
        self.uc.emu_stop()

    def _on_instruction(self, uc, address, size, _):
        run = self.run
        run.instructions += 1
        stub = self.stubs.get(address)
        if stub is not None:
            self._import(stub)
            return
        decoded = self.decoded.get(address)
        if decoded is None:
            code = bytes(uc.mem_read(address, size))
            insn = next(self.cs.disasm(code, address), None)
            if insn is None:
                decoded = f"{address:08x}: undecodable {code.hex()}"
            elif insn.mnemonic.startswith(("f", "cvt")) or insn.mnemonic in ("emms", "wait"):
                decoded = f"{address:08x}: {insn.mnemonic} {insn.op_str}".rstrip()
            else:
                decoded = ""
            self.decoded[address] = decoded
        if decoded:
            run.floating.append(decoded)

    def _on_write(self, uc, access, address, size, value, _):
        self.run.writes.append((address, size, len(self.run.driver_calls)))

    def _on_read(self, uc, access, address, size, value, _):
        low, high = self.watch
        if low <= address < high:
            self.run.watched_reads.append((address, size, len(self.run.driver_calls)))

    def _import(self, imp):
        uc = self.uc
        esp = uc.reg_read(X.UC_X86_REG_ESP)
        slot = lambda i: self.read32(esp + 4 + 4 * i)
        dll = imp.dll.lower()
        if dll == "zolt.dll":
            name = imp.name[len("ZOLT_"):] if imp.name.startswith("ZOLT_") else imp.name
            call = DriverCall(name, esp, (slot(0), slot(1)), phase=len(self.run.driver_calls))
            self.run.driver_calls.append(call)
            try:
                eax = self.driver(name, self, call)
            except Exception as error:  # the driver's own check failed
                self._fail(f"driver {name}: {error}")
                return
            # What a C function may leave in the registers it need not keep.
            uc.reg_write(X.UC_X86_REG_EAX, eax & 0xFFFFFFFF)
            uc.reg_write(X.UC_X86_REG_ECX, 0xC1C1C1C1)
            uc.reg_write(X.UC_X86_REG_EDX, 0xD1D1D1D1)
            for number, register in enumerate(XMM):
                uc.reg_write(register, 0x7FF4DEAD00000000 * (number + 1) & ((1 << 128) - 1))
            return
        self.run.crt_calls.append(imp.name)
        if dll == "kernel32.dll":
            result = KERNEL32[imp.name][1]
            if imp.name == "VirtualQuery":
                address, info = slot(0), slot(1)
                page = address & ~(PAGE - 1)
                uc.mem_write(info, struct.pack("<7I", page, self.base, 0x40, PAGE,
                                               0x1000, 0x40, 0x1000000))
            elif imp.name == "VirtualProtect":
                if slot(3):
                    uc.mem_write(slot(3), struct.pack("<I", 0x40))
            uc.reg_write(X.UC_X86_REG_EAX, result)
            return
        if imp.name in CRT_FAILURES:
            self._fail(f"reached {imp.dll}!{imp.name}")
            return
        if imp.name in ("malloc", "calloc"):
            size = slot(0) if imp.name == "malloc" else slot(0) * slot(1)
            uc.reg_write(X.UC_X86_REG_EAX, self._allocate(size))
        elif imp.name == "realloc":
            old, size = slot(0), slot(1)
            new = self._allocate(size)
            if old:
                uc.mem_write(new, bytes(uc.mem_read(old, min(size, self.heap - old))))
            uc.reg_write(X.UC_X86_REG_EAX, new)
        elif imp.name in ("free", "_lock", "_unlock"):
            pass
        elif imp.name == "strlen":
            uc.reg_write(X.UC_X86_REG_EAX, len(self.read_string(slot(0))))
        elif imp.name == "strncmp":
            a, b = self.read_string(slot(0))[:slot(2)], self.read_string(slot(1))[:slot(2)]
            uc.reg_write(X.UC_X86_REG_EAX, 0 if a == b else (1 if a > b else 0xFFFFFFFF))
        else:
            self._fail(f"no stub for {imp.dll}!{imp.name}")

    def _allocate(self, size):
        address = self.heap
        self.heap += (max(size, 1) + 15) & ~15
        if self.heap > HEAP + HEAP_SIZE:
            raise EmulationError("emulated heap exhausted")
        self.uc.mem_write(address, b"\0" * size)
        return address

    # Memory ------------------------------------------------------------------

    def read(self, address, size):
        return bytes(self.uc.mem_read(address, size))

    def read32(self, address):
        return struct.unpack("<I", self.read(address, 4))[0]

    def write(self, address, data):
        self.uc.mem_write(address, bytes(data))

    def read_string(self, address):
        out = bytearray()
        while len(out) < 4096:
            byte = self.read(address + len(out), 1)
            if byte == b"\0":
                break
            out += byte
        return bytes(out)

    # Calls -------------------------------------------------------------------

    def call(self, address, slots, first_slot, watch=(0, 0), junk=0xA5):
        """Calls address with the 32-bit slots placed from first_slot upwards,
        the return address below them, and returns what the call did."""
        uc = self.uc
        if first_slot % 4 or not STACK + PAGE < first_slot < STACK + STACK_SIZE - 4 * len(slots):
            raise EmulationError(f"bad first slot {first_slot:#x}")
        # Everything below the arguments holds junk, so unset bytes show as junk.
        uc.mem_write(STACK, bytes([junk]) * (first_slot - STACK))
        uc.mem_write(first_slot, b"".join(struct.pack("<I", s & 0xFFFFFFFF) for s in slots))
        uc.mem_write(first_slot - 4, struct.pack("<I", SENTINEL))
        registers = {"ebx": 0xB0B0B0B0, "esi": 0x5E5E5E5E, "edi": 0xD1D1D1D0, "ebp": 0xB9B9B9B9}
        for name, value in registers.items():
            uc.reg_write(CALLEE_SAVED[name], value)
        uc.reg_write(X.UC_X86_REG_EAX, 0xEAEAEAEA)
        uc.reg_write(X.UC_X86_REG_ECX, 0xECECECEC)
        uc.reg_write(X.UC_X86_REG_EDX, 0xEDEDEDED)
        uc.reg_write(X.UC_X86_REG_EFLAGS, 0x202)  # direction flag clear, as the ABI asks
        uc.reg_write(X.UC_X86_REG_ESP, first_slot - 4)
        self.run = run = Run()
        self.watch = watch
        self.stack_range = (STACK, first_slot + 4 * len(slots))
        try:
            uc.emu_start(address, SENTINEL, count=INSTRUCTION_LIMIT)
        except unicorn.UcError as error:
            eip = uc.reg_read(X.UC_X86_REG_EIP)
            run.error = run.error or f"{error} at {eip:#010x}"
        run.eip = uc.reg_read(X.UC_X86_REG_EIP)
        if not run.error and run.eip != SENTINEL:
            run.error = (f"did not return within {INSTRUCTION_LIMIT} instructions "
                         f"(at {run.eip:#010x})")
        run.eax = uc.reg_read(X.UC_X86_REG_EAX)
        run.esp = uc.reg_read(X.UC_X86_REG_ESP)
        run.eflags = uc.reg_read(X.UC_X86_REG_EFLAGS)
        run.registers = {name: (uc.reg_read(reg), registers[name])
                         for name, reg in CALLEE_SAVED.items()}
        self.run = None
        return run
