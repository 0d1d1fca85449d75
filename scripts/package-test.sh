#!/usr/bin/env bash
# The Debian packages as a person gets them: builds them from a clean copy of the tree, runs
# lintian on them, installs them with apt on this machine, runs the installed programs,
# checks the shipped desktop entry, AppStream entry and manual pages, then purges them and
# checks that none of their files is left.
#
#   scripts/package-test.sh --work DIR
#
# DIR (under the build folder) holds the copy, the packages and the build log. The installed
# utility runs on the offscreen platform against the installed simulator, on a private block
# and registry file, until its Status page asks the service for the link, and is then closed.
# Whatever happens, the packages this run installed are purged and the processes it started
# stopped on the way out. Runs are serialised on this machine (apt installs for everybody).
#
# Exit status: 0 passed, 1 failed, 77 this machine cannot run it (not root and no sudo, or a
# tool is missing; with CI set that is a failure instead). It has no clock of its own: ctest's
# timeout is the limit, and every wait polls its condition.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=
while [ $# -gt 0 ]; do
  case "$1" in
    --work) work=$2; shift 2 ;;
    *) echo "package-test: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$work" ] || { echo "usage: package-test.sh --work DIR" >&2; exit 2; }

say() { echo "package-test: $*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }
cannot_run() {
  if [ -n "${CI:-}" ]; then
    fail "$1; CI is set, so this step may not be skipped"
  fi
  echo "package-test: SKIPPED: $1" >&2
  exit 77
}

packages=(wlan-utility wlan-cardsim)
# The real service's package joins the list once debian/control builds it.
grep -q '^Package: wlan-connectd$' "$root/debian/control" && packages+=(wlan-connectd)

for tool in git dpkg-buildpackage dh dh_auto_configure lintian desktop-file-validate appstreamcli man \
  scdoc systemd-analyze apt-get flock; do
  command -v "$tool" >/dev/null || cannot_run "$tool is missing (scripts/install-deps.sh test installs it)"
done
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  sudo=(sudo -n)
else
  cannot_run "installing packages needs root or sudo without a password"
fi

started=$(date +%s)
work=$(realpath -m "$work")
# The folder is emptied as root: only one this script made (its marker inside) or an empty
# or missing one, never a folder someone named by mistake.
if [ -e "$work" ] && [ ! -e "$work/.wlan-package-test" ] && [ -n "$(ls -A "$work" 2>/dev/null)" ]; then
  fail "$work is not empty and was not made by this test; name a new or empty folder with --work"
fi
rm -rf "$work"
mkdir -p "$work/tree"
: >"$work/.wlan-package-test"

# The copy holds what a clone would: the tracked files as they are now, and new files that
# are not ignored; none of the build folders.
tree=$work/tree/wlan-utility
mkdir -p "$tree"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf -) | tar -C "$tree" -xf -

# debhelper gives the build a HOME of its own, where ccache would find no cache; the
# machine's cache is named explicitly so a rebuild takes seconds.
if command -v ccache >/dev/null; then
  ccache_stats=$(ccache -sv 2>/dev/null || true)
  cache_dir=$(sed -n 's/^Cache directory: *//p' <<<"$ccache_stats")
  config_file=$(sed -n 's/^Config file: *//p' <<<"$ccache_stats")
  [ -n "$cache_dir" ] && export CCACHE_DIR=$cache_dir
  [ -n "$config_file" ] && [ -e "$config_file" ] && export CCACHE_CONFIGPATH=$config_file
fi

say "building the packages in $tree"
if ! (cd "$tree" && DEB_BUILD_OPTIONS="parallel=$(nproc)" nice dpkg-buildpackage -us -uc -b \
  >"$work/build.log" 2>&1); then
  tail -n 40 "$work/build.log" >&2
  fail "dpkg-buildpackage failed (the whole log: $work/build.log)"
fi
say "built in $(($(date +%s) - started)) s"
changes=$(ls "$work"/tree/wlan-utility_*.changes)
debs=()
for package in "${packages[@]}"; do
  debs+=("$(ls "$work"/tree/"${package}"_*.deb)")
done

say "lintian"
status=0
lintian --fail-on error,warning "$changes" >"$work/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (above)"

# apt works for the whole machine: one run at a time, and never over an installation that
# is not this run's own. The lock lives in /run, where only root creates files, so nobody can
# plant a link there for root to follow; it is opened without truncating, and waited for at
# most ten minutes.
lock=/run/wlan-package-test.lock
if [ ! -e "$lock" ]; then
  "${sudo[@]}" sh -c 'umask 022; set -C; : >"$1"' sh "$lock" 2>/dev/null || true
fi
[ -f "$lock" ] && [ ! -L "$lock" ] && [ "$(stat -c %u "$lock")" = 0 ] ||
  fail "$lock is not a plain file of root's; remove it as root and run again"
exec 9<"$lock"
if ! flock -n 9; then
  say "waiting for another package test on this machine (it holds $lock)"
  flock -w 600 9 || fail "another process has held $lock for ten minutes (see: fuser -v $lock)"
fi
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'installed$'; then
    fail "$package is installed on this machine already; this test installs and purges its own build and will not remove it"
  fi
done

apt_get() {
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=3600 -q -y "$@"
}

installed=no
pids=()
private=$(mktemp -d)
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
  if [ "$installed" = yes ]; then
    echo "package-test: purging ${packages[*]}" >&2
    apt_get purge "${packages[@]}" >/dev/null 2>&1 || true
  fi
  if [ -n "${block:-}" ]; then rm -f "/dev/shm$block"; fi
  rm -rf "$private"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "installing ${debs[*]##*/}"
installed=yes
apt_get install "${debs[@]}" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "apt-get install failed"; }

# Every file the packages list is on the system; the list is kept for after the purge.
listed=$work/listed-files
: >"$listed"
for package in "${packages[@]}"; do
  dpkg -L "$package" | while IFS= read -r path; do
    [ -e "$path" ] || fail "$package lists $path, which is not on the system"
    [ -d "$path" ] || echo "$path"
  done >>"$listed"
done
say "$(wc -l <"$listed") files installed"

# What the packages ship of a kind, one path a line; none at all is a failure.
shipped() { grep -E "$1" "$listed" || fail "the packages ship no file like $1"; }

# The user units as systemd reads them (their programs and manual pages are there), and
# shipped disabled: installing enables them for nobody.
mkdir -m 0700 "$private/verify"
units=$(shipped '^/usr/lib/systemd/user/.*\.service$')
for unit in $units; do
  XDG_RUNTIME_DIR="$private/verify" systemd-analyze --user verify "$unit" || fail "systemd-analyze verify $unit"
  for wants in /etc/systemd/user/*.wants; do
    [ ! -e "$wants/${unit##*/}" ] || fail "installing enabled ${unit##*/} ($wants)"
  done
  # A permanent error (a wrong command line 2, a block another service holds 4) would only
  # repeat itself every few seconds: a unit that restarts on failure stops there.
  if grep -q '^Restart=on-failure' "$unit"; then
    prevented=" $(sed -n 's/^RestartPreventExitStatus=//p' "$unit") "
    for code in 2 4; do
      [[ $prevented == *" $code "* ]] || fail "${unit##*/} restarts after exit status $code, a permanent error"
    done
  fi
done

say "the shipped desktop entry, AppStream entry and manual pages"
desktop_files=$(shipped '^/usr/share/applications/.*\.desktop$')
metainfo_files=$(shipped '^/usr/share/metainfo/.*\.metainfo\.xml$')
programs=$(shipped '^/usr/bin/')
pages=$(shipped '^/usr/share/man/man1/')
for file in $desktop_files; do
  desktop-file-validate "$file" || fail "desktop-file-validate $file"
done
# --no-net: the screenshots' web addresses are checked for their form only, since this
# machine may not reach the web.
for file in $metainfo_files; do
  appstreamcli validate --no-net "$file" || fail "appstreamcli validate $file"
done
# Every program has its page, found by name the way a person asks for it.
for program in $programs; do
  program=${program##*/}
  # (-a: a copy installed by hand under /usr/local may come first.)
  man -aw "$program" 2>/dev/null | grep -qx "/usr/share/man/man1/$program.1.gz" ||
    fail "man $program finds no page of the packages"
done
for page in $pages; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man --warnings $page: $warnings"
done

say "running the installed programs"
version=$(dpkg-query -W -f='${Version}' wlan-cardsim)
printed=$(/usr/bin/wlan-cardsim --version)
[ "$printed" = "wlan-cardsim $version" ] ||
  fail "wlan-cardsim --version prints \"$printed\", the package is version $version"
if [[ " ${packages[*]} " == *" wlan-connectd "* ]]; then
  /usr/bin/wlan-connectd --help | grep -q -- '--interface' || fail "wlan-connectd --help names no --interface"
  status=0
  /usr/bin/wlan-connectd --interface 'not/an/interface' 2>/dev/null || status=$?
  [ "$status" -eq 2 ] || fail "wlan-connectd exits $status for a wrong interface name, its unit stops restarting on 2"
fi

# A private block, registry file, home and runtime folder: nothing of this machine's own
# session is touched.
block=/wlan-package-test-$$
mkdir -m 0700 "$private/home" "$private/runtime"
run_env=(env HOME="$private/home" XDG_CONFIG_HOME="$private/home/.config" XDG_RUNTIME_DIR="$private/runtime"
  WLAN_CONNECT_BLOCK="$block" WLAN_REGISTRY_FILE="$private/registry.reg")

# Polls a condition every 100 ms while the process $1 lives.
wait_while_alive() {
  local pid=$1; shift
  until "$@"; do
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
}
block_shows() { "${run_env[@]}" /usr/bin/wlan-cardsim dump 2>/dev/null | grep -q "$1"; }

"${run_env[@]}" /usr/bin/wlan-cardsim >"$work/wlan-cardsim.log" 2>&1 &
cardsim_pid=$!
pids+=("$cardsim_pid")
# Any status word of a serving simulator: card in, card out, or an answer.
wait_while_alive "$cardsim_pid" block_shows 'status 0x\(01\|0F\|11\|12\) ' ||
  { cat "$work/wlan-cardsim.log" >&2; fail "the installed simulator did not serve"; }
# The simulator has written the driver's key before it answers; closing the utility by a
# signal must leave the file as it is.
registry_before=$(sha256sum <"$private/registry.reg")

"${run_env[@]}" QT_QPA_PLATFORM=offscreen /usr/bin/wlan-utility >"$work/wlan-utility.log" 2>&1 &
utility_pid=$!
pids+=("$utility_pid")
# Only the shown sheet's Status page posts the request for the link.
wait_while_alive "$utility_pid" block_shows 'command 0x11 CMD_LINK_INFO' ||
  { cat "$work/wlan-utility.log" >&2; fail "the installed utility ended before its Status page showed"; }
say "the utility's sheet is up (its Status page asks for the link); closing it"
kill -TERM "$utility_pid"
status=0
wait "$utility_pid" || status=$?
pids=("$cardsim_pid")
[ "$status" -eq 0 ] || { cat "$work/wlan-utility.log" >&2; fail "the utility closed by SIGTERM ended with status $status"; }
[ "$(sha256sum <"$private/registry.reg")" = "$registry_before" ] || fail "closing the utility changed the registry file"
kill -TERM "$cardsim_pid"
status=0
wait "$cardsim_pid" || status=$?
pids=()
[ "$status" -eq 0 ] || { cat "$work/wlan-cardsim.log" >&2; fail "the simulator stopped by SIGTERM ended with status $status"; }

say "purging ${packages[*]}"
apt_get purge "${packages[@]}" >"$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "apt-get purge failed"; }
installed=no
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'installed$\|config-files$'; then
    fail "$package is still known to dpkg after the purge"
  fi
done
left=$(while IFS= read -r path; do [ -e "$path" ] && echo "$path"; done <"$listed" || true)
[ -z "$left" ] || fail "left behind after the purge: $left"

say "passed in $(($(date +%s) - started)) s"
