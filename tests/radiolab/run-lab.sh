#!/usr/bin/env bash
# Runs the radio lab: builds the guest image when an input changed (build-guest.sh), boots it
# with QEMU in software emulation and leaves the guest's console in OUTDIR/console.log, one
# "RADIOLAB <scenario> PASS|FAIL <seconds>s ..." line per scenario, which the tests read.
#
#   run-lab.sh --work DIR --driver PATH [--connectd PATH] [--utility PATH] [--nl80211 PATH]
#              [--scenarios a,b]
#
# DIR holds the cached image (DIR/image) and this run's output (DIR/out). Exit status: 0 the
# guest ran the driver to its end (whatever the scenarios' verdicts), 1 it did not (or, under CI, this
# machine cannot run the lab), 3 this machine cannot run the lab (no QEMU, no kernel package;
# the message says which).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work= driver= connectd= utility= nl80211= scenarios=
while [ $# -gt 0 ]; do
  case "$1" in
    --work) work=$2; shift 2 ;;
    --driver) driver=$2; shift 2 ;;
    --connectd) connectd=$2; shift 2 ;;
    --utility) utility=$2; shift 2 ;;
    --nl80211) nl80211=$2; shift 2 ;;
    --scenarios) scenarios=$2; shift 2 ;;
    *) echo "run-lab: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$work" ] && [ -n "$driver" ] || { echo "usage: run-lab.sh --work DIR --driver PATH [--connectd PATH] [--scenarios LIST]" >&2; exit 2; }
out=$(realpath -m "$work/out")
# No console of an earlier run may stand in for this one.
rm -rf "$out"

for tool in qemu-system-x86_64 wpa_supplicant hostapd hostapd_cli iw apt-get dpkg-deb; do
  PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null \
    || exec "$here/not-available.sh" "$tool is missing (scripts/install-deps.sh test)"
done

started=$(date +%s)
status=0
"$here/build-guest.sh" "$work/image" || status=$?
[ $status -eq 3 ] && exec "$here/not-available.sh" "the guest image cannot be built on this machine"
[ $status -eq 0 ] || exit 1
mkdir -p "$out"
echo "radiolab: image ready after $(( $(date +%s) - started )) s; booting"

# The guest finds everything by absolute host path through the read-only share of /.
append="console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off radiolab_script=$here/guest-lab.sh"
append+=" radiolab_out=$out radiolab_driver=$(realpath "$driver")"
[ -n "$connectd" ] && append+=" radiolab_connectd=$(realpath "$connectd")"
[ -n "$utility" ] && append+=" radiolab_utility=$(realpath "$utility")"
[ -n "$nl80211" ] && append+=" radiolab_nl80211=$(realpath "$nl80211")"
[ -n "$scenarios" ] && append+=" radiolab_scenarios=$scenarios"

# One emulated processor: the machine is shared. The console goes to the log and, line by
# line, to our output, so a person watching ctest -V sees the lab advance.
qemu-system-x86_64 -machine q35 -m 512 -smp 1 -nodefaults -no-user-config -display none \
  -no-reboot -serial stdio -kernel "$work/image/vmlinuz" -initrd "$work/image/initrd" -append "$append" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$out",mount_tag=labout,security_model=none,multidevs=remap \
  </dev/null 2>&1 | sed -u 's/\r$//' | tee "$out/console.log"

echo "radiolab: guest done after $(( $(date +%s) - started )) s"
grep -E '^RADIOLAB [a-z_]+ ' "$out/console.log" || true
# The lab ran when the driver came to its end; each scenario's verdict is a test of its own.
grep -q '^RADIOLAB-DRIVER-END' "$out/console.log"
