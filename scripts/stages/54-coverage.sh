# Line and branch coverage of src/ (gcc, gcov, gcovr); fails unless every line
# and branch of the export layer ran.
set -euo pipefail
cmake --preset coverage >/dev/null
cmake --build --preset coverage --parallel 2
find build/coverage -name '*.gcda' -delete  # counts from earlier runs only
ctest --preset coverage
cmake --build --preset coverage-report
