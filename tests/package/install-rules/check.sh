#!/usr/bin/env bash
# Installs test stand-ins for the udev rule and the modules-load.d entry with the package's own
# install rules, checks they land where udev and systemd-modules-load read them, and runs the
# generated postinst against recording stand-ins for the system commands, and the prerm and postrm
# of a removal on a scratch root holding enabled instances of the profile unit.
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

# Removal on a scratch root (dpkg's DPKG_ROOT): every enabling link of a profile unit instance goes,
# whichever target wants it, and nothing else under /etc/systemd; an upgrade keeps them; the host's
# systemd and udev are not asked.
scratch=$work/scratch
units=$scratch/etc/systemd/system
enable_instances() {
  rm -rf "$scratch"
  mkdir -p "$units/multi-user.target.wants" "$units/suspend.target.wants" "$units/hibernate.target.wants" \
    "$units/network-online.target.requires"
  for user in alice bob; do
    for target in multi-user suspend hibernate; do
      ln -s /usr/lib/systemd/system/halvorn-apply@.service "$units/$target.target.wants/halvorn-apply@$user.service"
    done
  done
  ln -s /usr/lib/systemd/system/halvorn-apply@.service "$units/network-online.target.requires/halvorn-apply@carol.service"
  ln -s /usr/lib/systemd/system/ssh.service "$units/multi-user.target.wants/ssh.service"
  ln -s /usr/lib/systemd/system/other-apply@.service "$units/multi-user.target.wants/other-apply@alice.service"
  echo '[Service]' >"$units/halvorn-apply@.service.d.conf"
}
others=$'etc/systemd/system/halvorn-apply@.service.d.conf\netc/systemd/system/multi-user.target.wants/other-apply@alice.service\netc/systemd/system/multi-user.target.wants/ssh.service'
for script in prerm postrm; do
  [[ -x $work/build/control/$script ]] || fail "no executable $script"
done
for command in systemctl deb-systemd-invoke udevadm; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$command" "$work/calls-removal" >"$work/bin/$command"
  chmod +x "$work/bin/$command"
done
for step in remove purge; do
  enable_instances
  said=$(DPKG_ROOT=$scratch PATH=$work/bin:$PATH sh "$work/build/control/prerm" "$step" 2>&1 &&
         DPKG_ROOT=$scratch PATH=$work/bin:$PATH sh "$work/build/control/postrm" "$step" 2>&1) ||
    fail "prerm and postrm $step on a scratch root failed: $said"
  left=$(cd "$scratch" && find . \( -type f -o -type l \) -printf '%P\n' | sort)
  [[ $left == "$others" ]] || fail "after postrm $step the scratch root holds: $left"
  for instance in alice bob carol; do
    [[ $(grep -cxF "halvorn-controller: disabled halvorn-apply@$instance.service" <<<"$said") == 1 ]] ||
      fail "postrm $step does not say once that it disabled $instance's instance: $said"
  done
done
grep -qF 'groupdel gpu-tuners' <<<"$said" || fail "purge does not say how to remove the group it keeps: $said"
grep -qF 'Profile.ini' <<<"$said" || fail "purge does not say it keeps the users' profiles: $said"
[[ ! -e $work/calls-removal ]] || fail "under DPKG_ROOT the host's systemd or udev was asked: $(cat "$work/calls-removal")"
rm -rf "$scratch" && mkdir -p "$units"
said=$(DPKG_ROOT=$scratch sh "$work/build/control/postrm" remove) || fail "postrm remove without instances failed"
[[ -z $said ]] || fail "postrm remove without instances says: $said"
for step in upgrade failed-upgrade; do
  enable_instances
  DPKG_ROOT=$scratch PATH=$work/bin:$PATH sh "$work/build/control/prerm" "$step" >/dev/null &&
    DPKG_ROOT=$scratch PATH=$work/bin:$PATH sh "$work/build/control/postrm" "$step" >/dev/null ||
    fail "prerm and postrm $step failed"
  [[ $(find "$units" -name 'halvorn-apply@*.service' | wc -l) == 7 ]] || fail "postrm $step removed enabling links"
done

((failures == 0)) || exit 1
echo "install rules and postinst are good"
