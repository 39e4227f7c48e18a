#!/usr/bin/env python3
"""The export drift check passes on the project's own files and catches each
kind of drift: a change in one description that the others do not follow."""

import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE))
import check_drift  # noqa: E402

FILES = {
    "LV_zolt.h": (ROOT / "include" / "LV_zolt.h").read_text(),
    "exports.md": (ROOT / "docs" / "exports.md").read_text(),
    "lv_zolt.py": (ROOT / "python" / "lv_zolt" / "_exports.py").read_text(),
}

# (file, text to replace, replacement, a message the check must give)
DRIFTS = [
    ("exports.md", "| `LV_ZOLT_getDate` | `ZOLT_getDate` | 4 | 4 |\n", "",
     "Summary lacks LV_ZOLT_getDate"),
    ("exports.md", "| `LV_ZOLT_setMatchTime` | `ZOLT_setMatchTime` | 6 | 7 |",
     "| `LV_ZOLT_setMatchTime` | `ZOLT_setMatchTime` | 6 | 6 |", "Summary row for LV_ZOLT_setMatchTime"),
    ("exports.md", "| 9 | `value0` | `uint32_t` | 32 bits | in | 1 | — | event record bytes 0-3; its meaning is the driver's |\n",
     "", "LV_ZOLT_waitEvent has 8 arguments in its table, the header 9"),
    ("exports.md", "| 5 | `real8` | `double` | 64 bits | in | 2 |",
     "| 5 | `real8` | `double` | 64 bits | in | 1 |", "LV_ZOLT_setHeartbeat argument 5: 1 slots"),
    ("exports.md", "| 2 | `byte0` | `uint8_t *` |", "| 2 | `byte0` | `uint16_t *` |",
     "LV_ZOLT_getSatInfo argument 2: type uint16_t *"),
    ("exports.md", "| 3 | `word4` | `uint16_t *` | 16 bits | out | 1 | only on status 0 |",
     "| 3 | `word4` | `uint16_t *` | 16 bits | in | 1 | only on status 0 |",
     "LV_ZOLT_open argument 3: marked in"),
    ("exports.md", "### `LV_ZOLT_resetFirmware`, `LV_ZOLT_simEvent`", "### `LV_ZOLT_resetFirmware`",
     "no section for LV_ZOLT_simEvent"),
    ("exports.md", "Calls `ZOLT_getAltitude`.", "Reads the altitude.",
     "section for LV_ZOLT_getAltitude does not name ZOLT_getAltitude"),
    ("LV_zolt.h", "LV_ZOLT_setYear(LV_ZOLT_Handle board, uint32_t value0)",
     "LV_ZOLT_setYear(LV_ZOLT_Handle board, uint16_t value0)", "LV_ZOLT_setYear argument 2: type uint32_t"),
    ("LV_zolt.h", "LV_ZOLT_waitMatch(LV_ZOLT_Handle board, uint32_t value0)",
     "LV_ZOLT_waitMatch(LV_ZOLT_Handle board, uint32_t value0, uint32_t limit)",
     "lv_zolt.py: LV_ZOLT_waitMatch declares 2 arguments, the header 3"),
    ("LV_zolt.h", "LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_simEvent",
     "LV_ZOLT_API int LV_ZOLT_CALL LV_ZOLT_simEvent", "LV_ZOLT_simEvent is not declared in the export form"),
    ("LV_zolt.h", "typedef uintptr_t LV_ZOLT_Handle;", "typedef uint32_t LV_ZOLT_Handle;",
     "LV_ZOLT_Handle is no longer uintptr_t"),
    ("lv_zolt.py", '"LV_ZOLT_setTime": (Handle, c_uint32, c_uint32, c_uint32, c_uint32, c_uint32)',
     '"LV_ZOLT_setTime": (Handle, c_uint32, c_uint32, c_uint32, c_uint16, c_uint32)',
     "LV_ZOLT_setTime argument 5 is c_ushort"),
    ("lv_zolt.py", '"LV_ZOLT_close": (Handle,),', '"LV_ZOLT_close": (c_uint32,),',
     "LV_ZOLT_close argument 1 is c_uint"),
    ("lv_zolt.py", '"LV_ZOLT_getAltitude": (Handle, POINTER(c_float)),',
     '"LV_ZOLT_getAltitude": (Handle, POINTER(c_double)),', "LV_ZOLT_getAltitude argument 2"),
    ("lv_zolt.py", "Status = c_uint8", "Status = ctypes.c_int", "the result type is not c_uint8"),
]


class CheckExportsTest(unittest.TestCase):
    def run_check(self, files):
        with tempfile.TemporaryDirectory() as folder:
            for name, text in files.items():
                Path(folder, name).write_text(text)
            argv = ["--header", f"{folder}/LV_zolt.h", "--docs", f"{folder}/exports.md"]
            for name in sorted(files):
                if name.endswith(".py"):
                    argv += ["--python", f"{folder}/{name}"]
            out, err = io.StringIO(), io.StringIO()
            with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
                status = check_drift.main(argv)
            return status, out.getvalue() + err.getvalue()

    def test_project_files_agree(self):
        status, output = self.run_check(FILES)
        self.assertEqual(status, 0, output)

    def test_each_drift_is_reported(self):
        for name, old, new, message in DRIFTS:
            with self.subTest(file=name, message=message):
                self.assertIn(old, FILES[name], "the case no longer matches the file")
                status, output = self.run_check({**FILES, name: FILES[name].replace(old, new)})
                self.assertEqual(status, 1, output)
                self.assertIn(message, output)

    def test_every_binding_given_is_checked(self):
        second = FILES["lv_zolt.py"].replace("Status = c_uint8", "Status = ctypes.c_int")
        status, output = self.run_check({**FILES, "second.py": second})
        self.assertEqual(status, 1, output)
        self.assertIn("second.py: the result type is not c_uint8", output)
        self.assertNotIn("lv_zolt.py: the result type", output)

    def test_unreadable_file_is_a_usage_error(self):
        files = dict(FILES)
        del files["exports.md"]
        status, output = self.run_check(files)
        self.assertEqual(status, 2)
        self.assertIn("cannot read", output)


if __name__ == "__main__":
    unittest.main()
