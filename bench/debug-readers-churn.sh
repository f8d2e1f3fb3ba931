#!/usr/bin/env bash
# Debug output while readers come and go: real writer processes (ornavel-debug) flood real
# readers (ornavel --console), more readers join during the flood and some are stopped with
# SIGTERM; every message a writer was told was delivered must come out of one reader, once.
# Runs as root, in a private mount namespace with a /dev/shm of its own, so that no other reader
# of the machine takes part.
#
# Run: sudo bench/debug-readers-churn.sh [BUILD=build/release] [WRITERS=8] [MESSAGES=40000]
#      [JOINING=6] [STOPPED=3] [RUNS=1]
# Prints, per run: messages sent, delivered, distinct, lost, and writers that reported a failure.
set -euo pipefail
build=$(realpath "${1:-build/release}")
writers=${2:-8} messages=${3:-40000} joining=${4:-6} stopped=${5:-3} runs=${6:-1}

if [ "${ORNAVEL_CHURN_INSIDE:-}" != 1 ]; then
  for _ in $(seq "$runs"); do
    ORNAVEL_CHURN_INSIDE=1 unshare -m --propagation private "$0" "$build" "$writers" "$messages" \
      "$joining" "$stopped"
  done
  exit 0
fi

mount -t tmpfs tmpfs /dev/shm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/settings/Ornavel"
printf '<?xml version="1.0"?>\r\n<Config>\r\n<OutputDebugString value="True"/>\r\n<IncludePID value="False"/>\r\n</Config>\r\n' \
  > "$work/settings/Ornavel/Config.xml"
readers=()
start_reader() {
  XDG_CONFIG_HOME="$work/settings" "$build/src/app/ornavel" --console > "$work/reader$1.out" 2>&1 &
  readers+=($!)
}
start_reader 0
until [ "$(stat -c %s /dev/shm/DBWIN_BUFFER 2>/dev/null)" = 4096 ]; do sleep 0.01; done
pids=()
for w in $(seq "$writers"); do
  seq -f "w$w m%g" "$messages" > "$work/sent$w"
  "$build/tools/ornavel-debug" < "$work/sent$w" > /dev/null 2>> "$work/failures" &
  pids+=($!)
done
for r in $(seq "$joining"); do sleep 0.3; start_reader "$r"; done
for r in $(seq "$stopped"); do sleep 0.2; kill -TERM "${readers[$r]}"; done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
# What the writers sent is read before the remaining readers stop.
sleep 0.5
kill -TERM "${readers[@]}" 2> /dev/null || true
wait
cat "$work"/reader*.out | cut -f2 | grep '^w[0-9]* m' | sort > "$work/got"
cat "$work"/sent* | sort > "$work/sent"
echo "sent=$(wc -l < "$work/sent") delivered=$(wc -l < "$work/got")" \
  "distinct=$(sort -u "$work/got" | wc -l) lost=$(comm -23 "$work/sent" "$work/got" | wc -l)" \
  "writers_failed=$failed"
