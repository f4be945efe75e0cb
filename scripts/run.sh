#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and starts it on the board simulator.
# It builds that program alone, not the tests or the benchmarks.
# Extra arguments go to the program, e.g. scripts/run.sh internalTest, or scripts/run.sh --list
# (the simulated boards printed, no window).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target HalvornController

exec build/release/platform/qt/HalvornController --simulate "$@"
