"""The package's ctypes declarations against the public header, read through
the project's one reader of it: every export, in the header's order, with
each argument's exact ctypes type (names in the header are free to change)."""

import ctypes
import importlib.util
import re
from ctypes import POINTER

import pytest

from conftest import ROOT

_spec = importlib.util.spec_from_file_location("header", ROOT / "tools" / "interface" / "header.py")
header = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(header)

from lv_zolt import _exports  # noqa: E402

CTYPES = {"uint8_t": ctypes.c_uint8, "uint16_t": ctypes.c_uint16, "int16_t": ctypes.c_int16,
          "uint32_t": ctypes.c_uint32, "float": ctypes.c_float, "double": ctypes.c_double,
          "char": ctypes.c_char, "LV_ZOLT_Handle": ctypes.c_size_t}


def mismatches(declared, exports):
    """Every way `declared` (name -> argtypes) differs from the header's exports."""
    problems = []
    if list(declared) != [e.name for e in exports]:
        problems.append(f"names or order: {list(declared)} != {[e.name for e in exports]}")
    for export in exports:
        argtypes = declared.get(export.name)
        if argtypes is None:
            continue
        wanted = []
        for parameter in export.parameters:
            base = CTYPES.get(parameter.type)
            if base is None:
                problems.append(f"{export.name}: no ctypes type for {parameter.type}")
                continue
            wanted.append(POINTER(base) if parameter.pointer else base)
        if tuple(argtypes) != tuple(wanted):
            problems.append(f"{export.name}: declared {argtypes}, header {tuple(wanted)}")
    return problems


@pytest.fixture(scope="module")
def exports():
    return header.read(ROOT / "include" / "LV_zolt.h")


def test_declarations_match_the_header(exports):
    assert mismatches(_exports.EXPORTS, exports) == []
    assert _exports.Status is ctypes.c_uint8
    assert ctypes.sizeof(_exports.Handle) == ctypes.sizeof(ctypes.c_void_p)


def _swap(declared, name, position, new):
    changed = dict(declared)
    args = list(changed[name])
    args[position] = new
    changed[name] = tuple(args)
    return changed


@pytest.mark.parametrize("change", [
    lambda d: _swap(d, "LV_ZOLT_setTime", 4, ctypes.c_uint16),          # a narrowed slot
    lambda d: _swap(d, "LV_ZOLT_getAltitude", 1, POINTER(ctypes.c_double)),
    lambda d: _swap(d, "LV_ZOLT_close", 0, ctypes.c_uint32),            # handle too narrow
    lambda d: {**d, "LV_ZOLT_waitMatch": d["LV_ZOLT_waitMatch"][:1]},   # argument dropped
    lambda d: {k: v for k, v in d.items() if k != "LV_ZOLT_simEvent"},  # export dropped
    lambda d: dict(reversed(list(d.items()))),                          # order
], ids=["narrow-slot", "real-width", "handle-width", "dropped-argument", "dropped-export",
        "order"])
def test_the_comparison_catches_drift(exports, change):
    assert mismatches(change(dict(_exports.EXPORTS)), exports)


def test_every_export_of_the_loaded_library_is_declared(simulator):
    from lv_zolt import _loader
    lib = _loader.loaded().lib
    for name, argtypes in _exports.EXPORTS.items():
        function = getattr(lib, name)
        assert function.restype is ctypes.c_uint8 and tuple(function.argtypes) == argtypes


def test_every_export_has_a_method_that_names_it(exports):
    """Each export of the header is reachable from Python: a Board method (or
    lv_zolt.open) whose docstring names the export it calls."""
    import lv_zolt
    documented = {name: getattr(lv_zolt.Board, name).__doc__ or ""
                  for name in dir(lv_zolt.Board) if not name.startswith("_")
                  and callable(getattr(lv_zolt.Board, name))}
    documented["open"] = lv_zolt.open.__doc__
    named = {name for doc in documented.values() for name in re.findall(r"LV_ZOLT_\w+", doc)}
    assert [e.name for e in exports if e.name not in named] == []
