#!/usr/bin/env bash
# Installs what the tests need, then builds and checks everything this machine can: release and
# debug (with AddressSanitizer and UndefinedBehaviorSanitizer, and clang-tidy) everywhere; the
# x86-64 tarball on x86-64; the RPM packages where rpmbuild is; the Debian packages on Debian and
# Ubuntu; and on an x86-64 Debian or Ubuntu machine the programs and release files for the other
# machines: Linux arm64 (cross-built, tested under qemu-aarch64), Linux i386 (cross-built, tested
# natively where the kernel runs 32-bit programs, else under qemu-i386) and Windows x64 and x86
# (cross-built, tested under Wine), all driven by the release build's end-to-end driver. Makes
# each release file a second time to show it comes out the same, and checks the format. What this
# machine cannot make says so in one line. Independent work runs side by side, as many lanes as
# there are processors, each lane's output shown whole when it ends. Each step runs even when an
# earlier one failed; the exit status is non-zero if any did.
set -uo pipefail
cd "$(dirname "$0")"

source scripts/presets.sh
# Every clang-tidy finding stops the debug build here, a newer clang-tidy's too (CMakeLists.txt).
export MORVANTIQUELL_CLANG_TIDY_ERRORS=1
# Each step's command line goes to this file where it fails; lanes running at once append to it.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
step() {
  local start=$SECONDS
  echo "== $*"
  "$@" || echo "$*" >>"$logs/failed"
  echo "   $((SECONDS - start)) s"
}

scripts/install-deps.sh test || exit 1
row() { # PRESET NEEDS AFTER
  local preset=$1 needs=$2 after=$3 tool=cpack reason="" need why options=()
  [ "$after" = ctest ] && tool=ctest
  for need in ${needs//,/ }; do
    why=$(cannot "$need" "$preset")
    # Without Debian 11's C library the files are made and checked against this machine's.
    if [ "$need" = libc ] && [ -n "$why" ]; then
      echo "$preset: against this machine's C library: $why"
      options=(-DMORVANTIQUELL_LIBC_DEBS=)
    fi
    [ "$need" = libc ] || reason=${reason:-$why}
  done
  if [ -n "$reason" ]; then
    echo "skipped: $tool --preset $preset: $reason"
  elif [ "$tool" = ctest ]; then
    step cmake --preset "$preset"
    step cmake --build --preset "$preset" --parallel "$(nproc)"
    step ctest --preset "$preset"
    # A suite that cannot run here says why; the Khronos-loader suite prints a line per case.
    grep -shE '^(skipped|khronos-loader [0-9.]+): ' "$(folder "$preset")/Testing/Temporary/LastTest.log" |
      sed "s/^/$preset: /"
  else
    step make_files "$preset" "${options[@]}"
    [ "$after" = - ] || step tests/package/check-packages.sh "$(folder "$preset")" "$(folder "$after")/tests/stand-in"
    step tests/package/check-reproducible.sh "$preset" "${options[@]}"
  fi
}
# The library built shared: consumers still work, and it exports the API and nothing else.
shared() {
  step cmake --preset shared
  step cmake --build --preset shared --parallel "$(nproc)"
  step tests/package/check-consumers.sh "$(folder shared)" "$(folder release)/tests/stand-in"
}

# Every lane needs the release build's test drivers and stand-in loader: that build comes first.
step cmake --preset release
step cmake --build --preset release --parallel "$(nproc)"
lanes=()
for entry in "${rows[@]}"; do
  read -r _ _ after <<<"$entry"
  case $after in
    ctest | -) lanes+=("row $entry") ;;
    *) lanes[-1]+=";row $entry" ;;
  esac
done
lanes+=(shared)
run_lane() { # N: lane N's steps in turn
  local entry
  IFS=';' read -ra entries <<<"${lanes[$1]}"
  for entry in "${entries[@]}"; do
    $entry # a row is its words
  done
}
pids=()
for i in "${!lanes[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge $(($(nproc) > 2 ? $(nproc) : 2)) ]; do wait -n; done
  run_lane "$i" >"$logs/$i.log" 2>&1 &
  pids+=($!)
done
for i in "${!lanes[@]}"; do
  wait "${pids[$i]}" 2>/dev/null
  cat "$logs/$i.log"
done

# The benchmark, once and briefly, to show that it runs; its figures fail nothing.
step bench/run.sh 3
mapfile -t sources < <(find layer_query console platform tests bench -name '*.cpp' -o -name '*.h' -o -name '*.c' | sort)
step clang-format --dry-run --Werror "${sources[@]}"

if [ -s "$logs/failed" ]; then
  sed 's/^/FAILED: /' "$logs/failed"
  exit 1
fi
echo "all suites passed"
