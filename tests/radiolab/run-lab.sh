#!/usr/bin/env bash
# Runs the radio lab: builds the guest image when an input changed (build-guest.sh), boots it
# with QEMU in software emulation and leaves the guest's console in OUTDIR/console.log, one
# "RADIOLAB <scenario> PASS|FAIL <seconds>s ..." line per scenario, which the tests read.
# The nm_ scenarios run at the same time in two more guests, which run NetworkManager; their
# output folders are OUTDIR/networkmanager/1 and 2, and their consoles are put together in
# OUTDIR/networkmanager/console.log.
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
# The nm_ scenarios run under NetworkManager, with the service, in two guests at once: a join
# through NetworkManager waits for a scan, so they are slower than the supplicant's, but they
# mostly wait, so a third emulated processor costs the machine little.
nm_groups=(nm_join,nm_wrong_key,nm_peer,nm_power,nm_domains nm_utility,nm_card,nm_coexist,nm_auto)
# The scenarios of a group that were asked for ("" for none: no guest).
pick() {
  local group=$1 name picked=
  [ -z "$scenarios" ] && { echo "$group"; return; }
  for name in ${scenarios//,/ }; do
    case ",$group," in *",$name,"*) picked+=${picked:+,}$name ;; esac
  done
  echo "$picked"
}
plain=$(for name in ${scenarios//,/ }; do case $name in nm_*) ;; *) echo "$name" ;; esac; done | paste -sd,)
[ -z "$scenarios" ] && plain=all
out=$(realpath -m "$work/out")
# No console of an earlier run may stand in for this one.
rm -rf "$out"

for tool in qemu-system-x86_64 wpa_supplicant hostapd hostapd_cli iw apt-get dpkg-deb dbus-daemon; do
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
common="console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off radiolab_script=$here/guest-lab.sh"
common+=" radiolab_driver=$(realpath "$driver")"
[ -n "$connectd" ] && common+=" radiolab_connectd=$(realpath "$connectd")"
[ -n "$utility" ] && common+=" radiolab_utility=$(realpath "$utility")"
[ -n "$nl80211" ] && common+=" radiolab_nl80211=$(realpath "$nl80211")"

# One emulated processor per guest: the machine is shared. The console goes to the guest's
# log and, line by line, to our output (a NetworkManager guest's marked "nmN|"), so a person
# watching ctest -V sees the lab advance.
boot() {
  local dir=$1 picked=$2 append=$3
  mkdir -p "$dir"
  [ "$picked" = all ] || append+=" radiolab_scenarios=$picked"
  qemu-system-x86_64 -machine q35 -m 512 -smp 1 -nodefaults -no-user-config -display none \
    -no-reboot -serial stdio -kernel "$work/image/vmlinuz" -initrd "$work/image/initrd" \
    -append "$common radiolab_out=$dir $append" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$dir",mount_tag=labout,security_model=none,multidevs=remap \
    </dev/null 2>&1 | sed -u 's/\r$//' | tee "$dir/console.log"
}
guests=()
if [ -n "$connectd" ]; then
  for i in "${!nm_groups[@]}"; do
    picked=$(pick "${nm_groups[$i]}")
    [ -n "$picked" ] || continue
    dir=$out/networkmanager/$((i + 1))
    { boot "$dir" "$picked" radiolab_backend=networkmanager | sed -u "s/^/nm$((i + 1))| /"
      echo "radiolab: NetworkManager guest $((i + 1)) done after $(( $(date +%s) - started )) s"; } &
    guests+=("$dir")
  done
fi
if [ -n "$plain" ]; then
  { boot "$out" "$plain" ""; echo "radiolab: the supplicant guest done after $(( $(date +%s) - started )) s"; } &
  guests+=("$out")
fi
wait
# The scenario tests read one console per backend.
if [ -d "$out/networkmanager" ]; then
  cat "$out"/networkmanager/*/console.log > "$out/networkmanager/console.log"
fi

ended=0
for dir in "${guests[@]}"; do
  grep -E '^RADIOLAB [a-z_]+ ' "$dir/console.log" || true
  # The lab ran when each driver came to its end; each scenario's verdict is a test of its own.
  grep -q '^RADIOLAB-DRIVER-END' "$dir/console.log" || ended=1
done
exit $ended
