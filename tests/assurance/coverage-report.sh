#!/usr/bin/env bash
# Line and branch coverage of src/ from a coverage build whose tests have run:
# coverage-report.sh <build dir>. Fails unless every line and branch of the
# export layer (src/exports/) ran. The link-time stub in src/driver/ is never
# loaded by design (programs load a real or stand-in zolt), so its lines are
# reported but not required.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <coverage build dir>" >&2; exit 2; }
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
find "$build" -name '*.gcda' -print -quit | grep -q . ||
  { echo "coverage-report: no coverage data in $build; run its tests first" >&2; exit 1; }
common=(--root "$root" --exclude-unreachable-branches --exclude-throw-branches "$build")
echo "--- lines, src/"
gcovr "${common[@]}" --filter 'src/'
echo "--- branches, src/"
gcovr "${common[@]}" --filter 'src/' --branches
echo "--- export layer (src/exports/): 100% of lines and branches required"
gcovr "${common[@]}" --filter 'src/exports/' --print-summary --fail-under-line 100 \
  --fail-under-branch 100 --output /dev/null
