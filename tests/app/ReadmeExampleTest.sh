#!/bin/sh
# The README's console example, run as it stands, with scripts/run standing for the ornavel under
# test: both lines it writes must come out. It uses the fixed port 5514 and /tmp/app.log as the
# README does; where the port is taken it skips (exit 77).
set -eu
ornavel=$1
readme=$2

. "$(dirname "$0")/AwaitSupport.sh"

if grep -qi ':158A ' /proc/net/udp; then
  echo "UDP port 5514 is in use" >&2
  exit 77
fi
work=$(mktemp -d)
example=
cleanup() {
  if [ -n "$example" ]; then kill -TERM "$example" 2>/dev/null || true; fi
  if [ -s "$work/ornavel.pid" ]; then
    pid=$(cat "$work/ornavel.pid")
    kill -TERM "$pid" 2>/dev/null || true
    await 200 '! kill -0 "$pid" 2>/dev/null' || true # the port is free again for the next run
  fi
  rm -rf "$work" /tmp/app.log /tmp/ornavel.out
}
trap cleanup EXIT

mkdir -p "$work/scripts"
printf '#!/bin/sh\necho $$ > "%s/ornavel.pid"\nexec "%s" "$@"\n' "$work" "$ornavel" \
  > "$work/scripts/run"
chmod +x "$work/scripts/run"
awk '/^## Watching files and syslog in console mode/ { section = 1; next }
     section && /^## / { exit }
     section && /^```sh$/ { block = 1; next }
     block && /^```$/ { exit }
     block { print }' "$readme" > "$work/example.sh"
grep -q 'scripts/run --console' "$work/example.sh"

cd "$work"
env -u XDG_CONFIG_HOME HOME="$work" sh -e example.sh > "$work/example.out" 2>&1 &
example=$!
if ! await 400 'grep -q "job 42 failed" /tmp/ornavel.out 2>/dev/null &&
                grep -q "disk almost full" /tmp/ornavel.out'; then
  echo "The example's lines did not come out. What it printed:" >&2
  cat /tmp/ornavel.out "$work/example.out" >&2 || true
  exit 1
fi
grep -q "$(printf '\t')(127.0.0.1) user.notice - .*disk almost full" /tmp/ornavel.out
