#!/usr/bin/env bash
# The long runs of the generated campaigns, with the figures they measure.
#   scripts/campaign.sh inf [files, default 5000] [seed, default 1]
#     the INF and INI reader of setupcheck against the Setup API, on generated files, in one
#     Win32 process
#   scripts/campaign.sh setup [files, default 1000] [seed, default 1] [runs at a time, default 2]
#                             [first file, default 0]
#     generated SETUP.DAT files through the real setup.exe, in chunks of 50 files; a first file
#     other than 0 finishes a run of that seed that was cut short
# Logs go to build/campaign/; a file that differs or fails can be made again from its seed and
# number (see the test sources: INF_DIFF_*, HOSTILE_*).
source "$(dirname "$0")/lib.sh"
mode=${1:-}
out=$BUILD/campaign
install_missing
ensure_i386
build_tree "$BUILD32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake"
start_session yes
mkdir -p "$out"
case "$mode" in
inf)
  files=${2:-5000} seed=${3:-1}
  rm -rf "$out/inf-differs"
  mkdir -p "$out/inf-differs"
  log "reading $files generated INF files both ways (seed $seed)"
  start=$(date +%s)
  INF_DIFF_COUNT=$files INF_DIFF_SEED=$seed INF_DIFF_KEEP=$(winepath -w "$out/inf-differs") \
    nice -n 19 wine "$BUILD32/src/setupcheck/tests/setupcheck_differential_tests.exe" \
    --gtest_filter='*OnGeneratedFiles' >"$out/inf-$seed.log" 2>&1 || true
  grep -a '^\[inf-diff\]' "$out/inf-$seed.log"
  log "$(($(date +%s) - start)) s in all; differing files kept in $out/inf-differs"
  ;;
setup)
  files=${2:-1000} seed=${3:-1} at_once=${4:-2} from=${5:-0}
  log "running files $from to $((files - 1)) of $files generated SETUP.DAT files through setup.exe, $at_once at a time (seed $seed)"
  start=$(date +%s)
  run_log=$out/setup-$seed.log
  : >"$run_log"
  # -a: the log quotes bytes of the hostile files, and grep stops printing a file it takes for binary
  lines_matching() { grep -ac "$1" "$run_log"; }
  runs_ending_in() { grep -a '^\[hostile\]' "$run_log" | grep -ac "$1[^|]*\$"; }
  for ((first = from; first < files; first += 50)); do
    count=$((files - first < 50 ? files - first : 50))
    HOSTILE_SEED=$seed HOSTILE_FIRST=$first HOSTILE_COUNT=$count HOSTILE_AT_ONCE=$at_once \
      SETUP_EXE=$(winepath -w "$BUILD32/setup.exe") \
      nice -n 19 wine "$BUILD32/tests/end_to_end_tests.exe" \
      --gtest_filter='HostileSetupFile.GeneratedFromSoundDistributions' >>"$run_log" 2>&1 || true
    log "files $first to $((first + count - 1)) done after $(($(date +%s) - start)) s: $(lines_matching '^\[hostile\] gen') runs, $(lines_matching 'Failure$') failures"
  done
  printf '| runs | loading error | completed | did not complete | left from a page | failures | seconds |\n|---|---|---|---|---|---|---|\n'
  printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$(lines_matching '^\[hostile\] gen')" \
    "$(runs_ending_in ': There was an error initialising')" "$(runs_ending_in 'Setup has finished installing')" \
    "$(runs_ending_in 'Setup did not complete successfully!')" "$(runs_ending_in '(exit confirmed at the ')" \
    "$(lines_matching 'Failure$')" "$(($(date +%s) - start))"
  ;;
*)
  echo "usage: scripts/campaign.sh inf|setup [files] [seed] [runs at a time] [first file]" >&2
  exit 2
  ;;
esac
