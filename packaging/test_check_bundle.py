#!/usr/bin/env python3
"""The bundle check passes the two built bundles and catches each fault a
bundle could carry to a host.

    test_check_bundle.py WIN32_ZIP WIN64_ZIP
"""

import contextlib
import io
import re
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "packaging"))
import check_bundle  # noqa: E402

HEADER = ROOT / "include" / "LV_zolt.h"
VERSION = re.search(r"project\(LV_zolt VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text())[1]
SIM = f"{check_bundle.SIMULATOR_FOLDER}/zolt.dll"


def members(path):
    with zipfile.ZipFile(path) as bundle:
        top = Path(path).stem
        return {i.filename[len(top) + 1:]: bundle.read(i) for i in bundle.infolist()
                if not i.is_dir()}


class CheckBundleTest(unittest.TestCase):
    zips = {}

    def run_check(self, zip_path, machine, version=VERSION):
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            status = check_bundle.main(["--zip", str(zip_path), "--machine", machine,
                                        "--version", version, "--header", str(HEADER)])
        return status, out.getvalue() + err.getvalue()

    def test_built_bundles_pass(self):
        for machine, path in self.zips.items():
            with self.subTest(machine=machine):
                status, output = self.run_check(path, machine)
                self.assertEqual(status, 0, output)

    def test_each_fault_is_reported(self):
        good, other = members(self.zips["i386"]), members(self.zips["x86-64"])
        top = Path(self.zips["i386"]).stem

        def without(name):
            return {k: v for k, v in good.items() if k != name}

        faults = [
            ("no simulated driver", without(SIM), f"missing {SIM}"),
            ("simulated driver beside the library", {**good, "bin/zolt.dll": good[SIM]},
             "a zolt.dll outside"),
            ("simulated driver of the other machine", {**good, SIM: other[SIM]},
             "zolt.dll: built for x86-64, not i386"),
            ("library of the other machine", {**good, "bin/LV_zolt.dll": other["bin/LV_zolt.dll"]},
             "bin/LV_zolt.dll: built for x86-64, not i386"),
            ("library that is no PE image", {**good, "bin/LV_zolt.dll": b"MZ" + bytes(100)},
             "not a readable PE image"),
            ("stale header", {**good, "include/LV_zolt.h": good["include/LV_zolt.h"] + b"\n"},
             "differs from the source tree's header"),
            ("a name short in the .def",
             {**good, "lib/LV_zolt.def": good["lib/LV_zolt.def"].replace(b"LV_ZOLT_waitMatch", b"")},
             "lib/LV_zolt.def differs from the one the header gives"),
            ("a stray file", {**good, "bin/notes.txt": b"x"}, "unexpected bin/notes.txt"),
            ("no host-setup text", without("HOST-SETUP.txt"), "missing HOST-SETUP.txt"),
            ("host-setup text without the thread advice",
             {**good, "HOST-SETUP.txt": good["HOST-SETUP.txt"].replace(b"worker", b"")},
             "does not mention worker thread"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for what, files, message in faults:
                with self.subTest(fault=what):
                    path = Path(folder, f"{top}.zip")
                    with zipfile.ZipFile(path, "w") as bundle:
                        for name, data in files.items():
                            bundle.writestr(f"{top}/{name}", data)
                    status, output = self.run_check(path, "i386")
                    self.assertEqual(status, 1, output)
                    self.assertIn(message, output)

            with self.subTest(fault="files outside the top folder"):
                path = Path(folder, f"{top}.zip")
                with zipfile.ZipFile(path, "w") as bundle:
                    for name, data in good.items():
                        bundle.writestr(name, data)
                status, output = self.run_check(path, "i386")
                self.assertEqual(status, 1, output)
                self.assertIn(f"everything must lie under {top}/", output)

    def test_version_resource_must_match_the_project(self):
        status, output = self.run_check(self.zips["i386"], "i386", version="0.9.9")
        self.assertEqual(status, 1, output)
        resource = tuple(int(part) for part in VERSION.split(".")) + (0,)
        self.assertIn(f"version resource {resource}, not 0.9.9", output)

    def test_unreadable_zip_is_a_usage_error(self):
        status, output = self.run_check(Path(self.zips["i386"]).with_suffix(".missing"), "i386")
        self.assertEqual(status, 2, output)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    CheckBundleTest.zips = {"i386": sys.argv[1], "x86-64": sys.argv[2]}
    unittest.main(argv=sys.argv[:1])
