#!/usr/bin/env bash
# Checks a Windows zip as a user would meet it: exactly the .exe, the readme and the licence in
# one folder; the .exe of the zip's width, stripped and needing no DLL but Windows' own; and, under
# Wine of that width on the simulated NvAPI library, the zipped .exe showing its version in its
# file properties, opening its window and ending when it is closed. Where the host cannot run that
# width under Wine (tests/win32/wine-arches.sh says why), the Wine part is skipped and says so.
#
#   check-zip.sh ZIP WINDOWS_BUILD VERSION BITS
#
# WINDOWS_BUILD is the build folder of the zip's width (the windows or windows64 preset): its
# simulated NvAPI library and test driver. BITS is 32 or 64.
set -euo pipefail

zip=$1 build=$2 version=$3 bits=$4
here=$(cd "$(dirname "$0")" && pwd)
folder=HalvornController-$version-win$bits

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
! grep -qv $'\r$' "$readme" || fail "README.txt has lines without Windows line ends"
# Each zip names its own width and points to the other one.
if [[ $bits == 64 ]]; then width_phrases=("64-bit program (win64)" "win32 download" "nvapi64.dll")
else width_phrases=("32-bit program (win32)" "win64 download" "its nvapi.dll"); fi
# How to undo the tasks the README's log-on and after-sleep recipes create, by their names there.
uninstall_phrases=()
for task in "RTX Halvorn Controller profile" "RTX Halvorn Controller profile after sleep"; do
  grep -qF "schtasks /Create /TN \"$task\" " "$here/../../README.md" || fail "the README creates no task '$task'"
  uninstall_phrases+=("schtasks /Delete /TN \"$task\" /F")
done
for phrase in "RTX Halvorn Controller $version" "NVIDIA display driver" "own risk" "Profile.ini" "${width_phrases[@]}" \
              "${uninstall_phrases[@]}"; do
  grep -qF "$phrase" "$readme" || fail "README.txt does not mention '$phrase'"
done
grep -qF "MIT License" "$work/unzipped/$folder/LICENSE.txt" || fail "LICENSE.txt is not the licence"

# Stripped, of the zip's width, and on Windows' own DLLs only.
if [[ $bits == 64 ]]; then
  kind="PE32+ executable (GUI) x86-64" objdump=x86_64-w64-mingw32-objdump
else
  kind="PE32 executable (GUI) Intel 80386" objdump=i686-w64-mingw32-objdump
fi
[[ $(file -b "$exe") == "$kind"* ]] || fail "HalvornController.exe: $(file -b "$exe"), wanted $kind"
[[ -z $($objdump -h "$exe" | grep -E '\.debug|\.stab') ]] || fail "HalvornController.exe carries debug sections"
[[ $($objdump -t "$exe" | grep -c '^\[') -eq 0 ]] || fail "HalvornController.exe carries a symbol table"
while read -r dll; do
  case ${dll,,} in
    kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | shell32.dll | advapi32.dll | msvcrt.dll) ;;
    *) fail "HalvornController.exe needs $dll, which Windows does not bring" ;;
  esac
done < <($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')

# Under Wine: the file properties, then the program itself on the simulated boards.
status=0
bash "$here/../win32/wine-fixture.sh" setup "$bits" "$work/wine" "$build" >/dev/null || status=$?
if ((status == 77)); then
  echo "check-zip: not run under Wine: $(cat "$work/wine/skipped")"
elif ((status != 0)); then
  fail "cannot set up $bits-bit Wine (status $status)"
else
  loader=$(cat "$work/wine/loader")
  export WINEPREFIX=$work/wine/prefix WINEARCH=win$bits WINEDEBUG=-all DISPLAY=":$(tr -d '[:space:]' <"$work/wine/display")"
  driver=$build/test-driver/halvorn_driver.exe
  windows_exe="Z:${exe//\//\\}"
  properties=$(timeout 60 "$loader" "$driver" version-info "$windows_exe" | tr -d '\r')
  expect_eq "file version" "$(sed -n 's/^version-info FileVersion //p' <<<"$properties")" "$version.0"
  expect_eq "product name" "$(sed -n 's/^version-info ProductName //p' <<<"$properties")" "RTX Halvorn Controller"

  mkdir -p "$work/run"
  (cd "$work/run" && exec "$loader" "$exe" </dev/null >/dev/null 2>&1) &
  program=$!
  window=$(timeout 90 "$loader" "$driver" wait-main 60000 title close | tr -d '\r' || true)
  expect_eq "the zipped program's window" "$window" "title RTX Halvorn Controller"
  for _ in $(seq 1 300); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$program" 2>/dev/null; then
    fail "the zipped program did not end after its window was closed"
    kill "$program" 2>/dev/null || true
  else
    ended=0
    wait "$program" || ended=$?
    expect_eq "the zipped program's exit status" "$ended" 0
  fi
  echo "check-zip: ran the zipped program under $bits-bit Wine"
fi

if ((failures)); then
  echo "check-zip: $failures check(s) failed for $zip" >&2
  exit 1
fi
echo "check-zip: $zip is good"
