# The whole suite built with ASan and UBSan (gcc); any report fails a test.
set -euo pipefail
cmake --preset asan >/dev/null
cmake --build --preset asan --parallel 2
ctest --preset asan
