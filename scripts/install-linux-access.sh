#!/usr/bin/env bash
# Lets the members of one group use the NVIDIA driver's I2C adapters without root: loads i2c-dev
# now and at every start, installs the udev rule that gives the group halvorn-i2c those adapters
# (and no other I2C adapter), creates the group and adds the invoking user to it. --uninstall
# removes the two files again and gives the adapters back to root; the group stays (it says why).
#   sudo scripts/install-linux-access.sh [user]
#   sudo scripts/install-linux-access.sh --uninstall
# HALVORN_ROOT puts the files under another root (the tests' scratch folder); the group and the
# udev and module commands still act on this system.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)/platform/linux/system"
group=halvorn-i2c
user="${1:-${SUDO_USER:-}}"
root=${HALVORN_ROOT:-}
modules_file=$root/etc/modules-load.d/halvorn-i2c-dev.conf
rules_file=$root/etc/udev/rules.d/70-halvorn-nvidia-i2c.rules

case ${1:-} in
  --uninstall | "" | [!-]*) ;;
  *) echo "usage: sudo $0 [user] | --uninstall" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: sudo $0" >&2
  exit 1
fi

if [ "${1:-}" = --uninstall ]; then
  for file in "$rules_file" "$modules_file"; do
    if [ -e "$file" ]; then
      rm -f "$file"
      echo "removed ${file#"$root"}"
    fi
  done
  # Without the rule the adapters present go back to the kernel's root-only permissions now.
  udevadm control --reload
  udevadm trigger --subsystem-match=i2c-dev --action=change
  echo "i2c-dev stays loaded until the next start (sudo modprobe -r i2c-dev unloads it if nothing uses it)."
  members=$(getent group "$group" | cut -d: -f4)
  if [ -n "$(getent group "$group")" ]; then
    echo "kept the group $group (members: ${members:-none}): files and rules of your own may name it,"
    echo "and a .deb of the controller uses it too. Remove it, once nothing uses it: sudo groupdel $group"
  fi
  exit 0
fi

install -D -m 0644 "$here/halvorn-i2c-dev.conf" "$modules_file"
install -D -m 0644 "$here/70-halvorn-nvidia-i2c.rules" "$rules_file"
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
