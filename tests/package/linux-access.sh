#!/usr/bin/env bash
# scripts/install-linux-access.sh and its --uninstall on a scratch root (HALVORN_ROOT), with
# recording stand-ins for the commands that would change this system: the install puts both files
# where udev and systemd-modules-load read them, the undo removes them and nothing else, reloads
# the rules and names the group it keeps.
#
#   linux-access.sh SOURCE_DIR WORK_DIR
set -euo pipefail

source_dir=$1 work=$2
script=$source_dir/scripts/install-linux-access.sh
rm -rf "$work"
mkdir -p "$work/bin" "$work/root/etc/udev/rules.d"
echo 'KERNEL=="other"' >"$work/root/etc/udev/rules.d/60-other.rules"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The group exists with two members once groupadd has run.
for command in udevadm modprobe groupadd groupdel gpasswd usermod getent id; do
  cat >"$work/bin/$command" <<STANDIN
#!/bin/sh
echo "$command \$*" >>"$work/calls"
case $command in
  id) echo 0 ;;
  getent) [ -e "$work/group-made" ] && echo "halvorn-i2c:x:990:alice,bob" || exit 2 ;;
  groupadd) touch "$work/group-made" ;;
esac
exit 0
STANDIN
  chmod +x "$work/bin/$command"
done
run() { HALVORN_ROOT=$work/root PATH=$work/bin:$PATH bash "$script" "$@" 2>&1; }
installed=$'etc/modules-load.d/halvorn-i2c-dev.conf\netc/udev/rules.d/60-other.rules\netc/udev/rules.d/70-halvorn-nvidia-i2c.rules'
files() { (cd "$work/root" && find . -type f -printf '%P\n' | sort); }

said=$(run alice) || fail "install failed: $said"
[[ $(files) == "$installed" ]] || fail "installed files: $(files)"
cmp -s "$source_dir/platform/linux/system/70-halvorn-nvidia-i2c.rules" "$work/root/etc/udev/rules.d/70-halvorn-nvidia-i2c.rules" ||
  fail "the installed rule is not the project's"
grep -qxF "usermod -aG halvorn-i2c alice" "$work/calls" || fail "alice was not added to the group: $(cat "$work/calls")"

rm -f "$work/calls"
said=$(run --uninstall) || fail "--uninstall failed: $said"
[[ $(files) == etc/udev/rules.d/60-other.rules ]] || fail "after --uninstall the root holds: $(files)"
calls=$(cat "$work/calls")
for call in "udevadm control --reload" "udevadm trigger --subsystem-match=i2c-dev --action=change"; do
  grep -qxF "$call" <<<"$calls" || fail "--uninstall did not run '$call': $calls"
done
grep -qE '^(groupdel|groupadd|usermod|gpasswd)' <<<"$calls" && fail "--uninstall changed the group: $calls"
for word in "removed /etc/udev/rules.d/70-halvorn-nvidia-i2c.rules" "removed /etc/modules-load.d/halvorn-i2c-dev.conf" \
            "members: alice,bob" "sudo groupdel halvorn-i2c"; do
  grep -qF "$word" <<<"$said" || fail "--uninstall does not say '$word': $said"
done

# A second undo finds nothing to remove and says nothing was removed; a switch it does not know is refused.
said=$(run --uninstall) || fail "a second --uninstall failed: $said"
grep -q '^removed' <<<"$said" && fail "a second --uninstall says it removed: $said"
said=$(run --remove) && fail "--remove was taken: $said"
[[ $(files) == etc/udev/rules.d/60-other.rules ]] || fail "after the refused switch the root holds: $(files)"

((failures == 0)) || exit 1
echo "install-linux-access.sh and its --uninstall are good"
