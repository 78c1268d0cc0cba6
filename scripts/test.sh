#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
source "$(dirname "$0")/lib.sh"
install_missing
ensure_i386
build_tests
start_session yes
status=0
log "64-bit test build: every test case, and the 32-bit setup.exe end to end"
(cd "$BUILD64" && ctest --output-on-failure "$@") || status=$?
log "32-bit test build: each test executable as a whole"
(cd "$BUILD32" && ctest --output-on-failure "$@") || status=$?
exit $status
