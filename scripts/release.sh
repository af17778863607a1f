#!/usr/bin/env bash
# Makes every release file this machine can make, into one folder with a SHA256SUMS file, and
# says in one line each what it cannot make here, and why. The Linux files are linked against
# Debian 11's C library (see docs/packages.md). Run twice on the same sources, it makes the same
# files (test.sh shows that for each). `scripts/install-deps.sh release` installs what it needs.
#   scripts/release.sh [FOLDER]    (by default release-files beside the presets' build folders)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/presets.sh
out=$(realpath -m "${1:-$(dirname "$(folder release)")/release-files}")
rm -rf "$out"
mkdir -p "$out"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for entry in "${rows[@]}"; do
  read -r preset needs after <<<"$entry"
  [ "$after" != ctest ] || continue
  reason=""
  for need in ${needs//,/ }; do
    [ "$need" = rpmlint ] || reason=${reason:-$(cannot "$need" "$preset")}
  done
  if [ -n "$reason" ]; then
    echo "not made: $preset: $reason"
    continue
  fi
  if ! make_files "$preset" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "FAILED: making $preset" >&2
    exit 1
  fi
  find "$(folder "$preset")/packages" -maxdepth 1 -type f -exec cp {} "$out/" \;
  echo "made: $preset"
done
(cd "$out" && sha256sum -- * >SHA256SUMS)
echo "in $out:"
cat "$out/SHA256SUMS"
