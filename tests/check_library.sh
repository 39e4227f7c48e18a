#!/usr/bin/env bash
# check_library.sh LIBRARY HEADER [--inlined]
# Checks the built library against the public header: it exports exactly the
# 24 LV_ZOLT_ names, needs zolt by name, and imports nothing but the 24
# driver operations and the toolchain's own start-up symbols — so no
# allocation, output, threads, locks or configuration can hide in it. With
# --inlined (optimised builds), it has no function but the 24 exports and the
# toolchain's own: every helper is inlined, so each export's frame, which the
# stack bound measures, is all the stack it uses.
set -euo pipefail
lib=$1 header=$2 inlined=${3:-}

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
if [ "$inlined" = --inlined ]; then
  functions=$(nm --defined-only "$lib" | awk '$2 ~ /^[tTwWiI]$/ {print $3}' | sort -u)
  helpers=$(grep -vxE 'LV_ZOLT_[A-Za-z]+|_init|_fini|frame_dummy|(de)?register_tm_clones|__do_global_dtors_aux|__x86\.get_pc_thunk\.[a-z]+' \
            <<<"$functions" || true)
  [ -z "$helpers" ] || fail "functions left out of line: $helpers"
fi
echo "check_library: 24 exports, 24 driver imports, nothing else"
