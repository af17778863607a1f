#!/usr/bin/env bash
# The release files of a package preset as two builders make them, byte for byte the same. The
# first builder is this tree: the files the preset made in its folder's packages/ (test.sh has just
# made them; made here where they are not). The second copies the tree to another folder and
# makes them there, under another umask and time zone, compiling everything itself. Names the
# first file that differs and, inside it, the first entry that does.
#   check-reproducible.sh PRESET [CMAKE_OPTION...]   (options for both builders' configure)
# PRESET is a configure preset and the package preset of its name (linux-native-deb, windows-x64-zip, ...).
set -euo pipefail
preset=$1
shift
source=$(realpath "$(dirname "$0")/../..")
source "$source/scripts/presets.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH # each builder takes the release time the build names
# Both builders take Debian 11's C library from where this tree's preset finds it.
debs=$(libc_debs "$preset")
options=(${debs:+"-DMORVANTIQUELL_LIBC_DEBS=$(realpath -m "$debs")"} "$@")
# The preset's packages folder below the tree, and the tree's folder of builds, which is not copied.
folder=$(folder "$preset")
packages=${folder#"$source"/}/packages builds=${folder#"$source"/}
builds=${builds%%/*}

# made TREE: the preset's release files, as paths below TREE, made in TREE where they are not there yet.
made() {
  files() { (cd "$1" && find "./$packages" -maxdepth 1 -type f) 2>/dev/null | sort; }
  [ -n "$(files "$1")" ] ||
    (cd "$1" && cmake --preset "$preset" "${options[@]}" && cmake --build --preset "$preset" --parallel "$(nproc)" &&
      cpack --preset "$preset") >"$work/build.log" 2>&1 ||
    { tail -n 20 "$work/build.log" >&2; echo "FAILED: building $preset in $1" >&2; exit 1; }
  files "$1"
}
first=$(made "$source")
other_umask=002 other_zone=Pacific/Auckland
[ "$(umask)" = 0002 ] && other_umask=022
[ "${TZ:-}" = "$other_zone" ] && other_zone=UTC
mkdir -p "$work/second/elsewhere"
tar -C "$source" --exclude="./$builds" --exclude=./.git -c . | tar -C "$work/second/elsewhere" -x
second=$(umask "$other_umask" && TZ=$other_zone CCACHE_DISABLE=1 made "$work/second/elsewhere")
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
  a="$source/$file" b="$work/second/elsewhere/$file"
  cmp -s "$a" "$b" && continue
  unpack "$a" "$work/a" && unpack "$b" "$work/b"
  inside=$(cd "$work" && diff -rq a b | head -n 1) || true
  echo "FAILED: ${file#./} differs between the two builds: ${inside:-the same contents, other modes, times, owners or order}" >&2
  exit 1
done
echo "ok: the same release files from both builds:"
(cd "$source" && sha256sum $first)
