#!/usr/bin/env bash
# check_exports.sh HEADER LV_ZOLT_DEF ZOLT_DEF LIBRARY...
# Keeps the export names from drifting apart. The public header declares 24
# LV_ZOLT_ names; LV_zolt's .def must list exactly those, zolt's .def exactly
# the driver names (the same without "LV_"). Each library given, ELF (nm -D)
# or PE (objdump -p), must export by undecorated name: LV_zolt exactly the
# header's 24 and nothing else, a zolt (stand-in or link stub) all 24 driver
# names.
set -euo pipefail
. "$(dirname "$0")/names.sh"
arguments 4 0 "HEADER LV_ZOLT_DEF ZOLT_DEF LIBRARY..." "$@"
header=$1 layer_def=$2 driver_def=$3
shift 3
want=$(header_exports "$header")
driver=$(sed 's/^LV_//' <<<"$want")

same() {  # same WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1 differs (< expected, > found):
$(diff <(echo "$2") <(echo "$3") || true)"
}

# Names after EXPORTS, comments and blank lines left out; duplicates kept.
def_names() { awk 'toupper($1) == "EXPORTS" {on = 1; next} on && NF && $1 !~ /^;/ {print $1}' "$1" | sort; }
same "$layer_def" "$want" "$(def_names "$layer_def")"
same "$driver_def" "$driver" "$(def_names "$driver_def")"

exports_of() {
  case $(od -An -N4 -tx1 "$1" | tr -d ' \n') in
    7f454c46) nm -D --defined-only "$1" | awk '$2 ~ /^[TDBRVWi]$/ {print $3}' ;;
    4d5a*) objdump -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                                 on && /^\t\[/ {print $NF; next}
                                 on {on = 0}' ;;
    *) fail "$1 is neither an ELF nor a PE file" ;;
  esac | sort
}

for lib in "$@"; do
  exported=$(exports_of "$lib")
  case $(basename "$lib") in
    libLV_zolt.so | libLV_zolt.so.* | LV_zolt.dll) same "exports of $lib" "$want" "$exported" ;;
    libzolt.so | zolt.dll)
      missing=$(comm -23 <(echo "$driver") <(echo "$exported"))
      [ -z "$missing" ] || fail "$lib does not export: $missing" ;;
    *) fail "$lib is neither LV_zolt nor zolt" ;;
  esac
  echo "check_exports: $lib agrees with the header"
done
