#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
source "$(dirname "$0")/lib.sh"
set -o pipefail
install_missing
ensure_i386
build_tests
start_session yes
status=0
summary=$BUILD/ctest-summary.txt
: >"$summary"
log "64-bit test build: every test case, and the 32-bit setup.exe end to end"
(cd "$BUILD64" && ctest --output-on-failure "$@") 2>&1 | tee -a "$summary" || status=1
log "32-bit test build: each test executable as a whole"
(cd "$BUILD32" && ctest --output-on-failure "$@") 2>&1 | tee -a "$summary" || status=1
# One line for both runs: "N tests failed out of M" from each CTest summary.
awk '/tests failed out of/ { failed += $(NF-5); total += $NF }
     END { printf "CTest: %d passed, %d failed\n", total - failed, failed }' "$summary"
exit $status
