#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test: the 32-bit Windows program
# (cross-built first, since the debug suite runs it under Wine), the debug build, and the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --with-wine

jobs=$(nproc)
echo "== windows: cross build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

for preset in debug asan; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: test"
  if [ "$preset" = asan ]; then
    # The Windows program under Wine is not built with the sanitizers; once is enough.
    ctest --preset "$preset" -j "$jobs" -LE wine
  else
    ctest --preset "$preset" -j "$jobs"
  fi
done
