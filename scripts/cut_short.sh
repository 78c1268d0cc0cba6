#!/usr/bin/env bash
# Runs cut short, the long campaign: kills setup.exe at seeded moments of the copy and of the
# finishing steps over an earlier installation, checks what every kill left, and checks that a
# run to the end then leaves what a clean install leaves (EndToEnd.RunsCutShort... in
# tests/e2e/end_to_end_test.cpp, which runs a fixed sample of three kills in the suite).
#   nice -n 19 scripts/cut_short.sh [kills, default 120] [seed, default 1]
# One line per kill goes to build/cut-short.log; the figures are printed as a table at the end.
source "$(dirname "$0")/lib.sh"
kills=${1:-120}
seed=${2:-1}
install_missing
ensure_i386
build_tree "$BUILD32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake"
start_session yes
log "killing setup.exe $kills times, seed $seed"
status=0
start=$(date +%s)
(cd "$BUILD32/tests" && SETUP_EXE="$BUILD32/setup.exe" KVS_CUT_KILLS=$kills KVS_CUT_SEED=$seed \
  wine end_to_end_tests.exe --gtest_filter='EndToEnd.RunsCutShort*') >"$BUILD/cut-short.log" 2>&1 ||
  status=$?
seconds=$(($(date +%s) - start))
python3 - "$BUILD/cut-short.log" "$seconds" "$status" <<'PY'
import re, sys
log, seconds, status = open(sys.argv[1], errors="replace").read(), sys.argv[2], sys.argv[3]
rows = {}
for line in re.findall(r"^cut-short: kill \d+ .*$", log, re.M):
    moment = re.match(r"cut-short: kill \d+ \(trial \d+\): ([^;,]+)", line).group(1)
    row = rows.setdefault(moment, [0, 0, 0, 0])
    row[0] += 1
    progress = re.search(r"(\d+) in progress(.*)$", line)
    row[1] += progress.group(1) != "0"
    row[2] += ".kvs-new" in progress.group(2)
    row[3] += "missed" in line
print("| moment | kills | a file in progress | of them a replacement's copy | missed |")
print("|---|---|---|---|---|")
for moment, row in rows.items():
    print("| %s | %d | %d | %d | %d |" % ((moment,) + tuple(row)))
total = [sum(r[i] for r in rows.values()) for i in range(4)]
print("| all | %d | %d | %d | %d |" % tuple(total))
summary = re.findall(r"^cut-short: seed .*$", log, re.M)
failures = re.findall(r"^.*Failure$\n(?:.*\n){0,4}", log, re.M)
print()
print(summary[-1] if summary else "no summary: the campaign did not finish")
print("%s s in all; exit status %s; %d failed checks" % (seconds, status, len(failures)))
for failure in failures[:20]:
    print(failure)
PY
exit $status
