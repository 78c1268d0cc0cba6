#!/usr/bin/env bash
# Benchmarks setup.exe under Wine against the raw CopyFileA limit, an NSIS installer, an MSI and
# xcopy, on generated distributions, and writes docs/benchmarks.md.
#   scripts/bench.sh [--runs N] [--shapes "a b c"] [--runs-c N] [--scaling-runs N] [--smoke]
# Shapes: a 5,000 files of 4 KiB in 100 folders; b 20 files of 32 MiB; c 50,000 files of 1 KiB
# in 500 folders. --smoke makes a 12-file distribution, drives one install and checks that the
# sizes setup.exe writes to sizes.txt are the generator's SizeN values; it writes no report.
source "$(dirname "$0")/lib.sh"

RUNS=5
RUNS_C=""
SHAPES="a b c"
SCALING_RUNS=5
SMOKE=no
while [ $# -gt 0 ]; do
  case $1 in
  --runs) RUNS=$2; shift 2 ;;
  --runs-c) RUNS_C=$2; shift 2 ;;
  --shapes) SHAPES=$2; shift 2 ;;
  --scaling-runs) SCALING_RUNS=$2; shift 2 ;;
  --smoke) SMOKE=yes; shift ;;
  *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
RUNS_C=${RUNS_C:-$RUNS}

BENCH=${BENCH_DIR:-$BUILD/bench}
RESULTS=$BENCH/results.tsv
DRIVE_C=$WINEPREFIX/drive_c
winpath() { printf 'Z:%s' "${1//\//\\}"; }

PACKAGES+=(nsis wixl)
# BENCH_BUILD32 names a win32 tree that is already built (for a second run beside a first one,
# with BUILD pointing elsewhere for its own Wine prefix and results).
if [ -n "${BENCH_BUILD32:-}" ]; then
  BUILD32=$BENCH_BUILD32
elif [ "$SMOKE" = no ]; then
  install_missing
  ensure_i386
  build_tree "$BUILD32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake"
fi
[ "$SMOKE" = yes ] || start_session yes
DRIVER=$BUILD32/bench/bench_driver.exe
LIMIT=$BUILD32/bench/copy_limit.exe
wine_run() { "$WINE64" "$@" </dev/null; } # Wine starts 32-bit programs itself

# Every contender installs to its own folder on C:, removed (and flushed) before each run.
clean_destinations() {
  rm -rf "$DRIVE_C/BenchDest" "$DRIVE_C/BenchLimit" "$DRIVE_C/BenchNsis" "$DRIVE_C/BenchXcopy"
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

if [ "$SMOKE" = yes ]; then
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
  make_shape "$out" --files 12 --size 5000 --folders 3
  cp "$out/SETUP-plain.DAT" "$out/dist/SETUP.DAT"
  line=$(wine_run "$DRIVER" setup "$(winpath "$out/dist/setup.exe")")
  echo "$line"
  rm -rf "$DRIVE_C/BenchDest"
  echo "$line" | grep -q 'copy=.*total=' && sizes_match "$out" && echo "smoke run passed"
  exit
fi

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

mkdir -p "$BENCH"
: >"$RESULTS"
{
  echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpus=$(nproc)"
  echo "cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
  echo "wine=$(wine --version)"
  echo "qemu=$("$QEMU_I386" --version 2>/dev/null | head -1)"
  echo "binfmt=$(grep -s '^interpreter' /proc/sys/fs/binfmt_misc/qemu-i386 || echo none)"
  echo "setup_bytes=$(stat -c %s "$BUILD32/setup.exe")"
  echo "command=scripts/bench.sh --runs $RUNS --runs-c $RUNS_C --shapes \"$SHAPES\" --scaling-runs $SCALING_RUNS"
  echo "load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$BENCH/machine.txt"

# The NSIS stub: the same script with nothing to install.
mkdir -p "$BENCH/empty"
makensis -V1 -DSOURCE="$BENCH/empty" -DOUTFILE="$BENCH/nsis-empty.exe" "$ROOT/bench/peer.nsi"
echo "nsis_stub_bytes=$(stat -c %s "$BENCH/nsis-empty.exe")" >>"$BENCH/machine.txt"

declare -A SHAPE_ARGS=([a]="--shape a" [b]="--shape b" [c]="--shape c")
CONTENDERS=(setup-plain setup-sized limit nsis msi xcopy)
run_shape() {
  local shape=$1 out=$BENCH/shape-$1 runs run i n who
  out=$BENCH/shape-$shape
  log "making shape $shape"
  make_shape "$out" ${SHAPE_ARGS[$shape]}
  makensis -V1 -DSOURCE="$out/dist" -DOUTFILE="$out/nsis.exe" "$ROOT/bench/peer.nsi"
  (cd "$out" && wixl -D SourceDir=dist -o peer.msi "$ROOT/bench/peer.wxs" files.wxs)
  # Every contender reads its data from the page cache, never from the disk.
  cat "$out/nsis.exe" "$out/peer.msi" >/dev/null
  find "$out/dist" -type f -exec cat {} + >/dev/null
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
  make_shape "$out" --files "$files" --size 1024 --folders $((files / 100))
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

# The large shape c last: what it does not finish in time leaves the others complete.
for shape in $SHAPES; do
  [ "$shape" = c ] || run_shape "$shape"
done
[ "$SCALING_RUNS" = 0 ] || run_scaling
case " $SHAPES " in *" c "*) run_shape c ;; esac
# What the copy loop's window work costs, step by step, on the real progress window.
line=$(wine_run "$BUILD32/bench/step_costs.exe" "$(winpath "$BUILD32/setup.exe")" 300 | grep -o '[a-z_]*=[0-9.]*' | tr '\n' ' ' || true)
log "window steps: $line"
record steps step_costs 1 "$line"
echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$BENCH/machine.txt"

python3 "$ROOT/bench/report.py" "$BENCH" --notes "$ROOT/bench/analysis.md" >"$ROOT/docs/benchmarks.md"
log "wrote docs/benchmarks.md"
