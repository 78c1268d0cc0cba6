#!/usr/bin/env bash
# The wineserver requests of one copied line: bench/copy_profile.exe on 400 lines of 1 KiB (the
# main group of a 450-file distribution), traced with WINEDEBUG=+server,+debugstr by a wineserver
# of its own, counted by bench/server_requests.py for the window work alone and for the copy.
#   bench/requests_per_line.sh        (BENCH_BUILD32: the win32 tree of another build)
export WINEDEBUG=+server,+debugstr
source "$(dirname "$0")/../scripts/lib.sh"
TREE=${BENCH_BUILD32:-$BUILD32}
OUT=$BUILD/requests
rm -rf "$OUT"
mkdir -p "$OUT"
python3 "$ROOT/bench/make_distribution.py" "$OUT" --files 450 --size 1024 --folders 9 >/dev/null
cp "$OUT/SETUP-sized.DAT" "$OUT/dist/SETUP.DAT"
(
  start_session yes
  rm -rf "$WINEPREFIX/drive_c/ProfDest"
  "$WINE64" "$TREE/bench/copy_profile.exe" "Z:${OUT//\//\\}\\dist" 'C:\ProfDest' Main.Files \
    </dev/null >"$OUT/profile.txt"
  rm -rf "$WINEPREFIX/drive_c/ProfDest"
) >"$OUT/trace.txt" 2>&1
python3 "$ROOT/bench/server_requests.py" "$OUT/trace.txt" 400 # the main group's lines
