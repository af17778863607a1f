#!/usr/bin/env bash
# Checks the two Debian packages that `cmake --workflow --preset deb` made: what each holds, its
# section, version and dependencies, that lintian has neither an error nor a warning for either,
# that the program in it is hardened, and that programs build and run against the unpacked
# development package.
#   check-deb.sh DEB_BUILD_FOLDER STAND_IN_FOLDER
set -euo pipefail
build=$(realpath "$1")
stand_in=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "$*" >&2
  failed=1
}

# package, section, what it must depend on (or nothing), the files it holds (and nothing else)
check_package() {
  local deb="$build/packages/${1}_${version}_$arch.deb" section=$2 depends=$3 contents
  shift 3
  [ -f "$deb" ] || { fail "missing: $deb"; return; }
  [ "$(dpkg-deb -f "$deb" Section)" = "$section" ] || fail "$1: section $(dpkg-deb -f "$deb" Section)"
  [ -z "$depends" ] || dpkg-deb -f "$deb" Depends | grep -qE "(^|, )$depends($|[ ,])" ||
    fail "$1: does not depend on $depends"
  contents=$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print substr($6, 3) }' | sort)
  [ "$contents" = "$(printf '%s\n' "$@" | sort)" ] || fail "$1 holds:"$'\n'"$contents"
  dpkg-deb -x "$deb" "$work/root"
}
lib="usr/lib/$multiarch"
check_package morvantiquell utils libvulkan1 usr/bin/morvantiquell \
  usr/share/man/man1/morvantiquell.1.gz usr/share/doc/morvantiquell/{README.md,copyright,changelog.gz}
check_package libmorvantiquell-dev libdevel '' usr/include/morvantiquell/layer_query.h \
  "$lib/libmorvantiquell.a" "$lib/pkgconfig/morvantiquell.pc" \
  "$lib"/cmake/Morvantiquell/{MorvantiquellConfig,MorvantiquellConfigVersion,MorvantiquellTargets,MorvantiquellTargets-release}.cmake \
  usr/share/doc/libmorvantiquell-dev/{README.md,copyright,changelog.gz}

report=$(lintian "$build"/packages/*.deb 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$report" ] || echo "$report"
if grep -qE '^[EW]:' <<<"$report"; then fail "lintian reports errors or warnings"; fi

cmake -DPROGRAM="$work/root/usr/bin/morvantiquell" -P "$here/../check_linked_libraries.cmake" >/dev/null ||
  fail "the packaged program is not hardened, or links the loader"
"$here/check-consumers.sh" "$work/root/usr" "$stand_in" || failed=1
[ "$failed" -eq 0 ] && echo "ok: $(cd "$build/packages" && echo *.deb)"
exit "$failed"
