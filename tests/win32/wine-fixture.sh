#!/usr/bin/env bash
# Sets up and tears down what the Wine tests of one Windows build share: an Xvfb display and a
# fresh Wine prefix of the build's width, with a persistent wineserver and the simulated NvAPI
# library in its system directory.
#
#   wine-fixture.sh setup BITS WORK WINDOWS_BUILD
#   wine-fixture.sh cleanup WORK
#
# BITS is 32 or 64. WORK receives: display (the display number), loader (the Wine loader to start
# programs with), nvapi (the NvAPI library's file name), xvfb.pid, prefix/ (the Wine prefix); or,
# when this host or HALVORN_WINE_ARCHES leaves the width out, only skipped, with the reason, and
# the setup ends with status 77 (skipped).
set -euo pipefail

fail() {
  echo "wine-fixture: $*" >&2
  exit 1
}

# Our own Xvfb only: the pid file is ours, and the process must still be an Xvfb.
stop_xvfb() {
  local work=$1
  [[ -f $work/xvfb.pid ]] || return 0
  local pid
  pid=$(cat "$work/xvfb.pid")
  if [[ -n $pid && $(cat "/proc/$pid/comm" 2>/dev/null) == Xvfb ]]; then
    kill "$pid" 2>/dev/null || true
  fi
  rm -f "$work/xvfb.pid"
}

stop_wine() {
  local work=$1
  [[ -d $work/prefix && -f $work/server ]] || return 0
  WINEPREFIX=$work/prefix timeout 30 "$(cat "$work/server")" -k 2>/dev/null || true
}

# Debian's layout first (wine32 and wine64 side by side), then whatever the PATH has.
find_tool() {
  local candidate
  for candidate in "$@"; do
    if [[ $candidate == /* ]]; then
      [[ -x $candidate ]] && { echo "$candidate"; return 0; }
    else
      command -v "$candidate" 2>/dev/null && return 0
    fi
  done
  return 1
}

setup() {
  local bits=$1 work=$2 build=$3
  local here nvapi loader server package
  here=$(cd "$(dirname "$0")" && pwd)
  case $bits in
    32) nvapi=nvapi.dll package="wine32:i386 (after dpkg --add-architecture i386)"
        loader=$(find_tool /usr/lib/wine/wine wine) || loader=""
        server=$(find_tool /usr/lib/wine/wineserver32 wineserver) || server="" ;;
    64) nvapi=nvapi64.dll package=wine64
        loader=$(find_tool /usr/lib/wine/wine64 wine64) || loader=""
        server=$(find_tool /usr/lib/wine/wineserver64 wineserver64 wineserver) || server="" ;;
    *) fail "BITS must be 32 or 64, not '$bits'" ;;
  esac

  stop_wine "$work"
  stop_xvfb "$work"
  rm -rf "$work"
  mkdir -p "$work"

  local why
  why=$(bash "$here/wine-arches.sh" reason "$bits")
  if [[ -n $why ]]; then
    echo "$why: the $bits-bit Windows program was built but not run under Wine" | tee "$work/skipped"
    exit 77
  fi

  local artifact
  for artifact in HalvornController.exe "sim-nvapi/$nvapi" test-driver/halvorn_driver.exe; do
    [[ -f $build/$artifact ]] ||
      fail "missing $build/$artifact; build the $bits-bit Windows program first: cmake --preset $(preset "$bits") && cmake --build --preset $(preset "$bits")"
  done
  [[ -n $loader && -n $server ]] ||
    fail "no $bits-bit Wine (loader: ${loader:-missing}, server: ${server:-missing}); scripts/install-deps.sh --with-wine installs Debian's $package"
  command -v Xvfb >/dev/null || fail "missing Xvfb; scripts/install-deps.sh --with-wine installs it"

  # A free display, chosen by Xvfb itself; its stdio goes nowhere so CTest does not wait for it.
  setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" </dev/null \
    >"$work/xvfb.log" 2>&1 &
  echo $! >"$work/xvfb.pid"
  local waited=0
  until [[ -s $work/display ]]; do
    ((waited++ < 100)) || fail "Xvfb did not start; see $work/xvfb.log"
    sleep 0.1
  done

  export WINEPREFIX=$work/prefix WINEARCH=win$bits WINEDEBUG=-all DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
  export WINESERVER=$server WINELOADER=$loader
  mkdir -p "$WINEPREFIX"
  echo "$server" >"$work/server"
  # Persistent, so every test's programs start against a running server.
  if ! setsid "$server" -p </dev/null >"$work/wineserver.log" 2>&1; then
    fail "$server did not start: $(tr '\n' ' ' <"$work/wineserver.log")(see $work/wineserver.log; scripts/install-deps.sh --with-wine installs Debian's $package)"
  fi
  # No Mono or Gecko: nothing here needs them, and their installers would ask.
  WINEDLLOVERRIDES="mscoree,mshtml=" timeout 170 "$loader" wineboot -i </dev/null >"$work/wineboot.log" 2>&1 ||
    fail "wineboot failed: $(tail -n 3 "$work/wineboot.log" | tr '\n' ' ')(see $work/wineboot.log)"
  # A crashing program must end, not wait behind a crash dialog.
  timeout 60 "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >>"$work/wineboot.log" 2>&1 || fail "cannot configure the prefix; see $work/wineboot.log"
  [[ -d $WINEPREFIX/drive_c/windows/system32 ]] || fail "the prefix has no system32 folder"
  cp "$build/sim-nvapi/$nvapi" "$WINEPREFIX/drive_c/windows/system32/"
  echo "$loader" >"$work/loader"
  echo "$nvapi" >"$work/nvapi"
  echo "wine-fixture: $bits-bit prefix $WINEPREFIX on display $DISPLAY, programs started with $loader"
}

preset() {
  if [[ $1 == 64 ]]; then echo windows64; else echo windows; fi
}

cleanup() {
  local work=$1
  stop_wine "$work"
  stop_xvfb "$work"
  # About 600 MB; every run makes a fresh one.
  rm -rf "$work/prefix" "$work/server"
}

case ${1:-} in
  setup) setup "$2" "$3" "$4" ;;
  cleanup) cleanup "$2" ;;
  *) fail "usage: wine-fixture.sh setup BITS WORK WINDOWS_BUILD | cleanup WORK" ;;
esac
