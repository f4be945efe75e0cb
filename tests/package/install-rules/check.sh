#!/usr/bin/env bash
# Installs test stand-ins for the udev rule and the modules-load.d entry with the package's own
# install rules, checks they land where udev and systemd-modules-load read them, and runs the
# generated postinst against recording stand-ins for the system commands.
#
#   check.sh SOURCE_DIR WORK_DIR
set -euo pipefail

source_dir=$1 work=$2
here=$source_dir/tests/package/install-rules
rm -rf "$work"
mkdir -p "$work/bin"

cmake -S "$here" -B "$work/build" -DHALVORN_SOURCE_DIR="$source_dir" \
  -DHALVORN_LINUX_SYSTEM_DIR="$here/data" >/dev/null
DESTDIR=$work/root cmake --install "$work/build" --prefix /usr >/dev/null

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

wanted=$'usr/lib/modules-load.d/test-i2c-dev.conf\nusr/lib/udev/rules.d/70-test-nvidia-i2c.rules'
got=$(cd "$work/root" && find . -type f -printf '%P\n' | sort)
[[ $got == "$wanted" ]] || fail "installed files: $got"

postinst=$work/build/control/postinst
[[ -x $postinst && -x $work/build/control/postrm ]] || fail "the maintainer scripts are missing or not executable"

# Stand-ins that record their calls; getent finds no group, so both must be created.
for command in getent groupadd udevadm modprobe; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n[ "%s" != getent ]\n' "$command" "$work/calls" "$command" >"$work/bin/$command"
  chmod +x "$work/bin/$command"
done
PATH=$work/bin:$PATH sh "$postinst" configure || fail "postinst configure failed"
calls=$(cat "$work/calls" 2>/dev/null || true)
for call in "getent group i2c" "groupadd --system i2c" "getent group gpu-tuners" "groupadd --system gpu-tuners" \
            "modprobe i2c-dev"; do
  grep -qxF "$call" <<<"$calls" || fail "postinst did not run '$call'; it ran: $calls"
done
if [[ -d /run/udev ]]; then
  grep -qxF "udevadm control --reload-rules" <<<"$calls" || fail "postinst did not reload the udev rules"
fi

((failures == 0)) || exit 1
echo "install rules and postinst are good"
