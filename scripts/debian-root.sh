#!/usr/bin/env bash
# Runs a command in a minimal root of another Debian release, with this working tree bound in (and
# ../shared beside it, where it is there), so that the suites can be run against that release's
# compilers, CMake, Wine and packages. Needs root.
#   scripts/debian-root.sh [RELEASE [COMMAND...]]   RELEASE: trixie (the default), sid, ...
#                                                   COMMAND: ./test.sh (the default), run in the tree
# The root is made with debootstrap from the Debian archive that apt uses here, the first time, and
# kept for the next run in $MORVANTIQUELL_ROOTS (by default ~/.cache/morvantiquell/roots); what
# install-deps.sh installs in it stays there too. Inside, the folder of the tree's builds is the root's
# own, so that builds of this machine and of the root never mix. Everything is mounted in a mount
# namespace of the script's own, which goes, mounts and all, when the command ends however it ends.
# The exit status is the command's.
set -euo pipefail
release=${1:-trixie}
shift || true
[ $# -gt 0 ] || set -- ./test.sh
tree=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
roots=${MORVANTIQUELL_ROOTS:-$HOME/.cache/morvantiquell/roots}
root=$roots/$release

if [ "$(id -u)" -ne 0 ]; then
  echo "$0: making and entering a Debian root needs root" >&2
  exit 1
fi
[ -n "${MORVANTIQUELL_ROOT_NAMESPACE:-}" ] ||
  MORVANTIQUELL_ROOT_NAMESPACE=1 exec unshare --mount --propagation private "$0" "$release" "$@"

# One run at a time in a root: another waits for it.
mkdir -p "$roots"
exec 9>"$root.lock"
flock 9

if [ ! -x "$root/usr/bin/apt-get" ]; then
  command -v debootstrap >/dev/null || apt-get install -y -q debootstrap >&2
  # The archive apt uses here (a snapshot may serve every release under one address).
  mirror=${MORVANTIQUELL_DEBIAN_MIRROR:-$(apt-get indextargets --format '$(SITE)' 'Created-By: Packages' |
    grep -v -- -security | head -n 1)}
  partial=$root.partial
  rm -rf --one-file-system "$partial"
  mkdir -p "$partial"
  echo "making a $release root in $root from $mirror" >&2
  debootstrap --variant=minbase --include=git,ca-certificates "$release" "$partial" "$mirror" >&2
  umount -R "$partial/proc" "$partial/sys" 2>/dev/null || true # debootstrap's, before the move
  # The archive may be a snapshot whose Release files are past their validity date.
  echo 'Acquire::Check-Valid-Until "false";' >"$partial/etc/apt/apt.conf.d/99snapshot"
  mv "$partial" "$root"
fi
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

bind() { # bind SOURCE TARGET_IN_ROOT, with what is mounted below SOURCE (/dev/pts, /dev/shm)
  mkdir -p "$root$2"
  mount --rbind "$1" "$root$2"
}
for folder in /proc /sys /dev "$tree"; do bind "$folder" "$folder"; done
builds=$tree/build # the presets' folders (CMakePresets.json: build/<preset>)
mkdir -p "$root/var/cache/morvantiquell/build$tree"
bind "$root/var/cache/morvantiquell/build$tree" "$builds"
shared=$(dirname "$tree")/shared
[ -d "$shared" ] && bind "$shared" "$shared"

# A clean environment: the root's own paths, nothing of this machine's display or tools.
exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" ${CI:+CI="$CI"} \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  sh -c 'cd "$1" && shift && exec "$@"' sh "$tree" "$@"
