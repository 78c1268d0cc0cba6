#!/usr/bin/env bash
# The release's tests, one per mode:
#   reproducible SOURCE WORK CC CXX  two release builds (and two native setupcheck builds) from
#       two source folders into two build folders, with paths of other lengths and another
#       locale, time zone, umask and SOURCE_DATE_EPOCH: every program the same bytes, and no
#       path of either build inside; the archives the same bytes when given the same date
#   archive SOURCE WORK  the archive of the first of those builds: what it lists, its sums, its
#       dates and permissions; then a signed release, whose programs verify
#   sign SOURCE WORK SETUP.EXE SETUPCHECK.EXE END_TO_END_TESTS.EXE WINE  signed programs verify,
#       do not verify against another certificate, are the unsigned ones again without their
#       signature, betray a changed byte, and still run: the signed setup.exe installs the
#       example under Wine
set -euo pipefail

SKIP=77
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
need() {
  local program
  for program in "$@"; do
    if ! command -v "$program" >/dev/null; then
      echo "skipped: $program is not installed (scripts/lib.sh installs it)" >&2
      exit $SKIP
    fi
  done
}

# A throw-away key and self-signed code-signing certificate: FOLDER/key.pem, FOLDER/cert.pem.
make_certificate() { # folder name
  mkdir -p "$1"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=$2" \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
    -keyout "$1/key.pem" -out "$1/cert.pem" >"$1/openssl.log" 2>&1 ||
    { cat "$1/openssl.log"; fail "openssl"; }
}

verifies() { # program certificate
  osslsigncode verify -CAfile "$2" -in "$1" >"$1.verify.log" 2>&1
}

extract() { # archive folder (python3: no unzip needed)
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"
}

# The date of these tests' archives.
EPOCH=1700000000

mode_reproducible() {
  local source=$1 work=$2 cc=$3 cxx=$4
  need i686-w64-mingw32-gcc-posix python3
  rm -rf "$work"
  local copy=$work/b/the-same-source-in-a-folder-with-a-longer-path
  mkdir -p "$copy"
  tar -C "$source" --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . |
    tar -C "$copy" -xf -
  local a=$work/a b=$work/b/another-build-folder

  build() { # source build-folder locale zone umask epoch
    mkdir -p "$2"
    if ! (
      umask "$5"
      export LC_ALL=$3 TZ=$4 BUILD=$2 SOURCE_DATE_EPOCH=$6
      bash "$1/scripts/release.sh" &&
        cmake -S "$1" -B "$2/native" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" &&
        cmake --build "$2/native" -j 2 --target setupcheck
    ) >>"$2.log" 2>&1; then
      tail -40 "$2.log"
      fail "the build in $2"
    fi
  }
  local status=0
  same() { # files, relative to either build folder
    local file path sums
    for file in "$@"; do
      sums=$(sha256sum "$a/$file" "$b/$file")
      echo "$sums"
      if [ "$(cut -c 1-64 <<<"$sums" | uniq | wc -l)" != 1 ]; then
        echo "^ these differ"
        status=1
      fi
      for path in "$source" "$copy" "$work"; do
        if grep -q -a -F "$path" "$a/$file" "$b/$file"; then
          echo "$file holds the path $path"
          status=1
        fi
      done
    done
  }
  # The second build with another date: the programs hold none. Its archive is then made again
  # with the first one's date (nothing is built again).
  build "$source" "$a" C UTC 022 $EPOCH
  build "$copy" "$b" C.UTF-8 Pacific/Auckland 077 $((EPOCH + 86400 * 365))
  same release-build/setup.exe release-build/uninstall.exe release-build/src/setupcheck/setupcheck.exe \
    native/src/setupcheck/setupcheck
  build "$copy" "$b" C.UTF-8 Pacific/Auckland 077 $EPOCH
  same "$(cd "$a" && echo release/*-win32.zip)"
  [ $status = 0 ] || fail "the two builds differ"
}

mode_archive() {
  local source=$1 work=$2
  need python3 osslsigncode openssl
  local zip
  zip=$(echo "$work"/a/release/*-win32.zip)
  [ -f "$zip" ] || fail "no archive in $work/a/release"
  local top
  top=$(basename "$zip" .zip)
  [[ $top =~ ^[A-Za-z]+-([0-9]+\.[0-9]+\.[0-9]+)-win32$ ]] || fail "archive name $top"
  local version=${BASH_REMATCH[1]} said
  # setupcheck tells the same version.
  if said=$("$work/a/native/src/setupcheck/setupcheck" --version 2>&1); then
    [[ $said == *"$version"* ]] || fail "setupcheck --version says \"$said\", the archive $version"
  fi

  local check=$work/archive-check
  rm -rf "$check"
  mkdir -p "$check"
  # Every entry under one folder, in byte order, with the given date and fixed permissions.
  python3 - "$zip" "$EPOCH" >"$check/names" <<'EOF' || fail "the archive's entries"
import sys, time, zipfile
entries = zipfile.ZipFile(sys.argv[1]).infolist()
names = [e.filename for e in entries]
assert names == sorted(names, key=lambda n: n.encode()), "not in byte order"
date = time.gmtime(int(sys.argv[2]))[:6]
for e in entries:
    assert e.date_time == date, (e.filename, e.date_time)
    assert e.external_attr == 0o100644 << 16 and e.create_system == 3, e.filename
    print(e.filename)
EOF
  (
    cd "$source"
    printf '%s\n' SHA256SUMS SHIPPING.txt docs/setup-dat.md setup.exe setupcheck.exe uninstall.exe
    find examples/demo -type f
  ) | LC_ALL=C sort | sed "s|^|$top/|" >"$check/expected"
  diff -u "$check/expected" "$check/names" || fail "the archive's entries"

  extract "$zip" "$check"
  local unpacked=$check/$top
  (cd "$unpacked" && sha256sum --check --strict --quiet SHA256SUMS) || fail "SHA256SUMS"
  cut -c 67- "$unpacked/SHA256SUMS" | sort >"$check/summed"
  sed "s|^$top/||" "$check/names" | grep -v -x SHA256SUMS | sort | diff -u - "$check/summed" ||
    fail "SHA256SUMS does not list every file"
  # The files are the programs built and the sources themselves.
  cmp "$unpacked/setup.exe" "$work/a/release-build/setup.exe" || fail "setup.exe"
  cmp "$unpacked/setupcheck.exe" "$work/a/release-build/src/setupcheck/setupcheck.exe" ||
    fail "setupcheck.exe"
  cmp "$unpacked/uninstall.exe" "$work/a/release-build/uninstall.exe" || fail "uninstall.exe"
  [ "$(stat -c %s "$unpacked/uninstall.exe")" -le 32768 ] || fail "uninstall.exe is over 32 KiB"
  [ "$(stat -c %s "$unpacked/setup.exe")" -le 53248 ] || fail "setup.exe is over 52 KiB"
  cmp "$unpacked/docs/setup-dat.md" "$source/docs/setup-dat.md" || fail "setup-dat.md"
  diff -r "$unpacked/examples/demo" "$source/examples/demo" || fail "the example"
  [ "$(head -1 "$unpacked/SHIPPING.txt")" = "## Shipping your application" ] ||
    fail "SHIPPING.txt's heading"
  [ "$(grep -c '^#' "$unpacked/SHIPPING.txt")" = 1 ] || fail "SHIPPING.txt holds another section"
  grep -q 'setupcheck DISTRIBUTION-FOLDER' "$unpacked/SHIPPING.txt" || fail "SHIPPING.txt's text"

  # Signed: the same release with both programs signed, and the sums those of the signed ones.
  make_certificate "$check/vendor" "Release Test Vendor"
  (
    export BUILD=$work/a SOURCE_DATE_EPOCH=$EPOCH
    bash "$source/scripts/release.sh" --sign "$check/vendor/key.pem" "$check/vendor/cert.pem"
  ) >"$check/signed.log" 2>&1 || { cat "$check/signed.log"; fail "release.sh --sign"; }
  mkdir "$check/signed"
  extract "$zip" "$check/signed"
  local program
  for program in setup.exe uninstall.exe setupcheck.exe; do
    verifies "$check/signed/$top/$program" "$check/vendor/cert.pem" ||
      { cat "$check/signed/$top/$program.verify.log"; fail "the signed $program does not verify"; }
  done
  (cd "$check/signed/$top" && sha256sum --check --strict --quiet SHA256SUMS) ||
    fail "the signed release's SHA256SUMS"
}

mode_sign() {
  local source=$1 work=$2 setup=$3 setupcheck=$4 endToEnd=$5 wine=$6
  need osslsigncode openssl python3
  rm -rf "$work"
  mkdir -p "$work/unsigned" "$work/signed" "$work/changed"
  make_certificate "$work/vendor" "Sign Test Vendor"
  make_certificate "$work/stranger" "Someone Else"
  cp "$setup" "$setupcheck" "$work/unsigned/"
  cp "$setup" "$setupcheck" "$work/signed/"
  bash "$source/scripts/sign.sh" "$work/vendor/key.pem" "$work/vendor/cert.pem" \
    "$work/signed/setup.exe" "$work/signed/setupcheck.exe" || fail "sign.sh"

  local program offset
  for program in setup.exe setupcheck.exe; do
    ! verifies "$work/unsigned/$program" "$work/vendor/cert.pem" || fail "the unsigned $program verifies"
    verifies "$work/signed/$program" "$work/vendor/cert.pem" ||
      { cat "$work/signed/$program.verify.log"; fail "the signed $program does not verify"; }
    ! verifies "$work/signed/$program" "$work/stranger/cert.pem" ||
      fail "$program verifies against another certificate"
    # Without its signature, the program is the unsigned one again, byte for byte.
    osslsigncode remove-signature -in "$work/signed/$program" -out "$work/changed/$program" \
      >/dev/null 2>&1 || fail "removing the signature of $program"
    cmp "$work/changed/$program" "$work/unsigned/$program" ||
      fail "$program without its signature is not the unsigned program"
    # One byte changed in the middle of the program's own bytes, before its signature.
    cp -f "$work/signed/$program" "$work/changed/$program"
    offset=$(($(stat -c %s "$work/unsigned/$program") / 2))
    python3 - "$work/changed/$program" "$offset" <<'EOF'
import sys
path, offset = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as f:
    f.seek(offset)
    byte = f.read(1)[0]
    f.seek(offset)
    f.write(bytes([byte ^ 0x01]))
EOF
    ! verifies "$work/changed/$program" "$work/vendor/cert.pem" ||
      fail "a changed byte of $program goes unseen"
  done

  # The signed programs still run: setupcheck.exe checks the example, setup.exe installs it.
  "$wine" "$work/signed/setupcheck.exe" "Z:$source/examples/demo" >"$work/setupcheck.log" 2>&1 ||
    { cat "$work/setupcheck.log"; fail "the signed setupcheck.exe"; }
  local filter=EndToEnd.TypicalRunInstallsTheExampleDistribution
  SETUP_EXE=$work/signed/setup.exe "$wine" "$endToEnd" --gtest_filter=$filter \
    >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "the signed setup.exe's install"; }
  grep -q '^\[  PASSED  \] 1 test' "$work/install.log" ||
    { cat "$work/install.log"; fail "$filter did not run"; }
}

mode=${1:-}
shift || true
case $mode:$# in
reproducible:4) mode_reproducible "$@" ;;
archive:2) mode_archive "$@" ;;
sign:6) mode_sign "$@" ;;
*)
  echo "usage: release_test.sh reproducible|archive|sign ARGUMENTS (see its head)" >&2
  exit 2
  ;;
esac
