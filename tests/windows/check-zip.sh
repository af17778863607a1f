#!/usr/bin/env bash
# Makes the Windows zip of a build and checks it: the files it holds and nothing else, README.txt
# and LICENSE.txt with CR LF line ends, a DLL that exports the two functions and nothing else, and
# a C program built for the MSVC ABI (clang-cl and lld-link, no C runtime) that links against the
# zip's import library and lists the stand-in loader's layers under Wine.
#   check-zip.sh BUILD_FOLDER STAND_IN_FOLDER WINE_COMMAND...
set -euo pipefail
build=$(realpath "$1")
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

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work" >/dev/null
zip=$(find "$work" -maxdepth 1 -name '*.zip')
top=$(basename "$zip" .zip)
(cd "$work" && cmake -E tar xf "$zip")
files=$(cd "$work/$top" && find . -type f | sort | tr '\n' ' ')
expected="./LICENSE.txt ./README.txt ./bin/morvantiquell.dll ./bin/morvantiquell.exe \
./include/morvantiquell/layer_query.h ./lib/cmake/Morvantiquell/MorvantiquellConfig.cmake \
./lib/cmake/Morvantiquell/MorvantiquellConfigVersion.cmake \
./lib/cmake/Morvantiquell/MorvantiquellTargets-release.cmake \
./lib/cmake/Morvantiquell/MorvantiquellTargets.cmake ./lib/morvantiquell.lib "
[ "$files" = "$expected" ] || fail "$(basename "$zip") holds: $files"
for text in README.txt LICENSE.txt; do
  [ "$(grep -c $'\r$' "$work/$top/$text")" = "$(wc -l <"$work/$top/$text")" ] ||
    fail "$text has lines that do not end in CR LF"
done
exports=$(x86_64-w64-mingw32-objdump -p "$work/$top/bin/morvantiquell.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[ *[0-9]+\]/ { print $NF }' | sort | tr '\n' ' ')
[ "$exports" = "QueryInstanceLayers ReleaseInstanceLayerList " ] ||
  fail "morvantiquell.dll exports more or less than the API: $exports"

# The MSVC-ABI consumer beside the DLL and the stand-in loader, as a user's program would sit.
bin="$work/$top/bin"
clang-cl-14 --target=x86_64-pc-windows-msvc /nologo /c /O2 /W4 /WX /GS- /X -Xclang -ffreestanding \
  /DMORVANTIQUELL_SHARED "/I$work/$top/include" "/Fo$work/consumer.obj" -- "$here/msvc_consumer.c"
lld-link /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib "/out:$bin/consumer.exe" \
  "$work/consumer.obj" "$work/$top/lib/morvantiquell.lib" \
  /libpath:/usr/x86_64-w64-mingw32/lib libkernel32.a
cp "$stand_in/vulkan-1.dll" "$bin/"
expected=$'VK_LAYER_ONE 7\n 0\nVK_LAYER_TWO 4294967295'
actual=$(STAND_IN_LOADER_SCRIPT='layers=VK_LAYER_ONE@7,,VK_LAYER_TWO@4294967295' "$@" "$bin/consumer.exe") ||
  actual+=" (exit status $?)"
[ "$actual" = "$expected" ] || fail "the MSVC-ABI consumer printed"$'\n'"$actual"$'\n'"expected"$'\n'"$expected"
[ "$failed" -eq 0 ] && echo "ok: $(basename "$zip"), and the MSVC-ABI consumer runs against it"
exit "$failed"
