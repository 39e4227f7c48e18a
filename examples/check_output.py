#!/usr/bin/env python3
"""Runs an example host and checks what it prints about the board.

    check_output.py COMMAND [ARGUMENTS...]

Passes when the command exits 0 and prints the board line, the firmware and
FPGA ids in the XX-XX-XX form and the time line that both examples print.
"""

import re
import subprocess
import sys

LINES = {
    "board": r"board \d+: board value \d+",
    "firmware id": r"firmware [0-9A-F]{2}-[0-9A-F]{2}-[0-9A-F]{2}",
    "FPGA id": r"FPGA     [0-9A-F]{2}-[0-9A-F]{2}-[0-9A-F]{2}",
    "time": r"time     \S+ \d+ \d+ \d+",
}


def main(argv):
    if not argv:
        print("usage: check_output.py COMMAND [ARGUMENTS...]", file=sys.stderr)
        return 2
    try:
        run = subprocess.run(argv, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as error:
        print(f"check_output: cannot run {argv[0]}: {error}", file=sys.stderr)
        return 1
    lines = run.stdout.splitlines()
    missing = [what for what, pattern in LINES.items()
               if not any(re.fullmatch(pattern, line) for line in lines)]
    if run.returncode != 0 or missing:
        print(f"check_output: {' '.join(argv)} exited {run.returncode}"
              + (f", without the {', '.join(missing)} line(s)" if missing else ""), file=sys.stderr)
        print(run.stdout + run.stderr, file=sys.stderr, end="")
        return 1
    print(run.stdout, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
