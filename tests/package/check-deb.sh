#!/usr/bin/env bash
# Makes the Debian package of a build and checks what it holds, its version and dependency, and
# that lintian finds no error in it.
#   check-deb.sh BUILD_FOLDER VERSION
set -euo pipefail
build=$(realpath "$1")
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >/dev/null
deb=$(find "$work" -maxdepth 1 -name '*.deb')
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
failed=0
for pattern in usr/bin/morvantiquell usr/share/man/man1/morvantiquell.1.gz \
  usr/include/morvantiquell/layer_query.h 'usr/lib/(.+/)?libmorvantiquell\.a' \
  'usr/lib/(.+/)?cmake/Morvantiquell/MorvantiquellConfig\.cmake' \
  'usr/lib/(.+/)?cmake/Morvantiquell/MorvantiquellConfigVersion\.cmake' \
  'usr/lib/(.+/)?cmake/Morvantiquell/MorvantiquellTargets\.cmake' \
  'usr/lib/(.+/)?pkgconfig/morvantiquell\.pc' \
  usr/share/doc/morvantiquell/README.md usr/share/doc/morvantiquell/LICENSE \
  usr/share/doc/morvantiquell/copyright usr/share/doc/morvantiquell/changelog.gz; do
  grep -qxE "\./$pattern" <<<"$contents" || { echo "missing from the package: $pattern" >&2; failed=1; }
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
  { echo "package version $(dpkg-deb -f "$deb" Version), project version $version" >&2; failed=1; }
dpkg-deb -f "$deb" Depends | grep -qE '(^|, )libvulkan1($|[ ,])' ||
  { echo "the package does not depend on libvulkan1" >&2; failed=1; }

if command -v lintian >/dev/null; then
  report=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
  [ -z "$report" ] || echo "$report"
  if grep -q '^E:' <<<"$report"; then failed=1; fi
fi
[ "$failed" -eq 0 ] && echo "ok: $(basename "$deb")"
exit "$failed"
