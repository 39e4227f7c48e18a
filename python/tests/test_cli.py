"""python -m lv_zolt: info and diagnose, and their exit statuses."""

import pytest

from conftest import BUILD_DRIVER, BUILD_LIBRARY, SIMULATOR, STAGE, run_python
from lv_zolt import _loader


@pytest.mark.parametrize("args, env", [
    (["--driver", "simulator", "--board", "1"], {}),
    (["--board", "1"], {"LV_ZOLT_DRIVER": "simulator"}),
    (["--board", "1", "--library", str(BUILD_LIBRARY)], {}),
], ids=["driver-option", "driver-variable", "library-option"])
def test_info_prints_the_identity(args, env):
    run = run_python("-m", "lv_zolt", "info", *args, env=env)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == ["board        1", "board value  4101",
                                       "driver       revision 3", "firmware     02-07-13",
                                       "FPGA         01-04-2A"]


@pytest.mark.parametrize("args, status, words", [
    (["info", "--driver", "simulator", "--board", "9"], 1, "LV_ZOLT_open returned status 4"),
    (["info", "--board", "0"], 1, "driver='simulator'"),
    (["info", "--driver", "/nonexistent.so"], 1, "driver='/nonexistent.so': no such file"),
    (["info", "--board", "x"], 2, "not a board index: 'x'"),
    (["info", "--board", "4294967296"], 2, "outside 0..4294967295"),
    ([], 2, "required"),
], ids=["no-such-board", "no-system-driver", "bad-driver", "bad-board", "board-too-big",
        "no-command"])
def test_failures_exit_with_their_status_and_say_why(args, status, words):
    run = run_python("-m", "lv_zolt", *args)
    assert run.returncode == status
    assert words in run.stderr


def test_diagnose_reports_what_was_found_and_how():
    run = run_python("-m", "lv_zolt", "diagnose", "--driver", "simulator",
                     env={"ZOLT_SIM_BOARDS": "3"})
    assert run.returncode == 0, run.stderr
    out = run.stdout
    library = STAGE / "lv_zolt" / "_native" / "libLV_zolt.so"
    for line in [f"LV_zolt          {library} (bundled in the package)",
                 "ELF 64-bit x86-64, matches Python; needs libzolt.so; run path $ORIGIN",
                 f"driver asked     simulator: {SIMULATOR} (bundled simulated board)",
                 f"loaded           yes; LV_zolt bound the driver {SIMULATOR}",
                 "LV_ZOLT_LIBRARY  (not set)",
                 "bundled drivers  " + ", ".join(sorted(_loader.bundled_drivers()))]:
        assert line in out


def test_diagnose_of_the_system_driver_names_the_file_the_loader_chose():
    run = run_python("-m", "lv_zolt", "diagnose", env={"LV_ZOLT_LIBRARY": str(BUILD_LIBRARY)})
    assert run.returncode == 0, run.stderr
    assert f"LV_zolt          {BUILD_LIBRARY} (LV_ZOLT_LIBRARY)" in run.stdout
    assert f"LV_ZOLT_LIBRARY  '{BUILD_LIBRARY}'" in run.stdout
    assert "driver asked     system: found by the loader" in run.stdout
    assert f"bound the driver {BUILD_DRIVER}" in run.stdout


def test_diagnose_fails_when_nothing_loads():
    run = run_python("-m", "lv_zolt", "diagnose")
    assert run.returncode == 1
    assert "loaded           NO: cannot load LV_zolt" in run.stdout
    assert "libzolt.so: cannot open shared object file" in run.stdout
