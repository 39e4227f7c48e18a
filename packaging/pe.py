"""Reads what the bundle check needs from a Windows PE image: the machine,
the exported names, the imported DLLs and the fixed version of its version
resource. Raises PEError on anything that is not a well-formed image."""

import struct

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
RT_VERSION = 16
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


class PEError(Exception):
    pass


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PEError("no MZ header")
        pe = self._u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        optional = pe + 24
        magic = self._u16(optional)
        if magic not in (0x10B, 0x20B):
            raise PEError(f"unknown optional header {magic:#x}")
        directories = optional + (96 if magic == 0x10B else 112)
        count = self._u32(directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(min(count, 16))]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            _, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rsize), raw))

    def _u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def _u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise PEError(f"address {rva:#x} lies in no section")

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def exports(self):
        rva, size = self.directory(0)
        if not size:
            return []
        base = self.offset(rva)
        names, name_table = struct.unpack_from("<II", self.data, base + 24)[0], self._u32(base + 32)
        return [self.string(self._u32(self.offset(name_table) + 4 * i)) for i in range(names)]

    def imported_dlls(self):
        rva, size = self.directory(1)
        dlls = []
        if not size:
            return dlls
        entry = self.offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", self.data, entry)
            if not any(fields):
                return dlls
            dlls.append(self.string(fields[3]))
            entry += 20

    def file_version(self):
        """The FILEVERSION of the version resource as (a, b, c, d), or None."""
        rva, size = self.directory(2)
        if not size:
            return None
        root = self.offset(rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, directory + 16 + 8 * i)

        for ident, target in entries(root):
            if ident != RT_VERSION:
                continue
            node = target
            while node & 0x80000000:  # down the name and language levels
                _, node = next(entries(root + (node & 0x7FFFFFFF)))
            data_rva, data_size = struct.unpack_from("<II", self.data, root + node)
            block = self.data[self.offset(data_rva):self.offset(data_rva) + data_size]
            at = block.find(struct.pack("<I", FIXED_FILE_INFO_SIGNATURE))
            if at < 0:
                raise PEError("version resource without fixed file info")
            ms, ls = struct.unpack_from("<II", block, at + 8)
            return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        return None
