#!/usr/bin/env bash
# Checks the Linux release files that a package preset made (linux-native-deb, linux-arm64-rpm,
# linux-native-tarball, ...), in its packages folder: the files each holds and nothing else, what
# it says of itself and what it depends on, that the programs in it are hardened and need nothing
# but the C library (at most glibc 2.17, where it is linked against Debian 11's), and that programs
# build and run against the files, unpacked (a tarball into a folder whose path holds a space) or
# installed into a scratch root, with the compilers of the architecture the files are for and
# started the way the build starts its programs (through LAUNCHER: qemu for arm64 on x86-64).
#   check-packages.sh PACKAGES_FOLDER STAND_IN_FOLDER [LAUNCHER...]
# What it needs of the build comes from its environment (tests/packages.cmake): VERSION,
# ARCHITECTURE, DEBIAN_ARCHITECTURE, LOADER_FILE_NAME, LIBDIR, RPM_SONAME_MARK, ARCHIVE_NAME,
# LIBC_DEBS, DEB_PACKAGES, DEB_FILES, RPM_PACKAGES, RPM_FILES, and CC, CXX, CMAKE_TOOLCHAIN_FILE.
set -euo pipefail
packages=$(realpath "$1")
stand_in=$(realpath "$2")
shift 2
here=$(dirname "$(realpath "$0")")
read -r -a deb_packages <<<"$DEB_PACKAGES"
read -r -a deb_files <<<"$DEB_FILES"
read -r -a rpm_packages <<<"$RPM_PACKAGES"
read -r -a rpm_files <<<"$RPM_FILES"
libdir=$LIBDIR
# Unpacked or installed into package-check/ beside the packages folder, afresh, where the
# consumers' builds are kept from one run to the next.
work="$(dirname "$packages")/package-check"
rm -rf "$work/root" "$work/with space"
mkdir -p "$work"
export CONSUMERS_FOLDER="$work/consumers"
root="$work/root"
failed=0
fail() {
  echo "$*" >&2
  failed=1
}
# holds NAME LISTING FILE...: the files (folders aside) that NAME lists are these and no others.
holds() {
  local name=$1 listing=$2
  shift 2
  [ "$(sort <<<"$listing")" = "$(printf '%s\n' "$@" | sort)" ] || fail "$name holds:"$'\n'"$listing"
}
program=(bin/morvantiquell bin/morvantiquell-check share/man/man1/morvantiquell.1.gz share/man/man1/morvantiquell-check.1.gz)
development=(include/morvantiquell/layer_query.h "$libdir/libmorvantiquell.a" "$libdir/pkgconfig/morvantiquell.pc"
  "$libdir"/cmake/Morvantiquell/{MorvantiquellConfig,MorvantiquellConfigVersion,MorvantiquellTargets,MorvantiquellTargets-release}.cmake)

# The Debian packages, by their place in the list: section, what each must depend on
# (space-separated, or nothing), files.
deb() {
  local package=${deb_packages[$1]} file=$packages/${deb_files[$1]} section=$2 depends=$3 dependency
  shift 3
  [ -f "$file" ] || { fail "missing: $file"; return; }
  [ "$(dpkg-deb -f "$file" Section)" = "$section" ] || fail "$package: section $(dpkg-deb -f "$file" Section)"
  [ "$(dpkg-deb -f "$file" Architecture)" = "$DEBIAN_ARCHITECTURE" ] ||
    fail "$package: architecture $(dpkg-deb -f "$file" Architecture)"
  for dependency in $depends; do
    dpkg-deb -f "$file" Depends | grep -qE "(^|, )$dependency($|[ ,])" || fail "$package: does not depend on $dependency"
  done
  holds "$package" "$(dpkg-deb -c "$file" | awk '$6 !~ /\/$/ { print substr($6, 3) }')" "$@"
  dpkg-deb -x "$file" "$root"
}
# The RPM packages: files. rpm works out what they require: the C library, never the loader,
# which they recommend instead. Each marks its licence as one, and names no build machine.
rpm_package() {
  local package=${rpm_packages[$1]} file=$packages/${rpm_files[$1]}
  shift
  [ -f "$file" ] || { fail "missing: $file"; return; }
  [ "$(rpm -qp --qf '%{ARCH}' "$file")" = "$ARCHITECTURE" ] || fail "$package: architecture $(rpm -qp --qf '%{ARCH}' "$file")"
  [ "$(rpm -qp --recommends "$file")" = "$LOADER_FILE_NAME$RPM_SONAME_MARK" ] ||
    fail "$package recommends: $(rpm -qp --recommends "$file")"
  if rpm -qp --requires "$file" | grep -E 'vulkan|libstdc|libgcc'; then fail "$package requires the above"; fi
  [ "$(rpm -qpL "$file")" = "/usr/share/licenses/$package/LICENSE" ] || fail "$package: licence $(rpm -qpL "$file")"
  [ "$(rpm -qp --qf '%{BUILDHOST}' "$file")" != "$(hostname)" ] || fail "$package names the machine that built it"
  holds "$package" "$(rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$file" | awk '$1 !~ /^d/ { print substr($2, 2) }')" "$@"
  rpm --root "$root" --dbpath /var/lib/rpm --nodeps --ignorearch -i "$file" 2> >(grep -v -e Alien -e 'know what you are doing' >&2)
}

shopt -s nullglob
made=("$packages"/*.deb "$packages"/*.rpm "$packages"/*.tar.gz)
case "${made[0]:-}" in
  *.deb)
    prefix="$root/usr"
    for i in "${!deb_packages[@]}"; do
      doc=(usr/share/doc/"${deb_packages[i]}"/{README.md,copyright,changelog.gz})
      case ${deb_packages[i]} in
        # It installs beside its twins for other machines.
        lib*-dev)
          deb "$i" libdevel '' "${development[@]/#/usr/}" "${doc[@]}"
          [ "$(dpkg-deb -f "$packages/${deb_files[i]}" Multi-Arch)" = same ] || fail "${deb_packages[i]} is not Multi-Arch: same"
          ;;
        # The C library dependency is what dpkg-shlibdeps found the program itself needs.
        *) deb "$i" utils "libvulkan1 libc6" "${program[@]/#/usr/}" "${doc[@]}" ;;
      esac
    done
    ;;
  *.rpm)
    prefix="$root/usr"
    rpm --root "$root" --dbpath /var/lib/rpm --initdb
    if ! rpm -qp --requires "$packages/${rpm_files[0]}" | grep -q '^libc\.so\.6'; then
      fail "${rpm_packages[0]} does not require the C library"
    fi
    rpm_package 0 "${program[@]/#/usr/}" usr/share/doc/"${rpm_packages[0]}"/README.md \
      usr/share/licenses/"${rpm_packages[0]}"/LICENSE
    rpm_package 1 "${development[@]/#/usr/}" usr/share/licenses/"${rpm_packages[1]}"/LICENSE
    ;;
  *.tar.gz)
    top=$ARCHIVE_NAME
    file="$packages/$top.tar.gz"
    mapfile -t pages < <(cd "$here/../.." && printf '%s\n' docs/*.md) # the pages its README links to
    holds "$top.tar.gz" "$(tar -tzf "$file" | grep -v '/$')" "${program[@]/#/$top/}" "${development[@]/#/$top/}" \
      "$top"/share/doc/morvantiquell/{README.md,LICENSE} "${pages[@]/#/$top/share/doc/morvantiquell/}"
    # Programs and folders anyone may run and enter, and every other file anyone may read; only
    # the owner writes.
    modes=$(tar -tvzf "$file" | awk '{ want = $6 ~ /\/$/ ? "drwxr-xr-x" : $6 ~ /\/bin\// ? "-rwxr-xr-x" : "-rw-r--r--"
      if ($1 != want) print $1, $6 }')
    [ -z "$modes" ] || fail "$top.tar.gz holds files of other modes:"$'\n'"$modes"
    mkdir -p "$work/with space"
    tar -xzf "$file" -C "$work/with space"
    prefix="$work/with space/$top"
    ;;
  *)
    fail "no package in $packages"
    exit 1
    ;;
esac

for program in morvantiquell morvantiquell-check; do
  [ ! -e "$prefix/bin" ] ||
    cmake -DPROGRAM="$prefix/bin/$program" -DGLIBC_NEWEST=${LIBC_DEBS:+2.17} -P "$here/../check_linked_libraries.cmake" >/dev/null ||
    fail "the packaged $program is not hardened, needs more than the C library, or a newer one"
done
"$here/check-consumers.sh" "$prefix" "$stand_in" "$@" || failed=1
[ "$failed" -eq 0 ] && echo "ok:" "${made[@]##*/}"
exit "$failed"
