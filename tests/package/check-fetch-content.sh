#!/usr/bin/env bash
# Takes the committed state of this checkout into a parent project through FetchContent (a
# file:// URL), builds a C consumer there and runs it against the stand-in loader. The parent's
# build must get the library and none of our tests, benchmark, install rules or packages.
#   check-fetch-content.sh SOURCE_FOLDER STAND_IN_FOLDER [LAUNCHER...]
# For another machine, CC, CXX and CMAKE_TOOLCHAIN_FILE name its compilers and toolchain file,
# MORVANTIQUELL_VULKAN_HEADERS the folder with the Vulkan headers, and the launcher (qemu) starts
# its programs here.
# Exits 77 (skipped) where the source folder is not a git checkout.
set -euo pipefail
source=$(realpath "$1")
stand_in=$(realpath "$2")
shift 2
here=$(dirname "$(realpath "$0")")
if ! tag=$(git -C "$source" rev-parse HEAD 2>/dev/null); then
  echo "skipped: $source is not a git checkout"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$here/fetch" -B "$work" -DCMAKE_BUILD_TYPE=Release \
  -DMORVANTIQUELL_REPOSITORY="file://$source" -DMORVANTIQUELL_TAG="$tag" \
  -DMORVANTIQUELL_VULKAN_HEADERS="${MORVANTIQUELL_VULKAN_HEADERS:-}" >/dev/null
cmake --build "$work" --parallel >/dev/null

failed=0
ours=$(cmake --build "$work" --target help |
  grep -xE '\.\.\. (api_test|console_test|stand_in_loader|bench_measure|package|install|compressed_documents)' || true)
tests=$(cd "$work" && ctest -N | grep -oE 'Total Tests: [0-9]+')
if [ -n "$ours" ] || [ "$tests" != "Total Tests: 0" ] || [ -n "$(find "$work" -name CPackConfig.cmake)" ]; then
  echo "the parent's build holds our targets, tests or packages: ${ours//$'\n'/ } ($tests)" >&2
  failed=1
fi

expected=$'VK_LAYER_ONE 7\n 0\nVK_LAYER_TWO 4294967295'
actual=$(LD_LIBRARY_PATH="$stand_in" \
  STAND_IN_LOADER_SCRIPT='layers=VK_LAYER_ONE@7,,VK_LAYER_TWO@4294967295' "$@" "$work/consumer") || true
if [ "$actual" != "$expected" ]; then
  printf 'FAILED: the consumer printed\n%s\nexpected\n%s\n' "$actual" "$expected" >&2
  failed=1
fi
[ "$failed" -eq 0 ] && echo "ok: FetchContent consumer at ${tag:0:12}"
exit "$failed"
