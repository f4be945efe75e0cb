#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on the board simulator.
# Extra arguments go to the program, e.g. scripts/run.sh internalTest
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

if [ -x build/release/platform/qt/HalvornController ]; then
  exec build/release/platform/qt/HalvornController --simulate "$@"
fi
exec build/release/tools/halvorn-sim "$@"
