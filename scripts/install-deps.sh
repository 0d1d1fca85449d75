#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests, the benchmarks and the
# run command need. Only missing packages are installed. This is the one place the list lives.
set -euo pipefail

packages=(
  # toolchain and build
  g++ cmake ninja-build ccache pkg-config
  # clang and its runtime for the fuzz targets
  clang libclang-rt-14-dev
  # the user-interface toolkit and a real font for it
  qt6-base-dev fonts-dejavu-core
  # libraries the code and the simulator use
  libunistring-dev libcli11-dev nlohmann-json3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  # a display for end-to-end runs and screenshots
  xvfb xauth imagemagick x11-utils
)

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
