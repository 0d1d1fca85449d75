#!/bin/busybox sh
# The radio lab guest's first process. It loads the 802.11 stack with simulated radios, mounts
# the host's root read-only over 9p (tag "hostroot") and the lab's output folder writable (tag
# "labout"), and runs the lab script from the host's tree inside that root, so the guest runs
# the very programs installed and built on the host. The kernel passes these from its command
# line: radiolab_script (the script to run), radiolab_out (the output folder's host path),
# radiolab_radios (how many radios, default 5), radiolab_backend (networkmanager for a guest
# that runs NetworkManager), and whatever else radiolab_* the script reads. The console is the
# lab's report; the last line is RADIOLAB-GUEST-END, then the guest powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

finish() {
  echo "RADIOLAB-GUEST-END $1"
  sync
  poweroff -f
}

while read -r module; do
  params=
  [ "$module" = mac80211_hwsim ] && params="radios=${radiolab_radios:-5}"
  insmod "/modules/$module.ko" $params || finish "insmod $module failed"
done < /modules/order

mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host \
  || finish "the host's root is not shared (9p tag hostroot)"
# The host's root once more, outside the chroot: the guest's own /tmp and /run below cover
# the host's, and a lab checked out or built there is shown again from here.
mkdir -p /hostroot
mount -o bind /host /hostroot || finish "cannot bind the host's root"
# A guest for the NetworkManager backend sees NetworkManager's files, unpacked into the image
# under /nm, at their installed places: read-only layers over the shared /usr and /var/lib.
if [ "$radiolab_backend" = networkmanager ]; then
  mount -t overlay -o ro,lowerdir=/nm/usr:/host/usr nm-usr /host/usr \
    && mount -t overlay -o ro,lowerdir=/nm/var/lib:/host/var/lib nm-var /host/var/lib \
    || finish "NetworkManager's files cannot be laid over the host's root (overlay)"
fi
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t debugfs debugfs /host/sys/kernel/debug 2>/dev/null
mount -t devtmpfs dev /host/dev
mkdir -p /host/dev/shm /host/dev/pts
mount -t tmpfs shm /host/dev/shm
mount -t devpts devpts /host/dev/pts
mount -t tmpfs tmp /host/tmp
mount -t tmpfs run /host/run

# Shows the host's entry of /tmp or /run that holds a path the lab uses (the checkout, the
# programs) at its own place again, read-only like the rest of the host.
show_host_path() {
  case "$1" in
    /tmp/?*|/run/?*) ;;
    *) return 0 ;;
  esac
  top=$(echo "$1" | cut -d/ -f1-3)
  case " $shown " in *" $top "*) return 0 ;; esac
  shown="$shown $top"
  if [ -d "/hostroot$top" ]; then mkdir -p "/host$top"; else touch "/host$top"; fi
  mount -o bind "/hostroot$top" "/host$top" || finish "cannot show the host's $top"
}
shown=
for path in "$radiolab_script" "$radiolab_driver" "$radiolab_connectd" "$radiolab_utility" "$radiolab_nl80211" \
  "$radiolab_out"; do
  show_host_path "$path"
done
# Last, so that nothing mounted above covers it.
if [ -n "$radiolab_out" ]; then
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 labout "/host$radiolab_out" \
    || finish "the output folder is not shared (9p tag labout)"
fi
ip link set lo up 2>/dev/null

[ -n "$radiolab_script" ] || finish "no radiolab_script on the kernel command line"
# The kernel's leftover parameters (radiolab_*) are in the environment and pass on.
PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp TMPDIR=/tmp chroot /host /bin/sh "$radiolab_script" 2>&1
finish "status $?"
