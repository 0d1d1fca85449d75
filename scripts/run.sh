#!/usr/bin/env bash
# Installs what is missing, builds, and runs the utility against the simulated card service.
#
#   scripts/run.sh                 with a display: the utility's window, until you close it
#   scripts/run.sh --screenshot    without one (or when asked): both under Xvfb; waits for a
#                                  live link on the Status page, saves a screenshot, prints its
#                                  path and closes the utility
#
# The simulator serves the real block (/connect01, or $WLAN_CONNECT_BLOCK) with its demo
# networks and stops when the utility ends. Its log goes to build/wlan-cardsim.log.
# WLAN_BUILD_DIR picks another build folder (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${WLAN_BUILD_DIR:-build}
screenshot_mode=no
[ "${1:-}" = "--screenshot" ] && screenshot_mode=yes
[ -z "${DISPLAY:-}" ] && screenshot_mode=yes

say() { echo "run.sh: $*" >&2; }

scripts/install-deps.sh run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
jobs=$(nproc)
[ "$jobs" -gt 2 ] || jobs=2

cardsim=$build/services/cardsim/wlan-cardsim
utility=$build/src/app/wlan-utility
cmake --build "$build" -j"$jobs" --target wlan-cardsim
if ! cmake --build "$build" -j"$jobs" --target wlan-utility || [ ! -x "$utility" ]; then
  say "the utility ($utility) could not be built: see the errors above."
  say "the simulator alone runs as $cardsim (try: $cardsim --help)."
  exit 1
fi

# Everything started below is stopped on the way out, in reverse order.
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Polls a condition every 100 ms, for at most $1 seconds.
wait_for() {
  local seconds=$1; shift
  local tries=$((seconds * 10))
  while ! "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

block_shows() { "$cardsim" dump 2>/dev/null | grep -q "$1"; }
service_running() { block_shows 'status 0x\(01\|0F\|11\|12\) '; }
live_link() {
  local dump
  dump=$("$cardsim" dump 2>/dev/null) || return 1
  grep -q 'status 0x11 STAT_LINK_INFO' <<<"$dump" &&
    grep 'as link info' <<<"$dump" | grep -q -v 'not associated\|BSSID 00:00:00:00:00:00'
}

log=$build/wlan-cardsim.log
"$cardsim" -v >"$log" 2>&1 &
cardsim_pid=$!
pids+=("$cardsim_pid")
# The service has read (or installed) the driver's registry key before it first writes the
# status word, so the utility starts only then and loads the same settings.
if ! wait_for 10 service_running; then
  say "the simulator did not start; its log ($log):"
  cat "$log" >&2
  exit 1
fi
say "wlan-cardsim is serving (pid $cardsim_pid, log $log)"

# Qt wants a private runtime folder; a session without one (a root shell on a server) gets a
# temporary one for the utility alone, so the simulator's control socket stays where `ctl`
# from another shell looks for it.
utility_env=()
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  runtime=$(mktemp -d)
  chmod 0700 "$runtime"
  utility_env=(env "XDG_RUNTIME_DIR=$runtime")
  trap 'cleanup; rm -rf "$runtime"' EXIT
fi

if [ "$screenshot_mode" = no ]; then
  "${utility_env[@]}" "$utility"
  exit 0
fi

# No display: a private X server. -displayfd lets it choose a free display number.
display_file=$(mktemp)
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$display_file" 2>/dev/null &
pids+=("$!")
if ! wait_for 10 test -s "$display_file"; then
  say "Xvfb did not start"
  exit 1
fi
export DISPLAY=":$(head -n1 "$display_file")"
rm -f "$display_file"
say "running under Xvfb on $DISPLAY"

QT_QPA_PLATFORM=xcb "${utility_env[@]}" "$utility" &
utility_pid=$!
pids+=("$utility_pid")

# The Status page asks for link information as soon as it is shown; once the service
# answers with a BSSID, one more 500 ms tick of the page puts it on the screen.
if ! wait_for 30 live_link; then
  say "no live link appeared in the block within 30 s; the block now:"
  "$cardsim" dump >&2 || true
  exit 1
fi
sleep 1.5
if ! kill -0 "$utility_pid" 2>/dev/null; then
  say "the utility ended before the screenshot"
  exit 1
fi
shot=$PWD/$build/wlan-utility-screenshot.png
import -window root "$shot"
echo "$shot"
