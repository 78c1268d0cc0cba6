#!/usr/bin/env bash
# Runs every fuzz target of the text rules for a while and prints what it measured.
#   scripts/fuzz.sh [seconds per target, default 600] [target ...]
# Starts from the checked-in seed corpus with seed 1; new inputs and the logs go to
# build/native/fuzz-run/, an input that breaks a rule to build/native/fuzz-run/<target>/.
source "$(dirname "$0")/lib.sh"
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(bounded_text group_line size_text typed_folder)
install_missing
build_tree "$BUILD_NATIVE" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
run=$BUILD_NATIVE/fuzz-run
printf '| target | seconds | runs | execs/s | coverage (edges) | features | corpus | crashes |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for target in "${targets[@]}"; do
  exe=$BUILD_NATIVE/tests/fuzz/${target}_fuzz
  [ -x "$exe" ] || { log "no $exe: is libclang-rt-14-dev installed?"; exit 1; }
  rm -rf "${run:?}/$target"
  mkdir -p "$run/$target/corpus"
  log "fuzzing $target for $seconds s"
  status=0
  (cd "$run/$target" && timeout $((seconds + 120)) "$exe" -seed=1 -max_len=4200 -print_final_stats=1 \
    -max_total_time="$seconds" -artifact_prefix="$run/$target/" corpus "$ROOT/tests/fuzz/corpus/$target" \
    >"$run/$target.log" 2>&1) || status=$?
  crashes=$(find "$run/$target" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' -o -maxdepth 1 -name 'timeout-*' | wc -l)
  [ "$status" = 0 ] || [ "$crashes" != 0 ] || crashes="exit $status"
  last=$(grep -E '^#[0-9]+' "$run/$target.log" | tail -1)
  stat() { sed -n "s/^stat::$1: *//p" "$run/$target.log" | tail -1; }
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$last")
  printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$target" "$seconds" \
    "$(stat number_of_executed_units)" "$(stat average_exec_per_sec)" "$cov" "$ft" "$corp" "$crashes"
done
