#!/bin/sh
# NetworkManager in the radio lab's guest, started as a system without systemd does it: run
# by guest-lab.sh in a guest booted with radiolab_backend=networkmanager, whose /usr carries
# NetworkManager's unpacked files (guest-init.sh). It gives each access point a DHCP server
# (the service's profile asks for an address, as on a real network), starts a system bus by
# hand, which starts NetworkManager's supplicant when asked, and NetworkManager with the lab's
# configuration, and returns once NetworkManager manages the station radio wlan0.
#
#   guest-networkmanager.sh OUTDIR      logs go to OUTDIR; NetworkManager's pid to
#                                       /run/NetworkManager.pid
here=$(dirname "$0")
out=${1:-/tmp}
fail() { echo "RADIOLAB-SETUP-FAILED $*"; exit 1; }

# One subnet per access point radio: 192.168.7N.0/24 on wlanN.
n=1
for ifname in wlan1 wlan2 wlan3; do
  ip addr add "192.168.7$n.1/24" dev "$ifname" || fail "cannot give $ifname an address"
  cat > "/run/udhcpd-$ifname.conf" <<CONF
start 192.168.7$n.10
end 192.168.7$n.50
interface $ifname
lease_file /run/udhcpd-$ifname.leases
pidfile /run/udhcpd-$ifname.pid
opt subnet 255.255.255.0
CONF
  touch "/run/udhcpd-$ifname.leases"
  busybox udhcpd "/run/udhcpd-$ifname.conf" || fail "udhcpd on $ifname did not start"
  n=$((n + 1))
done

# Its state folder on tmpfs (the host's root is read-only); a system bus; /sys read-only, so
# that NetworkManager takes the devices as they are instead of waiting for udev, which cannot
# run in a chroot.
mount -t tmpfs nm-state /var/lib/NetworkManager || fail "no tmpfs for NetworkManager's state"
mkdir -p /run/dbus
dbus-daemon --system --fork || fail "the system bus did not start"
mount -o remount,ro /sys || fail "cannot make /sys read-only"
NetworkManager --debug --config="$here/networkmanager.conf" --state-file=/run/NetworkManager.state \
  > "$out/networkmanager.log" 2>&1 &
echo $! > /run/NetworkManager.pid

tries=0
until nmcli -t -f DEVICE,STATE device 2>/dev/null | grep -q '^wlan0:disconnected$'; do
  tries=$((tries + 1)); [ $tries -gt 300 ] && fail "NetworkManager never managed wlan0 (see networkmanager.log)"
  sleep 0.2
done
