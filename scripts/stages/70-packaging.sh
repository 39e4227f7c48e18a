# Packaging: the header, docs/exports.md, the .def files and the Python
# declarations agree; the installed Linux tree works from CMake, pkg-config,
# C and Python against the simulated board; the Windows bundles are built
# and their contents checked.
set -euo pipefail
python3 packaging/test_check_drift.py
defs=()
while IFS= read -r def; do defs+=(--def "$def"); done < <(find src -name '*.def' | sort)
python3 packaging/check_drift.py --header include/LV_zolt.h --docs docs/exports.md \
  --python examples/python/lv_zolt.py "${defs[@]}"

cmake --preset package-linux >/dev/null
cmake --build --preset package-linux
bash packaging/check_install.sh build/package-linux

# The bundle target zips the install tree and checks the zip.
for preset in bundle-win32 bundle-win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
python3 packaging/test_check_bundle.py build/bundle-win32/bundle/LV_zolt-*-win32.zip \
  build/bundle-win64/bundle/LV_zolt-*-win64.zip
