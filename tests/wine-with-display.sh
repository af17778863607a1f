#!/bin/sh
# Runs a Windows program under Wine with an X display, in the prefix named by WINEPREFIX, and
# exits with the program's status. Meant to run inside xvfb-run: Wine takes the display from the
# first process of a prefix, so this prefix is booted here, under the display, and its server is
# stopped before the display goes away. WINE64 (which boots the prefix), WINE (which runs the
# program) and WINESERVER name the Wine programs.
set -u
mkdir -p "$WINEPREFIX"
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINE64" wineboot --init >/dev/null 2>&1 </dev/null
"$WINE" "$@"
status=$?
"$WINESERVER" -k >/dev/null 2>&1
exit "$status"
