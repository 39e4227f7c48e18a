#!/usr/bin/env python3
"""Checks that every description of the 24 exports says the same thing.

Compares the public header (the reference) with:
  - docs/exports.md: one section per export whose table lists each argument
    with its name, type, direction and 32-bit slots, and the summary table's
    driver operation, argument count and slot count;
  - each .def file given: one of LV_ZOLT_ names must list exactly the
    header's exports, one of ZOLT_ names exactly the driver operations;
  - the Python package's ctypes declarations (python/lv_zolt/_exports.py):
    same count and exact types.

Prints every disagreement and exits 1; exits 2 on a bad command line or an
unreadable file.
"""

import argparse
import ctypes
import importlib.util
import re
import sys
from pathlib import Path

DECLARATION = re.compile(
    r"LV_ZOLT_API\s+uint8_t\s+LV_ZOLT_CALL\s+(LV_ZOLT_\w+)\s*\(([^)]*)\)\s*;")
CTYPES = {
    "uint8_t": ctypes.c_uint8,
    "uint16_t": ctypes.c_uint16,
    "int16_t": ctypes.c_int16,
    "uint32_t": ctypes.c_uint32,
    "float": ctypes.c_float,
    "double": ctypes.c_double,
    "char": ctypes.c_char,
    "LV_ZOLT_Handle": ctypes.c_size_t,
}


class Usage(Exception):
    pass


def read(path):
    try:
        return Path(path).read_text(encoding="utf-8")
    except OSError as error:
        raise Usage(f"cannot read {path}: {error.strerror}") from error


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def parse_header(text):
    """Returns {name: [(type, parameter name), ...]} in declaration order."""
    code = strip_comments(text)
    exports = {}
    for name, params in DECLARATION.findall(code):
        args = []
        for param in params.split(","):
            param = " ".join(param.split())
            if param in ("", "void"):
                continue
            match = re.fullmatch(r"(.+?)\s*(\**)\s*(\w+)", param)
            kind = match.group(1) + (" " + match.group(2) if match.group(2) else "")
            args.append((kind, match.group(3)))
        exports[name] = args
    mentioned = set(re.findall(r"\b(LV_ZOLT_[A-Za-z]+)\s*\(", code))
    return exports, mentioned - set(exports)


def slots(kind):
    return 2 if kind == "double" else 1


def table_rows(block):
    rows = []
    for line in block.splitlines():
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            rows.append(cells)
    return rows


def code(cell):
    return cell[1:-1] if len(cell) >= 2 and cell[0] == cell[-1] == "`" else cell


def check_docs(header, text, problems):
    sections = re.split(r"^(#{2,3} .*)$", text, flags=re.M)
    documented = {}
    summary = None
    for heading, body in zip(sections[1::2], sections[2::2]):
        if heading.startswith("## ") and heading[3:].strip() == "Summary":
            summary = body
        if heading.startswith("### "):
            for name in re.findall(r"`(LV_ZOLT_\w+)`", heading):
                if name in documented:
                    problems.append(f"docs: {name} has more than one section")
                documented[name] = body

    for name in sorted(set(header) - set(documented)):
        problems.append(f"docs: no section for {name}")
    for name in sorted(set(documented) - set(header)):
        problems.append(f"docs: section for {name}, which the header does not declare")

    for name, body in documented.items():
        if name not in header:
            continue
        operation = name[len("LV_"):]
        if f"`{operation}`" not in body:
            problems.append(f"docs: the section for {name} does not name {operation}")
        rows = [r for r in table_rows(body) if r and r[0].isdigit()]
        args = header[name]
        if len(rows) != len(args):
            problems.append(f"docs: {name} has {len(rows)} arguments in its table, "
                            f"the header {len(args)}")
            continue
        for position, (row, (kind, param)) in enumerate(zip(rows, args), start=1):
            where = f"docs: {name} argument {position}"
            if len(row) < 7:
                problems.append(f"{where}: the row has {len(row)} cells, not 8")
                continue
            number, arg, doc_kind, _width, direction, doc_slots, written = row[:7]
            if number != str(position):
                problems.append(f"{where}: numbered {number}")
            if code(arg) != param:
                problems.append(f"{where}: named {code(arg)}, the header says {param}")
            if code(doc_kind) != kind:
                problems.append(f"{where}: type {code(doc_kind)}, the header says {kind}")
            want = "out" if kind.endswith("*") else "in"
            if direction != want:
                problems.append(f"{where}: marked {direction}, its type makes it {want}")
            if doc_slots != str(slots(kind)):
                problems.append(f"{where}: {doc_slots} slots, its type takes {slots(kind)}")
            if want == "in" and written != "—":
                problems.append(f"{where}: an input with a 'Written' entry")
            if want == "out" and written not in ("always", "only on status 0"):
                problems.append(f"{where}: 'Written' must be 'always' or 'only on status 0'")

    if summary is None:
        problems.append("docs: no Summary section")
        return
    listed = {}
    for row in table_rows(summary):
        if len(row) >= 4 and code(row[0]).startswith("LV_ZOLT_"):
            listed[code(row[0])] = row
    for name in sorted(set(header) ^ set(listed)):
        problems.append(f"docs: Summary {'lacks' if name in header else 'lists unknown'} {name}")
    for name, row in listed.items():
        if name not in header:
            continue
        args = header[name]
        want = [f"{name[len('LV_'):]}", str(len(args)), str(sum(slots(k) for k, _ in args))]
        got = [code(row[1]), row[2], row[3]]
        if got != want:
            problems.append(f"docs: Summary row for {name} says {' / '.join(got)}, "
                            f"the header gives {' / '.join(want)}")


def parse_def(text):
    names, in_exports = [], False
    for line in text.splitlines():
        line = line.split(";", 1)[0].strip()
        if not line:
            continue
        keyword = line.split()[0].upper()
        if keyword == "EXPORTS":
            in_exports = True
            continue
        if keyword in ("LIBRARY", "NAME", "DESCRIPTION", "VERSION", "HEAPSIZE", "STACKSIZE",
                       "SECTIONS"):
            in_exports = False
            continue
        if in_exports:
            names.append(re.split(r"[\s=@]", line)[0])
    return names


def check_def(path, header, problems):
    names = parse_def(read(path))
    if not names:
        problems.append(f"{path}: no exports listed")
        return
    if all(n.startswith("LV_ZOLT_") for n in names):
        want, what = set(header), "the header's exports"
    elif all(n.startswith("ZOLT_") for n in names):
        want, what = {n[len("LV_"):] for n in header}, "the driver operations"
    else:
        problems.append(f"{path}: mixes names of the library and of the driver")
        return
    for name in sorted({n for n in names if names.count(n) > 1}):
        problems.append(f"{path}: {name} listed twice")
    for name in sorted(want - set(names)):
        problems.append(f"{path}: lacks {name} (one of {what})")
    for name in sorted(set(names) - want):
        problems.append(f"{path}: lists {name}, not one of {what}")


def ctype_of(kind):
    base = kind.rstrip(" *")
    if base not in CTYPES:
        return None
    return ctypes.POINTER(CTYPES[base]) if kind.endswith("*") else CTYPES[base]


def check_python(path, header, problems):
    spec = importlib.util.spec_from_file_location("lv_zolt_binding", path)
    module = importlib.util.module_from_spec(spec)
    try:
        spec.loader.exec_module(module)
    except (OSError, SyntaxError) as error:
        raise Usage(f"cannot load {path}: {error}") from error
    declared = getattr(module, "EXPORTS", {})
    for name in sorted(set(header) ^ set(declared)):
        problems.append(f"{path}: {'lacks' if name in header else 'declares unknown'} {name}")
    if getattr(module, "Status", None) is not ctypes.c_uint8:
        problems.append(f"{path}: the result type is not c_uint8")
    for name in sorted(set(header) & set(declared)):
        argtypes, args = tuple(declared[name]), header[name]
        if len(argtypes) != len(args):
            problems.append(f"{path}: {name} declares {len(argtypes)} arguments, "
                            f"the header {len(args)}")
            continue
        for position, (got, (kind, _)) in enumerate(zip(argtypes, args), start=1):
            want = ctype_of(kind)
            if want is None:
                problems.append(f"{path}: {name} argument {position}: no ctypes type known "
                                f"for {kind}")
            elif got is not want:
                problems.append(f"{path}: {name} argument {position} is "
                                f"{getattr(got, '__name__', got)}, the header's {kind} "
                                f"needs {want.__name__}")


def report(tool, problems, success):
    """Prints each problem on stderr, or the success line; returns the exit status."""
    for problem in problems:
        print(f"{tool}: {problem}", file=sys.stderr)
    if problems:
        return 1
    print(f"{tool}: {success}")
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--header", required=True)
    parser.add_argument("--docs", required=True)
    parser.add_argument("--def", dest="defs", action="append", default=[])
    parser.add_argument("--python", required=True)
    args = parser.parse_args(argv)

    problems = []
    try:
        text = read(args.header)
        header, undeclared = parse_header(text)
        if not re.search(r"typedef\s+uintptr_t\s+LV_ZOLT_Handle\s*;", text):
            problems.append(f"{args.header}: LV_ZOLT_Handle is no longer uintptr_t")
        for name in sorted(undeclared):
            problems.append(f"{args.header}: {name} is not declared in the export form")
        if len(header) != 24:
            problems.append(f"{args.header}: {len(header)} exports declared, not 24")
        check_docs(header, read(args.docs), problems)
        for path in args.defs:
            check_def(path, header, problems)
        check_python(args.python, header, problems)
    except Usage as error:
        print(f"check_drift: {error}", file=sys.stderr)
        return 2

    return report("check_drift", problems,
                  f"{len(header)} exports agree in the header, the docs, "
                  f"{len(args.defs)} .def file(s) and the Python declarations")


if __name__ == "__main__":
    sys.exit(main())
