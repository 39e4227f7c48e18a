#!/usr/bin/env python3
"""Opens a board through LV_zolt and prints its identification, time and date.

    python3 read_board.py /path/to/libLV_zolt.so [--board N]

The library is loaded from the path given; the driver zolt must sit beside it.
The values are printed as the driver gives them; what they mean is the
driver's (the simulated board's are described in zolt_simulator.h).
Exits 1 when an export reports a nonzero status (naming the export and the
status byte), 2 on a bad command line.
"""

import argparse
import ctypes
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import lv_zolt  # noqa: E402


class ExportFailed(Exception):
    def __init__(self, name, status):
        super().__init__(f"{name} returned status {status}")


def call(lib, name, *args):
    status = getattr(lib, name)(*args)
    if status != 0:
        raise ExportFailed(name, status)


def read_board(lib, index):
    handle = lv_zolt.Handle()
    board_value = ctypes.c_uint16()
    call(lib, "LV_ZOLT_open", ctypes.byref(handle), index, ctypes.byref(board_value))
    try:
        firmware = ctypes.create_string_buffer(lv_zolt.ID_TEXT_SIZE)
        fpga = ctypes.create_string_buffer(lv_zolt.ID_TEXT_SIZE)
        call(lib, "LV_ZOLT_getFirmware", handle, firmware)
        call(lib, "LV_ZOLT_getFPGA", handle, fpga)

        real = ctypes.c_double()
        byte1, byte2 = ctypes.c_uint8(), ctypes.c_uint8()
        word = ctypes.c_uint16()
        call(lib, "LV_ZOLT_getTime", handle, ctypes.byref(real), ctypes.byref(byte1),
             ctypes.byref(byte2), ctypes.byref(word))

        date_word = ctypes.c_uint16()
        date_byte1, date_byte2 = ctypes.c_uint8(), ctypes.c_uint8()
        call(lib, "LV_ZOLT_getDate", handle, ctypes.byref(date_word), ctypes.byref(date_byte1),
             ctypes.byref(date_byte2))
    finally:
        lib.LV_ZOLT_close(handle)

    print(f"board {index}: board value {board_value.value}")
    print(f"firmware {firmware.value.decode('ascii')}")
    print(f"FPGA     {fpga.value.decode('ascii')}")
    print(f"time     {real.value!r} {byte1.value} {byte2.value} {word.value}")
    print(f"date     {date_word.value} {date_byte1.value} {date_byte2.value}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("library", help="path of libLV_zolt.so or LV_zolt.dll")
    parser.add_argument("--board", type=int, default=0, help="board index (default 0)")
    args = parser.parse_args(argv)
    if not 0 <= args.board <= 0xFFFFFFFF:
        parser.error("--board must be between 0 and 4294967295")

    try:
        lib = lv_zolt.load(args.library)
    except OSError as error:
        print(f"read_board: cannot load {args.library}: {error}", file=sys.stderr)
        return 1
    try:
        read_board(lib, args.board)
    except ExportFailed as error:
        print(f"read_board: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
