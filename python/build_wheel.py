#!/usr/bin/env python3
"""Builds the lv_zolt wheel from a staged package folder and checks it.

    build_wheel.py STAGE DIST WHEEL-NAME DRIVER...

STAGE holds pyproject.toml, setup.py and lv_zolt/ with its native libraries;
the wheel is built offline (no isolation, no registry) with this Python's
build, wheel and setuptools, into DIST, which is emptied first. It must be
named WHEEL-NAME and hold LV_zolt, each DRIVER's zolt in its own folder, the
type marker and the version file. Exits 1 when it is not so.
"""

import importlib.util
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

DEBIAN_PACKAGES = {"build": "python3-build", "wheel": "python3-wheel",
                   "setuptools": "python3-setuptools"}


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    stage, dist, name, drivers = Path(argv[0]), Path(argv[1]), argv[2], argv[3:]
    missing = [package for module, package in DEBIAN_PACKAGES.items()
               if importlib.util.find_spec(module) is None]
    if missing:
        print(f"build_wheel: {sys.executable} lacks {', '.join(missing)} "
              f"(install the Debian packages)", file=sys.stderr)
        return 1
    shutil.rmtree(dist, ignore_errors=True)
    # The build writes its work folders into the stage; start from none.
    for leftover in ("build", "lv_zolt.egg-info"):
        shutil.rmtree(stage / leftover, ignore_errors=True)
    run = subprocess.run([sys.executable, "-m", "build", "--wheel", "--no-isolation",
                          "--outdir", str(dist), str(stage)], capture_output=True, text=True)
    if run.returncode != 0:
        print(run.stdout + run.stderr, file=sys.stderr)
        print(f"build_wheel: building the wheel failed ({run.returncode})", file=sys.stderr)
        return 1
    built = sorted(p.name for p in dist.glob("*.whl"))
    if built != [name]:
        print(f"build_wheel: built {built or 'nothing'}, expected {name}", file=sys.stderr)
        return 1
    with zipfile.ZipFile(dist / name) as wheel:
        contents = set(wheel.namelist())
    wanted = ["lv_zolt/__init__.py", "lv_zolt/py.typed", "lv_zolt/_version.py",
              "lv_zolt/_native/libLV_zolt.so"]
    wanted += [f"lv_zolt/_native/drivers/{driver}/libzolt.so" for driver in drivers]
    problems = [f"lacks {path}" for path in wanted if path not in contents]
    if "lv_zolt/_native/libzolt.so" in contents:
        problems.append("has a driver beside LV_zolt, which would bind it whatever was asked")
    for problem in problems:
        print(f"build_wheel: {name} {problem}", file=sys.stderr)
    if problems:
        return 1
    print(f"build_wheel: {dist / name}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
