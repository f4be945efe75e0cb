#!/usr/bin/env bash
# Sets up and tears down what the Wine tests share: an Xvfb display and a fresh 32-bit Wine
# prefix with a persistent wineserver.
#
#   wine-fixture.sh setup WORK WINDOWS_BUILD
#   wine-fixture.sh cleanup WORK
#
# WORK receives: display (the display number), xvfb.pid, prefix/ (the Wine prefix).
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
  [[ -d $work/prefix ]] || return 0
  WINEPREFIX=$work/prefix timeout 30 wineserver -k 2>/dev/null || true
}

setup() {
  local work=$1 build=$2
  local artifact
  for artifact in HalvornController.exe sim-nvapi/nvapi.dll test-driver/halvorn_driver.exe; do
    [[ -f $build/$artifact ]] ||
      fail "missing $build/$artifact; build the Windows program first: cmake --preset windows && cmake --build --preset windows (or set HALVORN_WINDOWS_BUILD)"
  done
  local tool
  for tool in wine wineserver wineboot Xvfb; do
    command -v "$tool" >/dev/null ||
      fail "missing $tool; scripts/install-deps.sh --with-wine installs Wine (with wine32:i386) and Xvfb"
  done

  stop_wine "$work"
  stop_xvfb "$work"
  rm -rf "$work"
  mkdir -p "$work"

  # A free display, chosen by Xvfb itself; its stdio goes nowhere so CTest does not wait for it.
  setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" </dev/null \
    >"$work/xvfb.log" 2>&1 &
  echo $! >"$work/xvfb.pid"
  local waited=0
  until [[ -s $work/display ]]; do
    ((waited++ < 100)) || fail "Xvfb did not start; see $work/xvfb.log"
    sleep 0.1
  done

  export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
  mkdir -p "$WINEPREFIX"
  # Persistent, so every test's programs start against a running server.
  setsid wineserver -p </dev/null >/dev/null 2>&1 || fail "wineserver did not start"
  # No Mono or Gecko: nothing here needs them, and their installers would ask.
  WINEDLLOVERRIDES="mscoree,mshtml=" timeout 170 wineboot -i </dev/null >"$work/wineboot.log" 2>&1 ||
    fail "wineboot failed; see $work/wineboot.log"
  # A crashing program must end, not wait behind a crash dialog.
  timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >>"$work/wineboot.log" 2>&1 || fail "cannot configure the prefix; see $work/wineboot.log"
  [[ -d $WINEPREFIX/drive_c/windows/system32 ]] || fail "the prefix has no system32 folder"
  echo "wine-fixture: prefix $WINEPREFIX on display $DISPLAY"
}

cleanup() {
  local work=$1
  stop_wine "$work"
  stop_xvfb "$work"
  # About 600 MB; every run makes a fresh one.
  rm -rf "$work/prefix"
}

case ${1:-} in
  setup) setup "$2" "$3" ;;
  cleanup) cleanup "$2" ;;
  *) fail "usage: wine-fixture.sh setup WORK WINDOWS_BUILD | cleanup WORK" ;;
esac
