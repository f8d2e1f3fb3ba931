# Sourced by the shell tests. Polls for a condition every 50 ms, at most the given number of times.
await() {
  tries=0
  until eval "$2"; do
    tries=$((tries + 1))
    [ "$tries" -lt "$1" ] || return 1
    sleep 0.05
  done
}
