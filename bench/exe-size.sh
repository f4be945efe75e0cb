#!/usr/bin/env bash
# Prints the size of the release HalvornController.exe beside the smallest dialog program the same
# toolchain and flags make (bench/win32/BareDialog.cpp), and their ratio. A figure, not a test.
#
#   bench/exe-size.sh [WINDOWS_BUILD_DIR]     (default: build/windows, the windows preset)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/windows}
if [[ $build == build/windows ]]; then
  cmake --preset windows >/dev/null
fi
cmake --build "$build" -j 2 --target HalvornController bare_dialog >/dev/null

program=$build/HalvornController.exe
bare=$build/bench/bare_dialog.exe
program_size=$(stat -c %s "$program")
bare_size=$(stat -c %s "$bare")
printf '%-28s %9d bytes\n' "HalvornController.exe" "$program_size" "bare dialog program" "$bare_size"
awk -v p="$program_size" -v b="$bare_size" 'BEGIN { printf "%-28s %9.2f\n", "ratio", p / b }'
