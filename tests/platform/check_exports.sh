#!/usr/bin/env bash
# check_exports.sh HEADER LIBRARY...
# Each library given, ELF (nm -D) or PE (objdump -p), must export by
# undecorated name: LV_zolt exactly the header's 24 LV_ZOLT_ names and
# nothing else, a zolt (stand-in or link stub) all 24 driver names (the same
# without "LV_").
set -euo pipefail
. "$(dirname "$0")/names.sh"
arguments 2 0 "HEADER LIBRARY..." "$@"
header=$1
shift
want=$(header_exports "$header")
driver=$(sed 's/^LV_//' <<<"$want")

same() {  # same WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1 differs (< expected, > found):
$(diff <(echo "$2") <(echo "$3") || true)"
}

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
