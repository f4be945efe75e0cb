#!/usr/bin/env bash
# Which Windows builds this run takes under Wine: the 64-bit one on every x86-64 host, the 32-bit
# one only where the host runs 32-bit programs. Found out by running one, never assumed: some
# kernels are built or booted without IA-32 emulation, and there every i386 program, 32-bit Wine
# included, fails with "Exec format error".
#
#   wine-arches.sh              the widths to run, e.g. "32 64"; on standard error one line for
#                               each width left out, saying why
#   wine-arches.sh reason BITS  why the BITS-bit program is left out; nothing when it runs
#   wine-arches.sh host         the widths the host can run, whatever HALVORN_WINE_ARCHES says
#
# HALVORN_WINE_ARCHES (for example "64") narrows the run, so a host that runs both can play one
# that runs only 64-bit programs. It exits with 2 when that variable names anything but 32 and 64.
set -euo pipefail

# The smallest i386 Linux program: it exits with status 42 through int 0x80.
probe32='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
probe32+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'
probe32+='\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
probe32+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
probe32+='\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80'

# Prints nothing when the host runs 32-bit programs, else why not.
why_no_32bit() {
  local folder output status=0 why=""
  folder=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-probe.XXXXXX")
  printf '%b' "$probe32" >"$folder/probe32"
  cp "$(type -P true)" "$folder/probe64"
  chmod +x "$folder/probe32" "$folder/probe64"
  if ! "$folder/probe64" 2>/dev/null; then
    why="no program can run from $folder, so whether this host runs 32-bit programs is unknown (set TMPDIR to a folder that allows programs)"
  else
    output=$("$folder/probe32" 2>&1) || status=$?
    output=${output##*: }
    ((status == 42)) || why="this host runs no 32-bit programs (a 32-bit test program: ${output:-exit status $status})"
  fi
  rm -rf "$folder"
  echo -n "$why"
}

host_widths() {
  if [[ -z $(why_no_32bit) ]]; then echo "32 64"; else echo "64"; fi
}

wanted() {
  local value=${HALVORN_WINE_ARCHES-}
  [[ -n $value ]] || { echo "32 64"; return; }
  local width
  for width in ${value//,/ }; do
    [[ $width == 32 || $width == 64 ]] || {
      echo "wine-arches: HALVORN_WINE_ARCHES='$value': give 32, 64 or both" >&2
      exit 2
    }
  done
  echo "${value//,/ }"
}

# Why BITS is left out of this run; nothing when it runs.
reason() {
  local bits=$1
  if [[ " $(wanted) " != *" $bits "* ]]; then
    echo "HALVORN_WINE_ARCHES=${HALVORN_WINE_ARCHES-} leaves it out"
    return
  fi
  if [[ $bits == 32 ]]; then why_no_32bit; fi
}

case ${1:-} in
  host) host_widths ;;
  reason) reason "$2" ;;
  "")
    wanted >/dev/null
    run=()
    for bits in 32 64; do
      why=$(reason $bits)
      if [[ -z $why ]]; then
        run+=("$bits")
      else
        echo "$why: the $bits-bit Windows program was built but not run under Wine" >&2
      fi
    done
    echo "${run[*]}"
    ;;
  *)
    echo "usage: wine-arches.sh [reason BITS | host]" >&2
    exit 2
    ;;
esac
