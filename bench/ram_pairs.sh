#!/usr/bin/env bash
# setup.exe's copy phase against the CreateDirectoryA + CopyFileA loop (copy_limit.exe) with the
# destination on a RAM drive, where the disk's drift does not count, only the programs' own work:
# FILES files of 4 KiB, 50 to a folder, SizeN given; PAIRS pairs, the order alternating.
#   bench/ram_pairs.sh [FILES] [PAIRS]      (BENCH_BUILD32: the win32 tree of another build)
# Prints each pair's copy phases and their ratio, then the median of the ratios, then
# bench/copy_profile.exe's split of the copy engine on the main group, in-process, on the drive,
# with the window shown and never shown.
source "$(dirname "$0")/../scripts/lib.sh"
FILES=${1:-3000}
PAIRS=${2:-5}
TREE=${BENCH_BUILD32:-$BUILD32}
OUT=$BUILD/ram-pairs
RAM=$BUILD/ram-drive
winpath() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$OUT"
python3 "$ROOT/bench/make_distribution.py" "$OUT" --files "$FILES" --size 4096 \
  --folders $((FILES / 50)) >/dev/null
sed 's/^Path=C:\\BenchDest/Path=T:\\BenchDest/' "$OUT/SETUP-sized.DAT" >"$OUT/dist/SETUP.DAT"
cp "$TREE/setup.exe" "$OUT/dist/setup.exe"
find "$OUT/dist" -type f -exec cat {} + >/dev/null # sources from the page cache
start_session yes
mkdir -p "$RAM"
mountpoint -q "$RAM" || mount -t tmpfs -o size=256m kvs-ram-drive "$RAM"
trap 'rm -f "$WINEPREFIX/dosdevices/t:"; umount "$RAM"; stop_session' EXIT
ln -sfn "$RAM" "$WINEPREFIX/dosdevices/t:"
copy_of() { # contender: its copy phase in seconds
  if [ "$1" = setup ]; then
    "$WINE64" "$TREE/bench/bench_driver.exe" setup "$(winpath "$OUT/dist/setup.exe")" </dev/null
  else
    "$WINE64" "$TREE/bench/bench_driver.exe" run "$(winpath "$TREE/bench/copy_limit.exe")" \
      "$(winpath "$OUT/dist")" 'T:\BenchLimit' "$(winpath "$OUT/files.txt")" </dev/null
  fi | grep -o 'copy=[0-9.]*' | head -1 | cut -d= -f2
}
ratios=()
for pair in $(seq 1 "$PAIRS"); do
  order="setup limit"
  [ $((pair % 2)) = 0 ] && order="limit setup"
  declare -A took=()
  for who in $order; do
    rm -rf "${RAM:?}"/*
    took[$who]=$(copy_of "$who")
  done
  ratio=$(python3 -c "print('%.2f' % (${took[setup]} / ${took[limit]}))")
  ratios+=("$ratio")
  echo "pair $pair ($order): setup.exe copy ${took[setup]} s, loop ${took[limit]} s, ratio $ratio"
done
echo "median ratio $(printf '%s\n' "${ratios[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
rm -rf "${RAM:?}"/*
"$WINE64" "$TREE/bench/copy_profile.exe" "$(winpath "$OUT/dist")" 'T:\ProfDest' Main.Files </dev/null
rm -rf "${RAM:?}"/*
"$WINE64" "$TREE/bench/copy_profile.exe" "$(winpath "$OUT/dist")" 'T:\ProfDest' Main.Files hidden \
  </dev/null
