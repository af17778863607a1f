#!/usr/bin/env bash
# Installs what the tests need, then builds and checks everything this machine can: release and
# debug (with AddressSanitizer and UndefinedBehaviorSanitizer) everywhere; the Debian packages on
# Debian and Ubuntu; and on an x86-64 Debian or Ubuntu machine the programs for the other
# machines: Linux arm64 (cross-built, tested under qemu-aarch64) and Windows x64 and x86
# (cross-built, tested under Wine), all driven by the release build's end-to-end driver. Makes the
# release files twice to show they come out the same, and runs the format and lint checks. What
# this machine cannot make says so in one line. Each step runs even when an earlier one failed;
# the exit status is non-zero if any did.
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
# made and checked with Debian's tools. The programs for other machines are built and run with
# Debian's cross compilers, Wine and multiarch packages, from x86-64: Wine elsewhere cannot run
# x86-64 programs, and an arm64 machine's own build is its native one.
cannot() {
  case "$1" in
    debian)
      command -v dpkg >/dev/null ||
        echo "made with Debian's dpkg tools and checked with lintian; this machine has no dpkg"
      ;;
    cross)
      if ! command -v dpkg >/dev/null; then
        echo "cross-built and run with Debian's cross compilers and multiarch packages; this machine has no dpkg"
      elif [ "$host" != amd64 ]; then
        echo "built and run from an x86-64 machine, with Wine and qemu-user; this one is $host"
      fi
      ;;
  esac
}

# What is made here, and what it needs. A configure preset alone is a suite: configured, built and
# tested with ctest. CONFIGURE:PACKAGE presets are release files: where a check follows, the
# workflow preset of the package preset's name makes them and the check checks them (elsewhere
# the suite's ctest does); all are then made twice and compared.
#  presets                       needs   check
rows=(
  "release                       -"
  "debug                         -"
  "linux-arm64                   cross"
  "windows-x64                   cross"
  "windows-x86                   cross"
  "deb:deb                       debian  tests/package/check-deb.sh build/deb $host build/release/tests/stand-in"
  "deb-arm64:deb-arm64           cross   tests/package/check-deb.sh build/deb-arm64 arm64 build/linux-arm64/tests/stand-in"
  "windows-x64:windows-zip       cross"
  "windows-x86:windows-x86-zip   cross"
)
release=()
for row in "${rows[@]}"; do
  read -r presets needs check <<<"$row"
  reason=$(cannot "$needs")
  if [ -n "$reason" ]; then
    echo "skipped: ${presets#*:}: $reason"
  elif [[ "$presets" != *:* ]]; then
    step cmake --preset "$presets"
    step cmake --build --preset "$presets" --parallel
    step ctest --preset "$presets"
    # A suite that cannot run here says why; the Khronos-loader suite prints a line per case.
    grep -shE '^(skipped|khronos-loader): ' "build/$presets/Testing/Temporary/LastTest.log" |
      sed "s/^/$presets: /"
  else
    release+=("$presets")
    if [ -n "$check" ]; then
      step cmake --workflow --preset "${presets#*:}"
      read -r -a check <<<"$check"
      step "${check[@]}"
    fi
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
# clang-tidy counts, on standard error, the warnings it did not show (those in system headers);
# its findings, and the count of those it did show, still come through.
tidy() { clang-tidy "$@" 2> >(grep -vE '^[0-9]+ warnings? generated\.$' >&2); }
step tidy -p build/release --quiet "${units[@]}"

if [ ${#failed[@]} -ne 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all suites passed"
