#!/usr/bin/env bash
# Checks the built library against the public header: it exports exactly the
# 24 LV_ZOLT_ names, needs zolt by name, and imports nothing but the 24
# driver operations and the toolchain's own start-up symbols — so no
# allocation, output, threads, locks or configuration can hide in it.
set -euo pipefail
lib=$1 header=$2

. "$(dirname "$0")/platform/names.sh"
want=$(header_exports "$header")

exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort -u)
[ "$exported" = "$want" ] || fail "exports differ from the header:
$(diff <(echo "$want") <(echo "$exported") || true)"

grep -q 'NEEDED.*\[libzolt\.so\]' <<<"$(readelf -d "$lib")" || fail "libzolt.so is not a needed library"

imports=$(nm -D --undefined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | sort -u)
driver=$(sed 's/^LV_//' <<<"$want")
[ "$(grep '^ZOLT_' <<<"$imports")" = "$driver" ] || fail "driver imports differ:
$(diff <(echo "$driver") <(grep '^ZOLT_' <<<"$imports") || true)"
others=$(grep -vE '^(ZOLT_|__cxa_finalize$|__gmon_start__$|_ITM_(de)?registerTMCloneTable$)' <<<"$imports" || true)
[ -z "$others" ] || fail "unexpected imports: $others"
echo "check_library: 24 exports, 24 driver imports, nothing else"
