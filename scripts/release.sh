#!/usr/bin/env bash
# Makes every release file this machine can make, each by the workflow preset of its package
# preset, which checks the files it made before they are taken (test.sh runs the same workflows),
# configured afresh; gathers them into one folder with a SHA256SUMS file, and says in one line
# each what it cannot make here, and why. The Linux files must be linked against Debian 11's C
# library (see docs/packages.md), from ../shared/third-party or else fetched from Debian's archive:
# where it cannot be had, their builds stop, each with one line saying why, and the status is 1.
# `scripts/install-deps.sh release` installs what it needs.
#   scripts/release.sh [FOLDER]    (by default build/release-files)
set -uo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/release-files}")
rm -rf "$out"
mkdir -p "$out"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
export MORVANTIQUELL_RELEASE=1 CMAKE_BUILD_PARALLEL_LEVEL=$(nproc)
status=0
for preset in $(cmake --list-presets=package | sed -n 's/^  "\([^"]*\)".*/\1/p'); do
  if cmake --workflow --preset "$preset" --fresh >"$log" 2>&1; then
    find "build/$preset/packages" -maxdepth 1 -type f -exec cp {} "$out/" \;
    echo "made: $preset"
  else
    # A configuration that stops says why in its CMake Error: that, in one line.
    reason=$(awk '/^CMake Error/ { error = 1; next } error && (/^$/ || /^Call Stack/) { exit } error' "$log" |
      sed 's/^ *//' | paste -sd ' ')
    if [[ "$reason" = skipped:* ]]; then
      echo "not made: $preset: ${reason#skipped: }"
    elif [ -n "$reason" ]; then
      echo "FAILED: making $preset: $reason" >&2
      status=1
    else
      tail -n 20 "$log" >&2
      echo "FAILED: making $preset" >&2
      status=1
    fi
  fi
done
(cd "$out" && sha256sum -- * >SHA256SUMS)
echo "in $out:"
cat "$out/SHA256SUMS"
exit "$status"
