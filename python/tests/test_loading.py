"""Finding LV_zolt and the driver: lazy import, each way of choosing them,
clear errors naming the value at fault, one driver per process, and the
architecture of what was found."""

import struct

import pytest

import lv_zolt
from lv_zolt import _binary, _loader
from conftest import BUILD_DRIVER, BUILD_LIBRARY, SIMULATOR, SOURCE, STAGE, run_python

NOTHING_LOADED = """
import lv_zolt
maps = open("/proc/self/maps").read()
assert "libLV_zolt" not in maps and "libzolt" not in maps, "loaded at import"
"""


@pytest.mark.parametrize("path", [SOURCE, STAGE], ids=["source-tree", "staged"])
def test_importing_loads_no_library(path):
    run = run_python("-c", NOTHING_LOADED + "print(lv_zolt.__version__)", path=path)
    assert run.returncode == 0, run.stderr


def test_without_any_library_open_says_where_to_point():
    run = run_python("-c", NOTHING_LOADED + """
try:
    lv_zolt.open()
except lv_zolt.LibraryError as error:
    print(error)
""", path=SOURCE)
    assert run.returncode == 0, run.stderr
    assert "LV_ZOLT_LIBRARY" in run.stdout and "library=PATH" in run.stdout


SHOW_DRIVER = """
import sys, lv_zolt
args = dict(a.split("=", 1) for a in sys.argv[1:])
with lv_zolt.open(1, **args) as board:
    print(board.value, board.driver_file)
"""


@pytest.mark.parametrize("args, env, driver", [
    (["driver=simulator"], {}, SIMULATOR),
    # The build's simulator, loaded first: the bundled LV_zolt (no driver
    # beside it) binds it as its needed libzolt.so.
    ([f"driver={BUILD_DRIVER}"], {}, BUILD_DRIVER),
    ([], {"LV_ZOLT_DRIVER": "simulator"}, SIMULATOR),
    ([], {"LV_ZOLT_DRIVER": str(BUILD_DRIVER)}, BUILD_DRIVER),
    # A library given by path binds the driver beside it.
    ([f"library={BUILD_LIBRARY}"], {}, BUILD_DRIVER),
    ([], {"LV_ZOLT_LIBRARY": str(BUILD_LIBRARY)}, BUILD_DRIVER),
    ([f"library={BUILD_LIBRARY}", "driver=simulator"], {}, SIMULATOR),
], ids=["simulator", "driver-path", "variable-simulator", "variable-path", "library-path",
        "library-variable", "library-and-simulator"])
def test_the_driver_asked_for_is_the_one_bound(args, env, driver):
    run = run_python("-c", SHOW_DRIVER, *args, env=env)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["4101", str(driver.resolve())]


def test_without_a_system_driver_the_error_suggests_the_simulator():
    run = run_python("-c", "import lv_zolt; lv_zolt.open()")
    assert "lv_zolt.LibraryError" in run.stderr
    assert "libzolt.so" in run.stderr and "driver='simulator'" in run.stderr


@pytest.mark.parametrize("kwargs, env, error, words", [
    ({}, {"LV_ZOLT_LIBRARY": "/nonexistent/libLV_zolt.so"}, lv_zolt.LibraryError,
     "LV_ZOLT_LIBRARY='/nonexistent/libLV_zolt.so': no such file"),
    ({}, {"LV_ZOLT_LIBRARY": ""}, lv_zolt.LibraryError, "LV_ZOLT_LIBRARY='': no such file"),
    ({"library": "/nonexistent/lib.so"}, {}, lv_zolt.LibraryError,
     "library='/nonexistent/lib.so': no such file"),
    ({}, {"LV_ZOLT_DRIVER": ""}, lv_zolt.LibraryError, "LV_ZOLT_DRIVER='': empty"),
    ({}, {"LV_ZOLT_DRIVER": "simulater"}, lv_zolt.LibraryError,
     "LV_ZOLT_DRIVER='simulater': no such file"),
    ({"driver": "/nonexistent/libzolt.so"}, {}, lv_zolt.LibraryError,
     "driver='/nonexistent/libzolt.so': no such file"),
    ({"driver": "replay:"}, {}, lv_zolt.LibraryError, "no trace file after 'replay:'"),
    ({"driver": "replay:/nonexistent.trace"}, {}, lv_zolt.LibraryError,
     "trace file '/nonexistent.trace' does not exist"),
    ({"driver": 3}, {}, TypeError, "not 3"),
], ids=["library-variable", "empty-library-variable", "library-argument", "empty-driver-variable",
        "driver-variable", "driver-path", "replay-without-trace", "replay-missing-trace",
        "driver-type"])
def test_bad_choices_are_named(simulator, monkeypatch, kwargs, env, error, words):
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    with pytest.raises(error) as raised:
        lv_zolt.open(0, **kwargs)
    assert words in str(raised.value)


REPLAY_BUNDLED = "replay" in _loader.bundled_drivers()


@pytest.mark.skipif(REPLAY_BUNDLED, reason="this build bundles the replay driver")
def test_replay_without_the_bundled_driver_says_so(simulator, tmp_path):
    trace = tmp_path / "board.trace"
    trace.write_text("")
    with pytest.raises(lv_zolt.LibraryError, match="carries no replay driver"):
        lv_zolt.open(0, driver=f"replay:{trace}")


@pytest.mark.skipif(not REPLAY_BUNDLED, reason="this build does not bundle the replay driver")
def test_replay_binds_the_bundled_driver_over_the_trace(tmp_path):
    trace = tmp_path / "board.trace"
    trace.write_text("")
    run = run_python("-c", f"""
import os
from lv_zolt import _loader
loaded = _loader.load(driver="replay:{trace}")
print(loaded.driver_file, os.environ["ZOLT_REPLAY_FILE"])
""")
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == [str(STAGE / "lv_zolt" / "_native" / "drivers" / "replay"
                                      / "libzolt.so"), str(trace)]


@pytest.mark.parametrize("kwargs, words", [
    ({"driver": str(BUILD_DRIVER)}, "already uses the driver 'simulator'"),
    ({}, "already uses the driver 'simulator'"),            # the system's driver
    ({"library": str(BUILD_LIBRARY), "driver": "simulator"}, "already uses LV_zolt"),
], ids=["driver-path", "system-driver", "other-library"])
def test_a_second_driver_in_one_process_is_refused(simulator, kwargs, words):
    with lv_zolt.open(0, driver="simulator"):
        with pytest.raises(lv_zolt.DriverConflictError, match=words):
            lv_zolt.open(1, **kwargs)
        with lv_zolt.open(1, driver="simulator") as again:   # the same one is fine
            assert again.value == 4101
        with lv_zolt.open(1, driver=SIMULATOR) as again:      # named by its path too
            assert again.value == 4101


def test_asking_for_another_driver_in_a_fresh_process_after_the_first():
    run = run_python("-c", """
import lv_zolt
lv_zolt.open(0, driver="simulator").close()
try:
    lv_zolt.open(0)
except lv_zolt.DriverConflictError as error:
    print("refused:", error)
""")
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("refused: this process already uses the driver 'simulator'")


def _elf(bits, machine):
    ident = b"\x7fELF" + bytes([1 if bits == 32 else 2, 1, 1]) + bytes(9)
    return ident + struct.pack("<HHI", 3, machine, 1) + bytes(64)


def _pe(machine, magic):
    header = bytearray(0x80)
    header[:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x40)
    return bytes(header[:0x40]) + b"PE\0\0" + struct.pack("<HH", machine, 1) + bytes(16) \
        + struct.pack("<H", magic) + bytes(64)


@pytest.mark.parametrize("data, expected", [
    (_elf(32, 3), ("ELF", 32, "i386")),
    (_elf(64, 62), ("ELF", 64, "x86-64")),
    (_elf(64, 183), ("ELF", 64, "AArch64")),
    (_pe(0x14C, 0x10B), ("PE", 32, "i386")),
    (_pe(0x8664, 0x20B), ("PE", 64, "x86-64")),
], ids=["elf-i386", "elf-x86-64", "elf-aarch64", "pe-i386", "pe-x86-64"])
def test_library_headers_name_their_architecture(tmp_path, data, expected):
    path = tmp_path / "library"
    path.write_bytes(data)
    binary = _binary.read(path)
    assert (binary.format, binary.bits, binary.machine) == expected


@pytest.mark.parametrize("data", [b"", b"#!/bin/sh\n", b"\x7fELF\x01", b"MZ" + bytes(100)],
                         ids=["empty", "script", "short-elf", "mz-without-pe"])
def test_unreadable_headers_are_named(tmp_path, data):
    path = tmp_path / "library"
    path.write_bytes(data)
    with pytest.raises(_binary.BinaryError, match=str(path)):
        _binary.read(path)


def test_the_bundled_library_reads_as_what_it_is():
    binary = _binary.read(STAGE / "lv_zolt" / "_native" / "libLV_zolt.so")
    assert binary.same_architecture(_binary.interpreter())
    assert (binary.needed, binary.soname, binary.runpath) == \
        (("libzolt.so",), "libLV_zolt.so.1", "$ORIGIN")
    assert _binary.read(SIMULATOR).soname == "libzolt.so"


def test_a_library_of_another_architecture_is_named_as_such(tmp_path):
    fake = tmp_path / "libLV_zolt.so"
    fake.write_bytes(_elf(32, 3))
    run = run_python("-m", "lv_zolt", "diagnose", "--library", str(fake), "--driver", "simulator")
    assert run.returncode == 1
    assert "ELF 32-bit i386, DOES NOT MATCH Python (ELF 64-bit x86-64)" in run.stdout
    assert "but this Python is 64-bit x86-64" in run.stdout


@pytest.fixture(scope="module")
def other_soname(tmp_path_factory):
    """The build's simulated driver with the soname libzolu.so."""
    data = BUILD_DRIVER.read_bytes()
    assert data.count(b"libzolt.so\0") == 1
    path = tmp_path_factory.mktemp("driver") / "libother.so"
    path.write_bytes(data.replace(b"libzolt.so\0", b"libzolu.so\0"))
    return path


SHOW_ERROR = """
import sys, lv_zolt
args = dict(a.split("=", 1) for a in sys.argv[1:])
try:
    lv_zolt.open(0, **args)
except lv_zolt.LibraryError as error:
    print(type(error).__name__, error)
"""


@pytest.mark.parametrize("library, words", [
    (None, "libzolt.so: cannot open shared object file"),   # nothing beside the bundled copy
    (BUILD_LIBRARY, f"took {BUILD_DRIVER} as its libzolt.so, not the driver asked for"),
], ids=["bundled-library", "library-with-a-driver-beside-it"])
def test_a_driver_without_the_soname_libzolt_is_refused(other_soname, library, words):
    args = [f"driver={other_soname}"] + ([f"library={library}"] if library else [])
    run = run_python("-c", SHOW_ERROR, *args)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("LibraryError ")
    assert words in run.stdout and "the driver's soname is libzolu.so" in run.stdout


def test_a_driver_loaded_by_a_failed_attempt_stays_the_process_driver(tmp_path):
    fake = tmp_path / "libLV_zolt.so"
    fake.write_bytes(_elf(32, 3))
    run = run_python("-c", f"""
import lv_zolt
for library, driver in [("{fake}", "simulator"), ("{BUILD_LIBRARY}", "{BUILD_DRIVER}")]:
    try:
        lv_zolt.open(0, library=library, driver=driver)
    except lv_zolt.LibraryError as error:
        print(type(error).__name__, error)
""")
    assert run.returncode == 0, run.stderr
    first, second = run.stdout.splitlines()
    assert first.startswith("LibraryError cannot load LV_zolt")
    assert second.startswith("DriverConflictError an earlier attempt loaded the driver "
                             "'simulator'")
