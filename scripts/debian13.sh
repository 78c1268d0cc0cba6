#!/usr/bin/env bash
# Runs a command of this project (by default the README's test command) inside a minimal Debian 13
# system, so that the suite also runs on the current Debian and its Wine. The system is made once
# with debootstrap from the Debian archive this machine's apt sources already name and kept in
# DEBIAN13_ROOT; the project's folder is seen inside at the same path and builds into build-debian13.
#   scripts/debian13.sh [COMMAND...]     e.g. scripts/debian13.sh bash scripts/demo.sh
source "$(dirname "$0")/lib.sh"
# DEBIAN_SUITE=bookworm with another DEBIAN13_ROOT proves a fresh minimal Debian 12 the same way.
SUITE=${DEBIAN_SUITE:-trixie}
TARGET=${DEBIAN13_ROOT:-/var/cache/kelvara/debian13}
[ $# -gt 0 ] || set -- bash scripts/test.sh

if [ "$(id -u)" != 0 ]; then
  log "the Debian 13 system is made and entered as root: run this with sudo"
  exit 1
fi

make_system() {
  [ -e "$TARGET/.complete" ] && return
  install_missing debootstrap debian-archive-keyring
  local entry
  entry=$(configured_debian_source "$(. /etc/os-release && echo "$VERSION_CODENAME")")
  if [ -z "$entry" ]; then
    log "no configured Debian source to take $SUITE from"
    exit 1
  fi
  local uri=${entry%%|*}
  log "making a minimal Debian $SUITE in $TARGET from $uri (first use only)"
  rm -rf "$TARGET"
  mkdir -p "$TARGET"
  # The system's own keyring checks the new release's signatures.
  debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
    "$SUITE" "$TARGET" "$uri" >"$TARGET.log" 2>&1 || {
    tail -20 "$TARGET.log"
    log "debootstrap failed; the whole log: $TARGET.log"
    exit 1
  }
  printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" "$SUITE" "$SUITE" >"$TARGET/etc/apt/sources.list.d/debian.sources"
  rm -f "$TARGET/etc/apt/sources.list"
  touch "$TARGET/.complete"
}

make_system
# A private mount namespace: what is mounted for the system goes when the command ends, whatever
# way it ends. The network and the X display numbers stay shared with this machine.
exec unshare --mount --propagation private bash -c '
  set -e
  target=$1 root=$2
  shift 2
  mount -t proc proc "$target/proc"
  mount --rbind /sys "$target/sys"
  mount --rbind /dev "$target/dev"
  mount -t tmpfs tmpfs "$target/tmp"
  mkdir -p "$target$root"
  mount --bind "$root" "$target$root"
  cp /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true
  # An empty environment, as a root console gives: the scripts choose what they need.
  exec chroot "$target" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    CI="${CI:-}" BUILD="$root/build-debian13" bash -c "cd \"$root\" && exec \"\$@\"" bash "$@"
' bash "$TARGET" "$ROOT" "$@"
