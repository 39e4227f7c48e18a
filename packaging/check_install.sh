#!/usr/bin/env bash
# Installs a Linux build and uses the installed tree the ways a host does:
# the CMake package from a separate project, pkg-config with a plain
# compiler command, and the Python example; each runs against the simulated
# board installed beside the library. Also checks that the package refuses,
# at configure time, an installation without a zolt driver (and that
# ZOLT_ROOT pointing at one elsewhere lets a host link), that a default install
# carries no driver and that installing the simulator never replaces a real
# driver. Usage: check_install.sh BUILD_DIR (a configured, built tree).
set -euo pipefail
build=${1:?usage: check_install.sh BUILD_DIR}
[ -f "$build/CMakeCache.txt" ] || { echo "check_install: $build is not a configured build" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_install: $*" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
major=${version%%.*}

tree() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort); }
library_tree="include/LV_zolt.h
lib/cmake/LV_zolt/LV_zoltConfig.cmake
lib/cmake/LV_zolt/LV_zoltConfigVersion.cmake
lib/libLV_zolt.so
lib/libLV_zolt.so.$major
lib/libLV_zolt.so.$version
lib/pkgconfig/LV_zolt.pc
share/doc/LV_zolt/exports.md"

# 1. By default nothing named zolt is installed.
cmake -DLV_ZOLT_INSTALL_SIMULATOR=OFF -DLV_ZOLT_INSTALL_TRACER=OFF "$build" >/dev/null
cmake --install "$build" --prefix "$work/default" >/dev/null
[ "$(tree "$work/default")" = "$library_tree" ] || fail "default install tree differs:
$(diff <(echo "$library_tree") <(tree "$work/default") || true)"

# 2. With the simulator asked for, it lands beside the library, and only it.
cmake -DLV_ZOLT_INSTALL_SIMULATOR=ON "$build" >/dev/null
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
want=$(printf '%s\nlib/libzolt.so\nshare/doc/LV_zolt/zolt_simulator.h\n' "$library_tree" | sort)
[ "$(tree "$prefix")" = "$want" ] || fail "install tree with the simulator differs:
$(diff <(echo "$want") <(tree "$prefix") || true)"
runpath=$(readelf -d "$prefix/lib/libLV_zolt.so.$version" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[ "$runpath" = '$ORIGIN' ] || fail "installed library's run path is '$runpath', not \$ORIGIN"

# 3. A real driver at the destination is kept, and the install stops.
mkdir -p "$work/real/lib"
echo "a real driver" >"$work/real/lib/libzolt.so"
if cmake --install "$build" --prefix "$work/real" >"$work/real.log" 2>&1; then
  fail "installing the simulator replaced an existing driver"
fi
grep -q "Not installing the simulated driver" "$work/real.log" || fail "no clear message when refusing: $(cat "$work/real.log")"
[ "$(cat "$work/real/lib/libzolt.so")" = "a real driver" ] || fail "the existing driver was changed"

# 3b. The tracing driver, when asked for, lands in a folder of its own with
# its manual, and is never installed over a real driver there.
cmake -DLV_ZOLT_INSTALL_TRACER=ON "$build" >/dev/null
cmake --install "$build" --prefix "$work/traced" >/dev/null
for f in lib/zolt-trace/libzolt.so lib/zolt-trace/zolt_trace.h lib/libzolt.so; do
  [ -f "$work/traced/$f" ] || fail "install with the tracer lacks $f"
done
cmake --install "$build" --prefix "$work/traced" >/dev/null || fail "the tracer could not be installed over itself"
mkdir -p "$work/real-trace/lib/zolt-trace"
echo "a real driver" >"$work/real-trace/lib/zolt-trace/libzolt.so"
if cmake --install "$build" --prefix "$work/real-trace" >"$work/real-trace.log" 2>&1; then
  fail "installing the tracer replaced an existing driver"
fi
grep -q "Not installing the tracing driver" "$work/real-trace.log" || fail "no clear message when refusing: $(cat "$work/real-trace.log")"
[ "$(cat "$work/real-trace/lib/zolt-trace/libzolt.so")" = "a real driver" ] || fail "the existing driver was changed"
cmake -DLV_ZOLT_INSTALL_TRACER=OFF "$build" >/dev/null

# Each host must print the board's identification and time.
check_output() {
  local what=$1
  shift
  python3 "$root/examples/check_output.py" "$@" >/dev/null || fail "$what did not read the board"
  echo "check_install: $what: ok"
}
loads_simulator() {
  local zolt
  zolt=$(ldd "$1" | sed -n 's/^[[:space:]]*libzolt\.so => \(.*\) (0x.*/\1/p')
  [ -n "$zolt" ] && [ "$(realpath "$zolt")" = "$(realpath "$prefix/lib/libzolt.so")" ] ||
    fail "$1 does not load the installed simulator:
$(ldd "$1")"
}

# 4. CMake: the C example as a separate project over the installed package.
cmake -S "$root/examples/c" -B "$work/cmake-host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
loads_simulator "$work/cmake-host/read_board"
check_output "CMake host" "$work/cmake-host/read_board"

# A host asking for another major version must not get this one.
mkdir -p "$work/other-major"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(other LANGUAGES C)\nfind_package(LV_zolt %s CONFIG REQUIRED)\n' \
  $((major + 1)) >"$work/other-major/CMakeLists.txt"
if cmake -S "$work/other-major" -B "$work/other-major/build" -DCMAKE_PREFIX_PATH="$prefix" \
     >"$work/other-major.log" 2>&1; then
  fail "find_package(LV_zolt $((major + 1))) accepted version $version"
fi
grep -q "compatible with requested version" "$work/other-major.log" ||
  fail "find_package(LV_zolt $((major + 1))) failed for another reason: $(cat "$work/other-major.log")"

# 5. No driver beside the library (the default install): the package says so
# when the host project is configured, with the ways to provide one, rather
# than leave the host's link to fail. With ZOLT_ROOT naming a driver kept
# elsewhere (CMake or environment variable, its folder or its prefix), the
# host links, and runs once the loader is told where the driver is.
unset ZOLT_ROOT
mkdir -p "$work/vendor/lib"
cp "$prefix/lib/libzolt.so" "$work/vendor/lib/"
if cmake -S "$root/examples/c" -B "$work/no-driver" -G Ninja -DCMAKE_PREFIX_PATH="$work/default" \
     >"$work/no-driver.log" 2>&1; then
  fail "find_package(LV_zolt) accepted an installation without a zolt driver"
fi
for way in "driver library zolt" "$work/default/lib" LV_ZOLT_INSTALL_SIMULATOR=ON ZOLT_ROOT \
           "system's library path" LV_ZOLT_DRIVER_LIBRARY; do
  tr -s ' \n' ' ' <"$work/no-driver.log" | grep -qF "$way" ||
    fail "the message on a missing driver does not name '$way': $(cat "$work/no-driver.log")"
done
echo "check_install: no driver: refused at configure time: ok"
hinted() {  # NAME ENVIRONMENT-ASSIGNMENT [CMAKE-ARGUMENT...]
  local name=$1 environment=$2
  shift 2
  env "$environment" cmake -S "$root/examples/c" -B "$work/$name" -G Ninja \
    -DCMAKE_PREFIX_PATH="$work/default" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" "$@" \
    >"$work/$name.log" 2>&1 || fail "$name: configure failed: $(cat "$work/$name.log")"
  cmake --build "$work/$name" >>"$work/$name.log" 2>&1 ||
    fail "$name: the host does not link: $(cat "$work/$name.log")"
  check_output "host with $name" env LD_LIBRARY_PATH="$work/vendor/lib" "$work/$name/read_board"
}
hinted cmake-zolt-root ZOLT_ROOT= -DZOLT_ROOT="$work/vendor"
hinted environment-zolt-root ZOLT_ROOT="$work/vendor/lib"

# 6. pkg-config and a plain compiler command.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion LV_zolt)" = "$version" ] || fail "pkg-config version is not $version"
libdir=$(pkg-config --variable=libdir LV_zolt)
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$root/examples/c/read_board.c" $(pkg-config --cflags --libs LV_zolt) \
  -Wl,-rpath,"$libdir" -o "$work/pc-host"
loads_simulator "$work/pc-host"
check_output "pkg-config host" "$work/pc-host"

# 7. Python: the package's example and the raw ctypes one, loading the
# installed library by path.
check_output "Python host" env PYTHONPATH="$root/python" python3 \
  "$root/examples/python/read_board.py" --library "$prefix/lib/libLV_zolt.so"
check_output "Python ctypes host" python3 "$root/examples/python/raw_ctypes.py" \
  "$prefix/lib/libLV_zolt.so"
