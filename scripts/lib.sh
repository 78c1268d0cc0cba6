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

PACKAGES=(cmake make g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev googletest clang wine
  wine32:i386 wine64 fonts-wine xvfb imagemagick x11-utils python3 libclang-rt-dev osslsigncode
  openssl locales)

log() { printf '== %s\n' "$*" >&2; }

# Wine maps the host's file names through the locale's character set: with none in the
# environment (a root console, a container, a service) names outside ASCII cannot be made.
# Tests that need a code page of their own set it themselves.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LC_ALL=C.UTF-8
fi

# Refreshes the package lists. A mirror caught mid-sync fails an index or two ("File has unexpected
# size"): tried again after a pause, then the lists that did arrive are used, as apt itself offers.
apt_update() {
  local sudo="" try
  [ "$(id -u)" = 0 ] || sudo=sudo
  for try in 1 2 3; do
    $sudo apt-get update -qq -o DPkg::Lock::Timeout=900 && return 0
    log "apt-get update failed (try $try of 3)"
    [ "$try" = 3 ] || sleep 10
  done
  log "going on with the package lists apt has"
}

# Installs the packages named (all of PACKAGES when none is) that are not installed yet.
install_missing() {
  local sudo="" wanted=("$@")
  [ "$(id -u)" = 0 ] || sudo=sudo
  [ $# -gt 0 ] || wanted=("${PACKAGES[@]}")
  if [[ " ${wanted[*]} " == *:i386\ * ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    $sudo dpkg --add-architecture i386
    rm -f "$BUILD/.apt-updated"
  fi
  local missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing: ${missing[*]}"
    apt_update
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      -o DPkg::Lock::Timeout=900 "${missing[@]}" >/dev/null; then
      # With one architecture's index of an update suite missing (see apt_update), the other's
      # newer libraries cannot pair with it: take the release's own versions instead.
      local codename
      codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
      log "installing again with the versions of $codename itself"
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=900 -o APT::Default-Release="$codename" "${missing[@]}" >/dev/null
    fi
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
  use_qemu_i386
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { log "cannot run 32-bit programs"; exit 1; }
}

# Registers qemu-i386 in binfmt_misc for 32-bit programs, installing qemu 8 or later
# first where needed. Such an entry is asked before the kernel's own 32-bit support, so this also
# forces qemu on a machine that could run them natively.
use_qemu_i386() {
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  local major
  major=$("$QEMU_I386" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p' | head -1 || true)
  if [ "${major:-0}" -lt 8 ]; then
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    add_backports "$codename"
    log "installing qemu-user from $codename-backports"
    apt_update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      -o DPkg::Lock::Timeout=900 -t "$codename-backports" qemu-user >/dev/null
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
}

# How 32-bit programs (Wine's 32-bit loader among them) run here: "qemu" while an enabled
# binfmt_misc entry hands them to qemu-i386, otherwise "native".
i386_mode() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/qemu-i386*; do
    if [ -e "$entry" ] && grep -qx enabled "$entry"; then
      echo qemu
      return
    fi
  done
  echo native
}

# Adds SUITE-backports from the Debian archive this machine already uses: the address and the
# signing key are taken from the configured entry for SUITE itself (one-line sources.list or
# deb822 .sources), so the project never names a package server of its own.
add_backports() {
  local suite=$1 sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  if grep -rqsw -- "$suite-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local entry
  entry=$(configured_debian_source "$suite")
  if [ -z "$entry" ]; then
    log "no configured Debian source for $suite to take $suite-backports from"
    exit 1
  fi
  local uri=${entry%%|*} signed_by=${entry#*|}
  {
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n' "$uri" "$suite"
    [ -z "$signed_by" ] || printf 'Signed-By: %s\n' "$signed_by"
  } | $sudo tee "/etc/apt/sources.list.d/$suite-backports.sources" >/dev/null
}

# Prints "URI|SIGNED-BY" of the first configured binary source that serves SUITE (Signed-By may be
# empty), from /etc/apt/sources.list and the files under /etc/apt/sources.list.d/.
configured_debian_source() {
  local suite=$1 file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v suite="$suite" '
      $1 == "deb" {
        signed = ""; i = 2
        if ($2 ~ /^\[/) {
          for (; i <= NF; i++) {
            if ($i ~ /signed-by=/) { signed = $i; sub(/.*signed-by=/, "", signed); sub(/\]$/, "", signed) }
            if ($i ~ /\]$/) { i++; break }
          }
        }
        if ($(i + 1) == suite) { print $i "|" signed; exit }
      }' "$file" | grep . && return
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v suite="$suite" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && uris != "" && !found) {
          split(uris, u, " "); print u[1] "|" signed; found = 1
        }
        types = suites = uris = signed = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types) }
      /^URIs:/ { uris = $0; sub(/^URIs:[ \t]*/, "", uris) }
      /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites) }
      /^Signed-By:/ { signed = $0; sub(/^Signed-By:[ \t]*/, "", signed) }
      END { flush() }' "$file" | grep . && return
  done
  return 0
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

# The locales of the double-byte code pages the end-to-end tests install under (932 and 950),
# generated into the build folder, which the tests name through LOCPATH: no system setting
# changes. Wine takes a process's ANSI code page from LC_ALL and the encoding of the host's file
# names from the locale itself, so without it names outside ASCII cannot be made. Where one cannot
# be generated, those tests report themselves skipped with the reason given here.
TEST_LOCALES=(ja_JP.UTF-8 zh_TW.UTF-8)
prepare_locales() {
  local dir=$BUILD32/locales name
  mkdir -p "$dir"
  for name in "${TEST_LOCALES[@]}"; do
    [ -e "$dir/$name/LC_CTYPE" ] && continue
    log "generating the locale $name"
    # localedef warns (and exits with 1) about sources it finds not strictly conforming; what
    # counts is the locale it leaves.
    localedef -i "${name%%.*}" -f "${name#*.}" "$dir/$name" >"$dir/localedef.log" 2>&1 || true
    if [ ! -e "$dir/$name/LC_CTYPE" ]; then
      export KVS_LOCALES_UNAVAILABLE="localedef could not make $name: $(head -c 200 "$dir/localedef.log")"
      log "$KVS_LOCALES_UNAVAILABLE"
    fi
  done
}

XVFB_PID=""
WINESERVER_PID=""
TEST_DRIVES_MOUNTED=()

# Two 1 MiB tmpfs drives for tests of real limits: S: (small) and R: (read-only, holding
# keep.txt). Where mounting is refused, the tests that need them report themselves skipped with
# the reason given here.
prepare_test_drives() {
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo -n"
  local letter dir
  for letter in s r; do
    dir=$BUILD/test-drive-$letter
    mkdir -p "$dir"
    if ! mountpoint -q "$dir"; then
      if ! $sudo mount -t tmpfs -o size=1m "kvs-test-drive-$letter" "$dir" 2>"$BUILD/test-drives.log"; then
        export TEST_DRIVES_UNAVAILABLE="mounting a 1 MiB tmpfs was refused: $(head -c 200 "$BUILD/test-drives.log")"
        log "$TEST_DRIVES_UNAVAILABLE"
        return
      fi
      TEST_DRIVES_MOUNTED+=("$dir")
    fi
    ln -sfn "$dir" "$WINEPREFIX/dosdevices/$letter:"
  done
  dir=$BUILD/test-drive-r
  $sudo mount -o remount,rw "$dir"
  echo "kept" >"$dir/keep.txt"
  # A disc that ships the removal program: started from there, it must find no installation.
  cp "$BUILD32/uninstall.exe" "$ROOT/tests/setupcheck/cases/installs-record/SETUP.DAT" "$dir/" \
    2>/dev/null || true
  $sudo mount -o remount,ro "$dir"
  export SMALL_DRIVE="S:" READONLY_DRIVE="R:"
}

stop_session() {
  local dir
  for dir in "${TEST_DRIVES_MOUNTED[@]}"; do
    rm -f "$WINEPREFIX/dosdevices/${dir##*-}:"
    umount "$dir" 2>/dev/null || sudo -n umount "$dir" 2>/dev/null || true
  done
  if [ -n "$WINESERVER_PID" ]; then
    wineserver -k 2>/dev/null || true
    kill "$WINESERVER_PID" 2>/dev/null || true
    wait "$WINESERVER_PID" 2>/dev/null || true
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
  # Stopped once only: a second call must not reach processes that reuse the numbers.
  TEST_DRIVES_MOUNTED=()
  WINESERVER_PID=""
  XVFB_PID=""
}

# Starts Xvfb on a free display (unless one is given and usable) and a persistent wineserver for
# the private prefix, creating the prefix on first use.
start_session() {
  local want_own_display=${1:-yes}
  trap stop_session EXIT
  if [ "$want_own_display" = yes ] || [ -z "${DISPLAY:-}" ]; then
    local n=90 try i
    for try in 1 2 3 4 5; do
      # A display is also taken where only its abstract socket shows: a server in another mount
      # namespace (the Debian 13 leg runs beside this one) has no files in this /tmp.
      while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] ||
        grep -qs "@/tmp/.X11-unix/X$n\$" /proc/net/unix; do n=$((n + 1)); done
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
      done
      [ -e "/tmp/.X11-unix/X$n" ] && break
      # Taken by a server that started at the same moment: the next number.
      XVFB_PID=""
      n=$((n + 1))
    done
    [ -n "$XVFB_PID" ] || { log "Xvfb could not start"; exit 1; }
    export DISPLAY=":$n"
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
  # Ended by the tests' emulator if it stops answering (tests/robot/wine_deadline.sh).
  export KVS_WINESERVER_PID=$WINESERVER_PID
  # Without a window manager on our own Xvfb, Wine waits about two seconds for one whenever a
  # managed window closes; unmanaged windows close at once. A real display keeps its manager.
  local managed=Y
  [ -z "$XVFB_PID" ] || managed=N
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d $managed /f </dev/null >/dev/null 2>&1 || true
  # The first program starts Wine's background services, which would inherit its output and
  # keep CTest waiting for the end of it: start them here, with their output going nowhere.
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
