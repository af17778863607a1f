#!/usr/bin/env bash
# The Windows program against the Khronos loader for Windows, under Wine with winevulkan as the
# driver: one table of cases. In each, the program must print what enumerate_layers.exe gets from
# the same loader directly (same lines, same order, CR LF) and what the case registered, and exit
# 0; without a registered driver it must report the refused instance. Runs inside xvfb-run, in a
# prefix made afresh, with its wineserver up (wine-prefix.sh).
#   khronos-loader.sh VIEW VERSION READS_SETTINGS LOADER_FOLDER UNSAFE_LOADER_FOLDER
# VIEW is the registry view the programs read, 32 or 64 (a 32-bit program's loader reads
# WOW6432Node). VERSION is the loaders' and READS_SETTINGS (ON or OFF) whether they read a loader
# settings file; where they do not, one must change nothing. Each folder holds morvantiquell.exe
# and enumerate_layers.exe beside a vulkan-1.dll; the second loader reads the VK_* variables that
# the first, seeing Wine's elevated token, ignores. WINE64 (which boots the prefix and edits its
# registry), WINE (which runs the programs) and WINEPREFIX come from the environment.
set -u
view=$1
version=$2
reads_settings=$3
shipped=$(realpath "$4")
unsafe=$(realpath "$5")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Manifests live in C:\layers; a layer's library need not exist for it to be listed (or, for a
# layer turned on, loaded: the loader passes over a library it cannot find beside the manifest).
# Implicit layers name a variable that keeps them from being loaded into the instance.
drive_c="$WINEPREFIX/drive_c"
manifest() { # FOLDER FILE NAME [implicit]
  local extra=""
  [ "${4:-}" = implicit ] && extra=',"disable_environment":{"MORVANTIQUELL_TEST_NO_IMPLICIT":"1"}'
  mkdir -p "$drive_c/$1"
  printf '{"file_format_version":"1.0.0","layer":{"name":"%s","type":"GLOBAL","library_path":".\\\\absent.dll","api_version":"1.0.0","implementation_version":"1","description":"test layer"%s}}' \
    "$3" "$extra" >"$drive_c/$1/$2"
}
# The registry is edited through .reg files: one Wine start for each step, however many values.
# The 32-bit view is named by its path (HKLM\Software\Wow6432Node): Wine's reg import /reg:32
# adds keys and values there, but deletes none (tried with Wine 8), so a case's registrations for
# 32-bit programs would outlive it.
registry() { # VIEW: imports the .reg lines on standard input into registry view VIEW (32 or 64)
  { printf 'Windows Registry Editor Version 5.00\n\n' &&
    if [ "$1" = 32 ]; then
      sed 's/^\[\(-\{0,1\}\)HKEY_LOCAL_MACHINE\\Software\\/[\1HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\/'
    else cat; fi; } | sed 's/$/\r/' >"$drive_c/edit.reg"
  # An import that fails would leave a case's layers (a crashing one) to the next: tried again,
  # and else the suite fails, saying so.
  local attempt
  for attempt in 1 2 3; do
    "$WINE64" reg import 'C:\edit.reg' /reg:64 >/dev/null 2>&1 </dev/null && return 0
    sleep "$attempt"
  done
  echo "khronos-loader $version: FAILED: reg import of:"
  tr -d '\r' <"$drive_c/edit.reg"
  : >"$work/registry-failed" # (it runs at the end of a pipeline, in a shell of its own)
}
key() { printf '[%sHKEY_LOCAL_MACHINE\\Software\\Khronos\\Vulkan\\%s]\n' "${2:-}" "$1"; } # KEY [- to delete it]
# Implicit|Explicit dword:00000000|- FILE...: the lines that register the files in C:\layers, or
# (-) remove them. Wine lists values by name.
layer_values() { key "$1Layers" && printf '"C:\\\\layers\\\\%s"='"$2"'\n' "${@:3}"; }

failed=0
compare() { # NAME FOLDER EXPECTED_NAMES [VARIABLE=VALUE ...]
  local name=$1 folder=$2 expected=$3 status
  shift 3
  env "$@" "$WINE" "$folder/morvantiquell.exe" >"$work/out" 2>"$work/err"
  status=$?
  env "$@" "$WINE" "$folder/enumerate_layers.exe" >"$work/direct" 2>&1
  local direct_status=$?
  if [ -n "$expected" ]; then printf '%s\n' "$expected" | sed 's/$/\r/'; fi >"$work/expected"
  if [ "$status" -eq 0 ] && [ "$direct_status" -eq 0 ] && [ ! -s "$work/err" ] &&
    cmp -s "$work/out" "$work/direct" && cmp -s "$work/out" "$work/expected"; then
    echo "khronos-loader $version: ok: $name"
  else
    echo "khronos-loader $version: FAILED: $name (status $status, loader's own enumeration status $direct_status)"
    echo "-- program printed:"; cat -A "$work/out" "$work/err"
    echo "-- the loader enumerates:"; cat -A "$work/direct"
    echo "-- expected:"; echo "$expected"
    failed=1
  fi
}

long=VK_LAYER_$(printf '%0246d' 0)  # 255 bytes, the longest name a layer can have
# What the loader lists of the explicit layers registered below: 1.3.239 lists a name as often as
# it finds it, and names of up to 255 bytes; 1.4.357 lists a name once, and passes over a name
# that long (its manifest reader wants room to spare in the 256 bytes it has).
if [ "$version" = 1.3.239 ]; then
  explicit=$'VK_LAYER_MORVANTIQUELL_explicit\nVK_LAYER_MORVANTIQUELL_explicit' long_listed=$'\n'"$long"
else
  explicit=VK_LAYER_MORVANTIQUELL_explicit long_listed=""
fi
compare "no layer registered" "$shipped" ""

# The check program, with the test layers (test_layer_BEHAVIOUR.dll beside the manifests):
# each verdict (a layer that calls exit(-1) exits, and raises no exception), and two implicit
# layers that kill the plain instance, which only the loader that reads VK_LOADER_LAYERS_DISABLE
# under Wine can turn off. No trial may be left running, also where the check is killed.
trials() { pgrep -f "khronos-$version.*morvantiquell-check.exe --trial"; }
# Where the check finds each listed layer's manifest, and a reason it knows for each it does not list.
agrees() { # CHECK_OUTPUT
  local name
  ! grep -qE 'none found where this loader looks|a reason the check does not know' "$1" || return 1
  for name in $(grep -vE '^\(' "$1" | cut -f1); do
    grep -qE "^\(manifest\)	$name	[A-Z]:" "$1" || return 1
  done
}
check_case() { # NAME FOLDER EXPECTED_OUT EXPECTED_ERR EXPECTED_STATUS [OPTION...] (where layers come from aside)
  local status
  TEST_LAYER_EXIT_STATUS=-1 "$WINE" "$2/morvantiquell-check.exe" "${@:6}" >"$work/all" 2>"$work/err"
  status=$?
  grep -vE '^\((manifest|implicit|not listed)\)	' "$work/all" >"$work/out"
  printf '%s\n' "$3" | sed 's/$/\r/' >"$work/expected"
  if [ "$status" -eq "$5" ] && cmp -s "$work/out" "$work/expected" && [ "$(tr -d '\r' <"$work/err")" = "$4" ] &&
    agrees "$work/all" && ! trials >/dev/null; then
    echo "khronos-loader $version: ok: the check: $1"
  else
    echo "khronos-loader $version: FAILED: the check: $1 (status $status)"
    cat -A "$work/all" "$work/err"
    echo "-- expected:"; printf '%s' "$3"; echo "$4"
    trials | xargs -r ps -o pid,args -p
    failed=1
  fi
}
layer() { printf 'VK_LAYER_MORVANTIQUELL_%s\t%s\n' "$@"; }
mkdir -p "$drive_c/layers"
cp "$shipped"/test_layer_*.dll "$drive_c/layers/"
for behaviour in passes refuses missing dies exits hangs; do # (no test_layer_missing.dll)
  printf '{"file_format_version":"1.0.0","layer":{"name":"VK_LAYER_MORVANTIQUELL_%s","type":"GLOBAL","library_path":".\\\\test_layer_%s.dll","api_version":"1.0.0","implementation_version":"1","description":"test layer","disable_environment":{"MORVANTIQUELL_OFF_%s":"1"}}}' \
    "$behaviour" "$behaviour" "$behaviour" >"$drive_c/layers/check-$behaviour.json"
done
layer_values Explicit dword:00000000 check-{passes,refuses,missing,dies,exits,hangs}.json | registry "$view"
dies="dies: exception 0xC0000005 (EXCEPTION_ACCESS_VIOLATION)"
refuses="fails: -3 (VK_ERROR_INITIALIZATION_FAILED)"
check_case "each verdict" "$shipped" "$(layer dies "$dies"; layer exits "dies: exit status -1"
  layer hangs "no answer within 10 s"; layer missing "fails: -6 (VK_ERROR_LAYER_NOT_PRESENT)"
  layer passes loads; layer refuses "$refuses"; printf '(plain instance)\tloads')" "" 1

# The check killed while a trial hangs: its job ends the trial.
TEST_LAYER_EXIT_STATUS=-1 "$WINE" "$shipped/morvantiquell-check.exe" --timeout 60 >/dev/null 2>&1 &
check=$!
hangs=$(printf VK_LAYER_MORVANTIQUELL_hangs | od -An -tx1 | tr -d ' \n')
for _ in $(seq 300); do trials | xargs -r ps -o args= -p | grep -q "$hangs" && break; sleep 0.1; done
kill -KILL "$check"
wait "$check" 2>/dev/null
for _ in $(seq 50); do trials >/dev/null || break; sleep 0.1; done
if trials >/dev/null; then
  echo "khronos-loader $version: FAILED: the check killed during a trial leaves it running"
  trials | xargs -r ps -o pid,args -p
  trials | xargs -r kill -KILL
  failed=1
else
  echo "khronos-loader $version: ok: the check killed during a trial leaves none running"
fi

{ layer_values Explicit - check-{refuses,missing,hangs,dies,exits}.json &&
  layer_values Implicit dword:00000000 check-dies.json check-refuses.json; } | registry "$view"
own_switches=$(printf '(own switch, %s)\t%s\n' sh "export MORVANTIQUELL_OFF_dies='1' MORVANTIQUELL_OFF_refuses='1'" \
  cmd 'set "MORVANTIQUELL_OFF_dies=1" & set "MORVANTIQUELL_OFF_refuses=1"' \
  PowerShell "\$env:MORVANTIQUELL_OFF_dies = '1'; \$env:MORVANTIQUELL_OFF_refuses = '1'")
turn_off=$(printf '(turn it off, %s)\t%s\n' sh "export VK_LOADER_LAYERS_DISABLE='VK_LAYER_MORVANTIQUELL_dies,VK_LAYER_MORVANTIQUELL_refuses'" \
  cmd 'set "VK_LOADER_LAYERS_DISABLE=VK_LAYER_MORVANTIQUELL_dies,VK_LAYER_MORVANTIQUELL_refuses"' \
  PowerShell "\$env:VK_LOADER_LAYERS_DISABLE = 'VK_LAYER_MORVANTIQUELL_dies,VK_LAYER_MORVANTIQUELL_refuses'"
  printf '%s' "$own_switches")
for jobs in "" 1; do # (as many trials at once as there are processors, and one at a time)
  check_case "two implicit layers that kill the plain instance are named (a loader that reads VK_LOADER_LAYERS_DISABLE)${jobs:+, --jobs $jobs}" \
    "$unsafe" "$(layer dies "$dies"; layer refuses "$refuses"; layer passes loads
    printf '(plain instance)\t%s\n%s' "$dies" "$turn_off")" "" 1 ${jobs:+--jobs "$jobs"}
done
check_case "two implicit layers, which the loader as Windows ships it turns off only by their own switches" "$shipped" \
  "$(layer dies "$dies"; layer refuses "$refuses"; layer passes loads
  printf '(plain instance)\t%s\n%s' "$dies" "$own_switches")" "" 1

manifest layers a.json VK_LAYER_MORVANTIQUELL_implicit implicit
manifest layers b.json VK_LAYER_MORVANTIQUELL_explicit
manifest layers c.json VK_LAYER_MORVANTIQUELL_explicit
manifest layers d.json "$long"
{ layer_values Implicit - check-dies.json check-refuses.json && layer_values Explicit - check-passes.json &&
  layer_values Implicit dword:00000000 a.json && layer_values Explicit dword:00000000 b.json c.json d.json; } | registry "$view"
registered=$'VK_LAYER_MORVANTIQUELL_implicit\n'"$explicit$long_listed"
compare "implicit and explicit layers in HKLM, a duplicate, a 255-byte name" "$shipped" "$registered" \
  MORVANTIQUELL_TEST_NO_IMPLICIT=1
agree_case() { # NAME FOLDER [VARIABLE=VALUE...]: the check agrees with the loader
  env "${@:3}" "$WINE" "$2/morvantiquell-check.exe" >"$work/all" 2>"$work/err"
  if agrees "$work/all"; then
    echo "khronos-loader $version: ok: the check finds the manifests: $1"
  else
    echo "khronos-loader $version: FAILED: the check finds the manifests: $1"
    cat -A "$work/all" "$work/err"
    failed=1
  fi
}
agree_case "in HKLM, a duplicate, a 255-byte name" "$shipped" MORVANTIQUELL_TEST_NO_IMPLICIT=1

manifest added/second s.json VK_LAYER_MORVANTIQUELL_added_second
manifest added/first f.json VK_LAYER_MORVANTIQUELL_added_first
compare "VK_ADD_LAYER_PATH adds its layers in its order" "$unsafe" \
  $'VK_LAYER_MORVANTIQUELL_implicit\nVK_LAYER_MORVANTIQUELL_added_second\nVK_LAYER_MORVANTIQUELL_added_first\n'"$explicit$long_listed" \
  MORVANTIQUELL_TEST_NO_IMPLICIT=1 'WINEVK_ADD_LAYER_PATH=C:\added\second;C:\added\first'

compare "VK_LOADER_LAYERS_DISABLE removes what it names" "$unsafe" \
  "VK_LAYER_MORVANTIQUELL_implicit$long_listed" \
  MORVANTIQUELL_TEST_NO_IMPLICIT=1 WINEVK_LOADER_LAYERS_DISABLE=VK_LAYER_MORVANTIQUELL_explicit

# A loader settings file, named by a value under LoaderSettings in HKLM: under Wine the loader
# looks elevated to itself and skips HKCU, which a real machine's loader reads first. It turns a
# layer off, or one on and first, or one on and last with the rest between (unordered_layer_location).
# A loader that reads no such file lists what it lists without one.
manifest settings first.json VK_LAYER_MORVANTIQUELL_settings_first
manifest settings last.json VK_LAYER_MORVANTIQUELL_settings_last
{ key LoaderSettings && echo '"C:\\settings\\vk_loader_settings.json"=dword:00000000'; } | registry "$view"
layer() { # CONTROL NAME FILE: one entry of the settings file's layers
  printf '{"control":"%s","name":"%s","path":"C:\\\\%s","treat_as_implicit_manifest":false},' "$@"
}
unordered='{"control":"unordered_layer_location"},'
settings_case() { # NAME EXPECTED_WHERE_READ LAYERS...
  local name=$1 expected=$2
  shift 2
  local layers
  layers=$(printf '%s' "$@")
  printf '{"file_format_version":"1.0.1","settings":{"layers":[%s]}}' "${layers%,}" \
    >"$drive_c/settings/vk_loader_settings.json"
  [ "$reads_settings" = ON ] || expected=$registered
  compare "a settings file $name" "$shipped" "$expected" MORVANTIQUELL_TEST_NO_IMPLICIT=1
  agree_case "a settings file $name" "$shipped" MORVANTIQUELL_TEST_NO_IMPLICIT=1
}
settings_case "turns a layer off" "VK_LAYER_MORVANTIQUELL_implicit$long_listed" \
  "$(layer off VK_LAYER_MORVANTIQUELL_explicit 'layers\\b.json')" "$unordered"
settings_case "turns one on and puts it first" $'VK_LAYER_MORVANTIQUELL_settings_first\n'"$registered" \
  "$(layer on VK_LAYER_MORVANTIQUELL_settings_first 'settings\\first.json')" "$unordered"
settings_case "leaves the rest to unordered_layer_location" \
  $'VK_LAYER_MORVANTIQUELL_settings_first\n'"$registered"$'\nVK_LAYER_MORVANTIQUELL_settings_last' \
  "$(layer on VK_LAYER_MORVANTIQUELL_settings_first 'settings\\first.json')" "$unordered" \
  "$(layer on VK_LAYER_MORVANTIQUELL_settings_last 'settings\\last.json')"
key LoaderSettings - | registry "$view"

# A layer registered for the programs of the other word size is not theirs to see.
manifest layers v32.json VK_LAYER_MORVANTIQUELL_32_bit_view
manifest layers v64.json VK_LAYER_MORVANTIQUELL_64_bit_view
layer_values Explicit dword:00000000 "v$view.json" | registry "$view"
other_view=$((96 - view))
layer_values Explicit dword:00000000 "v$other_view.json" | registry "$other_view"
compare "a layer in each registry view: the $view-bit program lists only its own" "$shipped" \
  "$registered"$'\n'"VK_LAYER_MORVANTIQUELL_${view}_bit_view" MORVANTIQUELL_TEST_NO_IMPLICIT=1
agree_case "a layer in each registry view" "$shipped" MORVANTIQUELL_TEST_NO_IMPLICIT=1
layer_values Explicit - "v$view.json" | registry "$view"
layer_values Explicit - "v$other_view.json" | registry "$other_view"

key Drivers - | registry "$view"
"$WINE" "$shipped/morvantiquell.exe" >"$work/out" 2>"$work/err"
status=$?
if [ "$status" -eq 1 ] && [ ! -s "$work/out" ] &&
  [ "$(cat "$work/err")" = $'vkCreateInstance failed with error code \'-9\'\r' ]; then
  echo "khronos-loader $version: ok: no driver registered"
else
  echo "khronos-loader $version: FAILED: no driver registered (status $status)"
  cat -A "$work/out" "$work/err"
  failed=1
fi
[ ! -e "$work/registry-failed" ] || failed=1
exit "$failed"
