#!/bin/sh
# The radio lab inside the guest, run by guest-init.sh in the host's root: gives the access
# point radios the demo networks' addresses, starts hostapd for CafeNet, Harbour and
# Lighthouse, wpa_supplicant with nl80211 on the station radio wlan0 (or, in a guest for the
# NetworkManager backend, NetworkManager: guest-networkmanager.sh), then the scenario driver,
# whose report lines (RADIOLAB ...) go to the console. The peer-to-peer cell Workbench on wlan4
# is started and left by the driver, since the station must first be alone in its cell.
#
# From the kernel command line: radiolab_driver (the driver), radiolab_connectd (the service,
# may be empty), radiolab_utility (wlan-utility, may be empty), radiolab_nl80211 (the netlink
# test, may be empty), radiolab_out (a writable folder shared with the host),
# radiolab_scenarios (comma-separated names, empty for all), radiolab_backend (networkmanager,
# or empty for the supplicant alone).
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
if [ "$radiolab_backend" = networkmanager ]; then
  "$here/guest-networkmanager.sh" "$out" || exit 1
  echo "RADIOLAB-STAGE access points and NetworkManager up $(cut -d' ' -f1 /proc/uptime)s"
else
  mkdir -p /run/wpa_supplicant
  wpa_supplicant -B -Dnl80211 -iwlan0 -C /run/wpa_supplicant -P /run/wpa_supplicant.pid \
    -f "$out/wpa_supplicant.log" || fail "wpa_supplicant did not start"
  echo "RADIOLAB-STAGE access points and supplicant up $(cut -d' ' -f1 /proc/uptime)s"
fi

# Scenario wireless_stack: the netlink test's Nl80211 cases on a kernel with an 802.11 stack,
# which a host without one can only skip; here a skip is a failure.
case ",$radiolab_scenarios," in
  ,,|*,wireless_stack,*)
    if [ -n "$radiolab_nl80211" ] && [ "$radiolab_backend" != networkmanager ]; then
      begun=$(cut -d' ' -f1 /proc/uptime)
      verdict=PASS
      "$radiolab_nl80211" --gtest_filter='Nl80211.*' > "$out/nl80211.log" 2>&1 || verdict=FAIL
      grep -q '^\[  SKIPPED \]' "$out/nl80211.log" && verdict=FAIL
      grep -E '^\[ +(OK|FAILED|SKIPPED) +\] Nl80211[.][A-Za-z0-9_]* [(]' "$out/nl80211.log" | sed 's/^/RADIOLAB-CHECK wireless_stack /'
      echo "RADIOLAB wireless_stack $verdict $(awk -v a="$begun" '{ printf "%.1f", $1 - a }' /proc/uptime)s"
    fi ;;
esac

[ -x "$radiolab_driver" ] || fail "no scenario driver at '$radiolab_driver'"
set -- --ctrl-dir /run/wpa_supplicant --hostapd-dir /run/hostapd --out "$out"
[ -n "$radiolab_connectd" ] && set -- "$@" --connectd "$radiolab_connectd"
[ -n "$radiolab_utility" ] && set -- "$@" --utility "$radiolab_utility"
[ -n "$radiolab_scenarios" ] && set -- "$@" --scenarios "$radiolab_scenarios"
[ -n "$radiolab_backend" ] && set -- "$@" --backend "$radiolab_backend"
"$radiolab_driver" "$@"
status=$?
echo "RADIOLAB-STAGE driver done $(cut -d' ' -f1 /proc/uptime)s"
exit $status
