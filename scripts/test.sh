#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the Win32 tests under Wine,
# then the native ones. Arguments go to both CTest runs.
source "$(dirname "$0")/lib.sh"
install_missing
ensure_i386
build
prepare_locales
start_session yes
prepare_test_drives
status=0
log "Win32 tests under Wine"
(cd "$BUILD32" && ctest --output-on-failure "$@") || status=1
log "native tests"
(cd "$BUILD_NATIVE" && ctest --output-on-failure "$@") || status=1
exit $status
