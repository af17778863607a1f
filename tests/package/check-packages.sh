#!/usr/bin/env bash
# Checks the Linux release files that a package preset made (linux-native-deb, linux-arm64-rpm,
# linux-native-tarball, ...): the files each holds and nothing else, what it says of
# itself and what it depends on, that the format's linter finds nothing wrong (lintian: no error
# nor warning, and it also refuses a program built for another architecture than its package's;
# rpmlint: no error but the signature the publisher adds), that the program in it is hardened
# and needs nothing but the C library (at most glibc 2.17, where it is linked against Debian 11's),
# and that programs build and run against the files, unpacked (a tarball into a folder whose path
# holds a space) or installed into a scratch root, with the compilers of the architecture the
# files are for and started the way the build starts its programs (qemu for arm64 on x86-64).
#   check-packages.sh BUILD_FOLDER STAND_IN_FOLDER
set -euo pipefail
build=$(realpath "$1")
stand_in=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
source "$build/build-facts.sh"
CC=$c_compiler CMAKE_TOOLCHAIN_FILE=$toolchain_file
export CC CMAKE_TOOLCHAIN_FILE
packages="$build/packages"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
  [ "$(dpkg-deb -f "$file" Architecture)" = "$debian_architecture" ] ||
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
  [ "$(rpm -qp --qf '%{ARCH}' "$file")" = "$architecture" ] || fail "$package: architecture $(rpm -qp --qf '%{ARCH}' "$file")"
  [ "$(rpm -qp --recommends "$file")" = "$loader_file_name$rpm_soname_mark" ] ||
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
    report=$(lintian "${deb_files[@]/#/$packages/}" 2>&1 | grep -v 'running with root privileges' || true)
    [ -z "$report" ] || echo "$report"
    if grep -qE '^[EW]:' <<<"$report"; then fail "lintian reports errors or warnings"; fi
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
    report=$(rpmlint -r "$here/../../packaging/rpmlintrc" --ignore-unused-rpmlintrc \
      "${rpm_files[@]/#/$packages/}" 2>&1 || true)
    grep -E ': [EW]: ' <<<"$report" || true
    if grep -E ': E: ' <<<"$report" | grep -qv ': E: no-signature'; then fail "rpmlint reports errors"; fi
    ;;
  *.tar.gz)
    top=$archive_name
    file="$packages/$top.tar.gz"
    mapfile -t pages < <(cd "$here/../.." && printf '%s\n' docs/*.md) # the pages its README links to
    holds "$top.tar.gz" "$(tar -tzf "$file" | grep -v '/$')" "${program[@]/#/$top/}" "${development[@]/#/$top/}" \
      "$top"/share/doc/morvantiquell/{README.md,LICENSE,copyright} "${pages[@]/#/$top/share/doc/morvantiquell/}"
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
    cmake -DPROGRAM="$prefix/bin/$program" -DGLIBC_NEWEST=${libc_debs:+2.17} -P "$here/../check_linked_libraries.cmake" >/dev/null ||
    fail "the packaged $program is not hardened, needs more than the C library, or a newer one"
done
"$here/check-consumers.sh" "$prefix" "$stand_in" "${emulator[@]}" || failed=1
[ "$failed" -eq 0 ] && echo "ok:" "${made[@]##*/}"
exit "$failed"
