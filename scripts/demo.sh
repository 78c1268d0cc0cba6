#!/usr/bin/env bash
# Builds setup.exe and runs it on the bundled example distribution: on your display when there
# is one, otherwise under a private Xvfb (add --screenshots to save pictures of each step).
source "$(dirname "$0")/lib.sh"
install_missing
ensure_i386
build
own_display=no
[ -n "${DISPLAY:-}" ] || own_display=yes
start_session "$own_display"
demo=$BUILD/demo-distribution
rm -rf "$demo"
cp -r "$ROOT/examples/demo" "$demo"
cp "$BUILD32/setup.exe" "$demo/"
log "running setup.exe from $demo"
wine "$demo/setup.exe"
