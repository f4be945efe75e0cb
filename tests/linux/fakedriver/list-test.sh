#!/bin/sh
# The real program on the fake NVIDIA driver lists the simulator's boards exactly as it lists them
# when it runs on the simulator itself, and opens no I2C adapter but the NVIDIA ones.
# Exit 77 (skipped) where the system cannot host the fake driver.
#
#   list-test.sh FAKE_NVIDIA_DRIVER HALVORN_CONTROLLER
set -u
driver=$1
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime" "$work/lock"
XDG_RUNTIME_DIR=$work/runtime
# The machine's lock on the boards of our own: another test's run or a window would hold the real one.
HALVORN_LOCK_DIR=$work/lock
export XDG_RUNTIME_DIR HALVORN_LOCK_DIR
cd "$work" || exit 1

"$program" --simulate --list >simulated.txt 2>simulated.err
status=$?
if [ $status -ne 0 ]; then
  echo "the program's --simulate --list ended with $status:"
  cat simulated.err
  exit 1
fi

# Runs --list on the fake driver with its options and holds it to the simulator's listing.
# name: what the case is, for the messages and the files it leaves.
failed=0
lists_as_simulated() {
  name=$1
  shift
  "$driver" --log="$work/$name.log" "$@" -- "$program" --list >"$name.txt" 2>"$name.err"
  status=$?
  if [ $status -eq 77 ]; then
    echo "skipped: the fake NVIDIA driver cannot run here:"
    cat "$name.err"
    exit 77
  fi
  if [ $status -ne 0 ]; then
    echo "--list on the fake driver ($name) ended with $status; its errors:"
    cat "$name.err"
    failed=1
  fi
  if ! diff -u simulated.txt "$name.txt"; then
    echo "--list on the fake driver ($name) differs from --list on the simulator (above)"
    failed=1
  fi
}

lists_as_simulated started
# i2c-0 and i2c-1 are the chipset's SMBus and the Intel GPU's bus.
if grep -E '^open /dev/i2c-[01] ' started.log; then
  echo "the program opened an adapter that is not the NVIDIA driver's"
  failed=1
fi

# The MCU-driven board's GPU as the driver leaves it without a display or persistence mode: the
# program starts it by holding its device file, and lists the same boards.
lists_as_simulated unstarted --unstarted=0
if ! grep -q '^open /dev/nvidia0 ' unstarted.log || ! grep -q '^start gpu 0 ' unstarted.log; then
  echo "the program did not start GPU 0 through /dev/nvidia0:"
  cat unstarted.log
  failed=1
fi

# A GPU that cannot be started (here: no /dev/nvidia0 to open) leaves its board out: the run says
# so and does not end as if it were complete.
"$driver" --no-device-file=0 -- "$program" --list >nodevice.txt 2>nodevice.err
status=$?
if [ $status -ne 1 ]; then
  echo "--list with GPU 0 not startable ended with $status, not 1"
  failed=1
fi
for said in "the GPU at 0000:21:00.0 is not started" "/dev/nvidia0 cannot be opened" "sudo nvidia-smi -pm 1" \
            "1 GPU(s) could not be started, so their boards were left out"; do
  if ! grep -qF "$said" nodevice.err; then
    echo "--list with GPU 0 not startable does not say: $said"
    cat nodevice.err
    failed=1
  fi
done

# The JSON document says what the process does: the status it ends with and every error line
# standard error gets, the GPU that could not be started included.
"$driver" --no-device-file=0 -- "$program" --list --json >nodevice.json 2>nodevice-json.err
status=$?
if [ $status -ne 1 ]; then
  echo "--list --json with GPU 0 not startable ended with $status, not 1"
  failed=1
fi
if ! grep -qE '"exitStatus": 1,?$' nodevice.json; then
  echo "--list --json with GPU 0 not startable: the document's exitStatus is not the process's 1:"
  cat nodevice.json
  failed=1
fi
for said in "the GPU at 0000:21:00.0 is not started" "/dev/nvidia0 cannot be opened" \
            "1 GPU(s) could not be started, so their boards were left out"; do
  if ! grep -qF "$said" nodevice.json || ! grep -qF "$said" nodevice-json.err; then
    echo "--list --json with GPU 0 not startable: \"$said\" is not both in the document's errors and on stderr"
    cat nodevice.json nodevice-json.err
    failed=1
  fi
done

# A GPU not started and no RTX 3080 Ti left to take the profile: the lowest status, 1, not 3.
printf '[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\n' >Profile.ini
"$driver" --no-device-file=0 --no-device-file=1 -- "$program" --apply-profile --guard=0 >noboard.txt 2>noboard.err
status=$?
if [ $status -ne 1 ]; then
  echo "--apply-profile with both RTX 3080 Ti GPUs not startable ended with $status, not 1:"
  cat noboard.err
  failed=1
fi

# A GPU the driver has started that has no I2C adapter at all (a compute card) is no GPU to start:
# not opened, not waited for, no advice, and the run ends as on the simulator.
lists_as_simulated noi2c --no-i2c=3
if grep -q '^open /dev/nvidia3 ' noi2c.log; then
  echo "the program opened the device file of a GPU without I2C adapters"
  failed=1
fi
if [ -s noi2c.err ]; then
  echo "--list with a GPU without I2C adapters said:"
  cat noi2c.err
  failed=1
fi
exit $failed
