#!/usr/bin/env bash
# Makes the release archive build/release/NAME-VERSION-win32.zip: setup.exe, uninstall.exe,
# setupcheck.exe, the example distribution, the SETUP.DAT format, the README's shipping section and SHA256SUMS of
# them all (docs/release.md). Unsigned, it is the same bytes whenever and wherever it is made
# from the same commit.
#   scripts/release.sh [--sign KEY CERT [--timestamp URL]]
source "$(dirname "$0")/lib.sh"

usage() {
  echo "usage: scripts/release.sh [--sign KEY CERT [--timestamp URL]]" >&2
  exit 2
}
sign=()
timestamp=()
while [ $# -gt 0 ]; do
  case $1 in
  --sign)
    [ $# -ge 3 ] || usage
    sign=("$2" "$3")
    shift 3
    ;;
  --timestamp)
    [ $# -ge 2 ] || usage
    timestamp=(--timestamp "$2")
    shift 2
    ;;
  *) usage ;;
  esac
done
[ ${#timestamp[@]} -eq 0 ] || [ ${#sign[@]} -gt 0 ] || usage
install_missing

# The name and version of CMake's project() line, the one place that holds them.
read -r name version < <(sed -n 's/^project(\([A-Za-z0-9_]*\) VERSION \([0-9.]*\)[ )].*/\1 \2/p' "$ROOT/CMakeLists.txt") || true
[ -n "${version:-}" ] || { log "no project(NAME VERSION ...) line in $ROOT/CMakeLists.txt"; exit 1; }
top=$name-$version-win32

# The archive's one date: SOURCE_DATE_EPOCH when given, else the time of the last commit.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 315532800)
fi
export SOURCE_DATE_EPOCH
commit=$(git -C "$ROOT" rev-parse HEAD 2>/dev/null || echo unknown)
if [ -n "$(git -C "$ROOT" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  log "warning: the source tree has changes that are not committed"
  commit="$commit with changes not committed"
fi

# Only the project's own flags: a caller's CFLAGS and the like would change the programs.
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS
tree=$BUILD/release-build
log "building setup.exe, uninstall.exe and setupcheck.exe $version in $tree"
mkdir -p "$tree"
cmake -S "$ROOT" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DSETUP_BUILD_TESTS=OFF >"$tree/configure.log" 2>&1 ||
  { cat "$tree/configure.log"; exit 1; }
if ! cmake --build "$tree" -j "$(nproc)" --target setup uninstall setupcheck >"$tree/build.log" 2>&1; then
  grep -E -A3 'error|Error' "$tree/build.log" | head -60
  log "the build failed; the whole log: $tree/build.log"
  exit 1
fi

out=$BUILD/release
stage=$out/$top
rm -rf "$stage"
mkdir -p "$stage/docs" "$stage/examples"
cp "$tree/setup.exe" "$tree/uninstall.exe" "$tree/src/setupcheck/setupcheck.exe" "$stage/"
cp -R "$ROOT/examples/demo" "$stage/examples/demo"
cp "$ROOT/docs/setup-dat.md" "$stage/docs/"
# The README's section up to the next heading, without the blank lines that end it.
awk '/^## / { on = $0 == "## Shipping your application" }
  on && /^$/ { blank++; next }
  on { while (blank > 0) { print ""; blank-- } print }' "$ROOT/README.md" >"$stage/SHIPPING.txt"
[ -s "$stage/SHIPPING.txt" ] || { log "no \"Shipping your application\" section in README.md"; exit 1; }

if [ ${#sign[@]} -gt 0 ]; then
  "$ROOT/scripts/sign.sh" "${timestamp[@]}" "${sign[@]}" "$stage/setup.exe" "$stage/uninstall.exe" \
    "$stage/setupcheck.exe"
fi

(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' '\0' | xargs -0 sha256sum) \
  >"$out/SHA256SUMS.new"
mv "$out/SHA256SUMS.new" "$stage/SHA256SUMS"

# Names in byte order under one folder, every entry with the same date and permissions: the
# bytes depend on the files alone.
archive=$out/$top.zip
python3 - "$stage" "$top" "$archive.new" "$SOURCE_DATE_EPOCH" <<'EOF'
import os, sys, time, zipfile
stage, top, archive, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
date = time.gmtime(max(epoch, 315532800))[:6]  # a zip date is 1980 or later
names = []
for folder, _, files in os.walk(stage):
    names += [os.path.relpath(os.path.join(folder, f), stage) for f in files]
with zipfile.ZipFile(archive, "w") as z:
    for name in sorted(names, key=lambda n: n.encode()):
        entry = zipfile.ZipInfo(top + "/" + name, date_time=date)
        entry.create_system = 3  # Unix, whose permissions follow
        entry.external_attr = 0o100644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(stage, name), "rb") as f:
            z.writestr(entry, f.read(), compresslevel=9)
EOF
mv "$archive.new" "$archive"

# Beside the archive: what it was made from and with, for whoever reproduces it.
{
  echo "Source: $name $version, commit $commit"
  echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH"
  echo "Signed: $([ ${#sign[@]} -gt 0 ] && echo yes || echo no)"
  echo "Packages:"
  dpkg-query -W -f='  ${binary:Package} ${Version}\n' cmake g++-mingw-w64-i686-posix \
    gcc-mingw-w64-i686-posix-runtime binutils-mingw-w64-i686 mingw-w64-i686-dev zlib1g
  python3 -c 'import sys, zlib; print("  python", sys.version.split()[0], "zlib", zlib.ZLIB_RUNTIME_VERSION)'
} >"$out/$top.buildinfo"
log "release archive ($(stat -c %s "$archive") bytes; what it was made with: $out/$top.buildinfo):"
(cd "$out" && sha256sum "$top.zip")
