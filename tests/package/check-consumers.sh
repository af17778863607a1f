#!/usr/bin/env bash
# Installs a build into a temporary prefix and builds three consumers against what it installed:
# C and C++ through find_package, C through pkg-config. Each must list the stand-in loader's
# layers with their versions. A shared library must export the API and nothing else.
#   check-consumers.sh BUILD_FOLDER STAND_IN_FOLDER
set -euo pipefail
build=$(realpath "$1")
stand_in=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
for language in C CXX; do
  cmake -S "$here" -B "$work/$language" -DCONSUMER_LANGUAGE="$language" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/$language" >/dev/null
done
pc_folder=$(dirname "$(find "$prefix" -name morvantiquell.pc)")
# shellcheck disable=SC2046 # pkg-config's flags are separate words
cc -std=c99 -Wall -Werror "$here/consumer.c" -o "$work/consumer_pkg_config" \
  $(PKG_CONFIG_PATH="$pc_folder" pkg-config --cflags --libs morvantiquell)

library_folder=$(dirname "$(find "$prefix" -name 'libmorvantiquell.*' | head -n 1)")
shared=$(find "$library_folder" -name 'libmorvantiquell.so.*' -type f)
if [ -n "$shared" ]; then
  exported=$(nm -D --defined-only "$shared" | awk '{ print $3 }' | sort | tr '\n' ' ')
  if [ "$exported" != "QueryInstanceLayers ReleaseInstanceLayerList " ]; then
    echo "the shared library exports more or less than the API: $exported" >&2
    exit 1
  fi
fi

expected=$'VK_LAYER_ONE 7\n 0\nVK_LAYER_TWO 4294967295'
failed=0
for consumer in "$work/C/consumer" "$work/CXX/consumer" "$work/consumer_pkg_config"; do
  if ! actual=$(LD_LIBRARY_PATH="$stand_in:$library_folder" \
    STAND_IN_LOADER_SCRIPT='layers=VK_LAYER_ONE@7,,VK_LAYER_TWO@4294967295' "$consumer"); then
    actual="(exit status $?)"
  fi
  if [ "$actual" = "$expected" ]; then
    echo "ok: ${consumer#"$work"/}"
  else
    printf 'FAILED: %s printed\n%s\nexpected\n%s\n' "${consumer#"$work"/}" "$actual" "$expected" >&2
    failed=1
  fi
done
exit "$failed"
