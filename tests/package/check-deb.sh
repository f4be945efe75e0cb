#!/usr/bin/env bash
# Checks the .deb as a user's system would meet it: its fields and dependencies, every file it
# installs and nothing else, the program inside it answering --version, the desktop entry and the
# AppStream metainfo through their validators, the maintainer scripts (and dpkg installing, removing
# and purging it on a scratch root), and lintian without errors.
#
#   check-deb.sh DEB VERSION [SYSTEM_FILES_DIR]
#
# SYSTEM_FILES_DIR (default platform/linux) holds the udev rules and modules-load.d entries the
# package must carry.
set -euo pipefail

deb=$1 version=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
system_dir=${3:-$source_dir/platform/linux}
app_id=io.github.halvorn.HalvornController

failures=0
fail() {
  echo "check-deb: FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_eq() {  # what, got, wanted
  [[ $2 == "$3" ]] || fail "$1: got '$2', wanted '$3'"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"

expect_eq Package "$(dpkg-deb -f "$deb" Package)" halvorn-controller
expect_eq Version "$(dpkg-deb -f "$deb" Version)" "$version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6; do
  [[ $depends =~ (^|, )"$library"( |,|$) ]] || fail "Depends lacks $library (from the linked libraries): $depends"
done

# Every file, and nothing more.
expected=(
  usr/bin/HalvornController
  "usr/share/applications/$app_id.desktop"
  "usr/share/metainfo/$app_id.metainfo.xml"
  usr/share/man/man1/HalvornController.1.gz
  usr/share/doc/halvorn-controller/copyright
  usr/share/doc/halvorn-controller/changelog.gz
  usr/share/doc/halvorn-controller/README.md.gz
  "usr/lib/systemd/system/halvorn-apply@.service"
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
shopt -s nullglob globstar
system_files=("$system_dir"/**/*.rules "$system_dir"/**/*.conf)
for file in "${system_files[@]}"; do
  case $file in
    *.rules) expected+=("usr/lib/udev/rules.d/$(basename "$file")") ;;
    *.conf) expected+=("usr/lib/modules-load.d/$(basename "$file")") ;;
  esac
done
[[ ${#system_files[@]} -gt 0 ]] ||
  echo "check-deb: note: $system_dir holds no udev rule or modules-load.d entry; the package carries none"
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$work/root" && find . -type f -printf '%P\n' | sort) ||
  fail "the package's files differ from the expected list (< expected, > packaged)"
for file in "${system_files[@]}"; do
  case $file in
    *.rules) cmp -s "$file" "$work/root/usr/lib/udev/rules.d/$(basename "$file")" || fail "$file packaged changed" ;;
    *.conf) cmp -s "$file" "$work/root/usr/lib/modules-load.d/$(basename "$file")" || fail "$file packaged changed" ;;
  esac
done

# The icons: PNG images of the size their folder names.
for size in 16 22 24 32 48 64 128 256; do
  png=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  [[ -f $png ]] || continue
  [[ $(file -b "$png") == "PNG image data, $size x $size, 8-bit/color RGBA"* ]] ||
    fail "$png: $(file -b "$png")"
done

# The program from the package, on a system without a display.
answer=$(QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/HalvornController" --version) ||
  fail "HalvornController --version ended with status $?"
expect_eq "HalvornController --version" "$answer" "RTX Halvorn Controller $version"

desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop" || fail "desktop-file-validate"
grep -qx "Exec=HalvornController" "$work/root/usr/share/applications/$app_id.desktop" ||
  fail "the desktop entry does not start HalvornController"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --explain "$work/root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate"
else
  echo "check-deb: note: appstreamcli is not installed; the metainfo is not validated"
fi
man_page=$(zcat "$work/root/usr/share/man/man1/HalvornController.1.gz")
for switch in '\-\-simulate' '\-\-version' '\-\-help' 'internalTest' '\-\-list' '\-\-apply\-profile' 'halvorn\-apply@'; do
  grep -qF -- "$switch" <<<"$man_page" || fail "the man page lacks $switch"
done
# Detection's handshake goes on every start, a dry run's included: the page says so.
grep -qF 'write nothing' <<<"$man_page" && fail "the man page says a dry run writes nothing"
grep -qF 'handshake' <<<"$man_page" || fail "the man page does not name the handshake a dry run writes"

# The profile unit, as systemd reads it on a system with the package installed: the unit folder of
# this host (for the targets it names) with the package's files over it, one instance for this
# user. Every warning counts. The man page check is left to the list above, since the package's
# page is not installed here.
unit=$work/root/usr/lib/systemd/system/halvorn-apply@.service
if command -v systemd-analyze >/dev/null && [[ -d /usr/lib/systemd/system ]]; then
  verify_root=$work/verify
  mkdir -p "$verify_root/usr/lib/systemd/system"
  cp -a /usr/lib/systemd/system/. "$verify_root/usr/lib/systemd/system/"
  cp -a "$work/root/." "$verify_root/"
  said=$(systemd-analyze verify --man=no --root="$verify_root" "halvorn-apply@$(id -un).service" 2>&1) ||
    fail "systemd-analyze verify: $said"
  [[ -z $said ]] || fail "systemd-analyze verify warns: $said"
else
  echo "check-deb: note: systemd-analyze or the host's unit folder is missing; the unit is not verified"
fi
grep -qx 'ExecStart=/usr/bin/HalvornController --apply-profile --guard=120' "$unit" ||
  fail "the unit does not apply the profile, guarded for 120 s"
zcat "$work/root/usr/share/doc/halvorn-controller/README.md.gz" | grep -q '^### Writing Profile.ini by hand' ||
  fail "the README in the package lacks the section on writing Profile.ini"
grep -qx 'Documentation=man:HalvornController(1)' "$unit" || fail "the unit names another man page"
grep -qx 'WorkingDirectory=~' "$unit" || fail "the unit does not run in the user's home folder"
for target in suspend hibernate hybrid-sleep suspend-then-hibernate; do
  grep -q "^WantedBy=.*\b$target.target" "$unit" || fail "the unit does not run after $target"
  grep -q "^After=.*\b$target.target" "$unit" || fail "the unit is not ordered after $target"
done

# The access files take effect on installation.
[[ -x $work/control/postinst ]] || fail "no executable postinst"
grep -q 'udevadm control --reload-rules' "$work/control/postinst" || fail "postinst does not reload the udev rules"
grep -q 'udevadm trigger' "$work/control/postinst" || fail "postinst does not apply the rules to present devices"
sh -n "$work/control/postinst" || fail "postinst is not valid sh"
sh -n "$work/control/postrm" || fail "postrm is not valid sh"
[[ -x $work/control/prerm ]] && sh -n "$work/control/prerm" || fail "no executable prerm in valid sh"

# Install, removal and purge with dpkg itself on a scratch root (dependencies not resolved there),
# the maintainer scripts run with DPKG_ROOT: the postinst makes the group in that root's
# /etc/group, and a removal leaves no link enabling a profile unit instance and no file of the
# package, while a link of another unit stays; the purge names what it keeps. Not root, groupadd
# cannot write there: the group is put in beforehand and its creation is left to install-rules.
scratch=$work/scratch
mkdir -p "$scratch/var/lib/dpkg/info" "$scratch/var/lib/dpkg/updates" "$scratch/var/lib/dpkg/triggers" "$scratch/etc"
touch "$scratch/var/lib/dpkg/status" "$scratch/etc/group" "$scratch/etc/gshadow"
((EUID == 0)) || echo 'halvorn-i2c:x:990:' >"$scratch/etc/group"
scratch_dpkg() {
  dpkg --root="$scratch" --force-script-chrootless --force-depends --force-not-root --log=/dev/null "$@" 2>&1 |
    grep -v -e 'depends on' -e 'is not installed' -e 'dependency problems' -e '^$' || true
  return "${PIPESTATUS[0]}"
}
scratch_dpkg -i "$deb" || fail "dpkg --root -i failed"
grep -q '^halvorn-i2c:' "$scratch/etc/group" || fail "the install on a scratch root made no group halvorn-i2c"
[[ -x $scratch/usr/bin/HalvornController ]] || fail "the install on a scratch root holds no program"
units=$scratch/etc/systemd/system
for target in multi-user suspend hibernate; do
  mkdir -p "$units/$target.target.wants"
  for user in alice bob; do
    ln -s /usr/lib/systemd/system/halvorn-apply@.service "$units/$target.target.wants/halvorn-apply@$user.service"
  done
done
ln -s /usr/lib/systemd/system/ssh.service "$units/multi-user.target.wants/ssh.service"
said=$(scratch_dpkg -r halvorn-controller) || fail "dpkg --root -r failed: $said"
echo "$said"
left=$(cd "$scratch" && find etc -type l)
[[ $left == etc/systemd/system/multi-user.target.wants/ssh.service ]] ||
  fail "after the removal the scratch root holds the links: $left"
left=$(cd "$scratch" && find . -path ./var/lib/dpkg -prune -o -path ./etc -prune -o -type f -print)
[[ -z $left ]] || fail "after the removal files of the package are left: $left"
said=$(scratch_dpkg -P halvorn-controller) || fail "dpkg --root -P failed: $said"
echo "$said"
for kept in "groupdel halvorn-i2c" "Profile.ini" "HalvornController.guard"; do
  grep -qF "$kept" <<<"$said" || fail "the purge does not say it keeps '$kept'"
done

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

if ((failures)); then
  echo "check-deb: $failures check(s) failed for $deb" >&2
  exit 1
fi
echo "check-deb: $deb is good"
