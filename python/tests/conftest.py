"""Fixtures over the staged package of a build (build/gcc by default, or
$LV_ZOLT_BUILD_DIR): the package exactly as the wheel holds it, with LV_zolt
and the simulated board bundled.

A process binds one driver: this one uses the bundled simulated board, and
tests that need another driver, or none, run a fresh Python."""

import ctypes
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("LV_ZOLT_BUILD_DIR", ROOT / "build" / "gcc")).resolve()
STAGE = BUILD / "python" / "stage"
DIST = BUILD / "python" / "dist"
SOURCE = ROOT / "python"
BUILD_LIBRARY = BUILD / "bin" / "libLV_zolt.so"
BUILD_DRIVER = BUILD / "bin" / "libzolt.so"
SIMULATOR = STAGE / "lv_zolt" / "_native" / "drivers" / "simulator" / "libzolt.so"
VARIABLES = ("LV_ZOLT_LIBRARY", "LV_ZOLT_DRIVER", "ZOLT_REPLAY_FILE", "ZOLT_SIM_BOARDS")

for variable in VARIABLES:
    os.environ.pop(variable, None)
sys.path.insert(0, str(STAGE))


def pytest_configure(config):
    if not (STAGE / "lv_zolt" / "_native").is_dir():
        raise pytest.UsageError(f"no staged lv_zolt in {STAGE}: build the python-wheel target "
                                f"first (cmake --build --preset gcc --target python-wheel)")


def run_python(*args, path=STAGE, env=None, cwd=None):
    """A fresh Python with `path` first on its module path and none of the
    package's variables set but those in `env`."""
    environment = {k: v for k, v in os.environ.items() if k not in VARIABLES}
    environment["PYTHONPATH"] = str(path)
    environment.update(env or {})
    return subprocess.run([sys.executable, *args], capture_output=True, text=True,
                          env=environment, cwd=cwd, timeout=120)


class Simulator:
    """The simulated board's test hooks, from the copy this process bound."""

    def __init__(self):
        import lv_zolt
        lv_zolt.open(0, driver="simulator").close()
        self.lib = ctypes.CDLL(str(SIMULATOR))
        self.lib.zoltsim_useManualClock.argtypes = (ctypes.c_int64,)
        self.lib.zoltsim_advanceClock.argtypes = (ctypes.c_int64,)
        self.lib.zoltsim_waiting.argtypes = (ctypes.c_uint32,)

    def reset(self):
        self.lib.zoltsim_reset()

    def manual_clock(self, unix_nanoseconds):
        self.lib.zoltsim_useManualClock(unix_nanoseconds)

    def waiting(self, index=0):
        return self.lib.zoltsim_waiting(index)


@pytest.fixture(scope="session")
def simulator():
    return Simulator()


@pytest.fixture
def board(simulator):
    import lv_zolt
    simulator.reset()
    board = lv_zolt.open(0, driver="simulator")
    yield board
    if not board.closed:
        board.close()
    simulator.reset()
