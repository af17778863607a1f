#!/usr/bin/env bash
# Installs what the tests need, then builds and checks everything this machine can: release and
# debug (with AddressSanitizer and UndefinedBehaviorSanitizer) everywhere; the x86-64 tarball on
# x86-64; the RPM packages where rpmbuild is; the Debian packages on Debian and Ubuntu; and on an
# x86-64 Debian or Ubuntu machine the programs and release files for the other machines: Linux
# arm64 (cross-built, tested under qemu-aarch64) and Windows x64 and x86 (cross-built, tested
# under Wine), all driven by the release build's end-to-end driver. Makes the release files twice
# to show they come out the same, and runs the format and lint checks. What this machine cannot
# make says so in one line. Each step runs even when an earlier one failed; the exit status is
# non-zero if any did.
set -uo pipefail
cd "$(dirname "$0")"

failed=()
step() {
  echo "== $*"
  "$@" || failed+=("$*")
}

scripts/install-deps.sh test || exit 1
if command -v dpkg >/dev/null; then host=$(dpkg --print-architecture); else host=$(uname -m); fi

# Why this machine cannot make what needs NEED (nothing where it can). The Debian packages are
# made and checked with Debian's tools, the RPM packages with rpm's. The programs for other
# machines are built and run with Debian's cross compilers, Wine and multiarch packages, from
# x86-64: Wine elsewhere cannot run x86-64 programs, and an arm64 machine's own build is its
# native one.
cannot() {
  case "$1" in
    debian)
      command -v dpkg >/dev/null ||
        echo "made with Debian's dpkg tools and checked with lintian; this machine has no dpkg"
      ;;
    rpm)
      command -v rpmbuild >/dev/null && command -v rpmlint >/dev/null ||
        echo "made with rpmbuild and checked with rpmlint, which this machine lacks"
      ;;
    x86-64)
      [ "$(uname -m)" = x86_64 ] || echo "built on x86-64; this machine is $(uname -m)"
      ;;
    cross)
      if ! command -v dpkg >/dev/null; then
        echo "cross-built and run with Debian's cross compilers and multiarch packages; this machine has no dpkg"
      elif [ "$host" != amd64 ]; then
        echo "made on an x86-64 machine, with its cross compilers, Wine and qemu-user; this one is $host"
      fi
      ;;
  esac
}

# What is made here, and what it needs: each row a preset, configured and built, and after that
#   ctest     tested with its test preset, or
#   BUILD     packaged with the package preset of its name, and the files checked with
#             check-packages.sh against the stand-in loader of BUILD (a suite's build for the same
#             machine), or
#   -         packaged, and checked elsewhere (the zips: by package_zip in the suite's ctest).
# Every package is made a second time, and compared, below.
#  preset               needs       after
rows=(
  "release              -           ctest"
  "debug                -           ctest"
  "linux-arm64          cross       ctest"
  "windows-x64          cross       ctest"
  "windows-x86          cross       ctest"
  "deb                  debian      release"
  "deb-arm64            cross       linux-arm64"
  "rpm                  rpm         release"
  "rpm-arm64            cross,rpm   linux-arm64"
  "linux-x64-tarball    x86-64      release"
  "linux-arm64-tarball  cross       linux-arm64"
  "windows-x64-zip      cross       -"
  "windows-x86-zip      cross       -"
)
release=()
for row in "${rows[@]}"; do
  read -r preset needs after <<<"$row"
  tool=cpack
  [ "$after" = ctest ] && tool=ctest
  reason=""
  for need in ${needs//,/ }; do
    reason=${reason:-$(cannot "$need")}
  done
  if [ -n "$reason" ]; then
    echo "skipped: $tool --preset $preset: $reason"
    continue
  fi
  step cmake --preset "$preset"
  step cmake --build --preset "$preset" --parallel
  step "$tool" --preset "$preset"
  if [ "$tool" = ctest ]; then
    # A suite that cannot run here says why; the Khronos-loader suite prints a line per case.
    grep -shE '^(skipped|khronos-loader [0-9.]+): ' "build/$preset/Testing/Temporary/LastTest.log" |
      sed "s/^/$preset: /"
  else
    release+=("$preset")
    [ "$after" = - ] || step tests/package/check-packages.sh "build/$preset" "build/$after/tests/stand-in"
  fi
done

# The release files, made twice as two builders would make them, byte for byte the same.
if [ ${#release[@]} -gt 0 ]; then
  step tests/package/check-reproducible.sh "${release[@]}"
else
  echo "skipped: the release files made twice: this machine makes none"
fi

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
# A clang-tidy for each file, as many at once as there are processors. The lines that only say
# which file runs, and clang-tidy's count of the warnings it did not show (those in system
# headers), are left out; its findings, and the count of those it did show, come through, without
# the colours run-clang-tidy 14 asks for.
tidy() {
  run-clang-tidy -quiet -p build/release "${units[@]/#/^$PWD/}" 2>&1 | sed -E 's/\x1b\[[0-9;]*m//g' |
    grep -vE '^([0-9]+ warnings? generated\.$|\[[0-9]+/[0-9]+\] Processing file |Running clang-tidy |\S*clang-tidy(-[0-9]+)? )'
  return "${PIPESTATUS[0]}"
}
step tidy

if [ ${#failed[@]} -ne 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all suites passed"
