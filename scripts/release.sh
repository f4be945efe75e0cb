#!/usr/bin/env bash
# Builds every release download into dist/ and checks them:
#   HalvornController-<version>-win32.zip   the static Windows program, a readme and the licence
#   halvorn-controller_<version>_<arch>.deb  the Qt program with its menu entry, icon, metainfo,
#                                            man page and the Linux hardware access files
#   SHA256SUMS                               over both
# It uses the windows and release presets' build folders (made when missing, brought up to date
# when there), so it works on a fresh clone and is quick after scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --with-wine --with-release

jobs=$(nproc)
version=$(sed -n 's/^project(HalvornController VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }

echo "== windows: release build and zip"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
rm -rf build/windows/packages
(cd build/windows && cpack -G ZIP >/dev/null)

echo "== linux: release build and .deb"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target HalvornController halvorn_package_files
rm -rf build/release/packages
(cd build/release && cpack -G DEB >/dev/null)

rm -rf dist
mkdir dist
cp build/windows/packages/HalvornController-"$version"-win32.zip dist/
cp build/release/packages/*.deb dist/
(cd dist && sha256sum -- * >SHA256SUMS)

echo "== checks"
tests/package/check-zip.sh dist/HalvornController-"$version"-win32.zip build/windows "$version"
tests/package/check-deb.sh dist/*.deb "$version"
(cd dist && sha256sum --quiet -c SHA256SUMS)

echo "== dist/"
ls -l dist
