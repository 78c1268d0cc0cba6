#!/usr/bin/env bash
# Benchmarks setup.exe under Wine against the raw CopyFileA limit, NSIS (silent, and with its
# window shown), an MSI and xcopy, on generated distributions, and writes docs/benchmarks.md with
# a chart per shape in docs/images/.
#   scripts/bench.sh [--runs N] [--runs-c N] [--shapes "a b c"] [--scaling-runs N]
#                    [--contenders "setup-plain ... xcopy"] [--i386 "native qemu"] [--smoke]
# Shapes: a 5,000 files of 4 KiB in 100 folders; b 20 files of 32 MiB; c 50,000 files of 1 KiB
# in 500 folders; (a) and (b) run 5 times, (c) 3 times unless told otherwise.
# 32-bit programs (Wine's loader too) run natively or through qemu-i386, as the machine does
# (scripts/lib.sh); every result records which. --i386 measures each named mode in turn, switching
# the machine's qemu-i386 binfmt_misc entry on (qemu) or off (native) where it must: that changes
# how every 32-bit program on the machine runs until the end of the command, which restores it.
# --smoke makes a 12-file distribution, installs it once with every contender, checks that the
# sizes setup.exe writes to sizes.txt are the generator's SizeN values and draws the report and
# its charts into a temporary folder; it writes nothing into docs/.
source "$(dirname "$0")/lib.sh"

RUNS=5
RUNS_C=3
SHAPES="a b c"
SCALING_RUNS=5
SMOKE=no
MODES=""
CONTENDERS=(setup-plain setup-sized limit nsis nsis-shown msi xcopy)
while [ $# -gt 0 ]; do
  case $1 in
  --runs) RUNS=$2; shift 2 ;;
  --runs-c) RUNS_C=$2; shift 2 ;;
  --shapes) SHAPES=$2; shift 2 ;;
  --scaling-runs) SCALING_RUNS=$2; shift 2 ;;
  --contenders) read -r -a CONTENDERS <<<"$2"; shift 2 ;;
  --i386) MODES=$2; shift 2 ;;
  --smoke) SMOKE=yes; shift ;;
  *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

BENCH=${BENCH_DIR:-$BUILD/bench}
DRIVE_C=$WINEPREFIX/drive_c
winpath() { printf 'Z:%s' "${1//\//\\}"; }

PACKAGES+=(nsis wixl python3-matplotlib)
install_missing
# BENCH_BUILD32 names a win32 tree that is already built (for a second run beside a first one,
# with BUILD pointing elsewhere for its own Wine prefix and results).
if [ -n "${BENCH_BUILD32:-}" ]; then
  BUILD32=$BENCH_BUILD32
else
  ensure_i386
  build_tree "$BUILD32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake"
fi
DRIVER=$BUILD32/bench/bench_driver.exe
LIMIT=$BUILD32/bench/copy_limit.exe
wine_run() { "$WINE64" "$@" </dev/null; } # Wine starts 32-bit programs itself
# The charts need Debian's matplotlib, which only Debian's own python3 sees.
report() { /usr/bin/python3 "$ROOT/bench/report.py" "$@"; }

# Undoes, last first, what set_i386_mode changed; run when the command ends.
I386_RESTORE=()
restore_i386() {
  local i
  for ((i = ${#I386_RESTORE[@]} - 1; i >= 0; i--)); do
    eval "${I386_RESTORE[i]}" >/dev/null 2>&1 || true
  done
  I386_RESTORE=()
}
finish() {
  stop_session
  restore_i386
}

# Makes 32-bit programs run as asked (native or qemu); returns 1 when the machine cannot.
set_i386_mode() {
  local want=$1 sudo="" entry
  [ "$(id -u)" = 0 ] || sudo=sudo
  [ "$(i386_mode)" = "$want" ] && return 0
  if [ "$want" = qemu ]; then
    entry=/proc/sys/fs/binfmt_misc/qemu-i386
    if [ -e "$entry" ]; then
      echo 1 | $sudo tee "$entry" >/dev/null
      I386_RESTORE+=("echo 0 | $sudo tee $entry")
    else
      use_qemu_i386
      I386_RESTORE+=("echo -1 | $sudo tee $entry")
    fi
  else
    for entry in /proc/sys/fs/binfmt_misc/qemu-i386*; do
      [ -e "$entry" ] && grep -qx enabled "$entry" || continue
      echo 0 | $sudo tee "$entry" >/dev/null
      I386_RESTORE+=("echo 1 | $sudo tee $entry")
    done
  fi
  if [ "$(i386_mode)" != "$want" ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    log "32-bit programs cannot run $want here"
    restore_i386
    return 1
  fi
  log "32-bit programs now run $want"
}

# Every contender installs to its own folder on C:, removed (and flushed) before each run.
clean_destinations() {
  rm -rf "$DRIVE_C/BenchDest" "$DRIVE_C/BenchLimit" "$DRIVE_C/BenchNsis" "$DRIVE_C/BenchNsisShown" \
    "$DRIVE_C/BenchXcopy"
  sync
}

sizes_match() { # the generator's SizeN against what setup.exe wrote to sizes.txt
  local out=$1
  diff <(grep -o '^Size[0-9]*=-*[0-9]*' "$out/SETUP-sized.DAT") \
    <(grep -o '^Size[0-9]*=-*[0-9]*' "$out/dist/sizes.txt")
}

make_shape() { # folder, generator arguments
  local out=$1
  shift
  python3 "$ROOT/bench/make_distribution.py" "$out" "$@"
  cp "$BUILD32/setup.exe" "$out/dist/setup.exe"
}

make_peers() { # folder: the NSIS installers (silent and shown) and the MSI of its distribution
  local out=$1
  makensis -V1 -DSOURCE="$out/dist" -DOUTFILE="$out/nsis.exe" "$ROOT/bench/peer.nsi"
  makensis -V1 -DSHOWN -DSOURCE="$out/dist" -DOUTFILE="$out/nsis-shown.exe" "$ROOT/bench/peer.nsi"
  (cd "$out" && wixl -D SourceDir=dist -o peer.msi "$ROOT/bench/peer.wxs" files.wxs)
  # Every contender reads its data from the page cache, never from the disk.
  cat "$out/nsis.exe" "$out/nsis-shown.exe" "$out/peer.msi" >/dev/null
  find "$out/dist" -type f -exec cat {} + >/dev/null
}

record() { # shape contender run "name=value ..."
  local pair
  for pair in $4; do
    printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "${pair%%=*}" "${pair#*=}" >>"$RESULTS"
  done
}

run_contender() { # shape folder contender run
  local shape=$1 out=$2 who=$3 run=$4 line="" dist=$2/dist
  clean_destinations
  case $who in
  setup-plain | setup-sized)
    cp "$out/SETUP-${who#setup-}.DAT" "$dist/SETUP.DAT"
    rm -f "$dist/sizes.txt"
    line=$(wine_run "$DRIVER" setup "$(winpath "$dist/setup.exe")") ;;
  limit)
    line=$(wine_run "$DRIVER" run "$(winpath "$LIMIT")" "$(winpath "$dist")" 'C:\BenchLimit' \
      "$(winpath "$out/files.txt")" | tr '\n' ' ') ;;
  nsis)
    line=$(wine_run "$DRIVER" run "$(winpath "$out/nsis.exe")" /S '/D=C:\BenchNsis') ;;
  nsis-shown)
    line=$(wine_run "$DRIVER" run "$(winpath "$out/nsis-shown.exe")" '/D=C:\BenchNsisShown') ;;
  msi)
    line=$(wine_run "$DRIVER" run msiexec /i "$(winpath "$out/peer.msi")" /qn)
    wine_run msiexec /x "$(winpath "$out/peer.msi")" /qn >/dev/null 2>&1 || true ;;
  xcopy)
    line=$(wine_run "$DRIVER" run xcopy "$(winpath "$dist")" 'C:\BenchXcopy' /E /I /Q /Y | grep 'total=') ;;
  esac
  line=$(echo "$line" | grep -o '[a-z_]*=[0-9.]*' | grep -v '^files=\|^exit=' | tr '\n' ' ')
  log "shape $shape run $run $who: $line"
  [ -n "$line" ] || { log "$who failed"; return 1; }
  record "$shape" "$who" "$run" "$line"
}

write_machine() { # mode, command line
  {
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpus=$(nproc)"
    echo "cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
    echo "wine=$(wine --version)"
    echo "i386=$1"
    [ "$1" != qemu ] || echo "qemu=$("$QEMU_I386" --version 2>/dev/null | head -1)"
    echo "setup_bytes=$(stat -c %s "$BUILD32/setup.exe")"
    echo "command=$2"
    echo "load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
  } >"$RESULTS_DIR/machine.txt"
}

if [ "$SMOKE" = yes ]; then
  start_session yes
  out=$(mktemp -d)
  trap 'finish; rm -rf "$out"' EXIT
  RESULTS_DIR=$out
  RESULTS=$out/results.tsv
  make_shape "$out" --files 12 --size 5000 --folders 3
  make_peers "$out"
  write_machine "$(i386_mode)" "scripts/bench.sh --smoke"
  failed=0
  for who in "${CONTENDERS[@]}"; do
    run_contender smoke "$out" "$who" 1 || failed=1
    if [ "$who" = setup-plain ] && ! sizes_match "$out"; then
      log "the generator's SizeN differ from what setup.exe wrote to sizes.txt"
      failed=1
    fi
  done
  clean_destinations
  echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
  report "$out" --images "$out/images" >"$out/benchmarks.md" || failed=1
  [ -s "$out/images/bench-smoke.png" ] || { log "no chart was drawn"; failed=1; }
  [ "$failed" = 0 ] && echo "smoke run passed"
  exit $failed
fi

# Shapes are made once per command, whatever the number of modes.
declare -A SHAPE_ARGS=([a]="--shape a" [b]="--shape b" [c]="--shape c")
declare -A MADE=()
run_shape() {
  local shape=$1 out=$BENCH/shape-$1 runs run i n who
  if [ -z "${MADE[$shape]:-}" ]; then
    log "making shape $shape"
    make_shape "$out" ${SHAPE_ARGS[$shape]}
    make_peers "$out"
    MADE[$shape]=1
  fi
  runs=$RUNS
  [ "$shape" = c ] && runs=$RUNS_C
  for run in $(seq 1 "$runs"); do
    n=${#CONTENDERS[@]}
    for i in $(seq 0 $((n - 1))); do # a different order each run, so noise hits all alike
      who=${CONTENDERS[$(((i + run) % n))]}
      run_contender "$shape" "$out" "$who" "$run" || true
      if [ "$who" = setup-plain ] && ! sizes_match "$out"; then
        log "the generator's SizeN differ from what setup.exe wrote to sizes.txt"
        exit 1
      fi
    done
  done
  clean_destinations
}

# The checking step alone at 1,000, 10,000 and 50,000 files of 1 KiB, 100 files a folder.
run_scaling() {
  local files out run variant line
  for files in 1000 10000 50000; do
  out=$BENCH/scaling-$files
  [ -n "${MADE[scaling-$files]:-}" ] || make_shape "$out" --files "$files" --size 1024 --folders $((files / 100))
  MADE[scaling-$files]=1
  for run in $(seq 0 "$SCALING_RUNS"); do
    for variant in plain sized; do
      cp "$out/SETUP-$variant.DAT" "$out/dist/SETUP.DAT"
      rm -f "$out/dist/sizes.txt"
      line=$(wine_run "$DRIVER" check "$(winpath "$out/dist/setup.exe")" | grep -o '[a-z_]*=[0-9.]*' | tr '\n' ' ' || true)
      log "checking $files files $variant run $run: $line"
      [ "$run" = 0 ] || record "check-$files" "setup-$variant" "$run" "$line" # run 0 warms up
    done
  done
  done
}

# Everything, in the mode 32-bit programs run in now, into $BENCH/<mode>.
run_mode() {
  local mode=$1 shape line
  RESULTS_DIR=$BENCH/$mode
  RESULTS=$RESULTS_DIR/results.tsv
  mkdir -p "$RESULTS_DIR"
  : >"$RESULTS"
  write_machine "$mode" "scripts/bench.sh --runs $RUNS --runs-c $RUNS_C --shapes \"$SHAPES\" --scaling-runs $SCALING_RUNS --contenders \"${CONTENDERS[*]}\" --i386 \"$MODES\""
  # The NSIS stub: the same script with nothing to install.
  mkdir -p "$BENCH/empty"
  makensis -V1 -DSOURCE="$BENCH/empty" -DOUTFILE="$BENCH/nsis-empty.exe" "$ROOT/bench/peer.nsi"
  echo "nsis_stub_bytes=$(stat -c %s "$BENCH/nsis-empty.exe")" >>"$RESULTS_DIR/machine.txt"
  # The large shape c last: what it does not finish in time leaves the others complete.
  for shape in $SHAPES; do
    [ "$shape" = c ] || run_shape "$shape"
  done
  [ "$SCALING_RUNS" = 0 ] || run_scaling
  case " $SHAPES " in *" c "*) run_shape c ;; esac
  # What the copy loop's window work costs, step by step, on the real progress window; and per
  # line and per frame with the product's own progress window, on shape (a)'s main group.
  line=$(wine_run "$BUILD32/bench/step_costs.exe" "$(winpath "$BUILD32/setup.exe")" 300 | grep -o '[a-z_]*=[0-9.]*' | tr '\n' ' ' || true)
  if [ -d "$BENCH/shape-a/dist" ]; then
    rm -rf "$DRIVE_C/ProfDest"
    line+=" $(wine_run "$BUILD32/bench/copy_profile.exe" "$(winpath "$BENCH/shape-a/dist")" 'C:\ProfDest' Main.Files | grep -o '\(line\|frame\)_ms=[0-9.]*' | tr '\n' ' ' || true)"
    rm -rf "$DRIVE_C/ProfDest"
  fi
  log "window steps: $line"
  record steps step_costs 1 "$line"
  echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$RESULTS_DIR/machine.txt"
}

MODES=${MODES:-$(i386_mode)}
mkdir -p "$BENCH"
measured=()
trap finish EXIT
for mode in $MODES; do
  set_i386_mode "$mode" || continue
  start_session yes
  trap finish EXIT
  run_mode "$mode"
  stop_session
  measured+=("$BENCH/$mode")
done
[ ${#measured[@]} -gt 0 ] || { log "no mode could be measured"; exit 1; }

report "${measured[@]}" --images "$ROOT/docs/images" --notes "$ROOT/bench/analysis.md" \
  >"$ROOT/docs/benchmarks.md"
log "wrote docs/benchmarks.md and its charts"
