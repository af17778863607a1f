#!/usr/bin/env bash
# Makes the Windows zip of a build and checks that it holds the program, README and LICENSE,
# and nothing else.
#   check-zip.sh BUILD_FOLDER
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work" >/dev/null
zip=$(find "$work" -maxdepth 1 -name '*.zip')
top=$(basename "$zip" .zip)
files=$(cd "$work" && cmake -E tar tf "$zip" | grep -v '/$' | sort | tr '\n' ' ')
if [ "$files" != "$top/LICENSE $top/README.md $top/bin/morvantiquell.exe " ]; then
  echo "$(basename "$zip") holds: $files" >&2
  exit 1
fi
echo "ok: $(basename "$zip")"
