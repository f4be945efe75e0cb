#!/usr/bin/env bash
# Installs what is missing, builds every preset completely and runs every test: both Windows
# programs (cross-built first, since the debug suite runs them under Wine), the release build (so a
# warning that only its optimiser sees fails here), the debug build's suite, and the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer.
#
# The Windows programs run under Wine where the host can run them: the 64-bit one everywhere, the
# 32-bit one where the host runs 32-bit programs (tests/win32/wine-arches.sh finds out). With
# HALVORN_WINE_ARCHES=64 a host that can run both plays one that runs only 64-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --with-wine

jobs=$(nproc)
# One line for each Windows program left out, now and again in the summary.
left_out=$(tests/win32/wine-arches.sh 2>&1 >/dev/null)
arches=$(tests/win32/wine-arches.sh 2>/dev/null)
[[ -z $left_out ]] || echo "$left_out"
if [[ -z $arches ]]; then
  echo "test.sh: no Windows program can run under Wine in this run (HALVORN_WINE_ARCHES=${HALVORN_WINE_ARCHES-})" >&2
  exit 1
fi
skip_labels=()
for bits in 32 64; do
  [[ " $arches " == *" $bits "* ]] || skip_labels+=("wine$bits")
done
wine_filter=()
if ((${#skip_labels[@]})); then wine_filter=(-LE "^($(IFS='|'; echo "${skip_labels[*]}"))\$"); fi

for preset in windows windows64 release; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

for preset in debug asan; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: test"
  if [ "$preset" = asan ]; then
    # The Windows programs under Wine are not built with the sanitizers; once is enough. The
    # exhaustive check of every plan runs its 1.7 million cases in the debug suite alone.
    ctest --preset "$preset" -j "$jobs" -LE wine -E '^PlanPolicyTest\.'
  else
    ctest --preset "$preset" -j "$jobs" "${wine_filter[@]}"
  fi
done

echo "== summary"
for bits in $arches; do echo "the $bits-bit Windows program ran under $bits-bit Wine"; done
[[ -z $left_out ]] || echo "$left_out"
