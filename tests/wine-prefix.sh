#!/bin/sh
# Makes the Wine prefix WINEPREFIX afresh as a copy of BOOTED_PREFIX, which it boots the first
# time, and starts the prefix's wineserver, kept alive across the programs that follow. Then runs
# COMMAND, if there is one, stops the server after it, and exits with COMMAND's status; without
# one the server stays up, and stopping it is the caller's. Under xvfb-run, Wine takes the display
# from the first process of a prefix's server, which is started here, under the display.
#   wine-prefix.sh [COMMAND...]
# WINE64 (which boots a 64-bit prefix, in which both 64- and 32-bit programs run) and WINESERVER
# name the Wine programs. Nothing here keeps the caller's output streams open: Wine's background
# processes outlive the command that starts them, and a test runner would wait for them.
set -u
quiet() { "$@" >/dev/null 2>&1 </dev/null; }
# Booting a new prefix now and then fails on a busy machine, in under a second: then it is tried
# once more, and what Wine said is shown.
boot() {
  rm -rf "$BOOTED_PREFIX.new" && WINEPREFIX="$BOOTED_PREFIX.new" "$WINE64" wineboot --init >"$1" 2>&1 </dev/null &&
    WINEPREFIX="$BOOTED_PREFIX.new" quiet "$WINESERVER" -w && mv "$BOOTED_PREFIX.new" "$BOOTED_PREFIX"
}
log=$(mktemp)
if [ ! -d "$BOOTED_PREFIX" ] && ! boot "$log"; then
  echo "booting a Wine prefix failed; once more. Wine said:" && cat "$log"
  WINEPREFIX="$BOOTED_PREFIX.new" quiet "$WINESERVER" -k
  boot "$log" || { cat "$log"; rm -f "$log"; exit 1; }
fi
rm -f "$log"
# The copy links the booted prefix's files rather than writing them again (a gigabyte, which written
# at once by the suites starting together slowed the disk enough for a Wine program to fail to
# start): Wine rewrites only the registry's files in place, which get copies of their own.
rm -rf "$WINEPREFIX" && cp -al "$BOOTED_PREFIX" "$WINEPREFIX" || exit 1
for file in "$BOOTED_PREFIX"/*.reg; do
  rm "$WINEPREFIX/${file##*/}" && cp -p "$file" "$WINEPREFIX/" || exit 1
done
quiet "$WINESERVER" -p && quiet "$WINE64" wineboot --init || exit 1
[ $# -gt 0 ] || exit 0
"$@"
status=$?
quiet "$WINESERVER" -k
exit "$status"
