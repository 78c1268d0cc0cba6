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
if [ "$own_display" = no ]; then
  wine "$demo/setup.exe"
  exit 0
fi
# Nobody can click on a private display: show that the wizard comes up, keep a screenshot of it
# and end the run.
wine "$demo/setup.exe" &
setup_pid=$!
shot=$BUILD/demo-destination-page.png
for i in $(seq 1 600); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Kelvara Demo Setup"'; then
    sleep 1 # let the page finish painting
    import -window root "$shot"
    log "the destination page is up; screenshot: $shot"
    break
  fi
  kill -0 "$setup_pid" 2>/dev/null || break
  sleep 0.5
done
kill "$setup_pid" 2>/dev/null || true
wineserver -k 2>/dev/null || true
