#!/usr/bin/env bash
# Checks the two Debian packages that `cmake --workflow --preset deb` (or deb-arm64) made: what
# each holds, its architecture, section, version and dependencies, that lintian has neither an
# error nor a warning for either (lintian also refuses a program built for another architecture
# than its package's), that the program in it is hardened, and that programs build and run
# against the unpacked development package, with the compilers of the architecture the packages
# are for and started the way the build starts its programs (qemu for arm64 on amd64).
#   check-deb.sh DEB_BUILD_FOLDER ARCHITECTURE STAND_IN_FOLDER
set -euo pipefail
build=$(realpath "$1")
arch=$2
stand_in=$(realpath "$3")
here=$(dirname "$(realpath "$0")")
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cached CMAKE_PROJECT_VERSION)
multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
read -r -a launcher <<<"$(cached CMAKE_CROSSCOMPILING_EMULATOR)"
CC="$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-gcc"
CMAKE_TOOLCHAIN_FILE=$(cached CMAKE_TOOLCHAIN_FILE)
export CC CMAKE_TOOLCHAIN_FILE
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "$*" >&2
  failed=1
}

# package, section, what it must depend on (space-separated, or nothing), the files it holds (and
# nothing else)
check_package() {
  local package=$1 section=$2 depends=$3 dependency contents
  local deb="$build/packages/${package}_${version}_$arch.deb"
  shift 3
  [ -f "$deb" ] || { fail "missing: $deb"; return; }
  [ "$(dpkg-deb -f "$deb" Section)" = "$section" ] || fail "$package: section $(dpkg-deb -f "$deb" Section)"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] ||
    fail "$package: architecture $(dpkg-deb -f "$deb" Architecture)"
  for dependency in $depends; do
    dpkg-deb -f "$deb" Depends | grep -qE "(^|, )$dependency($|[ ,])" || fail "$package: does not depend on $dependency"
  done
  contents=$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print substr($6, 3) }' | sort)
  [ "$contents" = "$(printf '%s\n' "$@" | sort)" ] || fail "$package holds:"$'\n'"$contents"
  dpkg-deb -x "$deb" "$work/root"
}
lib="usr/lib/$multiarch"
# The C library dependency is what dpkg-shlibdeps found the program itself needs.
check_package morvantiquell utils "libvulkan1 libc6" usr/bin/morvantiquell \
  usr/share/man/man1/morvantiquell.1.gz usr/share/doc/morvantiquell/{README.md,copyright,changelog.gz}
check_package libmorvantiquell-dev libdevel '' usr/include/morvantiquell/layer_query.h \
  "$lib/libmorvantiquell.a" "$lib/pkgconfig/morvantiquell.pc" \
  "$lib"/cmake/Morvantiquell/{MorvantiquellConfig,MorvantiquellConfigVersion,MorvantiquellTargets,MorvantiquellTargets-release}.cmake \
  usr/share/doc/libmorvantiquell-dev/{README.md,copyright,changelog.gz}

report=$(lintian "$build"/packages/*_"$arch".deb 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$report" ] || echo "$report"
if grep -qE '^[EW]:' <<<"$report"; then fail "lintian reports errors or warnings"; fi

cmake -DPROGRAM="$work/root/usr/bin/morvantiquell" -P "$here/../check_linked_libraries.cmake" >/dev/null ||
  fail "the packaged program is not hardened, or links the loader"
"$here/check-consumers.sh" "$work/root/usr" "$stand_in" "${launcher[@]}" || failed=1
[ "$failed" -eq 0 ] && echo "ok: $(cd "$build/packages" && echo *_"$arch".deb)"
exit "$failed"
