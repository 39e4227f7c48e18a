#!/usr/bin/env python3
"""The header reader gives the project header's 24 exports in order, with
parameters, and the two .def files the Windows build is linked with."""

import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
HEADER = HERE.parent.parent / "include" / "LV_zolt.h"
sys.path.insert(0, str(HERE))
import header  # noqa: E402


def run(*args):
    return subprocess.run([sys.executable, str(HERE / "header.py"), *args],
                          capture_output=True, text=True)


class HeaderTest(unittest.TestCase):
    def test_exports_in_header_order_with_parameters(self):
        exports = header.read(HEADER)
        self.assertEqual((exports[0].name, exports[-1].name), ("LV_ZOLT_open", "LV_ZOLT_waitEvent"))
        wait_event = exports[-1]
        self.assertEqual(wait_event.operation, "waitEvent")
        self.assertEqual([p.name for p in wait_event.parameters],
                         ["board", "real8", "byte16", "byte17", "word18", "word20", "byte22",
                          "byte23", "value0"])
        self.assertEqual(wait_event.parameters[1], header.Parameter("double", True, "real8"))

    def test_def_files(self):
        names = run("names", str(HEADER)).stdout.split()
        self.assertEqual(len(names), 24)
        layer = run("def", str(HEADER)).stdout.splitlines()
        driver = run("driver-def", str(HEADER)).stdout.splitlines()
        self.assertEqual(layer[:2], ["LIBRARY LV_zolt.dll", "EXPORTS"])
        self.assertEqual(driver[:2], ["LIBRARY zolt.dll", "EXPORTS"])
        self.assertEqual([n.strip() for n in layer[2:]], sorted(names))
        self.assertEqual([n.strip() for n in driver[2:]], sorted(n[len("LV_"):] for n in names))

    def test_output_file_holds_what_standard_output_would(self):
        with tempfile.TemporaryDirectory() as folder:
            out = Path(folder, "zolt.def")
            result = run("driver-def", str(HEADER), "-o", str(out))
            self.assertEqual((result.returncode, result.stdout), (0, ""))
            self.assertEqual(out.read_text(), run("driver-def", str(HEADER)).stdout)

    def test_bad_command_lines_and_headers(self):
        with tempfile.TemporaryDirectory() as folder:
            short = Path(folder, "short.h")
            short.write_text("\n".join(l for l in HEADER.read_text().splitlines()
                                       if "LV_ZOLT_simEvent" not in l))
            for args, status in ((("names",), 2), (("driver-def", str(HEADER), "x"), 2),
                                 (("names", str(Path(folder, "none.h"))), 2),
                                 (("names", str(short)), 1)):
                with self.subTest(args=args):
                    self.assertEqual(run(*args).returncode, status)


if __name__ == "__main__":
    unittest.main()
