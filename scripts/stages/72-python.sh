# The Python package: builds the lv_zolt wheel in the gcc configuration and
# runs the package's tests with Debian's Python and pytest over the simulated
# board, installing the wheel into a fresh venv among them.
set -uo pipefail
cmake --preset gcc >/dev/null || exit 1
cmake --build --preset gcc --target python-wheel || exit 1
LV_ZOLT_BUILD_DIR=build/gcc /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
status=$?
# pytest's 5 is "no tests collected": a suite that ran nothing has not passed.
if [ "$status" -eq 5 ]; then
  echo "python: pytest collected no tests in python/tests" >&2
  exit 1
fi
exit "$status"
