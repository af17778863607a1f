#!/usr/bin/env bash
# What the program costs on top of the loader's own work, against two C programs making the same
# loader calls, all three run in turn:
#   bare        (bench/reference.c) keeps no list: the difference is what the list the program must
#               hand over costs, and what the program's own code costs;
#   same shape  (bench/same_shape.c) builds and releases the list in the same shape: the difference
#               is what the program's own code costs.
# In three settings:
#   1. the installed loader with its drivers (what users run);
#   2. the stand-in loader with 3 layers (start-up cost);
#   3. the stand-in loader with 100,000 layers (scaling).
# And the check program against the same trials run one after another as programs of their own:
# what starting its children and waiting for them costs.
# For each: the median wall time and peak memory of every program and the medians of the
# per-round ratios. Builds with the release settings first (after ./run.sh or ./test.sh).
#   bench/run.sh [ROUNDS]       (default 15 rounds, after one warm-up round)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-15}

cmake --preset release >/dev/null
cmake --build --preset release --parallel \
  --target morvantiquell morvantiquell-check bench_reference bench_same_shape bench_measure stand_in_loader >/dev/null

build=build/release
measure="$build/bench/bench_measure"
program="$build/console/morvantiquell"
bare="$build/bench/bench_reference"
same_shape="$build/bench/bench_same_shape"
stand_in="$build/tests/stand-in"

# compare ENVIRONMENT...: one setting, the three programs under the same environment.
compare() {
  env -u LD_LIBRARY_PATH -u STAND_IN_LOADER_SCRIPT "$@" \
    "$measure" "$rounds" morvantiquell "$program" -- bare "$bare" -- "same shape" "$same_shape"
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

# What the check's children cost: the check against the sum of its trials, each started as a
# program of its own, one after the other (the names, the plain instance, each layer enabled).
check="$build/check/morvantiquell-check"
trials="'$check' --trial=names && '$check' --trial=instance"
while IFS= read -r name; do
  trials+=" && '$check' --trial=instance --layer=$(printf '%s' "$name" | od -An -tx1 | tr -d ' \n')"
done < <(env -u LD_LIBRARY_PATH "$program")
echo
echo "the check, installed loader: against its trials run one after another"
env -u LD_LIBRARY_PATH -u STAND_IN_LOADER_SCRIPT "$measure" "$rounds" check "$check" -- "trials in turn" sh -c "$trials"
