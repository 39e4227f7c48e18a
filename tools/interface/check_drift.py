#!/usr/bin/env python3
"""Holds the hand-written descriptions of the 24 exports against the header.

  check_drift.py --header HEADER --docs EXPORTS_MD [--python MODULE]...

The header is read through header.py, the one reader of its export list.
Compared with it:
  - the reference (docs/exports.md): one section per export whose table lists
    each argument with its name, type, direction and 32-bit slots, and the
    summary table's driver operation, argument count and slot count;
  - each binding's ctypes declarations (--python, once per module): a module
    that defines EXPORTS, {export name: argument types}, and Status, the
    result type; same exports, same count and exact types.

Prints every disagreement and exits 1; exits 2 on a bad command line or an
unreadable file.
"""

import argparse
import ctypes
import importlib.util
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import header as header_reader  # noqa: E402

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


def parameters(export):
    """[(C type as written in the docs, name)]: "uint16_t *" for a pointer."""
    return [(p.type + (" *" if p.pointer else ""), p.name) for p in export.parameters]


def slots(kind):
    return 2 if kind == "double" else 1


def table_rows(block):
    return [[c.strip() for c in line.strip().strip("|").split("|")]
            for line in block.splitlines() if line.startswith("|")]


def code(cell):
    return cell[1:-1] if len(cell) >= 2 and cell[0] == cell[-1] == "`" else cell


def check_docs(header, text, problems):
    sections = re.split(r"^(#{2,3} .*)$", text, flags=re.M)
    documented, summary = {}, None
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
            want = "out" if kind.endswith("*") else "in"
            for fault, message in (
                    (number != str(position), f"numbered {number}"),
                    (code(arg) != param, f"named {code(arg)}, the header says {param}"),
                    (code(doc_kind) != kind, f"type {code(doc_kind)}, the header says {kind}"),
                    (direction != want, f"marked {direction}, its type makes it {want}"),
                    (doc_slots != str(slots(kind)),
                     f"{doc_slots} slots, its type takes {slots(kind)}"),
                    (want == "in" and written != "—", "an input with a 'Written' entry"),
                    (want == "out" and written not in ("always", "only on status 0"),
                     "'Written' must be 'always' or 'only on status 0'")):
                if fault:
                    problems.append(f"{where}: {message}")

    if summary is None:
        problems.append("docs: no Summary section")
        return
    listed = {code(row[0]): row for row in table_rows(summary)
              if len(row) >= 4 and code(row[0]).startswith("LV_ZOLT_")}
    for name in sorted(set(header) ^ set(listed)):
        problems.append(f"docs: Summary {'lacks' if name in header else 'lists unknown'} {name}")
    for name in sorted(set(header) & set(listed)):
        args, row = header[name], listed[name]
        want = [name[len("LV_"):], str(len(args)), str(sum(slots(k) for k, _ in args))]
        got = [code(row[1]), row[2], row[3]]
        if got != want:
            problems.append(f"docs: Summary row for {name} says {' / '.join(got)}, "
                            f"the header gives {' / '.join(want)}")


def ctype_of(kind):
    base = kind.rstrip(" *")
    if base not in CTYPES:
        return None
    return ctypes.POINTER(CTYPES[base]) if kind.endswith("*") else CTYPES[base]


def check_python(path, header, problems):
    spec = importlib.util.spec_from_file_location(f"lv_zolt_binding_{abs(hash(path))}", path)
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
    parser.add_argument("--python", action="append", default=[], metavar="MODULE")
    args = parser.parse_args(argv)

    problems = []
    try:
        text = read(args.header)
        try:
            header = {e.name: parameters(e) for e in header_reader.parse(text, args.header)}
        except header_reader.HeaderError as error:
            code_only = re.sub(r"//[^\n]*", " ", re.sub(r"/\*.*?\*/", " ", text, flags=re.S))
            declared = {n for n, _ in header_reader._DECLARATION.findall(code_only)}
            for name in sorted(set(re.findall(r"\b(LV_ZOLT_[A-Za-z]+)\s*\(", code_only)) - declared):
                problems.append(f"{args.header}: {name} is not declared in the export form")
            return report("check_drift", problems + [str(error)], "")
        if not re.search(r"typedef\s+uintptr_t\s+LV_ZOLT_Handle\s*;", text):
            problems.append(f"{args.header}: LV_ZOLT_Handle is no longer uintptr_t")
        check_docs(header, read(args.docs), problems)
        for path in args.python:
            check_python(path, header, problems)
    except Usage as error:
        print(f"check_drift: {error}", file=sys.stderr)
        return 2

    return report("check_drift", problems,
                  f"{len(header)} exports agree in the header, the docs and "
                  f"{len(args.python)} binding declaration module(s)")


if __name__ == "__main__":
    sys.exit(main())
