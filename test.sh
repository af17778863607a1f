#!/usr/bin/env bash
# Installs what the tests need, builds release, debug (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and, on an x86-64 machine, the programs for the other machines:
# Linux arm64 (cross-built, tested under qemu-aarch64) and Windows x64 and x86 (cross-built,
# tested under Wine), all driven by the release build's end-to-end driver. Runs every suite,
# makes and checks the packages, and runs the format and lint checks. Each step runs even when an
# earlier one failed; the exit status is non-zero if any did.
set -uo pipefail
cd "$(dirname "$0")"

failed=()
step() {
  echo "== $*"
  "$@" || failed+=("$*")
}

scripts/install-deps.sh test || exit 1
host=$(dpkg --print-architecture)

# The Windows build also runs the program against the Khronos loader, built from its sources
# where they are beside this checkout; elsewhere that suite reports itself skipped.
third_party=../shared/third-party
windows_options=()
if [ -f "$third_party/vulkan-loader-1.3.239.tar.gz" ]; then
  windows_options=(
    -DMORVANTIQUELL_KHRONOS_LOADER_TARBALL="$(realpath "$third_party/vulkan-loader-1.3.239.tar.gz")"
    -DMORVANTIQUELL_KHRONOS_HEADERS_TARBALL="$(realpath "$third_party/vulkan-headers-1.3.239.tar.gz")")
fi

# Only an x86-64 machine builds and runs the programs for the others: Wine elsewhere cannot run
# x86-64 programs, and an arm64 machine's own build is its native one.
presets=(release debug)
if [ "$host" = amd64 ]; then
  presets+=(linux-arm64 windows-x64 windows-x86)
else
  echo "skipped: linux-arm64 and deb-arm64: cross builds from x86-64; this $host machine's release, debug and deb builds are native"
  echo "skipped: windows-x64 and windows-x86: Wine on this $host machine cannot run x86 Windows programs"
fi
for preset in "${presets[@]}"; do
  options=()
  [[ "$preset" = windows-* ]] && options=("${windows_options[@]}")
  step cmake --preset "$preset" "${options[@]}"
  step cmake --build --preset "$preset" --parallel
  step ctest --preset "$preset"
  # A suite that cannot run here says why; the Khronos-loader suite prints a line per case.
  grep -shE '^(skipped|khronos-loader): ' "build/$preset/Testing/Temporary/LastTest.log" |
    sed "s/^/$preset: /"
done

# The Debian packages, made the way a user makes them, then checked, unpacked and built against.
step cmake --workflow --preset deb
step tests/package/check-deb.sh build/deb "$host" build/release/tests/stand-in
if [ "$host" = amd64 ]; then
  step cmake --workflow --preset deb-arm64
  step tests/package/check-deb.sh build/deb-arm64 arm64 build/linux-arm64/tests/stand-in
fi

# The release files, made twice as two builders would make them, byte for byte the same.
release=(deb:deb)
[ "$host" = amd64 ] && release+=(deb-arm64:deb-arm64 windows-x64:windows-zip windows-x86:windows-x86-zip)
step tests/package/check-reproducible.sh "${release[@]}"

# The library built shared: consumers still work, and it exports the API and nothing else.
step cmake -S . -B build/shared -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DMORVANTIQUELL_BUILD_TESTS=OFF
step cmake --build build/shared --parallel
step tests/package/check-consumers.sh build/shared build/release/tests/stand-in

# The benchmark, once and briefly, to show that it runs; its figures fail nothing.
step bench/run.sh 3

mapfile -t sources < <(find layer_query console platform tests bench -name '*.cpp' -o -name '*.h' -o -name '*.c' | sort)
step clang-format --dry-run --Werror "${sources[@]}"
# The package consumers build in projects of their own, against an installed copy.
mapfile -t units < <(printf '%s\n' "${sources[@]}" | grep -E '\.(cpp|c)$' | grep -vE '^tests/(package|windows)/')
# clang-tidy counts, on standard error, the warnings it did not show (those in system headers);
# its findings, and the count of those it did show, still come through.
tidy() { clang-tidy "$@" 2> >(grep -vE '^[0-9]+ warnings? generated\.$' >&2); }
step tidy -p build/release --quiet "${units[@]}"

if [ ${#failed[@]} -ne 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all suites passed"
