#!/usr/bin/env bash
# Builds setup.exe, runs it on the bundled example distribution and lists what it installed.
# With a display you click through the wizard yourself. Without one, a private Xvfb is started
# and the typical run is driven from outside, with a picture of each step saved as PNG in
# build/demo-screenshots.
source "$(dirname "$0")/lib.sh"
install_missing
ensure_i386
build
own_display=no
[ -n "${DISPLAY:-}" ] || own_display=yes
# A prefix of its own, so that the tests' prefix never holds the demo's install; it starts as a
# copy of the tests' one when there is one, which saves creating it.
export WINEPREFIX=$BUILD/demo-prefix
if [ ! -f "$WINEPREFIX/.ready" ] && [ -f "$BUILD/wineprefix/.ready" ]; then
  rm -rf "$WINEPREFIX"
  cp -a "$BUILD/wineprefix" "$WINEPREFIX"
fi
start_session "$own_display"
demo=$BUILD/demo-distribution
rm -rf "$demo"
cp -r "$ROOT/examples/demo" "$demo"
cp "$BUILD32/setup.exe" "$demo/"
driver=$BUILD32/tests/demo_driver.exe
# An earlier demo install goes first, so that the listing shows this run's.
wine "$driver" forget
status=0
if [ "$own_display" = no ]; then
  log "running setup.exe from $demo: click through it"
  wine "$demo/setup.exe"
else
  shots=$BUILD/demo-screenshots
  rm -rf "$shots"
  mkdir -p "$shots"
  log "driving setup.exe from $demo on a private display"
  timeout 600 wine "$driver" drive "$(winepath -w "$demo/setup.exe")" "$(winepath -w "$shots")" || status=1
  for picture in "$shots"/*.bmp; do
    [ -e "$picture" ] || continue
    convert "$picture" -strip "${picture%.bmp}.png" && rm "$picture"
  done
  log "pictures of the run: $shots"
  ls "$shots" >&2
fi
log "what was installed"
wine "$driver" list || status=1
exit $status
