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
# And the check program against the same trials run one after another as programs of their own,
# and against itself with --jobs 1, in four settings: the installed loader with its layers; twenty
# pass-through explicit layers (on two processors and on one); two explicit layers that hang.
# For each: the median wall time and peak memory of every program and the medians of the
# per-round ratios. Builds with the release settings first (after ./run.sh or ./test.sh).
#   bench/run.sh [ROUNDS]       (default 15 rounds, after one warm-up round)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-15}

cmake --preset release >/dev/null
cmake --build --preset release --parallel --target morvantiquell morvantiquell-check bench_reference \
  bench_same_shape bench_measure stand_in_loader test_layer_passes test_layer_hangs >/dev/null

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

# The check against the same trials run one after another, each a program of its own started by
# sh (the names, the plain instance, each layer enabled; with a time limit, each under `timeout`,
# which ends its process group), and against itself with --jobs 1: what running trials side by
# side gives, and what starting children and waiting for them costs. Last, the same trials in two
# halves, each half one after another, the halves side by side: what two processors give these
# trials where none waits for another's answer, the most the check can gain on two. All are
# started by sh, and their exit status is not asked for (a layer that hangs fails the check).
check="$build/check/morvantiquell-check"
test_layers="$build/tests/layers"
hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
# check_rows ROUNDS [--timeout SECONDS]: under the environment of the moment, and run by $pin.
check_rows() {
  local rounds=$1 limit="" trials in_turn="" halves=("" "") name i=0
  [ $# -gt 1 ] && limit="timeout -k 1 $3 "
  trials=("$limit'$check' --trial=names" "$limit'$check' --trial=instance")
  while IFS= read -r name; do
    trials+=("$limit'$check' --trial=instance --layer=$(hex "$name")")
  done < <("$program")
  for name in "${trials[@]}"; do
    in_turn+="$name; "
    halves[i % 2]+="$name; "
    i=$((i + 1))
  done
  $pin "$measure" "$rounds" check sh -c "'$check' ${*:2}; exit 0" \
    -- "trials in turn" sh -c "${in_turn}exit 0" \
    -- "check --jobs 1" sh -c "'$check' --jobs 1 ${*:2}; exit 0" \
    -- "halves side by side" sh -c "{ ${halves[0]}} & { ${halves[1]}} & wait; exit 0"
}
# explicit_layers BEHAVIOUR COUNT: a folder of manifests of COUNT test layers of that behaviour.
explicit_layers() {
  local i
  mkdir -p "$folder/$1"
  for i in $(seq "$2"); do
    printf '{"file_format_version":"1.0.0","layer":{"name":"VK_LAYER_BENCH_%s_%02d","type":"GLOBAL","library_path":"%s","api_version":"1.0.0","implementation_version":"1","description":"bench"}}' \
      "$1" "$i" "$PWD/$test_layers/test_layer_$1.so" >"$folder/$1/$1-$i.json"
  done
}
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
explicit_layers passes 20
explicit_layers hangs 2
hang_rounds=$((rounds < 5 ? rounds : 5)) # (a hanging row's round takes seconds)
unset LD_LIBRARY_PATH STAND_IN_LOADER_SCRIPT
pin=""

echo
echo "the check, installed loader ($("$program" | wc -l) layers)"
check_rows "$rounds"
echo
echo "the check, installed loader, twenty pass-through explicit layers"
VK_LAYER_PATH="$folder/passes" check_rows "$rounds"
echo
echo "the same, on one processor (taskset -c 0)"
pin="taskset -c 0" VK_LAYER_PATH="$folder/passes" check_rows "$hang_rounds"
echo
echo "the check, installed loader, two hanging explicit layers, --timeout 2"
VK_LAYER_PATH="$folder/hangs" check_rows "$hang_rounds" --timeout 2
