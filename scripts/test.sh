#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test: the debug build, the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, and the 32-bit Windows cross build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --with-wine

jobs=$(nproc)
for preset in debug asan; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: test"
  ctest --preset "$preset" -j "$jobs"
done

echo "== windows: cross build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
