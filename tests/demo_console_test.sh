#!/usr/bin/env bash
# The demo's typed console, headless over the programs of a build tree: a line typed on the
# demo's input and a line written into its console FIFO from elsewhere each reach the simulator,
# whose report shows in the program's lines; Ctrl+C ends the demo and the simulator with it.
set -euo pipefail
build="$(cd "$1" && pwd)"
demo_script="$(cd "$(dirname "$0")/.." && pwd)/scripts/demo.sh"
tmp="$(mktemp -d)"
out="$tmp/out"
log="$build/run/simulator.log"
fail() {
  echo "FAIL: $*"
  echo "-- the demo:" && cat "$out"
  echo "-- the simulator:" && tail -n 20 "$log"
  exit 1
}
# Waits up to 20 s for the pattern in the file.
wait_for() {
  for _ in $(seq 200); do
    grep -q -- "$1" "$2" 2> /dev/null && return 0
    sleep 0.1
  done
  return 1
}
acks() { grep -c 'Event = EMG Ack' "$out" || true; }

mkfifo "$tmp/keys"
sleep 300 > "$tmp/keys" &  # the keyboard: the demo's input stays open
keyboard=$!
# setsid: the demo gets a process group of its own, which Ctrl+C reaches as a whole.
env -u DISPLAY -u WAYLAND_DISPLAY ORV_DEMO_BUILD="$build" setsid bash "$demo_script" \
  < "$tmp/keys" > "$out" 2>&1 &
demo=$!
trap 'kill -INT -- -"$demo" 2> /dev/null || true; kill "$keyboard" 2> /dev/null || true; rm -rf "$tmp"' EXIT

wait_for ' link Connected: COM1' "$out" || fail "the program did not connect to the simulator"
echo 'interval 0' > "$tmp/keys"  # no reports of its own from now on: each one below is typed
wait_for '# spontaneous reports every 0 s' "$log" || fail "the typed line did not reach it"
before="$(acks)"
echo 'event 0x12 0' > "$tmp/keys"
wait_for "# .*EMG Ack" "$log" || fail "the typed report was not sent"
for _ in $(seq 200); do [ "$(acks)" -gt "$before" ] && break; sleep 0.1; done
[ "$(acks)" -eq $((before + 1)) ] || fail "the typed report is not in the program's lines"
echo 'event 0x12 0' > "$build/run/simulator.console"
for _ in $(seq 200); do [ "$(acks)" -gt $((before + 1)) ] && break; sleep 0.1; done
[ "$(acks)" -eq $((before + 2)) ] || fail "a line written into the console FIFO did not reach it"

kill -INT -- -"$demo"
for _ in $(seq 100); do kill -0 "$demo" 2> /dev/null || break; sleep 0.1; done
kill -0 "$demo" 2> /dev/null && fail "the demo did not end at Ctrl+C"
# The simulator takes its link away as it ends.
[ -L "$build/run/controller-port" ] && fail "the simulator outlived the demo"
grep -q ' program Program stopped' "$out" || fail "the program did not stop cleanly"
echo "PASS"
