#!/usr/bin/env python3
"""Writes the differential fuzzer's seed corpus: for every export, a case
that succeeds and one that fails, with distinct argument, record and canary
bytes and garbage above the status byte. The layout is the one that
tests/assurance/differential.h documents.

Usage: fuzz/seeds.py [DIR]   (default: fuzz/corpus/differential)
"""
import pathlib
import struct
import sys

EXPORTS = 24


def seed(index, status, driver_writes, salt):
    out = bytearray()
    out += bytes([index, 0 if driver_writes else 1])
    out += struct.pack('<I', 0xA5C3_0000 | (salt << 8) | status)
    out += struct.pack('<Q', 0x1000 + index)                    # board handle
    for arg in range(2, 10):                                     # arguments 2..9
        out += struct.pack('<Q', (0x0101_0101_0101_0101 * (arg + salt)) ^ 0x8000_0000_0000_0000)
    out += bytes((3 * arg + salt) % 251 for arg in range(1, 10))  # out-parameter offsets
    out += bytes((0x40 + 7 * k + salt) % 256 for k in range(24))   # record bytes
    out += struct.pack('<Q', 0xDEAD_0000 + index)               # a failing open's handle
    out += struct.pack('<H', 0x8001 + salt)                      # board field
    out += bytes([0x3C + salt])                                  # canary seed
    return bytes(out)


def main():
    where = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else 'fuzz/corpus/differential')
    if where.exists() and not where.is_dir():
        sys.exit(f'seeds.py: {where} exists and is not a folder')
    where.mkdir(parents=True, exist_ok=True)
    for index in range(EXPORTS):
        for name, status, writes, salt in (('ok', 0x00, True, 1), ('fail', 0x7F, True, 2),
                                           ('silent', 0x81, False, 3)):
            (where / f'{index:02d}-{name}').write_bytes(seed(index, status, writes, salt))


if __name__ == '__main__':
    main()
