#!/usr/bin/env bash
# Builds three consumers against an installed Morvantiquell: C and C++ through find_package, C
# through pkg-config. Each, and the installed program, must list the stand-in loader's layers.
# A shared library must export the API and nothing else, and the installed program must find it
# by itself.
#   check-consumers.sh PREFIX|BUILD_FOLDER STAND_IN_FOLDER [LAUNCHER...]
# A build folder is installed into a temporary prefix first. For another machine, CC and
# CMAKE_TOOLCHAIN_FILE name its C compiler and toolchain file, and the launcher (qemu) starts its
# programs here.
set -euo pipefail
installed=$1
stand_in=$(realpath "$2")
shift 2
launcher=("$@")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
for language in C CXX; do
  cmake -S "$here" -B "$work/$language" -DCONSUMER_LANGUAGE="$language" \
    -DCMAKE_PREFIX_PATH="$prefix" "${lib64[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/$language" >/dev/null
done
# pkg-config writes its flags for the shell to read, a space in a path escaped.
flags=$(PKG_CONFIG_PATH="$library_folder/pkgconfig" pkg-config --cflags --libs --static morvantiquell)
eval "flags=($flags)"
"${CC:-cc}" -std=c99 -Wall -Werror "$here/consumer.c" -o "$work/consumer_pkg_config" -Wl,-rpath,"$library_folder" \
  "${flags[@]}"

shared=$(find "$library_folder" -name 'libmorvantiquell.so.*' -type f)
if [ -n "$shared" ]; then
  exported=$(nm -D --defined-only "$shared" | awk '{ print $3 }' | sort | tr '\n' ' ')
  if [ "$exported" != "QueryInstanceLayers ReleaseInstanceLayerList " ]; then
    echo "the shared library exports more or less than the API: $exported" >&2
    exit 1
  fi
fi

# Only the stand-in is on the search path: a shared library must be found through the programs'
# own run paths.
failed=0
check() {
  local name=$1 expected=$2 actual status=0
  shift 2
  actual=$(LD_LIBRARY_PATH="$stand_in" \
    STAND_IN_LOADER_SCRIPT='layers=VK_LAYER_ONE@7,,VK_LAYER_TWO@4294967295' "${launcher[@]}" "$@" 2>&1) ||
    status=$?
  [ "$status" -eq 0 ] || actual+=$'\n'"(exit status $status)"
  if [ "$actual" = "$expected" ]; then
    echo "ok: $name"
  else
    printf 'FAILED: %s printed\n%s\nexpected\n%s\n' "$name" "$actual" "$expected" >&2
    failed=1
  fi
}
for consumer in C/consumer CXX/consumer consumer_pkg_config; do
  check "$consumer" $'VK_LAYER_ONE 7\n 0\nVK_LAYER_TWO 4294967295' "$work/$consumer"
done
# (A development package alone holds no program; the package checks hold it to its file list.)
[ ! -e "$prefix/bin" ] || check "installed program" $'VK_LAYER_ONE\n\nVK_LAYER_TWO' "$prefix/bin/morvantiquell"
exit "$failed"
