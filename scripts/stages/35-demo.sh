# The README's first command on this tree: it builds, and lvzolt shows the
# simulated board's identity, time and three heartbeats.
set -euo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
scripts/demo | tee "$out"
fail() { echo "demo: $*" >&2; exit 1; }
grep -qx 'board value  4100' "$out" || fail "no board value"
grep -qx 'firmware     02-07-13' "$out" || fail "no firmware identifier"
grep -qE '^day [0-9]+ [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6}$' "$out" || fail "no time"
[ "$(grep -cE '^heartbeat [1-3]  day ' "$out")" -eq 3 ] || fail "not three heartbeats"
