# Windows. The i686 DLL is inspected (its exports, imports, entry routine and
# the instructions its reals meet) and run in a CPU emulator: its exports
# against a recording driver, and its entry routine. The x86-64 DLL runs its
# suite under wine64, in a wine prefix inside its build tree.
set -euo pipefail
header=include/LV_zolt.h

cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j2
dir=build/mingw-i686
tests/platform/check_exports.sh "$header" "$dir/bin/LV_zolt.dll"
tests/platform/check_windows_dll.sh "$dir/bin/LV_zolt.dll" "$dir/src/LV_zolt.map" "$header"
python3 tests/platform/check_reals.py --header "$header" "$dir/bin/LV_zolt.dll"
ctest --preset mingw-i686

cmake --preset mingw-x86-64 >/dev/null
cmake --build --preset mingw-x86-64 -j2
ctest --preset mingw-x86-64
