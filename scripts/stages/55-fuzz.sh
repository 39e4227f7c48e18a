# The differential fuzzer (libFuzzer, ASan, UBSan): a bounded run of about
# 60 s from the committed corpus. New inputs go to the build folder; a failing
# case is written to build/fuzz/run/artifacts/ and fails the stage.
set -euo pipefail
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --parallel 2
run=build/fuzz/run
rm -rf "$run"
mkdir -p "$run/corpus" "$run/artifacts"
build/fuzz/tests/lv_zolt_differential_fuzzer -max_total_time=60 -print_final_stats=1 \
  -artifact_prefix="$run/artifacts/" "$run/corpus" fuzz/corpus/differential

# The trace reader: a bounded run of about 30 s from the committed seeds.
mkdir -p "$run/trace-corpus"
build/fuzz/fuzz/zolt_trace_reader_fuzzer -max_total_time=30 -print_final_stats=1 \
  -dict=fuzz/trace.dict -artifact_prefix="$run/artifacts/" "$run/trace-corpus" fuzz/corpus/trace
