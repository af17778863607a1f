#!/usr/bin/env bash
# Builds consumers of Morvantiquell, each a project of its own as a user's would be, and runs them
# against the stand-in loader: each lists its layers, and where the loader refuses the instance,
# prints the failure line the query handed to its function.
# - Against an installed copy: C and C++ through find_package, and C through pkg-config; the
#   installed program must list the layers too. A shared library must export the API and nothing
#   else, and the installed program must find it by itself.
# - Against a git checkout: a C project that takes its committed state in through FetchContent (a
#   file:// URL), whose build must get the library and none of our tests, benchmark, install rules
#   or packages. Exits 77 (skipped) where the folder is not a git checkout.
#   check-consumers.sh PREFIX|BUILD_FOLDER|CHECKOUT STAND_IN_FOLDER [LAUNCHER...]
# A build folder is installed into a temporary prefix first. For another machine, CC, CXX and
# CMAKE_TOOLCHAIN_FILE name its compilers and toolchain file, MORVANTIQUELL_VULKAN_HEADERS the folder
# with the Vulkan headers, and the launcher (qemu) starts its programs here; LIBC_DEBS, where it
# is set, the C library the C consumers are linked against (Debian 11's, as the release files are).
set -euo pipefail
installed=$1
stand_in=$(realpath "$2")
shift 2
launcher=("$@")
here=$(dirname "$(realpath "$0")")
# The consumers' builds, in CONSUMERS_FOLDER where it is given, kept for the next run, which
# configures them again without starting over, and builds them afresh (release files carry the
# release time, whatever changed); else in a temporary folder.
if [ -n "${CONSUMERS_FOLDER:-}" ]; then
  work=$CONSUMERS_FOLDER
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

# Only the stand-in is on the search path: a shared library must be found through the programs'
# own run paths.
failed=0
check() { # NAME STAND_IN_SCRIPT EXPECTED COMMAND...: both output streams, then any other status
  local name=$1 script=$2 expected=$3 actual status=0
  shift 3
  actual=$(LD_LIBRARY_PATH="$stand_in" STAND_IN_LOADER_SCRIPT=$script "${launcher[@]}" "$@" 2>&1) ||
    status=$?
  [ "$status" -eq 0 ] || actual+=$'\n'"(exit status $status)"
  if [ "$actual" = "$expected" ]; then
    echo "ok: $name"
  else
    printf 'FAILED: %s printed\n%s\nexpected\n%s\n' "$name" "$actual" "$expected" >&2
    failed=1
  fi
}
layers='layers=VK_LAYER_ONE@7,,VK_LAYER_TWO@4294967295'
listing=$'VK_LAYER_ONE 7\n 0\nVK_LAYER_TWO 4294967295'
# A consumer hands the query a function of its own, which must get the failure line, and standard
# error nothing.
refused=$'query failed: vkCreateInstance failed with error code \'-9\'\n(exit status 1)'

if [ -f "$installed/CMakeLists.txt" ]; then
  if ! tag=$(git -C "$installed" rev-parse HEAD 2>/dev/null); then
    echo "skipped: $installed is not a git checkout"
    exit 77
  fi
  cmake -S "$here" -B "$work/fetch" -DCONSUMER_LANGUAGE=C -DCMAKE_BUILD_TYPE=Release \
    -DMORVANTIQUELL_REPOSITORY="file://$(realpath "$installed")" -DMORVANTIQUELL_TAG="$tag" \
    -DMORVANTIQUELL_VULKAN_HEADERS="${MORVANTIQUELL_VULKAN_HEADERS:-}" >/dev/null
  cmake --build "$work/fetch" --clean-first --parallel >/dev/null
  ours=$(cmake --build "$work/fetch" --target help |
    grep -xE '\.\.\. (api_test|console_test|stand_in_loader|bench_measure|package|install|compressed_documents)' || true)
  tests=$(cd "$work/fetch" && ctest -N | grep -oE 'Total Tests: [0-9]+')
  if [ -n "$ours" ] || [ "$tests" != "Total Tests: 0" ] || [ -n "$(find "$work" -name CPackConfig.cmake)" ]; then
    echo "the parent's build holds our targets, tests or packages: ${ours//$'\n'/ } ($tests)" >&2
    failed=1
  fi
  check "FetchContent consumer at ${tag:0:12}" "$layers" "$listing" "$work/fetch/consumer"
  exit "$failed"
fi

if [ -f "$installed/CMakeCache.txt" ]; then
  prefix="$work/prefix"
  cmake --install "$installed" --prefix "$prefix" >/dev/null
else
  prefix=$(realpath "$installed")
fi

library_folder=$(dirname "$(find "$prefix" -name 'libmorvantiquell.*' | head -n 1)")
# Fedora's and openSUSE's CMake look in lib64 by themselves; Debian's, multiarch, when told to.
lib64=()
[[ "$library_folder" = */lib64 ]] && lib64=(-DCONSUMER_SEARCHES_LIB64=ON)
# The C consumers also link against the release files' C library (this compiler's C++ runtime
# needs a newer one).
# (The pkg-config consumer finds the library through the .pc file alone, and is configured afresh
# each time: a kept build would keep what it found.)
for consumer in C CXX pkg-config; do
  language=${consumer/pkg-config/C} libc=() finds=(-DCMAKE_PREFIX_PATH="$prefix" "${lib64[@]}")
  [ "$language" = CXX ] || libc=(${LIBC_DEBS:+"-DMORVANTIQUELL_LIBC_DEBS=$LIBC_DEBS"})
  [ "$consumer" != pkg-config ] || { finds=(-DCONSUMER_PKG_CONFIG=ON) && rm -rf "${work:?}/$consumer"; }
  PKG_CONFIG_PATH="$library_folder/pkgconfig" cmake -S "$here" -B "$work/$consumer" -DCONSUMER_LANGUAGE="$language" \
    "${finds[@]}" "${libc[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/$consumer" --clean-first >/dev/null
done

shared=$(find "$library_folder" -name 'libmorvantiquell.so.*' -type f)
if [ -n "$shared" ]; then
  exported=$(nm -D --defined-only "$shared" | awk '{ print $3 }' | sort | tr '\n' ' ')
  if [ "$exported" != "QueryInstanceLayers QueryInstanceLayersReporting ReleaseInstanceLayerList " ]; then
    echo "the shared library exports more or less than the API: $exported" >&2
    exit 1
  fi
fi

for consumer in C/consumer CXX/consumer pkg-config/consumer; do
  check "$consumer" "$layers" "$listing" "$work/$consumer"
  check "$consumer, refused" "create=-9" "$refused" "$work/$consumer"
done
# (A development package alone holds no program; the package checks hold it to its file list.)
[ ! -e "$prefix/bin" ] || check "installed program" "$layers" $'VK_LAYER_ONE\n\nVK_LAYER_TWO' "$prefix/bin/morvantiquell"
exit "$failed"
