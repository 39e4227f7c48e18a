# Valgrind memcheck over the unit suites of the x86-64 gcc build: no error
# and no leak. Suppressed: only the test framework (tests/assurance/memcheck.supp).
# Not run here: the no-heap suite, which replaces the allocator that memcheck
# instruments, and the exhaustive id text test, which repeats one path 2^24
# times (the differential cases run that path under memcheck).
set -euo pipefail
cmake --preset gcc >/dev/null
cmake --build --preset gcc --parallel 2
supp=$PWD/tests/assurance/memcheck.supp
memcheck() {
  valgrind --error-exitcode=1 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --suppressions="$supp" "$@"
}
cd build/gcc/tests
memcheck ./lv_zolt_tests
memcheck ./lv_zolt_assurance_tests --gtest_filter='-IdText.*'
