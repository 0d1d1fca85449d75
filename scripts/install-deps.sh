#!/usr/bin/env bash
# Installs, from Debian's packages, what the project needs. Only missing packages are installed.
# This is the one place the list lives.
#
#   scripts/install-deps.sh run     what building and running the utility and the simulator need
#   scripts/install-deps.sh test    all of that, and what the tests, the fuzz targets and the
#                                   benchmarks need (the default)
set -euo pipefail
profile=${1:-test}

run_packages=(
  # toolchain and build
  g++ cmake ninja-build ccache pkg-config
  # the manual pages are made from their scdoc sources in every build
  scdoc
  # the user-interface toolkit and a real font for it
  qt6-base-dev fonts-dejavu-core
  # libraries the code and the services use
  libunistring-dev libcli11-dev nlohmann-json3-dev
  # the real connection service's kernel side: nl80211 over generic netlink, link events
  libnl-genl-3-dev libnl-route-3-dev
  # the real connection service's NetworkManager backend: NetworkManager's own client library
  libnm-dev
  # the build folder is configured with its tests and benchmarks, which the run command shares
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  # a display for runs without one, and screenshots
  xvfb xauth imagemagick x11-utils
)

test_packages=(
  # clang and its runtime for the fuzz targets
  clang libclang-rt-14-dev
  # the accessibility test: a session bus, the accessibility bus, Debian's AT-SPI bindings for
  # the system's Python, and real mouse clicks
  dbus at-spi2-core python3-pyatspi xdotool
  # the radio lab: a guest in software emulation whose kernel (fetched with apt-get download)
  # simulates radios, busybox as its first userland, the regulatory database it loads, and
  # the real supplicant, access point and nl80211 tool the guest runs from this machine
  # (NetworkManager for the lab's second guest is never installed here: the lab's build
  # fetches its packages with apt-get download and unpacks them into the guest's image)
  qemu-system-x86 busybox-static wireless-regdb wpasupplicant hostapd iw
  # network namespaces and veth pairs for the real service's tests on this machine
  iproute2
  # the Debian packages: their build (debhelper), lintian, and the validators of the desktop
  # entry, the AppStream entry, the manual pages and the user units that the package test
  # runs on them
  debhelper lintian desktop-file-utils appstream man-db systemd
)

case "$profile" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "install-deps: usage: $0 [run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: not root and no sudo; please install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}"
