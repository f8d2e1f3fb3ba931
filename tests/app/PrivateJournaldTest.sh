#!/bin/sh
# `ornavel --console` follows the System journal as a real journald writes it: a private
# systemd-journald in a mount namespace of its own, fed by `logger --journald`. It needs root and
# mount namespaces; where either is missing it skips (exit 77).
set -eu
ornavel=$1
journald=/lib/systemd/systemd-journald

. "$(dirname "$0")/AwaitSupport.sh"

if [ "${2:-}" = --inside ]; then
  work=$3
  # The machine's journals stay as they are: these live in memory, in this namespace alone.
  mount -t tmpfs tmpfs /run
  if [ -d /var/log/journal ]; then mount -t tmpfs tmpfs /var/log/journal; fi
  "$journald" > "$work/journald.log" 2>&1 &
  journald_pid=$!
  await 400 '[ -S /run/systemd/journal/socket ]'
  XDG_CONFIG_HOME="$work" "$ornavel" --console > "$work/out" 2> "$work/err" &
  ornavel_pid=$!
  await 400 'grep -q "Monitoring event log" "$work/out"'
  status=1
  for n in $(seq 1 40); do
    printf 'SYSLOG_IDENTIFIER=ornavel-private\nMESSAGE=probe %d\n' "$n" | logger --journald
    if await 10 'grep -q "(System) ornavel-private: probe" "$work/out"'; then
      status=0
      break
    fi
  done
  kill -TERM $ornavel_pid
  wait $ornavel_pid || status=1
  kill $journald_pid
  wait $journald_pid || true
  [ $status -eq 0 ] || { echo "no journal line shown"; cat "$work/out" "$work/err" "$work/journald.log"; }
  exit $status
fi

skip() { echo "skipped: $1"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "not root"
[ -x "$journald" ] || skip "no $journald"
command -v logger > /dev/null || skip "no logger"
unshare -m --propagation private true 2> /dev/null || skip "no mount namespaces"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/Ornavel"
printf '<?xml version="1.0"?>\n<Config>\n  <MonitorEventLog value="True"/>\n</Config>\n' \
  > "$work/Ornavel/Config.xml"
unshare -m --propagation private sh "$0" "$ornavel" --inside "$work"
