#!/usr/bin/env bash
# The release files of a package preset as two builders make them, byte for byte the same. The
# first builder is the build that runs this, whose packages folder holds what its package step
# made. The second copies the tree (less its builds and .git) into second-builder/ in that build's
# folder, and makes them there with the same preset, under another umask and time zone, without
# tests; the copy keeps its own build folder from one run to the next, and its files their times,
# so that it builds again only what changed. Names the first file that differs and, inside it,
# the first entry that does.
#   check-reproducible.sh SOURCE_DIR PRESET BUILD_FOLDER
# LIBC_DEBS (from the environment) names where the first builder took Debian 11's C library from;
# the second takes it from there too.
set -euo pipefail
source=$(realpath "$1")
preset=$2
build=$(realpath "$3")
unset SOURCE_DATE_EPOCH # each builder takes the release time the build names
second="$build/second-builder"
mkdir -p "$second/tree"
find "$second/tree" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
rm -rf "$second/a" "$second/b" "$second/tree/build/$preset/packages"
tar -C "$source" --exclude=./build --exclude=./.git -c . | tar -C "$second/tree" -x
other_umask=002 other_zone=Pacific/Auckland
[ "$(umask)" = 0002 ] && other_umask=022
[ "${TZ:-}" = "$other_zone" ] && other_zone=UTC
(cd "$second/tree" && umask "$other_umask" && export TZ=$other_zone &&
  cmake --preset "$preset" -DBUILD_TESTING=OFF ${LIBC_DEBS:+"-DMORVANTIQUELL_LIBC_DEBS=$LIBC_DEBS"} &&
  cmake --build --preset "$preset" && cpack --preset "$preset") >"$second/build.log" 2>&1 ||
  { tail -n 20 "$second/build.log" >&2; echo "FAILED: building $preset in $second/tree" >&2; exit 1; }

files() { (cd "$1" && find . -maxdepth 1 -type f | sort); }
first=$(files "$build/packages")
again=$(files "$second/tree/build/$preset/packages")
if [ "$first" != "$again" ]; then
  printf 'FAILED: the two builds made different files:\n%s\nand\n%s\n' "$first" "$again" >&2
  exit 1
fi
unpack() {
  mkdir -p "$2"
  case "$1" in
    *.deb) dpkg-deb -R "$1" "$2" ;;
    *) (cd "$2" && cmake -E tar xf "$1") ;; # libarchive reads zip, tar and rpm alike
  esac
}
for file in $first; do
  a="$build/packages/$file" b="$second/tree/build/$preset/packages/$file"
  cmp -s "$a" "$b" && continue
  unpack "$a" "$second/a" && unpack "$b" "$second/b"
  inside=$(cd "$second" && diff -rq a b | head -n 1) || true
  echo "FAILED: ${file#./} differs between the two builds: ${inside:-the same contents, other modes, times, owners or order}" >&2
  exit 1
done
echo "ok: the same release files from both builds:"
(cd "$build/packages" && sha256sum $first)
