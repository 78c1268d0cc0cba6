#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
source "$(dirname "$0")/lib.sh"
install_missing
ensure_i386
build
start_session yes
cd "$BUILD32"
ctest --output-on-failure "$@"
