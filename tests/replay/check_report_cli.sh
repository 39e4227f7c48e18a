#!/usr/bin/env bash
# check_report_cli.sh ZOLT_TRACE: `zolt-trace check-report` over a complete,
# an incomplete and a broken report and a missing file: its exit status and
# where its verdict goes.
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

report() {  # report FILE FINISHED UNPLAYED COMPLETE
  printf '{"report":"zolt-replay","version":1,"trace":"run.jsonl","finished":%s,"error":null,' "$2" >"$1"
  printf '"exhausted":"fail","timing":"instant","played":1,"repeated":0,"notMatched":0,' >>"$1"
  printf '"unplayed":%s,"notReturned":0,"complete":%s,"operations":{"open":{"recorded":%s,' "$3" "$4" "$((1 + $3))" >>"$1"
  printf '"played":1,"repeated":0,"notMatched":0,"unplayed":%s,"notReturned":0}}}\n' "$3" >>"$1"
}
report "$dir/complete.json" true 0 true
report "$dir/unplayed.json" true 2 false
report "$dir/died.json" false 0 false
report "$dir/edited.json" true 0 false  # "complete" disagrees with the counts

failures=0
expect() {  # expect STATUS PATTERN STREAM FILE
  local status=0
  "$tool" check-report "$4" >"$dir/out" 2>"$dir/err" || status=$?
  if [ "$status" -ne "$1" ] || ! grep -q -- "$2" "$dir/$3"; then
    echo "check-report $4: exit $status (expected $1), $3 should hold '$2'" >&2
    echo "stdout: $(cat "$dir/out")" >&2
    echo "stderr: $(cat "$dir/err")" >&2
    failures=$((failures + 1))
  fi
}
expect 0 "complete: 1 call played from run.jsonl" out "$dir/complete.json"
expect 1 "open: 2 recordings left unplayed" out "$dir/unplayed.json"
expect 1 "did not exit normally" out "$dir/died.json"
expect 2 "\"complete\" disagrees with the counts" err "$dir/edited.json"
expect 2 "cannot be read" err "$dir/missing.json"
[ "$failures" -eq 0 ]
