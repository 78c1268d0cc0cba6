#!/usr/bin/env bash
# Builds setup.exe, runs it on the bundled example distribution and lists what it installed, then
# removes it with uninstall.exe and lists what remains. With a display you click through both
# yourself. Without one, a private Xvfb is started and the typical runs are driven from outside,
# with a picture of each step saved as PNG in build/demo-screenshots.
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
cp "$BUILD32/setup.exe" "$BUILD32/uninstall.exe" "$demo/"
# The copy ships uninstall.exe and registers it, as a vendor's SETUP.DAT does (README, "Removing
# an installed application"); the example itself holds no program built here.
sed -i -e 's/^Option3=Demo Song$/&\nGroup4=Uninstall.Files\nDescription4=Copying the uninstall program.../' \
  -e 's/^AddReg=Demo.AddReg$/&,Uninstall.AddReg/' "$demo/SETUP.DAT"
key='HKLM,Software\Microsoft\Windows\CurrentVersion\Uninstall\%APPNAME%'
cat >>"$demo/SETUP.DAT" <<EOF

[Uninstall.Files]
uninstall.exe
SETUP.DAT

[Uninstall.AddReg]
$key,DisplayName,,%APPNAME%
$key,UninstallString,,"""%65600%\uninstall.exe"""
$key,InstallLocation,,%65600%
$key,DisplayIcon,,%65600%\%EXENAME%.exe
$key,NoModify,0x10001,1
$key,NoRepair,0x10001,1
EOF
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
fi
log "what was installed"
wine "$driver" list >"$BUILD/demo-list.txt" || status=1
cat "$BUILD/demo-list.txt"
destination=$(sed -n 's/^Files in \(.*\):\r*$/\1/p' "$BUILD/demo-list.txt" | head -1)
if [ -z "$destination" ]; then
  log "nothing to remove"
  exit 1
fi
if [ "$own_display" = no ]; then
  log "removing it: answer uninstall.exe in $destination"
  wine "$destination\\uninstall.exe"
else
  log "removing it with uninstall.exe in $destination"
  timeout 600 wine "$driver" remove "$(winepath -w "$shots")" || status=1
  for picture in "$shots"/*.bmp; do
    [ -e "$picture" ] || continue
    convert "$picture" -strip "${picture%.bmp}.png" && rm "$picture"
  done
  log "pictures of the runs: $shots"
  ls "$shots" >&2
fi
log "what remains"
wine "$driver" remains "$destination" || status=1
exit $status
