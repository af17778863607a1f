#!/usr/bin/env bash
# scripts/install-deps.sh as on other distributions: run with a PATH without Debian's apt and dpkg
# programs and without what a row hides, with a stand-in for the row's package manager that
# records what it is asked. Each row: the purpose, the manager (- for none), what is hidden
# (programs, or libvulkan.so.1 by a broken copy ahead of the real one), and the stand-in's calls,
# or the one line the script must print and fail with where there is no manager.
#   check-install-deps.sh
set -euo pipefail
script=$(realpath "$(dirname "$0")/../scripts/install-deps.sh")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/broken-loader"
echo "not a library" >"$work/broken-loader/libvulkan.so.1"

# A folder of links to every program on this PATH but Debian's package tools and NAME...
path_without() {
  local folder=$1 directory
  shift
  mkdir -p "$folder"
  IFS=: read -r -a directories <<<"$PATH"
  for directory in "${directories[@]}"; do
    [ -d "$directory" ] && cp -sn "$directory"/* "$folder/" 2>/dev/null || true
  done
  (cd "$folder" && rm -f apt apt-* dpkg dpkg-* "$@")
}

failed=0
while IFS='|' read -r purpose manager hidden expected; do
  read -r purpose manager hidden <<<"$purpose $manager $hidden"
  expected=${expected# }
  bin="$work/without-${hidden//,/-}"
  read -r -a hide <<<"${hidden//,/ }"
  [ -d "$bin" ] || path_without "$bin" "${hide[@]}"
  library_path=""
  [[ ",$hidden," = *,libvulkan.so.1,* ]] && library_path="$work/broken-loader"
  row="$work/row"
  rm -rf "$row"
  mkdir -p "$row/manager"
  if [ "$manager" != - ]; then
    printf '#!/bin/sh\necho "${0##*/} $*" >>"%s"\n' "$row/asked" >"$row/manager/$manager"
    chmod +x "$row/manager/$manager"
  fi
  status=0
  said=$(PATH="$row/manager:$bin" LD_LIBRARY_PATH="$library_path" "$script" "$purpose" 2>&1 >/dev/null) || status=$?
  if [ "$manager" = - ]; then
    actual="$said (status $status)"
  else
    actual=$(paste -sd ';' "$row/asked" 2>/dev/null | sed 's/;/; /g')
  fi
  if [ "$actual" = "$expected" ]; then
    echo "ok: $purpose, $manager, without $hidden: $actual"
  else
    printf 'FAILED: %s, %s, without %s:\n  got      %s\n  expected %s\n' \
      "$purpose" "$manager" "$hidden" "$actual" "$expected" >&2
    failed=1
  fi
done <<'TABLE'
run  | apt-get | cmake | apt-get update -q; apt-get install -y -q cmake
run  | dnf     | cmake | dnf install -y cmake
run  | zypper  | cmake | zypper --non-interactive install cmake
run  | pacman  | cmake | pacman -S --needed --noconfirm cmake
run  | apk     | cmake | apk add cmake
run  | -       | cmake | missing: CMake 3.25 or later (none of apt-get, dnf, zypper, pacman and apk is on the PATH to install it with; install it, then run this again) (status 1)
test | dnf     | c++,g++,clang++,make,libvulkan.so.1,pkg-config,valgrind,clang-tidy,readelf | dnf install -y gcc-c++ make vulkan-loader pkgconf-pkg-config valgrind clang-tools-extra binutils
test | zypper  | c++,g++,clang++,make,libvulkan.so.1,pkg-config,valgrind,clang-tidy,readelf | zypper --non-interactive install gcc-c++ make libvulkan1 pkgconf-pkg-config valgrind clang-tools binutils
test | pacman  | c++,g++,clang++,make,libvulkan.so.1,pkg-config,valgrind,clang-tidy,readelf | pacman -S --needed --noconfirm gcc make vulkan-icd-loader pkgconf valgrind clang binutils
test | apk     | c++,g++,clang++,make,libvulkan.so.1,pkg-config,valgrind,clang-tidy,readelf | apk add g++ musl-dev make vulkan-loader pkgconf valgrind clang-extra-tools binutils
TABLE
exit "$failed"
