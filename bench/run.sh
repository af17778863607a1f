#!/usr/bin/env bash
# What the program costs on top of the loader's own work: morvantiquell against a bare C program
# making the same loader calls (bench/reference.c), run alternately, in three settings:
#   1. the installed loader with its drivers (what users run);
#   2. the stand-in loader with 3 layers (start-up cost);
#   3. the stand-in loader with 100,000 layers (scaling).
# For each: the median wall time and peak memory of both programs and the median of the
# per-pair ratios. Builds with the release settings first (after ./run.sh or ./test.sh).
#   bench/run.sh [PAIRS]       (default 15 pairs, after one warm-up pair)
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-15}

cmake --preset release >/dev/null
cmake --build --preset release --parallel \
  --target morvantiquell bench_reference bench_measure stand_in_loader >/dev/null

build=build/release
measure="$build/bench/bench_measure"
program="$build/console/morvantiquell"
reference="$build/bench/bench_reference"
stand_in="$build/tests/stand-in"

# compare ENVIRONMENT...: one setting, both programs under the same environment.
compare() {
  env -u LD_LIBRARY_PATH -u STAND_IN_LOADER_SCRIPT "$@" \
    "$measure" "$pairs" morvantiquell "$program" -- reference "$reference"
}

echo "$(date -u +%Y-%m-%d), $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
echo
echo "installed loader ($(env -u LD_LIBRARY_PATH "$program" | wc -l) layers)"
compare
echo
echo "stand-in loader, 3 layers"
compare LD_LIBRARY_PATH="$stand_in" STAND_IN_LOADER_SCRIPT='layers=VK_LAYER_A,VK_LAYER_B,VK_LAYER_C'
echo
echo "stand-in loader, 100000 layers"
compare LD_LIBRARY_PATH="$stand_in" STAND_IN_LOADER_SCRIPT='generate=100000'
