# Packaging: the installed Linux tree works from CMake, pkg-config, C and
# Python against the simulated board, and the CMake package refuses, when a
# host project is configured, an installed tree without a zolt driver; the
# Windows bundles are built and their contents checked (with Debian's
# python3-pefile, which only /usr/bin/python3 sees).
set -euo pipefail
cmake --preset package-linux >/dev/null
cmake --build --preset package-linux
bash packaging/check_install.sh build/package-linux

# The bundle target zips the install tree and checks the zip.
for preset in bundle-win32 bundle-win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
/usr/bin/python3 packaging/test_check_bundle.py build/bundle-win32/bundle/LV_zolt-*-win32.zip \
  build/bundle-win64/bundle/LV_zolt-*-win64.zip

# A Windows host project builds against each unzipped bundle's CMake package.
for target in i686:win32 x86-64:win64; do
  toolchain=${target%%:*} platform=${target##*:}
  work=build/bundle-$platform/host
  rm -rf "$work" && mkdir -p "$work"
  python3 -m zipfile -e build/bundle-$platform/bundle/LV_zolt-*-$platform.zip "$work/unzipped"
  cmake -S examples/c -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-$toolchain.cmake" \
    -DLV_zolt_DIR="$(echo "$PWD/$work"/unzipped/LV_zolt-*/lib/cmake/LV_zolt)" >/dev/null
  cmake --build "$work/build" >/dev/null
  # Read whole first: grep -q stopping early would fail objdump's write.
  imports=$(objdump -p "$work/build/read_board.exe")
  grep -q 'DLL Name: LV_zolt.dll' <<<"$imports" ||
    { echo "the $platform host does not import LV_zolt.dll" >&2; exit 1; }
  echo "bundle $platform: a host project builds against it"
done
