#!/usr/bin/env bash
# Alerts in a flood: the window follows a file while 10,000 lines a second that an alerting rule
# keeps are appended for SECONDS seconds, under Xvfb and openbox, its bar docked auto-hidden at
# the right edge, with a private session bus and a real notification server (dunst). Counts the
# Notify calls on the bus (dbus-monitor) and the window's resident memory before and after, beside
# the same flood with the same rules not alerting (the lines held cost the same in both).
#
# Run: bench/alert-flood.sh [BUILD=build/release] [SECONDS=20]
# Needs: xvfb openbox dbus-daemon dbus-bin dunst python3 (apt-get install ...).
set -euo pipefail
build=$(realpath "${1:-build/release}")
seconds=${2:-20}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
display=:$((70 + RANDOM % 20))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=$display
until xdpyinfo >/dev/null 2>&1; do sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=($!)
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 |
  { read -r address; read -r pid; echo "export DBUS_SESSION_BUS_ADDRESS=$address; pids+=($pid)"; })"
dunst >/dev/null 2>&1 & pids+=($!)
until dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
  org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
  grep -q true; do sleep 0.1; done
dbus-monitor "interface='org.freedesktop.Notifications',member='Notify'" > "$work/monitor" & pids+=($!)

mkdir -p "$work/settings/Ornavel"
python3 - "$work/settings/Ornavel/Ornavel.conf" <<'PY'
import struct, sys
numbers = [400, 10, 10, 360, 150, 300, 200, 744, 453, 0, 0, 1280, 1024, 0, 0, 640, 512]
record = bytes([84, 0, 0, 0, 2, 31, 1, 1, 1, 0, 0, 0]) + b"".join(
    struct.pack("<i", n) for n in numbers) + bytes([2, 0, 0, 0])
open(sys.argv[1], "w").write(
    "[FormSettings]\nAppBar=@ByteArray(%s)\n" % "".join("\\x%02x" % b for b in record))
PY
flood() { # alert: True or False
  printf '<Rules><Rule name="Disk" color="clRed" regexp="disk" active="True" logline="True" monitortypes="mtFile" alert="%s"/><Rule name="Net" color="clBlue" regexp="net" active="True" logline="True" monitortypes="mtFile" alert="%s"/></Rules>\n' \
    "$1" "$1" > "$work/settings/Ornavel/Rules.xml"
  : > "$work/app.log"
  local told
  told=$(grep -ac 'member=Notify' "$work/monitor" || true)
  XDG_CONFIG_HOME=$work/settings "$build/src/app/ornavel" "$work/app.log" >/dev/null 2>&1 &
  program=$!
  until xdotool search --pid "$program" >/dev/null 2>&1; do sleep 0.1; done
  sleep 1
  before=$(awk '/VmRSS/ { print $2 }' "/proc/$program/status")
  python3 - "$work/app.log" "$seconds" <<'PY'
import sys, time
path, seconds = sys.argv[1], int(sys.argv[2])
with open(path, "a") as log:
    for second in range(seconds):
        start = time.monotonic()
        for tick in range(10):
            log.write("".join("%s %d.%d almost full, sector %d\n" % (
                ("disk", "net")[i % 2], second, tick, i) for i in range(1000)))
            log.flush()
            time.sleep(max(0, start + (tick + 1) / 10 - time.monotonic()))
PY
  sleep 6 # the last interval ends and its notices go out
  after=$(awk '/VmRSS/ { print $2 }' "/proc/$program/status")
  kill "$program"
  wait "$program" || true
  echo "alert=$1: $((seconds * 10000)) lines over ${seconds} s, two rules;" \
    "notifications: $(($(grep -ac 'member=Notify' "$work/monitor" || true) - told));" \
    "resident memory ${before} kB before, ${after} kB after"
  [ "$1" = False ] || grep -ao "and [0-9]* more\"" "$work/monitor" | tail -2 || true
}
flood True
flood False
echo "one notification per rule per 5 s allows at most $((2 * (seconds / 5 + 2)))"
