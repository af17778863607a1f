#!/usr/bin/env bash
# Installs what is missing, builds both programs (the listing and the check) and runs the listing.
# The build talks on standard error, and so does the line that says where the two programs are:
# standard output carries only the program's listing, and the exit status is the program's.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh run
cmake --preset release >&2
cmake --build --preset release --target morvantiquell morvantiquell-check --parallel "$(nproc)" >&2
echo "built: $PWD/build/release/console/morvantiquell and $PWD/build/release/check/morvantiquell-check" >&2
exec build/release/console/morvantiquell
