#!/usr/bin/env python3
"""LV_zolt through ctypes alone, without the lv_zolt package: what the
package does for a host that cannot use it.

    python3 raw_ctypes.py /path/to/libLV_zolt.so [--board N]

- Declare every export before calling it: the result is an unsigned 8-bit
  status (ctypes assumes int), the handle an unsigned integer of pointer
  width, narrow inputs 32-bit slots, out-parameters pointers to one value.
- Pass out-parameters with byref(); the identification exports need a
  9-byte buffer ("XX-XX-XX" and a NUL).
- Check every status: 0 is success, anything else is the driver's code.
- LV_zolt finds its driver, zolt, beside itself (or on the loader's path).
"""

import argparse
import ctypes
import sys
from ctypes import POINTER, byref, c_char, c_double, c_size_t, c_uint8, c_uint16, c_uint32

DECLARATIONS = {
    "LV_ZOLT_open": (POINTER(c_size_t), c_uint32, POINTER(c_uint16)),
    "LV_ZOLT_close": (c_size_t,),
    "LV_ZOLT_getFirmware": (c_size_t, POINTER(c_char)),
    "LV_ZOLT_getFPGA": (c_size_t, POINTER(c_char)),
    "LV_ZOLT_getTime": (c_size_t, POINTER(c_double), POINTER(c_uint8), POINTER(c_uint8),
                        POINTER(c_uint16)),
}


def check(name, status):
    if status != 0:
        raise RuntimeError(f"{name} returned status {status}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("library", help="path of libLV_zolt.so or LV_zolt.dll")
    parser.add_argument("--board", type=int, default=0, help="board index (default 0)")
    args = parser.parse_args(argv)
    if not 0 <= args.board <= 0xFFFFFFFF:
        parser.error("--board must be between 0 and 4294967295")
    try:
        lib = ctypes.CDLL(args.library)
    except OSError as error:
        print(f"raw_ctypes: cannot load {args.library}: {error}", file=sys.stderr)
        return 1
    for name, argtypes in DECLARATIONS.items():
        getattr(lib, name).argtypes = argtypes
        getattr(lib, name).restype = c_uint8

    handle, value = c_size_t(), c_uint16()
    firmware, fpga = ctypes.create_string_buffer(9), ctypes.create_string_buffer(9)
    seconds, minutes, hours, day = c_double(), c_uint8(), c_uint8(), c_uint16()
    try:
        check("LV_ZOLT_open", lib.LV_ZOLT_open(byref(handle), args.board, byref(value)))
        try:
            check("LV_ZOLT_getFirmware", lib.LV_ZOLT_getFirmware(handle, firmware))
            check("LV_ZOLT_getFPGA", lib.LV_ZOLT_getFPGA(handle, fpga))
            check("LV_ZOLT_getTime", lib.LV_ZOLT_getTime(handle, byref(seconds), byref(minutes),
                                                         byref(hours), byref(day)))
        finally:
            lib.LV_ZOLT_close(handle)
    except RuntimeError as error:
        print(f"raw_ctypes: {error}", file=sys.stderr)
        return 1

    print(f"board {args.board}: board value {value.value}")
    print(f"firmware {firmware.value.decode('ascii')}")
    print(f"FPGA     {fpga.value.decode('ascii')}")
    print(f"time     {seconds.value!r} {minutes.value} {hours.value} {day.value}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
