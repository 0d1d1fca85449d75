#!/usr/bin/env bash
# Builds the radio lab's guest: Debian's own kernel and an initramfs holding busybox, the
# kernel modules of the 802.11 stack (mac80211_hwsim) and of the 9p share, and the regulatory
# database. Everything else the guest runs (wpa_supplicant, hostapd, iw, the project's
# programs) comes from this machine's root over a read-only 9p share, so the image only
# changes when one of its Debian packages or guest-init.sh changes.
#
# NetworkManager is the one exception: it must never be installed on this machine (installing
# it may start it and take over the machine's network), so its package and those of its
# libraries this machine lacks are fetched with apt-get download and unpacked into the image
# under /nm, as the kernel is; the guest lays that tree over the shared /usr (guest-init.sh).
#
#   build-guest.sh OUTDIR      leaves OUTDIR/vmlinuz and OUTDIR/initrd; prints what it did
#
# Exit status: 0 built or up to date, 3 a package or tool is missing (the message says which).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: build-guest.sh OUTDIR}
mkdir -p "$out"

missing() { echo "radiolab: cannot build the guest: $*" >&2; exit 3; }

installed_version() {
  dpkg-query -W -f='${Status} ${Version}' "$1" 2>/dev/null | sed -n 's/^install ok installed //p'
}

# The kernel is the one Debian's metapackage names today, fetched, never installed.
kernel_pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n1)
[ -n "$kernel_pkg" ] || missing "apt-cache does not know linux-image-amd64 (run apt-get update)"
kernel_ver=$(apt-cache show "$kernel_pkg" 2>/dev/null | sed -n 's/^Version: //p' | head -n1)
busybox_ver=$(installed_version busybox-static)
regdb_ver=$(installed_version wireless-regdb)
[ -n "$busybox_ver" ] || missing "busybox-static is not installed (scripts/install-deps.sh test)"
[ -n "$regdb_ver" ] || missing "wireless-regdb is not installed (scripts/install-deps.sh test)"

# NetworkManager (the version apt-get would install) and the libraries it needs that this
# machine does not have: what installing it would add, asked of apt-get without installing
# anything (-s). Upgrades of installed packages and programs such as udev are left out: the
# guest runs this machine's own.
nm_ver=$(apt-cache policy network-manager 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v '^(none)$' || true)
[ -n "$nm_ver" ] || missing "apt-cache does not know network-manager (run apt-get update)"
nm_key="network-manager=$nm_ver $(apt-get install -s -q --no-install-recommends network-manager 2>/dev/null \
  | sed -n 's/^Inst \(lib[^ ]*\) (\([^ ]*\) .*/\1=\2/p' | LC_ALL=C sort | tr '\n' ' ')"

key="kernel=$kernel_pkg $kernel_ver nm=${nm_key% } busybox=$busybox_ver regdb=$regdb_ver init=$(sha256sum < "$here/guest-init.sh" | cut -c1-16) builder=$(sha256sum < "$0" | cut -c1-16)"
if [ -f "$out/image.key" ] && [ "$(cat "$out/image.key")" = "$key" ] && [ -s "$out/vmlinuz" ] && [ -s "$out/initrd" ]; then
  echo "radiolab: guest image up to date ($kernel_pkg $kernel_ver)"
  exit 0
fi
echo "radiolab: building the guest image ($key)"

work=$(mktemp -d "$out/build.XXXXXX")
trap 'rm -rf "$work"' EXIT

deb=("$out"/debs/"${kernel_pkg}"_*.deb)
if [ ! -f "${deb[0]}" ] || [ "$(dpkg-deb -f "${deb[0]}" Version)" != "$kernel_ver" ]; then
  rm -rf "$out/debs"; mkdir -p "$out/debs"
  # Run as root, apt-get would hand the download to its unprivileged user, who cannot write
  # into a build folder.
  (cd "$out/debs" && apt-get download -q -o APT::Sandbox::User="$(id -un)" "$kernel_pkg=$kernel_ver") \
    || missing "apt-get download $kernel_pkg failed"
  deb=("$out"/debs/"${kernel_pkg}"_*.deb)
fi
dpkg-deb -x "${deb[0]}" "$work/kernel"
moddir=$(echo "$work"/kernel/lib/modules/*)
release=$(basename "$moddir")

root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,host,modules,lib/firmware}
cp /bin/busybox "$root/bin/busybox"
cp /lib/firmware/regulatory.db-debian "$root/lib/firmware/regulatory.db"
cp /lib/firmware/regulatory.db.p7s-debian "$root/lib/firmware/regulatory.db.p7s"

# The modules the guest loads, each after the modules it depends on (read from the module's
# own "depends=" record), listed in load order in /modules/order.
declare -A seen=()
add_module() {
  local name=$1 file dep
  [ -n "${seen[$name]:-}" ] && return 0
  seen[$name]=1
  file=$(find "$moddir/kernel" -name "$name.ko" -print -quit)
  [ -n "$file" ] || missing "module $name is not in $kernel_pkg"
  for dep in $(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | tr ',' ' '); do
    add_module "$dep"
  done
  cp "$file" "$root/modules/"
  echo "$name" >> "$root/modules/order"
}
for m in virtio_pci 9pnet_virtio 9p overlay mac80211_hwsim; do add_module "$m"; done

# NetworkManager's packages, each fetched again only when its version changed, unpacked to
# /nm in the image: only what runs (no translations, manual pages or documentation), and an
# empty state folder for the guest to mount its tmpfs on.
mkdir -p "$out/debs-nm"
for entry in $nm_key; do
  p=${entry%%=*} v=${entry#*=}
  have=("$out/debs-nm/${p}"_*.deb)
  if [ ! -f "${have[0]}" ] || [ "$(dpkg-deb -f "${have[0]}" Version)" != "$v" ]; then
    rm -f "$out/debs-nm/${p}"_*.deb
    (cd "$out/debs-nm" && apt-get download -q -o APT::Sandbox::User="$(id -un)" "$p=$v") \
      || missing "apt-get download $p failed"
    have=("$out/debs-nm/${p}"_*.deb)
  fi
  dpkg-deb -x "${have[0]}" "$work/nm"
done
mkdir -p "$root/nm/var/lib/NetworkManager"
cp -a "$work/nm/usr" "$root/nm/usr"
rm -rf "$root"/nm/usr/share/{locale,man,doc}

cp "$here/guest-init.sh" "$root/init"
chmod 755 "$root/init" "$root/bin/busybox"
cp "$moddir/../../../boot/vmlinuz-$release" "$work/vmlinuz"
# An uncompressed archive: the emulated processor unpacks it faster than it inflates one.
(cd "$root" && find . | LC_ALL=C sort | /bin/busybox cpio -o -H newc 2>/dev/null) > "$work/initrd"

mv "$work/vmlinuz" "$out/vmlinuz"
mv "$work/initrd" "$out/initrd"
echo "$key" > "$out/image.key"
echo "radiolab: guest image built: $(du -h "$out/initrd" | cut -f1) initramfs, kernel $release"
