#!/usr/bin/env bash
# Builds every release download into dist/ and checks them:
#   HalvornController-<version>-win64.zip   the static 64-bit Windows program, a readme, the licence
#   HalvornController-<version>-win32.zip   the same for 32-bit Windows
#   halvorn-controller_<version>_<arch>.deb  the Qt program with its menu entry, icon, metainfo,
#                                            man page and the Linux hardware access files
#   SHA256SUMS                               over all of them
# It uses the windows, windows64 and release presets' build folders (made when missing, brought up
# to date when there), so it works on a fresh clone and is quick after scripts/test.sh. Each zip's
# program is run under Wine where the host can run it; the checks say which they skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --with-wine --with-release

jobs=$(nproc)
version=$(sed -n 's/^project(HalvornController VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }

for preset in windows windows64; do
  echo "== $preset: release build and zip"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  rm -rf "build/$preset/packages"
  (cd "build/$preset" && cpack -G ZIP >/dev/null)
done

echo "== linux: release build and .deb"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target HalvornController halvorn_package_files
rm -rf build/release/packages
(cd build/release && cpack -G DEB >/dev/null)

rm -rf dist
mkdir dist
cp build/windows/packages/HalvornController-"$version"-win32.zip dist/
cp build/windows64/packages/HalvornController-"$version"-win64.zip dist/
cp build/release/packages/*.deb dist/
(cd dist && sha256sum -- * >SHA256SUMS)

echo "== checks"
tests/package/check-zip.sh dist/HalvornController-"$version"-win64.zip build/windows64 "$version" 64
tests/package/check-zip.sh dist/HalvornController-"$version"-win32.zip build/windows "$version" 32
tests/package/check-deb.sh dist/*.deb "$version"
(cd dist && sha256sum --quiet -c SHA256SUMS)
listed=$(cd dist && sed 's/^[0-9a-f]*  //' SHA256SUMS | sort)
present=$(cd dist && find . -type f ! -name SHA256SUMS -printf '%P\n' | sort)
[[ $listed == "$present" ]] || { echo "release.sh: SHA256SUMS lists '$listed', dist/ holds '$present'" >&2; exit 1; }

echo "== dist/"
ls -l dist
