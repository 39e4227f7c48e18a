# Sourced by the platform checks: how they fail, how they read their
# arguments, and the export names that the public header declares.
fail() { echo "$(basename "$0" .sh): $*" >&2; exit 1; }

# arguments MIN MAX USAGE "$@": MAX 0 means no upper limit; every argument
# must be a readable file.
arguments() {
  local min=$1 max=$2 usage=$3
  shift 3
  if [ $# -lt "$min" ] || { [ "$max" -gt 0 ] && [ $# -gt "$max" ]; }; then
    echo "usage: $(basename "$0") $usage" >&2
    exit 2
  fi
  local f
  for f in "$@"; do [ -r "$f" ] || fail "cannot read $f"; done
}

# The header's 24 LV_ZOLT_ names, sorted, from the one reader of its export list.
header_exports() {
  local names
  names=$(python3 "$(dirname "${BASH_SOURCE[0]}")/../../tools/interface/header.py" names "$1") ||
    fail "cannot read the exports of $1"
  sort <<<"$names"
}
