#!/usr/bin/env bash
# Makes the release files twice, as two builders would: from copies of this tree in two different
# folders, one after the other, under different umasks and time zones, and compares them byte for
# byte. Names the first file that differs and, inside it, the first entry that does.
#   check-reproducible.sh PRESET...
# Each is a configure preset and the package preset of its name (deb, windows-x64, ...). The tests
# are not built: they are not released.
set -euo pipefail
source=$(realpath "$(dirname "$0")/../..")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH # each builder takes the release time the build names

build() {
  local folder=$1 preset
  mkdir -p "$folder"
  tar -C "$source" --exclude=./build --exclude=./.git -c . | tar -C "$folder" -x
  for preset in "${@:2}"; do
    (cd "$folder" &&
      cmake --preset "$preset" -DMORVANTIQUELL_BUILD_TESTS=OFF &&
      cmake --build --preset "$preset" --parallel &&
      cpack --preset "$preset") >"$folder.log" 2>&1 ||
      { tail -n 20 "$folder.log" >&2; echo "FAILED: building $preset in $folder" >&2; exit 1; }
  done
  (cd "$folder/build" && find . -mindepth 3 -maxdepth 3 -path './*/packages/*' \
    \( -name '*.deb' -o -name '*.rpm' -o -name '*.tar.gz' -o -name '*.zip' \) | sort)
}
first=$( umask 022 && TZ=UTC build "$work/first" "$@")
second=$(umask 002 && TZ=Pacific/Auckland build "$work/second/elsewhere" "$@")
if [ "$first" != "$second" ]; then
  printf 'FAILED: the two builds made different files:\n%s\nand\n%s\n' "$first" "$second" >&2
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
  a="$work/first/build/$file" b="$work/second/elsewhere/build/$file"
  cmp -s "$a" "$b" && continue
  unpack "$a" "$work/a" && unpack "$b" "$work/b"
  inside=$(cd "$work" && diff -rq a b | head -n 1) || true
  echo "FAILED: ${file#./} differs between the two builds: ${inside:-the same contents, other times, owners or order}" >&2
  exit 1
done
echo "ok: the same release files from both builds:"
(cd "$work/first/build" && sha256sum $first)
