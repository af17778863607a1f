#!/usr/bin/env bash
# Installs what is missing, builds the release program and runs it. The build talks on standard
# error, so standard output carries only the program's listing; the exit status is the program's.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh run
cmake --preset release >&2
cmake --build --preset release --target morvantiquell --parallel "$(nproc)" >&2
exec build/release/console/morvantiquell
