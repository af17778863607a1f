#!/usr/bin/env bash
# Fetches Debian 11's C library packages (libc6, libc6-dev and linux-libc-dev), which the Linux
# release files are linked against, for each ARCHITECTURE (amd64, arm64, i386) into FOLDER, from
# Debian's archive. apt does it under a configuration of its own, with its own lists, cache and
# state in a temporary folder: nothing of the system's apt is read or changed. Its sources name
# bullseye with the archive's keyring (debian-archive-keyring), so apt checks the archive's
# signature and each package's SHA-256 against the signed lists. The archive is the one apt uses
# here, or MORVANTIQUELL_DEBIAN_MIRROR. Packages already in FOLDER are kept; several builds may run
# it at once (they take turns). On failure, one line on standard error says why.
#   scripts/fetch-debian-11-libc.sh FOLDER ARCHITECTURE...
set -euo pipefail
folder=$1
shift
packages=(libc6 libc6-dev linux-libc-dev)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
fail() {
  echo "cannot fetch Debian 11's C library: $*" >&2
  exit 1
}
have_all() {
  local architecture package
  for architecture in "$@"; do
    for package in "${packages[@]}"; do
      compgen -G "$folder/${package}_*_$architecture.deb" >/dev/null || return 1
    done
  done
}
command -v apt-get >/dev/null || fail "no apt-get here (it comes from Debian's archive, with apt)"
[ -f "$keyring" ] || fail "no $keyring to check the archive's signature with (install debian-archive-keyring)"
mkdir -p "$folder" || fail "cannot make $folder"
exec 9>"$folder/.lock"
flock 9
have_all "$@" && exit 0

mirror=${MORVANTIQUELL_DEBIAN_MIRROR:-$(apt-get indextargets --format '$(SITE)' 'Created-By: Packages' 2>/dev/null |
  grep -v -- -security | head -n 1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/archives/partial" "$work/parts" "$work/empty"
touch "$work/status"
echo "deb [signed-by=$keyring] $mirror bullseye main" >"$work/sources.list"
architectures=$(printf '"%s"; ' "$@")
cat >"$work/apt.conf" <<CONF
Dir::Etc::Parts "$work/parts";
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/empty";
Dir::Etc::Preferences "$work/empty/preferences";
Dir::Etc::PreferencesParts "$work/empty";
Dir::State::Lists "$work/lists";
Dir::State::status "$work/status";
Dir::Cache "$work";
Dir::Cache::Archives "$work/archives";
APT::Architectures { $architectures };
APT::Sandbox::User "root";
Acquire::Languages "none";
Acquire::Retries "2";
Acquire::http::Timeout "30";
CONF
export APT_CONFIG="$work/apt.conf"
if ! apt-get -q update >"$work/update.log" 2>&1 || grep -qE '^(E|W): (Failed|Some index|The repository)' "$work/update.log"; then
  fail "apt could not read bullseye's lists from $mirror: $(grep -m 1 -A 1 -E '^(E|W|Err):' "$work/update.log" |
    sed 's/^[A-Za-z]*:[0-9]* *//; s/^ *//' | paste -sd ' ')"
fi
names=()
for architecture in "$@"; do
  for package in "${packages[@]}"; do
    names+=("$package:$architecture/bullseye")
  done
done
(cd "$work/archives" && apt-get -q download "${names[@]}" >"$work/download.log" 2>&1) ||
  fail "apt could not download ${names[*]} from $mirror: $(grep -m 1 -E '^(E|Err):' "$work/download.log")"
mv "$work"/archives/*.deb "$folder/"
have_all "$@" || fail "apt downloaded $(cd "$folder" && echo *.deb), not every package asked for"
