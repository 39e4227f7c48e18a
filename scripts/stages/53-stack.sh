# Every export's stack frame, as the gcc build measured it. The build itself
# fails when a frame exceeds the bound (cmake/LvZoltStackBound.cmake).
set -euo pipefail
cmake --preset gcc >/dev/null
cmake --build --preset gcc --parallel 2
bound=$(sed -n 's/^LV_ZOLT_STACK_BOUND:STRING=//p' build/gcc/CMakeCache.txt)
echo "stack frames in bytes (bound ${bound}):"
awk '{ printf "  %-26s %4s  %s\n", $1, $2, $3 }' build/gcc/stack-usage.txt
