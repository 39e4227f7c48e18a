"""Finding and loading LV_zolt and the zolt driver it binds.

LV_zolt names the driver `zolt` as a needed library and binds it once, when
it loads, so a process has one driver. The copy of LV_zolt in this package
has no driver beside it. A driver chosen by the caller (a path, the bundled
simulated board, the bundled replay driver) is loaded first, before
LV_zolt: the loader then takes it for LV_zolt's needed `libzolt.so`, because
an object already loaded whose soname matches is used instead of a search
(glibc does so whether the driver was loaded with global or local binding;
local keeps its symbols out of the process's global scope). After loading,
the driver LV_zolt really bound is looked up in LV_zolt's own scope, which
its calls use, and compared with the one asked for.
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from dataclasses import dataclass
from pathlib import Path

from . import _binary
from ._exports import declare

WINDOWS = sys.platform == "win32"
LIBRARY_FILE = "LV_zolt.dll" if WINDOWS else "libLV_zolt.so"
DRIVER_FILE = "zolt.dll" if WINDOWS else "libzolt.so"
NATIVE = Path(__file__).resolve().parent / "_native"
LIBRARY_VARIABLE = "LV_ZOLT_LIBRARY"
DRIVER_VARIABLE = "LV_ZOLT_DRIVER"
REPLAY_VARIABLE = "ZOLT_REPLAY_FILE"
# A driver operation every zolt exports, used to see which one LV_zolt bound.
_PROBE = "ZOLT_open"


class LibraryError(Exception):
    """LV_zolt or the driver cannot be found or loaded, or the driver asked
    for is not the one this process already uses."""


class DriverConflictError(LibraryError):
    """A driver other than the one already loaded was asked for: a process
    can use only one."""


@dataclass(frozen=True)
class Found:
    """A library file and how it was chosen."""
    path: Path | None   # None: left to the system's loader
    how: str            # "library= argument", "LV_ZOLT_LIBRARY", "bundled", ...

    def describe(self) -> str:
        return f"{self.path} ({self.how})" if self.path else self.how


@dataclass(frozen=True)
class DriverChoice:
    name: str                 # "system", "simulator", "replay:TRACE" or a path
    found: Found
    environment: tuple[tuple[str, str], ...] = ()   # variables the driver reads

    @property
    def key(self):
        path = self.found.path.resolve() if self.found.path else None
        return (path, self.environment)


@dataclass(frozen=True)
class Loaded:
    lib: ctypes.CDLL
    library: Found
    driver: DriverChoice
    driver_file: str | None   # the file LV_zolt bound, when it can be told
    driver_lib: ctypes.CDLL | None = None


_SYSTEM = Found(None, "found by the loader: beside LV_zolt, then on its search path")


def bundled_drivers() -> dict[str, Path]:
    """The drivers this package carries, by name ("simulator", "replay")."""
    folder = NATIVE / "drivers"
    if not folder.is_dir():
        return {}
    return {entry.name: entry / DRIVER_FILE for entry in sorted(folder.iterdir())
            if (entry / DRIVER_FILE).is_file()}


def find_library(library=None) -> Found:
    """LV_zolt: the path given, else $LV_ZOLT_LIBRARY, else the bundled copy."""
    if library is not None:
        return Found(_existing(library, "library"), "library= argument")
    value = os.environ.get(LIBRARY_VARIABLE)
    if value is not None:
        return Found(_existing(value, LIBRARY_VARIABLE), LIBRARY_VARIABLE)
    bundled = NATIVE / LIBRARY_FILE
    if bundled.is_file():
        return Found(bundled, "bundled in the package")
    raise LibraryError(
        f"no LV_zolt library: this lv_zolt package carries none ({bundled} is missing); "
        f"pass library=PATH or set {LIBRARY_VARIABLE} to the path of {LIBRARY_FILE}")


def resolve_driver(driver=None) -> DriverChoice:
    """What `driver` (or $LV_ZOLT_DRIVER when it is None) asks for."""
    source = "driver"
    if driver is None:
        value = os.environ.get(DRIVER_VARIABLE)
        if value is None:
            return DriverChoice("system", _SYSTEM)
        driver, source = value, DRIVER_VARIABLE
    if not isinstance(driver, (str, os.PathLike)):
        raise TypeError(f"driver must be a path, 'simulator', 'replay:TRACE' or None, "
                        f"not {driver!r}")
    text = os.fspath(driver)
    where = f"{source}={text!r}"
    if text == "":
        raise LibraryError(f"{where}: empty; use a path to a zolt library, 'simulator', "
                           f"'replay:TRACE' or leave it unset for the system's driver")
    if text == "system":
        return DriverChoice("system", _SYSTEM)
    if text == "simulator":
        return DriverChoice(text, Found(_bundled("simulator", where), "bundled simulated board"))
    if text.startswith("replay:"):
        trace = text[len("replay:"):]
        if not trace:
            raise LibraryError(f"{where}: no trace file after 'replay:'")
        trace_path = Path(trace)
        if not trace_path.is_file():
            raise LibraryError(f"{where}: trace file {trace!r} does not exist")
        return DriverChoice(text, Found(_bundled("replay", where), "bundled replay driver"),
                            ((REPLAY_VARIABLE, str(trace_path.resolve())),))
    return DriverChoice(text, Found(_existing(text, source), f"{source} path"))


def _bundled(name: str, where: str) -> Path:
    drivers = bundled_drivers()
    if name not in drivers:
        carried = ", ".join(sorted(drivers)) or "none"
        raise LibraryError(f"{where}: this lv_zolt package carries no {name} driver "
                           f"(bundled drivers: {carried}; looked in {NATIVE / 'drivers'})")
    return drivers[name]


def _existing(value, source: str) -> Path:
    path = Path(os.fspath(value)) if value != "" else None
    if path is None or not path.is_file():
        raise LibraryError(f"{source}={os.fspath(value)!r}: no such file")
    return path


_lock = threading.Lock()
_loaded: Loaded | None = None
# A driver loaded by an attempt that then failed stays in the process.
_preloaded: DriverChoice | None = None


def loaded() -> Loaded | None:
    """What this process has loaded, if anything."""
    return _loaded


def load(library=None, driver=None) -> Loaded:
    """LV_zolt with its exports declared, bound to the driver asked for.

    The first call loads; later calls return the same libraries, and raise
    DriverConflictError when they ask for another LV_zolt or driver.
    """
    global _loaded
    with _lock:
        found = find_library(library)
        choice = resolve_driver(driver)
        if _loaded is not None:
            _check_same(_loaded, found, choice)
            return _loaded
        if _preloaded is not None and _preloaded.key != choice.key:
            raise DriverConflictError(
                f"an earlier attempt loaded the driver {_preloaded.name!r} "
                f"({_preloaded.found.describe()}), which stays in this process; "
                f"{choice.name!r} cannot be used beside it: start a new process for it")
        _loaded = _load(found, choice)
        return _loaded


def _check_same(current: Loaded, found: Found, choice: DriverChoice) -> None:
    if found.path.resolve() != current.library.path.resolve():
        raise DriverConflictError(
            f"this process already uses LV_zolt {current.library.describe()}; "
            f"{found.describe()} cannot be loaded beside it: use a new process")
    same_file = (choice.found.path is not None and current.driver_file is not None
                 and choice.environment == current.driver.environment
                 and os.path.realpath(choice.found.path) == current.driver_file)
    if choice.key != current.driver.key and not same_file:
        raise DriverConflictError(
            f"this process already uses the driver {current.driver.name!r} "
            f"({current.driver_file or current.driver.found.describe()}); a process has one "
            f"driver, so {choice.name!r} cannot be used in it: start a new process for it")


def _load(found: Found, choice: DriverChoice) -> Loaded:
    global _preloaded
    for name, value in choice.environment:
        os.environ[name] = value
    driver_lib = None
    if choice.found.path is not None:
        try:
            driver_lib = ctypes.CDLL(str(choice.found.path.resolve()), mode=ctypes.RTLD_LOCAL)
        except OSError as error:
            raise LibraryError(f"cannot load the driver {choice.found.describe()}: {error}"
                               f"{_architecture_hint(choice.found.path)}") from error
        _preloaded = choice
    try:
        lib = ctypes.CDLL(str(found.path.resolve()))
    except OSError as error:
        hint = _architecture_hint(found.path)
        if not hint and choice.found.path is not None:
            hint = _soname_hint(choice.found.path)
        if not hint and choice.found.path is None and "zolt" in str(error).replace(
                str(found.path), ""):
            hint = (f"; no zolt driver was found beside it or on the loader's path: install "
                    f"the board's driver, or choose driver='simulator' (or set "
                    f"{DRIVER_VARIABLE}=simulator) to use the simulated board")
        raise LibraryError(f"cannot load LV_zolt {found.describe()}: {error}{hint}") from error
    declare(lib)
    bound = _address(lib, _PROBE)
    driver_file = _file_of(bound)
    if driver_lib is not None and bound != _address(driver_lib, _PROBE):
        raise LibraryError(
            f"LV_zolt {found.describe()} took {driver_file or 'another library'} as its "
            f"{DRIVER_FILE}, not the driver asked for, {choice.found.describe()}"
            f"{_soname_hint(choice.found.path)}")
    # A zolt in the global scope (the program's own, or one loaded globally
    # earlier) would take LV_zolt's calls before its own dependency.
    foreign = _address(ctypes.CDLL(None), _PROBE) if not WINDOWS else None
    if foreign is not None and foreign != bound:
        raise LibraryError(
            f"a zolt driver is already in the process's global scope ({_file_of(foreign)}): "
            f"LV_zolt's calls would reach it rather than {driver_file}")
    return Loaded(lib, found, choice, driver_file, driver_lib)


def _soname_hint(path: Path) -> str:
    try:
        soname = _binary.read(path).soname
    except _binary.BinaryError:
        return ""
    if WINDOWS or soname == DRIVER_FILE:
        return ""
    return (f"; the driver's soname is {soname or 'missing'}, and LV_zolt takes a loaded "
            f"driver for its {DRIVER_FILE} only by that name")


def _address(lib: ctypes.CDLL, name: str) -> int | None:
    try:
        return ctypes.cast(getattr(lib, name), ctypes.c_void_p).value
    except AttributeError:
        return None


class _DlInfo(ctypes.Structure):
    _fields_ = [("dli_fname", ctypes.c_char_p), ("dli_fbase", ctypes.c_void_p),
                ("dli_sname", ctypes.c_char_p), ("dli_saddr", ctypes.c_void_p)]


def _file_of(address: int | None) -> str | None:
    """The file of the loaded object holding `address` (dladdr), if known."""
    if address is None or WINDOWS:
        return None
    try:
        dladdr = ctypes.CDLL(None).dladdr
    except (OSError, AttributeError):
        return None
    dladdr.argtypes = (ctypes.c_void_p, ctypes.POINTER(_DlInfo))
    dladdr.restype = ctypes.c_int
    info = _DlInfo()
    if dladdr(address, ctypes.byref(info)) == 0 or not info.dli_fname:
        return None
    return os.path.realpath(os.fsdecode(info.dli_fname))


def _architecture_hint(path: Path) -> str:
    try:
        library, python = _binary.read(path), _binary.interpreter()
    except _binary.BinaryError:
        return ""
    if library.same_architecture(python):
        return ""
    return (f"; {path} is {library.describe()}, but this Python is {python.bits}-bit "
            f"{python.machine}: use the library built for this Python")
