#!/usr/bin/env bash
# Counts the real system calls the Linux program makes on the NVIDIA I2C adapters while it
# applies a saved RTX 3080 Ti profile: the unmodified HalvornController runs under strace on the
# fake NVIDIA driver (tests/linux/fakedriver), which serves the simulator's default machine.
# Figures, not a test. Needs root, or unprivileged user namespaces, and strace.
#
#   bench/linux/syscalls.sh [BUILD_DIR] [FAKE_DRIVER_OPTIONS...]   (default: build/release)
#   e.g. bench/linux/syscalls.sh build/release --unstarted=0
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

build=${1:-$source_dir/build/release}
shift || true
if [[ $build != /* && ! -d $build ]]; then build=$source_dir/$build; fi
build=$(cd "$build" && pwd)
program=$build/platform/qt/HalvornController
driver=$build/tests/linux/fakedriver/fake-nvidia-driver
for file in "$program" "$driver"; do
  if [[ ! -x $file ]]; then
    echo "syscalls.sh: $file is missing; build the targets HalvornController and fake-nvidia-driver" >&2
    exit 1
  fi
done
command -v strace >/dev/null || { echo "syscalls.sh: strace is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime  # this run's instance lock, not shared with other runs

# Every key of the RTX 3080 Ti profile away from the boards' power-on values, as the window saves it.
printf '[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\nFBVDD=230\r\nMSVDD=190\r\nNVPWM=5\r\nMSPWM=6\r\nNVLL=3\r\nMSLL=4\r\nNVOCP=0\r\nMSOCP=1\r\nSYNC=0\r\n' \
  >"$work/Profile.ini"
# The program itself says whether it takes the profile: on the simulated machine it must apply it.
if ! (cd "$work" && "$program" --simulate --apply-profile --guard=0 >"$work/simulated.txt" 2>&1) ||
   ! grep -q ': applied Auto off, NVVDD 1.25000 V' "$work/simulated.txt"; then
  echo "syscalls.sh: the program does not apply the profile on the simulated machine:" >&2
  cat "$work/simulated.txt" >&2
  exit 1
fi

status=0
(cd "$work" && "$driver" "$@" -- strace -f -qq -e trace=openat,ioctl,close -o "$work/strace.log" \
   "$program" --apply-profile --guard=0 >"$work/output.txt" 2>&1) || status=$?

echo "HalvornController --apply-profile on the fake NVIDIA driver${*:+ ($*)}"
printf '%-34s %6d\n' "exit status" "$status"
# strace names the i2c-dev requests or prints them as _IOC(_IOC_NONE, 0x7, NR, 0); both are read.
awk '
  function request(text) {
    if (text ~ /^I2C_FUNCS/ || text ~ /^0x705$/ || text ~ /0x7, 0x5, 0\)$/) return "I2C_FUNCS"
    if (text ~ /^I2C_SLAVE$/ || text ~ /^0x703$/ || text ~ /0x7, 0x3, 0\)$/) return "I2C_SLAVE"
    if (text ~ /^I2C_SMBUS/ || text ~ /^0x720$/ || text ~ /0x7, 0x20, 0\)$/) return "I2C_SMBUS"
    if (text ~ /^I2C_RDWR/ || text ~ /^0x707$/ || text ~ /0x7, 0x7, 0\)$/) return "I2C_RDWR"
    return "other"
  }
  {
    pid = $1
    line = $0
    sub(/^[0-9]+ +/, "", line)
    if (line ~ / <unfinished \.\.\.>$/) { sub(/ <unfinished \.\.\.>$/, "", line); pending[pid] = line; next }
    if (line ~ /^<\.\.\. [a-z0-9_]+ resumed>/) { sub(/^<\.\.\. [a-z0-9_]+ resumed>/, "", line); line = pending[pid] line; delete pending[pid] }
    result = line; sub(/.*\) += /, "", result); split(result, r, " ")
    if (line ~ /^openat\(.*"\/dev\/i2c-[0-9]+"/) {
      opens++
      if (r[1] + 0 >= 0 && r[1] != "?") adapter[r[1]] = 1; else failedOpens++
    } else if (line ~ /^openat\(.*"\/dev\/nvidia/) {
      nvidiaOpens++
    } else if (line ~ /^ioctl\(/) {
      args = line; sub(/^ioctl\(/, "", args); split(args, a, ", ")
      if (a[1] in adapter) {
        text = a[2]
        if (text ~ /^_IOC\(/) text = a[2] ", " a[3] ", " a[4] ", " a[5]
        ioctls++; by[request(text)]++
      }
    } else if (line ~ /^close\(/) {
      fd = line; sub(/^close\(/, "", fd); sub(/\).*/, "", fd)
      if (fd in adapter) { closes++; delete adapter[fd] }
    }
  }
  END {
    printf "%-34s %6d\n", "openat of /dev/i2c-*", opens
    printf "%-34s %6d\n", "  of them failed", failedOpens
    printf "%-34s %6d\n", "ioctl on those descriptors", ioctls
    split("I2C_FUNCS I2C_SLAVE I2C_SMBUS I2C_RDWR other", names, " ")
    for (i = 1; i <= 5; i++) printf "%-34s %6d\n", "  " names[i], by[names[i]]
    printf "%-34s %6d\n", "close of those descriptors", closes
    printf "%-34s %6d\n", "openat of /dev/nvidia*", nvidiaOpens
  }
' "$work/strace.log"
echo "program output:"
sed 's/^/  /' "$work/output.txt"
