# Linux i386, built with gcc and with clang (-m32), tests under qemu: the
# suite, the slot-level host, loading without the driver, and the checks of
# the built library.
set -euo pipefail
for preset in i386-gcc i386-clang; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  ctest --preset "$preset"
done
