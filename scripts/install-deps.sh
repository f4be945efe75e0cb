#!/usr/bin/env bash
# Installs what building and testing needs, and only what is missing.
# Usage: scripts/install-deps.sh [--with-wine] [--with-release]
#   (none)          the Linux program, its tests and benchmarks
#   --with-wine     also both Windows cross builds and the Wine that runs them: 64-bit Wine on
#                   every host, 32-bit Wine where the host runs 32-bit programs
#   --with-release  also what packs and checks the release downloads
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# nlohmann-json3-dev is header-only: the Windows cross builds take their JSON header from it too.
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev libgl-dev
          nlohmann-json3-dev)

with_wine=false
with_release=false
for option in "$@"; do
  case $option in
    --with-wine) with_wine=true ;;
    --with-release) with_release=true ;;
    *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# The Windows programs, and their end-to-end tests under Wine of each width on an X server of
# their own. 32-bit Wine only where 32-bit programs run: elsewhere it could not start.
if $with_wine; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth)
  if [[ $("$here/../tests/win32/wine-arches.sh" host) == *32* ]]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${sudo_cmd[@]}" dpkg --add-architecture i386
    fi
    packages+=(wine32:i386)
  fi
fi

# Packing the release and checking the packages: the zip, the .deb's shared-library dependencies,
# lintian, the desktop entry's and metainfo's validators, and systemd-analyze for the unit.
if $with_release; then
  packages+=(zip unzip dpkg-dev file lintian desktop-file-utils appstream systemd)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
