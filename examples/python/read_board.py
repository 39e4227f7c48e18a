#!/usr/bin/env python3
"""Opens a board and prints its identification, time and date.

    python3 read_board.py [--board N] [--driver D] [--library PATH]

Uses the lv_zolt package (pip install the wheel, or put the repository's
python/ folder on PYTHONPATH). --driver is a zolt library's path, 'simulator'
or 'system'; --library the path of LV_zolt when the package carries none.
Exits 1 when a library cannot be loaded or an export reports a nonzero
status (naming the export and the status byte), 2 on a bad command line.
"""

import argparse
import sys

import lv_zolt


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--board", type=int, default=0, help="board index (default 0)")
    parser.add_argument("--driver", help="a zolt library's path, 'simulator' or 'system'")
    parser.add_argument("--library", help="the path of libLV_zolt.so or LV_zolt.dll")
    args = parser.parse_args(argv)
    if not 0 <= args.board <= 0xFFFFFFFF:
        parser.error("--board must be between 0 and 4294967295")

    try:
        with lv_zolt.open(args.board, driver=args.driver, library=args.library) as board:
            firmware, fpga = board.get_firmware(), board.get_fpga()
            now, today = board.get_time(), board.get_date()
    except (lv_zolt.ZoltError, lv_zolt.LibraryError) as error:
        print(f"read_board: {error}", file=sys.stderr)
        return 1

    print(f"board {board.index}: board value {board.value}")
    print(f"firmware {firmware}")
    print(f"FPGA     {fpga}")
    print(f"time     {now.seconds!r} {now.minutes} {now.hours} {now.day}")
    print(f"date     {today.year} {today.month} {today.day}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
