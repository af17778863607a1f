#!/usr/bin/env bash
# Makes the Windows zip of a build and checks it: the files it holds and nothing else, each entry
# once, README.txt and LICENSE.txt with CR LF line ends, the version resource of the program and
# the DLL and the program's manifest, a DLL that exports the three functions and nothing else, and
# a GUI program built for the MSVC ABI (clang-cl and lld-link, no C runtime) that links against the
# zip's import library, for x86 under the linker's /SAFESEH as Visual Studio links, and under Wine
# writes to a file the stand-in loader's layers, or the failure line the query handed to it.
#   check-zip.sh PACKAGES_FOLDER STAND_IN_FOLDER [WINE_COMMAND...]
# Without a Wine command (where this machine cannot run the build's programs) the consumer is
# built and linked but not run. What it needs of the build comes from its environment
# (tests/packages.cmake): VERSION, WINDOWS_ARCHITECTURE, DLLTOOL_MACHINE, LOADER_FILE_NAME,
# ARCHIVE_NAME, RC_COMPILER and OBJDUMP.
set -euo pipefail
packages=$(realpath "$1")
stand_in=$(realpath "$2")
shift 2
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "$*" >&2
  failed=1
}
# The MSVC target and linker options, and the kernel32 functions the
# consumer imports (32-bit Windows decorates stdcall names with their argument bytes).
if [ "$WINDOWS_ARCHITECTURE" = x86 ]; then
  target=i686-pc-windows-msvc link_options=(/machine:x86 /safeseh)
  kernel32=(CreateFileA@28 WriteFile@20 CloseHandle@4 ExitProcess@4)
else
  target=x86_64-pc-windows-msvc link_options=(/machine:x64)
  kernel32=(CreateFileA WriteFile CloseHandle ExitProcess)
fi

top=$ARCHIVE_NAME zip=$packages/$ARCHIVE_NAME.zip
[ -f "$zip" ] || { echo "no $top.zip in $packages" >&2; exit 1; }
(cd "$work" && cmake -E tar xf "$zip")
files=$(cd "$work/$top" && find . -type f | sort | tr '\n' ' ')
pages=$(cd "$here/../.." && printf './%s ' docs/*.md)
expected="./LICENSE.txt ./README.txt ./bin/morvantiquell-check.exe ./bin/morvantiquell.dll ./bin/morvantiquell.exe $pages\
./include/morvantiquell/layer_query.h ./lib/cmake/Morvantiquell/MorvantiquellConfig.cmake \
./lib/cmake/Morvantiquell/MorvantiquellConfigVersion.cmake \
./lib/cmake/Morvantiquell/MorvantiquellTargets-release.cmake \
./lib/cmake/Morvantiquell/MorvantiquellTargets.cmake ./lib/morvantiquell.lib "
[ "$files" = "$expected" ] || fail "$(basename "$zip") holds: $files"
twice=$(cmake -E tar tf "$zip" | sort | uniq -d | tr '\n' ' ')
[ -z "$twice" ] || fail "$(basename "$zip") lists more than once: $twice"
for text in README.txt LICENSE.txt ${pages//.\//}; do
  [ "$(grep -c $'\r$' "$work/$top/$text")" = "$(wc -l <"$work/$top/$text")" ] ||
    fail "$text has lines that do not end in CR LF"
done
# What Windows shows of each file (Properties, Details), read back by MinGW's resource compiler.
file_version=$VERSION.0
for file in morvantiquell.exe morvantiquell-check.exe morvantiquell.dll; do
  resources=$("$RC_COMPILER" -i "$work/$top/bin/$file" -O rc 2>&1) || true
  for entry in "FILEVERSION ${file_version//./, }" "PRODUCTVERSION ${file_version//./, }" \
    "VALUE \"FileVersion\", \"$file_version\"" "VALUE \"ProductVersion\", \"$file_version\"" \
    'VALUE "ProductName", "Morvantiquell"' "VALUE \"OriginalFilename\", \"$file\"" \
    "VALUE \"InternalName\", \"${file%.*}\"" 'VALUE "LegalCopyright", "Copyright 2' \
    'VALUE "FileDescription", "Morvantiquell'; do
    [[ "$resources" == *"$entry"* ]] || fail "$file: its version resource lacks $entry"
  done
done
[[ "$resources" != *RT_MANIFEST* ]] || fail "morvantiquell.dll carries an application manifest"
for program in morvantiquell.exe morvantiquell-check.exe; do
  manifest=$("$RC_COMPILER" -i "$work/$top/bin/$program" -O rc 2>&1 | sed -n '/RT_MANIFEST/,/^END/p')
  [[ "$manifest" == *'level=""asInvoker""'* && "$manifest" == *'supportedOS Id=""{8e0f7a12-'* ]] ||
    fail "$program has no manifest that runs it as invoker and declares Windows 10 and 11"$'\n'"$manifest"
done

exports=$("$OBJDUMP" -p "$work/$top/bin/morvantiquell.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[ *[0-9]+\]/ { print $NF }' | sort | tr '\n' ' ')
[ "$exports" = "QueryInstanceLayers QueryInstanceLayersReporting ReleaseInstanceLayerList " ] ||
  fail "morvantiquell.dll exports more or less than the API: $exports"

# The MSVC-ABI consumer beside the DLL and the stand-in loader, as a user's program would sit,
# built with LLVM's tools at whatever version is installed: each under its plain name, or else
# the newest of NAME-N on the PATH (Debian ships clang-cl only so).
llvm_tool() {
  command -v "$1" || compgen -c "$1-" | grep -xE "$1-[0-9]+" | sort -uV | tail -n 1 | grep . ||
    { echo "no $1 (nor $1-N) on the PATH" >&2; echo false; }
}
clang_cl=$(llvm_tool clang-cl) dlltool=$(llvm_tool llvm-dlltool) lld_link=$(llvm_tool lld-link)
bin="$work/$top/bin"
"$clang_cl" --target=$target /nologo /c /O2 /W4 /WX /GS- /X -Xclang -ffreestanding \
  /DMORVANTIQUELL_SHARED "/I$work/$top/include" "/Fo$work/consumer.obj" -- "$here/msvc_consumer.c"
printf 'LIBRARY kernel32.dll\nEXPORTS\n' >"$work/kernel32.def"
printf '%s\n' "${kernel32[@]}" >>"$work/kernel32.def"
"$dlltool" -m "$DLLTOOL_MACHINE" -k -d "$work/kernel32.def" -l "$work/kernel32.lib"
"$lld_link" /nologo "${link_options[@]}" /entry:mainCRTStartup /subsystem:windows /nodefaultlib \
  "/out:$bin/consumer.exe" "$work/consumer.obj" "$work/$top/lib/morvantiquell.lib" "$work/kernel32.lib" ||
  fail "the MSVC-ABI consumer does not link against $top/lib/morvantiquell.lib"
"$OBJDUMP" -p "$bin/consumer.exe" 2>/dev/null | grep -qE 'Subsystem[[:space:]]+00000002' ||
  fail "the MSVC-ABI consumer is not a GUI program (subsystem 2)"
ran=""
if [ $# -eq 0 ]; then
  echo "skipped: running the MSVC-ABI consumer: this machine cannot run the build's programs"
elif [ -f "$bin/consumer.exe" ]; then
  cp "$stand_in/$LOADER_FILE_NAME" "$bin/"
  # It has no console: what it writes goes to a file in its working directory.
  consumer() { # STAND_IN_SCRIPT EXPECTED: the file it wrote, and any other status
    local actual status=0
    (cd "$work" && rm -f consumer-output.txt && STAND_IN_LOADER_SCRIPT=$1 "${launch[@]}" "$bin/consumer.exe") ||
      status=$?
    actual=$(cat "$work/consumer-output.txt" 2>/dev/null)
    [ "$status" -eq 0 ] || actual+=$'\n'"(exit status $status)"
    [ "$actual" = "$2" ] || fail "the MSVC-ABI consumer wrote"$'\n'"$actual"$'\n'"expected"$'\n'"$2"
  }
  launch=("$@")
  consumer 'layers=VK_LAYER_ONE@7,,VK_LAYER_TWO@4294967295' $'VK_LAYER_ONE 7\n 0\nVK_LAYER_TWO 4294967295'
  consumer 'create=-9' $'query failed: vkCreateInstance failed with error code \'-9\'\n(exit status 1)'
  ran=" and runs, its failure line handed to it"
fi
[ "$failed" -eq 0 ] && echo "ok: $(basename "$zip"), and the MSVC-ABI consumer links against it$ran"
exit "$failed"
