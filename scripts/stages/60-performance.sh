# The layer's cost per call: instruction bounds under callgrind (x86-64, gcc
# and clang Release builds), i386 and Win32 counts from the disassembly, no
# writable data in the layer, and a short run of the overhead benchmark.
set -euo pipefail
for preset in performance-gcc performance-clang; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  build=build/$preset
  lib=$build/bin/libLV_zolt.so

  # Both programs must run on the trivial driver beside them.
  for program in lv_zolt_overhead_benchmark lv_zolt_call_every_export; do
    want=$(cd "$build/benchmarks" && pwd)/libzolt.so
    got=$(ldd "$build/benchmarks/$program" | awk '$1 == "libzolt.so" {print $3}')
    [ "$(realpath "$got")" = "$want" ] || { echo "$program loads libzolt.so from '$got', not $want"; exit 1; }
  done

  # Driver calls go through the offset table, bound at load: no linkage-table
  # slot for any driver operation.
  # (Output read whole first: grep -q stopping early would fail the writer
  # under pipefail.)
  dynamic=$(readelf -d "$lib")
  grep -qE 'BIND_NOW|FLAGS.*NOW' <<<"$dynamic" || { echo "$lib is not bound at load"; exit 1; }
  relocations=$(readelf -rW "$lib")
  if grep -qE 'JUMP_SLOT.* ZOLT_' <<<"$relocations"; then
    echo "$lib calls the driver through linkage-table slots:"; grep JUMP_SLOT <<<"$relocations"; exit 1
  fi

  echo "--- $preset"
  python3 benchmarks/callgrind_bounds.py "$build"
done
python3 benchmarks/overhead_table.py build/performance-gcc --repetitions 3 --min-time 0.05
# Tracing's cost: getTime of the simulated board traced against untraced,
# as a ratio measured in one run, on memory as found and on memory just used
# (reported; the goal is at most 4).
python3 benchmarks/trace_ratio.py build/performance-gcc --repetitions 7
