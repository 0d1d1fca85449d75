#!/bin/sh
# The radio lab inside the guest, run by guest-init.sh in the host's root: gives the access
# point radios the demo networks' addresses, starts hostapd for CafeNet, Harbour and
# Lighthouse, wpa_supplicant with nl80211 on the station radio wlan0, then the scenario driver,
# whose report lines (RADIOLAB ...) go to the console. The peer-to-peer cell Workbench on wlan4
# is started and left by the driver, since the station must first be alone in its cell.
#
# From the kernel command line: radiolab_driver (the driver), radiolab_connectd (the service,
# may be empty), radiolab_utility (wlan-utility, may be empty), radiolab_out (a writable folder
# shared with the host), radiolab_scenarios (comma-separated names, empty for all).
here=$(dirname "$0")
out=${radiolab_out:-/tmp}
echo "RADIOLAB-STAGE guest up $(cut -d' ' -f1 /proc/uptime)s"

fail() { echo "RADIOLAB-SETUP-FAILED $*"; exit 1; }

bring_up_ap() {
  local ifname=$1 bssid=$2 conf=$3
  ip link set "$ifname" down
  ip link set "$ifname" address "$bssid" || fail "cannot set $ifname's address to $bssid"
  hostapd -B -P "/run/hostapd-$ifname.pid" -f "$out/hostapd-$ifname.log" "$here/$conf" \
    || fail "hostapd for $conf did not start"
}
bring_up_ap wlan1 02:43:4e:00:00:01 ap-cafenet.conf
bring_up_ap wlan2 02:48:42:00:00:02 ap-harbour.conf
bring_up_ap wlan3 02:4c:48:00:00:04 ap-lighthouse.conf
for ifname in wlan1 wlan2 wlan3; do
  tries=0
  until hostapd_cli -p /run/hostapd -i "$ifname" status 2>/dev/null | grep -q '^state=ENABLED'; do
    tries=$((tries + 1)); [ $tries -gt 300 ] && fail "hostapd on $ifname never enabled"
    sleep 0.1
  done
done
mkdir -p /run/wpa_supplicant
wpa_supplicant -B -Dnl80211 -iwlan0 -C /run/wpa_supplicant -P /run/wpa_supplicant.pid \
  -f "$out/wpa_supplicant.log" || fail "wpa_supplicant did not start"
echo "RADIOLAB-STAGE access points and supplicant up $(cut -d' ' -f1 /proc/uptime)s"

[ -x "$radiolab_driver" ] || fail "no scenario driver at '$radiolab_driver'"
set -- --ctrl-dir /run/wpa_supplicant --hostapd-dir /run/hostapd --out "$out"
[ -n "$radiolab_connectd" ] && set -- "$@" --connectd "$radiolab_connectd"
[ -n "$radiolab_utility" ] && set -- "$@" --utility "$radiolab_utility"
[ -n "$radiolab_scenarios" ] && set -- "$@" --scenarios "$radiolab_scenarios"
"$radiolab_driver" "$@"
status=$?
echo "RADIOLAB-STAGE driver done $(cut -d' ' -f1 /proc/uptime)s"
exit $status
