#!/usr/bin/env bash
# Installs what Morvantiquell needs and this Debian or Ubuntu machine lacks.
#   install-deps.sh run    the compiler, CMake, the Vulkan headers and loader, and a Vulkan
#                          driver (Mesa's CPU driver) where none is installed
#   install-deps.sh test   all of that, Mesa's CPU driver in any case (the tests run against it),
#                          GoogleTest, valgrind, clang-format and clang-tidy, dpkg-dev and
#                          lintian for the package; on an x86-64 machine also what builds and
#                          runs the programs for other machines: for Windows x64 and x86 the
#                          MinGW-w64 cross compilers, llvm-dlltool (the import library),
#                          strip-nondeterminism (the zip the same whoever makes it), clang-cl
#                          and lld-link (the MSVC-ABI consumer), 64- and 32-bit Wine (wine32 with
#                          the i386 Vulkan loader and Mesa, through multiarch) and Xvfb; for Linux
#                          arm64 the aarch64-linux-gnu cross compiler, qemu-user, and the arm64
#                          Vulkan loader and Mesa (through multiarch)
# Uses apt-get as root, through sudo otherwise. Prints nothing on standard output.
set -euo pipefail

purpose=${1:-run}
packages=(g++ make cmake pkg-config libvulkan-dev libvulkan1)
architectures=()  # other machines' packages this one installs beside its own

has_vulkan_driver() {
  local folder
  for folder in /usr/share/vulkan/icd.d /usr/local/share/vulkan/icd.d /etc/vulkan/icd.d; do
    compgen -G "$folder/*.json" >/dev/null && return 0
  done
  return 1
}

case "$purpose" in
  run)
    has_vulkan_driver || packages+=(mesa-vulkan-drivers)
    ;;
  test)
    packages+=(mesa-vulkan-drivers googletest valgrind clang-format clang-tidy binutils dpkg-dev lintian)
    # Wine on other machines cannot run x86-64 programs, and an arm64 machine builds for itself.
    if [ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ]; then
      packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev clang-14 lld llvm-14 strip-nondeterminism wine64 xvfb xauth
        gcc-mingw-w64-i686 g++-mingw-w64-i686-posix wine32:i386
        g++-aarch64-linux-gnu qemu-user libvulkan1:arm64 mesa-vulkan-drivers:arm64)
      architectures+=(i386 arm64)
    fi
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! command -v apt-get >/dev/null; then
  echo "install these packages, then run this again: ${missing[*]}" >&2
  exit 1
fi
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "installing ${missing[*]} needs root, and sudo is not installed" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
for architecture in "${architectures[@]}"; do
  dpkg --print-foreign-architectures | grep -qx "$architecture" ||
    "${as_root[@]}" dpkg --add-architecture "$architecture"
done
"${as_root[@]}" apt-get update -q >&2
# With recommended packages: Wine only recommends the X libraries its display driver needs.
# Multiarch keeps every architecture's copy of a library at one version, so installing i386's and
# arm64's may upgrade some of this machine's.
"${as_root[@]}" apt-get install -y -q "${missing[@]}" >&2
