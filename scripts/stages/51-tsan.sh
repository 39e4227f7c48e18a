# TSan (gcc): threads on the simulated board, each on a board of its own and
# all on one shared board, and the rest of the suite except its long
# single-threaded checks, which the ASan stage runs.
set -euo pipefail
cmake --preset tsan >/dev/null
cmake --build --preset tsan --parallel 2
ctest --preset tsan
