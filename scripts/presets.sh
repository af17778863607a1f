# What test.sh and release.sh make, and what this machine can make, for them (and the package
# checks) to source: the presets in the order they are made, what each needs, and why a need is
# not met here; where a preset builds, and where it takes Debian 11's C library from.
if command -v dpkg >/dev/null; then host=$(dpkg --print-architecture); else host=$(uname -m); fi
tree=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")
folder() { cmake -DPRESET="$1" -P "$tree/cmake/PresetFolder.cmake"; }
# make_files PRESET [CMAKE_OPTION...]: the preset's release files, from a configuration made afresh,
# into its emptied packages/: a kept configuration would keep what it first took (a toolchain file,
# the C library's flags) whatever the preset now says, and a kept folder the files of an earlier
# version. Builds take a job per processor each (a plain --parallel has no bound with make).
make_files() {
  rm -rf "$(folder "$1")/packages"
  (cd "$tree" && cmake --preset "$1" --fresh "${@:2}" && cmake --build --preset "$1" --parallel "$(nproc)" &&
    cpack --preset "$1")
}
libc_debs() { (cd "$tree" && cmake --preset "$1" -N) | sed -n 's/^  MORVANTIQUELL_LIBC_DEBS="\(.*\)"$/\1/p'; }

# Why this machine cannot make PRESET, which needs NEED (nothing where it can). The Linux
# release files are linked against Debian 11's C library, from the packages the preset names. The
# Debian packages are made and checked with Debian's tools, the RPM packages with rpm's. The
# programs for other machines are built and run with Debian's cross compilers, Wine and multiarch
# packages, from x86-64: Wine elsewhere cannot run x86-64 programs, and an arm64 machine's own
# build is its native one.
cannot() {
  case "$1" in
    debian)
      command -v dpkg >/dev/null ||
        echo "made with Debian's dpkg tools and checked with lintian; this machine has no dpkg"
      ;;
    rpm)
      command -v rpmbuild >/dev/null || echo "made with rpmbuild, which this machine lacks"
      ;;
    rpmlint)
      command -v rpmlint >/dev/null || echo "checked with rpmlint, which this machine lacks"
      ;;
    x86-64)
      [ "$(uname -m)" = x86_64 ] || echo "built on x86-64; this machine is $(uname -m)"
      ;;
    libc)
      local debs
      debs=$(libc_debs "$2")
      compgen -G "$debs/libc6_*.deb" >/dev/null ||
        echo "the release files are linked against Debian 11's C library, whose packages are not in $debs"
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
#   BUILD     packaged with the package preset of its name, the files checked with
#             check-packages.sh against the stand-in loader of BUILD (a suite's build for the same
#             machine), or
#   -         packaged, and checked elsewhere (the zips: by package_zip in the suite's ctest);
# and every package made a second time, and compared. A suite and the rows after it that need its
# build make one lane, as does every other row, and the shared build; lanes start in this order,
# longest first, as many at once as there are processors (two at least).
#  preset              needs                      after
rows=(
  "windows-x64          cross                      ctest"
  "windows-x64-zip      cross                      -"
  "linux-arm64          cross                      ctest"
  "linux-arm64-deb      cross,libc                 linux-arm64"
  "linux-arm64-rpm      cross,rpm,rpmlint,libc     linux-arm64"
  "linux-arm64-tarball  cross,libc                 linux-arm64"
  "release              -                          ctest"
  "linux-native-deb     debian,libc                release"
  "linux-native-rpm     rpm,rpmlint,libc           release"
  "linux-native-tarball x86-64,libc                release"
  "debug                -                          ctest"
  "linux-x86            cross                      ctest"
  "linux-x86-deb        cross,libc                 linux-x86"
  "linux-x86-tarball    cross,libc                 linux-x86"
  "windows-x86          cross                      ctest"
  "windows-x86-zip      cross                      -"
)
