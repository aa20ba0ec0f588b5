#!/usr/bin/env bash
# Builds the program and the simulated controller, and runs the program against the simulator.
# The program runs from its own demo folder in the build tree, so it never touches a
# configuration or an event log that you already have.
#
# ORV_DEMO_BUILD=FOLDER runs the programs of a build folder that already holds both (the tests'
# own) and neither installs nor builds anything.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${ORV_DEMO_BUILD:-build/demo}"
if [ -z "${ORV_DEMO_BUILD:-}" ]; then
  source scripts/deps.sh
  ensure_packages "${BUILD_PACKAGES[@]}"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_TESTS=OFF \
    -DORV_BUILD_BENCH=OFF
  cmake --build "$build" --target orvandel orvandel-sim
fi

# The program keeps SYSINI and DATA beside its executable: give it a folder of its own.
run="$build/run"
mkdir -p "$run/SYSINI"
# Replaced, not overwritten, so that a copy still running elsewhere is no obstacle.
cp "$build/app/orvandel" "$run/orvandel.new" && mv -f "$run/orvandel.new" "$run/orvandel"
port="$(cd "$run" && pwd)/controller-port"
ini="$run/SYSINI/MainForm.INI"
# Map COM1 to the simulator's pseudo-terminal; every other line of an existing file stays.
if [ ! -f "$ini" ]; then
  printf '[SerialPorts]\r\nCOM1=%s\r\n' "$port" > "$ini"
elif grep -qi '^COM1=' "$ini"; then
  sed -i "s|^[Cc][Oo][Mm]1=.*|COM1=$port\r|" "$ini"
else
  printf '[SerialPorts]\r\nCOM1=%s\r\n' "$port" >> "$ini"
fi
# The program takes a port map only from a file that no one but its owner may write.
chmod go-w "$ini"

# The simulator's console is a FIFO: lines typed in this terminal reach it (fault 7 on,
# silence 10, burst 50, help, ...), and so does `echo ... > $run/simulator.console` from another.
console="$run/simulator.console"
rm -f "$console" && mkfifo "$console"
"$build/sim/orvandel-sim" --link "$port" --seed "${ORV_DEMO_SEED:-1}" < "$console" \
  > "$run/simulator.log" &
sim=$!
exec 3> "$console"  # held open: the simulator keeps reading after each writer is gone
exec 4<&0           # this terminal, for the forwarder below (a background job would get nothing)
cat <&4 >&3 &
forward=$!
trap 'kill "$sim" "$forward" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No one could see a window here: the program runs without one and says what happens.
  cat <<MSG
The simulated controller is on $port (its traffic: $run/simulator.log).
No display found: the program runs without a window (--headless). It connects at once; each
event and each change of the link is a line below. Type a simulator command and Enter to drive
it (try "fault 6 on", "silence 10", "help"; its answers are in $run/simulator.log). Ctrl+C stops
both.
MSG
  "$run/orvandel" --headless
else
  cat <<MSG
The simulated controller is on $port (its traffic: $run/simulator.log).
Click "Connection": the fault lamps, the trigger bank and the events log follow the simulator.
Type a simulator command here and Enter to drive it (try "fault 6 on", "silence 10", "help";
its answers are in $run/simulator.log). Close the window to stop both.
MSG
  "$run/orvandel"
fi
