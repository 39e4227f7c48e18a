# The suite on Linux x86-64, built with gcc and with clang.
set -euo pipefail
for preset in gcc clang; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
