"""The wheel the build made: its name, tag, version and contents, and that
it installs offline into a fresh environment and works there."""

import re
import subprocess
import zipfile

import pytest

from conftest import DIST, ROOT

VERSION = re.search(r"project\(LV_zolt VERSION (\d+\.\d+\.\d+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)


@pytest.fixture(scope="module")
def wheel():
    wheels = sorted(DIST.glob("*.whl"))
    assert len(wheels) == 1, f"expected one wheel in {DIST}, found {wheels}"
    return wheels[0]


def test_the_wheel_is_a_platform_wheel_of_the_project_version(wheel):
    assert wheel.name == f"lv_zolt-{VERSION}-py3-none-linux_x86_64.whl"
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        metadata = archive.read(f"lv_zolt-{VERSION}.dist-info/METADATA").decode()
        tags = archive.read(f"lv_zolt-{VERSION}.dist-info/WHEEL").decode()
    assert f"\nVersion: {VERSION}\n" in metadata
    assert "Root-Is-Purelib: false" in tags and "Tag: py3-none-linux_x86_64" in tags
    assert {"lv_zolt/py.typed", "lv_zolt/_native/libLV_zolt.so",
            "lv_zolt/_native/drivers/simulator/libzolt.so"} <= names
    # Nothing outside the package, and no driver beside LV_zolt.
    assert all(n.startswith(("lv_zolt/", f"lv_zolt-{VERSION}.dist-info/")) for n in names)
    assert "lv_zolt/_native/libzolt.so" not in names


@pytest.fixture(scope="module")
def venv(tmp_path_factory, wheel):
    folder = tmp_path_factory.mktemp("venv") / "env"
    subprocess.run(["/usr/bin/python3", "-m", "venv", str(folder)], check=True,
                   capture_output=True)
    install = subprocess.run([str(folder / "bin" / "pip"), "install", "--no-index",
                              "--disable-pip-version-check", str(wheel)],
                             capture_output=True, text=True)
    assert install.returncode == 0, install.stdout + install.stderr
    return folder


def test_the_installed_wheel_runs_the_simulated_board(venv):
    python = str(venv / "bin" / "python")
    info = subprocess.run([python, "-m", "lv_zolt", "info", "--driver", "simulator"],
                          capture_output=True, text=True, cwd=venv)
    assert info.returncode == 0, info.stderr
    assert "firmware     02-07-13" in info.stdout
    check = subprocess.run([python, "-c", f"""
import pathlib, lv_zolt
assert lv_zolt.__version__ == "{VERSION}", lv_zolt.__version__
assert pathlib.Path(lv_zolt.__file__).is_relative_to(pathlib.Path("{venv}")), lv_zolt.__file__
assert (pathlib.Path(lv_zolt.__file__).parent / "py.typed").is_file()
with lv_zolt.open(1, driver="simulator") as board:
    assert board.value == 4101 and board.driver_file.startswith("{venv}"), board.driver_file
    try:
        board.wait_event(timeout=0)
    except lv_zolt.ZoltError as error:
        assert (error.status, error.export) == (7, "LV_ZOLT_waitEvent")
    else:
        raise AssertionError("an empty queue did not time out")
"""], capture_output=True, text=True, cwd=venv)
    assert check.returncode == 0, check.stderr
