#!/usr/bin/env bash
# check_windows_dll.sh LV_ZOLT_DLL LINK_MAP HEADER
# What a Windows host needs of LV_zolt.dll beyond its export names:
#  - it imports the 24 driver operations from zolt.dll, by name, and
#    otherwise only from the system's base DLL and the C runtime that ships
#    with Windows: no compiler runtime DLL (libgcc_s_*, libstdc++-*,
#    libwinpthread-*), which a host machine does not have;
#  - its entry routine is the C runtime's start-up, and the DllMain that the
#    start-up calls is the runtime's default, not one of the library's own
#    (the link map names the archive member each symbol came from).
set -euo pipefail
. "$(dirname "$0")/names.sh"
arguments 3 3 "LV_ZOLT_DLL LINK_MAP HEADER" "$@"
dll=$1 map=$2 header=$3
dump=$(objdump -p "$dll") || fail "$dll is not a PE file"

dlls=$(awk '/^\tDLL Name: / {print $3}' <<<"$dump" | sort -f)
[ -n "$dlls" ] || fail "$dll imports nothing"
bad=$(grep -viE '^(zolt\.dll|kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-crt-[a-z0-9-]+\.dll)$' \
      <<<"$dlls" || true)
[ -z "$bad" ] || fail "imports DLLs a host machine may not have: $bad"
grep -qx 'zolt.dll' <<<"$dlls" || fail "does not import zolt.dll"

# Rows under "DLL Name: zolt.dll": vma, hint, name. An import by ordinal
# has no name and would bind to whatever sits at that number.
rows=$(awk '/^\tDLL Name: / {on = ($3 == "zolt.dll"); next}
            on && /^\t[0-9a-f]+\t/ {print NF == 3 ? $3 : "<by ordinal>"}
            on && /^$/ {on = 0}' <<<"$dump" | sort)
want=$(header_exports "$header" | sed 's/^LV_//')
[ "$rows" = "$want" ] || fail "imports from zolt.dll differ (< expected, > found):
$(diff <(echo "$want") <(echo "$rows") || true)"

entry=$(awk '$1 == "AddressOfEntryPoint" {print $2}' <<<"$dump")
base=$(awk '$1 == "ImageBase" {print $2}' <<<"$dump")
[ -n "$entry" ] && [ -n "$base" ] || fail "no entry point in the PE header"
startup=$(nm "$dll" | awk '$3 ~ /^_?DllMainCRTStartup(@12)?$/ {print $1}')
[ -n "$startup" ] || fail "no DllMainCRTStartup symbol (is $dll stripped?)"
[ $((0x$base + 0x$entry)) -eq $((0x$startup)) ] ||
  fail "the entry point is not the C runtime's start-up DllMainCRTStartup"

# In the map, a symbol's line follows the line of the input section that
# holds it, which names the object or archive member it came from.
from=$(awk '$1 ~ /^\./ && NF >= 4 {file = $NF}
            NF == 2 && $2 ~ /^_?DllMain(@12)?$/ {print file}' "$map")
[ -n "$from" ] || fail "$map does not show where DllMain came from"
[ "$(wc -l <<<"$from")" -eq 1 ] || fail "DllMain is defined more than once: $from"
[[ $from =~ /lib(mingw32|mingwex)\.a\([^/]*dllmain\.o\)$ ]] ||
  fail "DllMain comes from $from, not from the C runtime's default"
echo "check_windows_dll: $dll imports from $(paste -sd ' ' <<<"$dlls") (the 24 driver names by name);" \
     "entry DllMainCRTStartup, DllMain from $(basename "$from")"
