#!/bin/sh
# One scenario's test result, read from the guest's console: its checks, then its verdict line
# "RADIOLAB <scenario> PASS|FAIL <seconds>s ...".
#   check-scenario.sh CONSOLE_LOG SCENARIO
here=$(dirname "$0")
console=$1 scenario=$2
[ -f "$console" ] || exec "$here/not-available.sh" "no console from the lab ($console): radio_lab did not run"
grep -E "^RADIOLAB-(CHECK|NOTE) $scenario " "$console"
verdict=$(grep -E "^RADIOLAB $scenario " "$console" | tail -n1)
if [ -z "$verdict" ]; then
  echo "radiolab: the guest never finished scenario $scenario; the console ends with:"
  tail -n 15 "$console"
  exit 1
fi
echo "$verdict"
case "$verdict" in "RADIOLAB $scenario PASS "*) exit 0 ;; *) exit 1 ;; esac
