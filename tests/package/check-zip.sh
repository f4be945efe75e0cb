#!/usr/bin/env bash
# Checks the Windows zip as a user would meet it: exactly the .exe, the readme and the licence in
# one folder; the .exe stripped and needing no DLL but Windows' own; and, under Wine on the
# simulated nvapi.dll, the zipped .exe showing its version in its file properties and opening its
# window.
#
#   check-zip.sh ZIP WINDOWS_BUILD VERSION
#
# WINDOWS_BUILD is the windows preset's build folder: its sim-nvapi/nvapi.dll and test driver.
set -euo pipefail

zip=$1 build=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
folder=HalvornController-$version-win32

failures=0
fail() {
  echo "check-zip: FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_eq() {
  [[ $2 == "$3" ]] || fail "$1: got '$2', wanted '$3'"
}

work=$(mktemp -d)
cleanup() {
  bash "$here/../win32/wine-fixture.sh" cleanup "$work/wine" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
unzip -q "$zip" -d "$work/unzipped"
expect_eq "zip contents" "$(cd "$work/unzipped" && find . -type f -printf '%P\n' | sort | tr '\n' ' ')" \
  "$folder/HalvornController.exe $folder/LICENSE.txt $folder/README.txt "
exe=$work/unzipped/$folder/HalvornController.exe
readme=$work/unzipped/$folder/README.txt

# The readme: for Notepad, and saying what a user must know before starting.
grep -q $'\r$' "$readme" || fail "README.txt lacks Windows line ends"
for phrase in "RTX Halvorn Controller $version" "NVIDIA display driver" "own risk" "Profile.ini"; do
  grep -qF "$phrase" "$readme" || fail "README.txt does not mention '$phrase'"
done
grep -qF "MIT License" "$work/unzipped/$folder/LICENSE.txt" || fail "LICENSE.txt is not the licence"

# Stripped, 32-bit, and on Windows' own DLLs only.
[[ $(file -b "$exe") == "PE32 executable (GUI) Intel 80386"* ]] || fail "HalvornController.exe: $(file -b "$exe")"
objdump=i686-w64-mingw32-objdump
[[ -z $($objdump -h "$exe" | grep -E '\.debug|\.stab') ]] || fail "HalvornController.exe carries debug sections"
[[ $($objdump -t "$exe" | grep -c '^\[') -eq 0 ]] || fail "HalvornController.exe carries a symbol table"
while read -r dll; do
  case ${dll,,} in
    kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | shell32.dll | advapi32.dll | msvcrt.dll) ;;
    *) fail "HalvornController.exe needs $dll, which Windows does not bring" ;;
  esac
done < <($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')

# Under Wine: the file properties, then the program itself on the simulated boards.
bash "$here/../win32/wine-fixture.sh" setup "$work/wine" "$build" >/dev/null
export WINEPREFIX=$work/wine/prefix WINEARCH=win32 WINEDEBUG=-all DISPLAY=":$(tr -d '[:space:]' <"$work/wine/display")"
cp "$build/sim-nvapi/nvapi.dll" "$WINEPREFIX/drive_c/windows/system32/"
driver=$build/test-driver/halvorn_driver.exe
windows_exe="Z:${exe//\//\\}"
properties=$(timeout 60 wine "$driver" version-info "$windows_exe" | tr -d '\r')
expect_eq "file version" "$(sed -n 's/^version-info FileVersion //p' <<<"$properties")" "$version.0"
expect_eq "product name" "$(sed -n 's/^version-info ProductName //p' <<<"$properties")" "RTX Halvorn Controller"

mkdir -p "$work/run"
(cd "$work/run" && exec wine "$exe" </dev/null >/dev/null 2>&1) &
program=$!
window=$(timeout 90 wine "$driver" wait-main 60000 title close | tr -d '\r' || true)
expect_eq "the zipped program's window" "$window" "title RTX Halvorn Controller"
for _ in $(seq 1 300); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$program" 2>/dev/null; then
  fail "the zipped program did not end after its window was closed"
  kill "$program" 2>/dev/null || true
fi
wait "$program" 2>/dev/null || true

if ((failures)); then
  echo "check-zip: $failures check(s) failed for $zip" >&2
  exit 1
fi
echo "check-zip: $zip is good"
