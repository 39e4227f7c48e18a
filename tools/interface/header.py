#!/usr/bin/env python3
"""The one reader of the public header's export list.

Every tool, check and binding that needs the 24 exports (names, parameter
types and names, order) reads them through this module, so the header stays
the only place where they are written down.

As a program:
  header.py names HEADER          the export names, one a line, in header order
  header.py def HEADER [LIBRARY]  a module-definition file exporting them
  header.py driver-def HEADER     the one of the driver operations they call,
                                  for zolt.dll's import library
Each writes to standard output, or with a trailing "-o FILE" to FILE.
Exits 2 on a bad command line or an unreadable header, 1 when the header
does not declare exactly 24 exports.
"""

import re
import sys
from dataclasses import dataclass
from pathlib import Path

EXPORT_COUNT = 24

_DECLARATION = re.compile(
    r"LV_ZOLT_API\s+uint8_t\s+LV_ZOLT_CALL\s+(LV_ZOLT_\w+)\s*\(([^)]*)\)\s*;")
_PARAMETER = re.compile(r"^(?P<type>(?:const\s+)?\w+)\s*(?P<pointer>\*?)\s*(?P<name>\w+)$")


class HeaderError(Exception):
    """The header cannot be read or does not declare what it must."""


@dataclass(frozen=True)
class Parameter:
    type: str      # the C type without the pointer: "uint8_t", "LV_ZOLT_Handle", "char"
    pointer: bool  # an out-parameter (or the text buffer)
    name: str


@dataclass(frozen=True)
class Export:
    name: str                        # "LV_ZOLT_getTime"
    parameters: tuple[Parameter, ...]

    @property
    def operation(self) -> str:
        """The driver operation it calls, without ZOLT_: "getTime"."""
        return self.name[len("LV_ZOLT_"):]


def _strip_comments(text: str) -> str:
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def parse(text: str, source: str = "header") -> list[Export]:
    """The exports declared in header text, in declaration order."""
    exports = []
    for name, params in _DECLARATION.findall(_strip_comments(text)):
        parameters = []
        for raw in params.split(","):
            match = _PARAMETER.match(" ".join(raw.split()))
            if match is None:
                raise HeaderError(f"{source}: {name}: cannot read parameter '{raw.strip()}'")
            parameters.append(Parameter(match["type"], bool(match["pointer"]), match["name"]))
        exports.append(Export(name, tuple(parameters)))
    names = [e.name for e in exports]
    if len(names) != EXPORT_COUNT or len(set(names)) != EXPORT_COUNT:
        raise HeaderError(
            f"{source}: declares {len(set(names))} distinct exports, not {EXPORT_COUNT}")
    return exports


def read(path) -> list[Export]:
    try:
        text = Path(path).read_text(encoding="utf-8")
    except OSError as error:
        raise HeaderError(f"cannot read {path}: {error.strerror}") from error
    return parse(text, str(path))


def module_definition(exports: list[Export], library: str, driver: bool = False) -> str:
    """A .def exporting the exports' names, or with driver, the names of the
    driver operations they call (ZOLT_getTime for LV_ZOLT_getTime)."""
    names = sorted(e.name[len("LV_"):] if driver else e.name for e in exports)
    return "\n".join([f"LIBRARY {library}", "EXPORTS"] + [f"    {n}" for n in names]) + "\n"


def main(argv: list[str]) -> int:
    output = None
    if len(argv) >= 2 and argv[-2] == "-o":
        argv, output = argv[:-2], argv[-1]
    if len(argv) < 2 or argv[0] not in ("names", "def", "driver-def") or len(argv) > 3 \
            or (argv[0] in ("names", "driver-def") and len(argv) != 2):
        print("usage: header.py names HEADER | def HEADER [LIBRARY] | driver-def HEADER",
              file=sys.stderr)
        return 2
    try:
        exports = read(argv[1])
    except HeaderError as error:
        print(f"header.py: {error}", file=sys.stderr)
        return 2 if "cannot read" in str(error) else 1
    if argv[0] == "names":
        text = "".join(f"{e.name}\n" for e in exports)
    elif argv[0] == "driver-def":
        text = module_definition(exports, "zolt.dll", driver=True)
    else:
        text = module_definition(exports, argv[2] if len(argv) == 3 else "LV_zolt.dll")
    if output is None:
        sys.stdout.write(text)
    else:
        Path(output).write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
