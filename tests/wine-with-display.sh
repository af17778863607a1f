#!/bin/sh
# Runs a Windows program under Wine with an X display, in the prefix named by WINEPREFIX, made
# afresh from a copy of the booted one in BOOTED_PREFIX, and exits with the program's status.
# Meant to run inside xvfb-run: Wine takes the display from the first process of a prefix's
# server, so that is started here, under the display, and stopped before the display goes away.
# WINE64 (which starts the prefix), WINE (which runs the program) and WINESERVER name the Wine
# programs.
set -u
rm -rf "$WINEPREFIX" && cp -a "$BOOTED_PREFIX" "$WINEPREFIX" || exit 1
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINE64" wineboot --init >/dev/null 2>&1 </dev/null
"$WINE" "$@"
status=$?
"$WINESERVER" -k >/dev/null 2>&1
exit "$status"
