#!/usr/bin/env bash
# Lets the members of one group use the NVIDIA driver's I2C adapters without root: loads i2c-dev
# now and at every start, installs the udev rule that gives the group halvorn-i2c those adapters
# (and no other I2C adapter), creates the group and adds the invoking user to it.
#   sudo scripts/install-linux-access.sh [user]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)/platform/linux/system"
group=halvorn-i2c
user="${1:-${SUDO_USER:-}}"

if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: sudo $0" >&2
  exit 1
fi

install -D -m 0644 "$here/halvorn-i2c-dev.conf" /etc/modules-load.d/halvorn-i2c-dev.conf
install -D -m 0644 "$here/70-halvorn-nvidia-i2c.rules" /etc/udev/rules.d/70-halvorn-nvidia-i2c.rules
getent group "$group" >/dev/null || groupadd --system "$group"
# The rule first, so that adapters appearing with the module get it; then the ones already there.
udevadm control --reload
modprobe i2c-dev
udevadm trigger --subsystem-match=i2c-dev --action=change

if [ -n "$user" ] && [ "$user" != root ]; then
  usermod -aG "$group" "$user"
  echo "$user is in $group now; log out and in again for it to count."
else
  echo "add the users of the controller to $group: usermod -aG $group USER (then log in again)"
fi
