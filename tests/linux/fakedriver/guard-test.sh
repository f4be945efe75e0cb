#!/bin/sh
# The real program, started as halvorn-apply@.service starts it (--apply-profile in the user's
# folder, on the simulator here), meets the start-up guard of an apply that a crash cut short:
# in a private mount namespace whose /proc/sys/kernel/random/boot_id is bind-mounted to another
# boot's identity, it writes no setting, ends with status 7 and says why; --rearm then applies.
# Exit 77 (skipped) where the system has no user namespaces.
#
#   guard-test.sh HALVORN_CONTROLLER
set -u
program=$1
work=$(mktemp -d)
trap 'kill -9 $waiting 2>/dev/null; rm -rf "$work"' EXIT
waiting=
mkdir -m 700 "$work/runtime" "$work/home" "$work/lock"
XDG_RUNTIME_DIR=$work/runtime
# The machine's lock on the boards of our own: another test's run or a window would hold the real one.
HALVORN_LOCK_DIR=$work/lock
HALVORN_SIM_LOG=$work/sim.log
export XDG_RUNTIME_DIR HALVORN_LOCK_DIR HALVORN_SIM_LOG
cd "$work/home" || exit 1
printf '[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\nFBVDD=230\r\nMSVDD=190\r\nNVPWM=5\r\nMSPWM=6\r\nNVLL=3\r\nMSLL=4\r\nNVOCP=0\r\nMSOCP=1\r\nSYNC=0\r\n' >Profile.ini
echo aaaaaaaa-0000-4000-8000-00000000000a >"$work/boot-A"
echo bbbbbbbb-0000-4000-8000-00000000000b >"$work/boot-B"

# Runs the program with this boot's identity: in_boot BOOT_FILE ARGUMENTS...
in_boot() {
  boot=$1
  shift
  unshare --user --map-root-user --mount sh -c \
    'mount --bind "$0" /proc/sys/kernel/random/boot_id && exec "$@"' "$boot" "$program" "$@"
}

if ! unshare --user --map-root-user --mount sh -c \
     'mount --bind "$0" /proc/sys/kernel/random/boot_id' "$work/boot-A" 2>"$work/unshare.err"; then
  echo "skipped: this host gives no private mount namespace with a user namespace:"
  cat "$work/unshare.err"
  exit 77
fi

failed=0
fail() {
  echo "$*"
  failed=1
}
setting_writes() {  # the simulator's writes, the detection's MCU handshake left out
  [ -f "$work/sim.log" ] || return 0
  grep '^W ' "$work/sim.log" | grep -v '5A:B2 \[48 4C 56 4E A5\]'
}

# Boot A: the apply, guarded; the program then waits. It is killed as a crash ends it.
in_boot "$work/boot-A" --simulate --apply-profile >applied.txt 2>applied.err &
waiting=$!
tries=0
until grep -q ': applied ' applied.txt 2>/dev/null; do
  tries=$((tries + 1))
  if [ $tries -gt 300 ] || ! kill -0 $waiting 2>/dev/null; then
    fail "the apply in boot A did not print its lines while it waits:"
    cat applied.txt applied.err
    exit 1
  fi
  sleep 0.1
done
[ -f HalvornController.guard ] || fail "no guard beside Profile.ini while the apply waits"
grep -qx 'boot=aaaaaaaa-0000-4000-8000-00000000000a' HalvornController.guard ||
  fail "the guard does not hold boot A's identity: $(cat HalvornController.guard)"
kill -9 $waiting
wait $waiting 2>/dev/null
waiting=
rm -f "$work/sim.log"

# Boot B: nothing written, status 7, the words.
in_boot "$work/boot-B" --simulate --apply-profile >refused.txt 2>refused.err
status=$?
[ $status -eq 7 ] || fail "the start in boot B ended with $status, not 7: $(cat refused.err)"
if [ -n "$(setting_writes)" ]; then
  fail "the start in boot B wrote settings:"
  setting_writes
fi
grep -q 'HalvornController: the profile applied at .* was followed by a restart within 120 s, so it was not applied again; check it, then run `HalvornController --apply-profile --rearm`' refused.err ||
  fail "the start in boot B does not say why: $(cat refused.err)"
[ -f HalvornController.guard ] || fail "the refused start removed the guard"

# The JSON document ends with the same status.
in_boot "$work/boot-B" --simulate --apply-profile --json >refused.json 2>/dev/null
status=$?
[ $status -eq 7 ] || fail "--json in boot B ended with $status, not 7"
grep -qE '"exitStatus": 7,?$' refused.json || fail "the document's exitStatus is not 7: $(cat refused.json)"
grep -qF '"state": "crash"' refused.json || fail "the document's guard is not a crash: $(cat refused.json)"
rm -f "$work/sim.log"

# --rearm in boot B: applies, guarded again, and after a guard time of one second removes it.
in_boot "$work/boot-B" --simulate --apply-profile --rearm --guard=1 >rearmed.txt 2>rearmed.err
status=$?
[ $status -eq 0 ] || fail "--rearm ended with $status, not 0: $(cat rearmed.err)"
[ -n "$(setting_writes)" ] || fail "--rearm wrote no setting"
[ ! -e HalvornController.guard ] || fail "the guard is still there after its time: $(cat HalvornController.guard)"
exit $failed
