# Shared by the README's commands: installs what is missing, makes 32-bit programs runnable,
# builds, and runs a private Wine session (Xvfb + persistent wineserver) that is always stopped.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
BUILD32=$BUILD/win32 # setup.exe and its tests, all 32-bit programs
export WINEPREFIX=$BUILD/wineprefix
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts, and no menu entries on the Linux desktop for our shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

PACKAGES=(cmake g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev googletest clang wine wine32:i386
  wine64 xvfb imagemagick x11-utils python3 libclang-rt-14-dev)

log() { printf '== %s\n' "$*" >&2; }

install_missing() {
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    $sudo dpkg --add-architecture i386
    rm -f "$BUILD/.apt-updated"
  fi
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# Wine's 32-bit loader is an i386 Linux program. Where the kernel has its 32-bit emulation
# switched off, such programs are handed to qemu through binfmt_misc. qemu 7 (Debian 12's own)
# ignores MAP_FIXED_NOREPLACE, which makes every Wine start walk the address space for about a
# minute; qemu 8 and later start Wine in a fraction of a second, so it comes from backports.
QEMU_I386=/usr/bin/qemu-i386
ensure_i386() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1 && ! grep -qs '^interpreter .*qemu-i386-static' /proc/sys/fs/binfmt_misc/qemu-i386; then
    return
  fi
  log "32-bit programs do not run natively here: handing them to qemu-i386 through binfmt_misc"
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  local major
  major=$("$QEMU_I386" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p' | head -1 || true)
  if [ "${major:-0}" -lt 8 ]; then
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    local list=/etc/apt/sources.list.d/$codename-backports.list
    if ! grep -rqs "$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
      echo "deb http://deb.debian.org/debian $codename-backports main" | $sudo tee "$list" >/dev/null
    fi
    log "installing qemu-user from $codename-backports"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      -t "$codename-backports" qemu-user >/dev/null
  fi
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  local entry
  for entry in /proc/sys/fs/binfmt_misc/qemu-i386*; do
    [ -e "$entry" ] || continue
    grep -qs "^interpreter $QEMU_I386\$" "$entry" && grep -qx enabled "$entry" && continue
    echo -1 | $sudo tee "$entry" >/dev/null # an older qemu, or disabled
  done
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':OCF' |
      $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { log "cannot run 32-bit programs"; exit 1; }
}

BUILD_NATIVE=$BUILD/native # the portable text rules and what is built on them, for Linux

build_tree() { # folder, cmake arguments
  local tree=$1
  shift
  log "building in $tree"
  mkdir -p "$tree"
  cmake -S "$ROOT" -B "$tree" "$@" >"$tree/configure.log" 2>&1 || { cat "$tree/configure.log"; exit 1; }
  if ! cmake --build "$tree" -j "$(nproc)" -- --no-print-directory >"$tree/build.log" 2>&1; then
    grep -E -A3 'error|Error' "$tree/build.log" | head -60
    log "the build failed; the whole log: $tree/build.log"
    exit 1
  fi
  grep -E 'warning' "$tree/build.log" || true
}

build() {
  build_tree "$BUILD32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake"
  build_tree "$BUILD_NATIVE" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
}

XVFB_PID=""
WINESERVER_PID=""

stop_session() {
  if [ -n "$WINESERVER_PID" ]; then
    wineserver -k 2>/dev/null || true
    kill "$WINESERVER_PID" 2>/dev/null || true
    wait "$WINESERVER_PID" 2>/dev/null || true
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
}

# Starts Xvfb on a free display (unless one is given and usable) and a persistent wineserver for
# the private prefix, creating the prefix on first use.
start_session() {
  local want_own_display=${1:-yes}
  trap stop_session EXIT
  if [ "$want_own_display" = yes ] || [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.ready" ]; then
    log "creating the Wine prefix $WINEPREFIX (first use only)"
    rm -rf "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.ready"
  fi
  # Wine links the profile's Desktop, Documents and the like to the Linux home folder: make them
  # folders of the prefix, so that shortcuts made by tests never land in the user's home.
  local profile
  for profile in "$WINEPREFIX"/drive_c/users/*/; do
    for link in "$profile"*; do
      if [ -L "$link" ]; then
        rm "$link"
        mkdir "$link"
      fi
    done
  done
  wineserver -f -p &
  WINESERVER_PID=$!
  # The first program starts Wine's background services, which would inherit its output and
  # keep CTest waiting for the end of it: start them here, with their output going nowhere.
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
