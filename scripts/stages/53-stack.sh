# Every export's stack frame, as the gcc build measured it. The build itself
# fails when a frame exceeds the bound (-Wstack-usage, cmake/LvZoltStackBound.cmake).
set -euo pipefail
cmake --preset gcc >/dev/null
cmake --build --preset gcc --parallel 2
bound=$(sed -n 's/^LV_ZOLT_STACK_BOUND:STRING=//p' build/gcc/CMakeCache.txt)
echo "stack frames in bytes (bound ${bound}):"
# <file>:<line>:<column>:<signature> TAB <bytes> TAB <static|dynamic[,bounded]>
find build/gcc/src -name '*.su' -exec cat {} + |
  sed -nE 's/^.*[ :](LV_ZOLT_[A-Za-z]+)\([^\t]*\t([0-9]+)\t(.*)$/\1 \2 \3/p' | sort |
  awk '{ printf "  %-26s %4s  %s\n", $1, $2, $3 }'
