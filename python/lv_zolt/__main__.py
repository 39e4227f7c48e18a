"""python -m lv_zolt: a board's identity, and what was found where.

    python -m lv_zolt info [--board N] [--driver D] [--library PATH]
    python -m lv_zolt diagnose [--driver D] [--library PATH]

Exit status: 0 done, 1 a library could not be loaded or an export returned
a nonzero status, 2 a bad command line.
"""

from __future__ import annotations

import argparse
import os
import platform
import sys

from . import __version__, _binary, _loader
from ._board import ZoltError, open as open_board


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m lv_zolt",
                                     description="The zolt timing board through LV_zolt.")
    parser.add_argument("--version", action="version", version=f"lv_zolt {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--driver", help="a zolt library's path, 'simulator', 'replay:TRACE' "
                                         "or 'system' (default: $LV_ZOLT_DRIVER, else the "
                                         "system's driver)")
    common.add_argument("--library", help="LV_zolt's path (default: $LV_ZOLT_LIBRARY, else "
                                          "the copy in this package)")
    info = commands.add_parser("info", parents=[common],
                               help="board value, driver revision, firmware and FPGA ids")
    info.add_argument("--board", type=_index, default=0, help="board index (default 0)")
    commands.add_parser("diagnose", parents=[common],
                        help="which LV_zolt and driver were found, how, and for which "
                             "architecture: paste it into a bug report")
    return parser


def _index(text: str) -> int:
    try:
        value = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a board index: {text!r}") from None
    if not 0 <= value <= 0xFFFFFFFF:
        raise argparse.ArgumentTypeError(f"board index {value} is outside 0..4294967295")
    return value


def info(args) -> int:
    with open_board(args.board, driver=args.driver, library=args.library) as board:
        identity = board.identity()
    print(f"board        {identity.index}")
    print(f"board value  {identity.value}")
    print(f"driver       revision {identity.driver_revision}")
    print(f"firmware     {identity.firmware}")
    print(f"FPGA         {identity.fpga}")
    return 0


def _architecture(path, python: _binary.Binary) -> str:
    try:
        binary = _binary.read(path)
    except _binary.BinaryError as error:
        return f"cannot read its header: {error}"
    verdict = "matches Python" if binary.same_architecture(python) else \
        f"DOES NOT MATCH Python ({python.describe()})"
    text = f"{binary.describe()}, {verdict}"
    if binary.needed:
        text += f"; needs {', '.join(binary.needed)}"
    if binary.runpath:
        text += f"; run path {binary.runpath}"
    return text


def diagnose(args) -> int:
    python = _binary.interpreter()
    lines = [f"lv_zolt          {__version__} ({os.path.dirname(os.path.abspath(__file__))})",
             f"python           {platform.python_version()} ({sys.executable}), "
             f"{python.describe()}, {sys.platform}"]
    for variable in (_loader.LIBRARY_VARIABLE, _loader.DRIVER_VARIABLE,
                     _loader.REPLAY_VARIABLE):
        value = os.environ.get(variable)
        lines.append(f"{variable:<16} {'(not set)' if value is None else repr(value)}")
    drivers = _loader.bundled_drivers()
    lines.append(f"bundled drivers  {', '.join(drivers) or 'none'}")
    status = 0
    try:
        found = _loader.find_library(args.library)
        lines.append(f"LV_zolt          {found.describe()}")
        lines.append(f"                 {_architecture(found.path, python)}")
    except _loader.LibraryError as error:
        lines.append(f"LV_zolt          NOT FOUND: {error}")
        found, status = None, 1
    try:
        choice = _loader.resolve_driver(args.driver)
        lines.append(f"driver asked     {choice.name}: {choice.found.describe()}")
        if choice.found.path is not None:
            lines.append(f"                 {_architecture(choice.found.path, python)}")
    except (_loader.LibraryError, TypeError) as error:
        lines.append(f"driver asked     UNUSABLE: {error}")
        choice, status = None, 1
    if found is not None and choice is not None:
        try:
            loaded = _loader.load(args.library, args.driver)
            lines.append(f"loaded           yes; LV_zolt bound the driver "
                         f"{loaded.driver_file or '(file cannot be told)'}")
            if loaded.driver_file:
                lines.append(f"                 "
                             f"{_architecture(loaded.driver_file, python)}")
        except _loader.LibraryError as error:
            lines.append(f"loaded           NO: {error}")
            status = 1
    print("\n".join(lines))
    return status


def main(argv=None) -> int:
    args = _parser().parse_args(argv)
    try:
        return {"info": info, "diagnose": diagnose}[args.command](args)
    except (ZoltError, _loader.LibraryError) as error:
        print(f"lv_zolt: {error}", file=sys.stderr)
        return 1
    except (ValueError, TypeError) as error:
        print(f"lv_zolt: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
