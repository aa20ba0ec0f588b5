#!/usr/bin/env bash
# The program's CPU share while the simulated controller keeps a 115200-baud line busy, on a
# virtual X server, from the program's own accounting (/proc/PID/stat).
#   measure-load.sh idle  [SECONDS]   connected polling, nothing else
#   measure-load.sh storm [SECONDS]   reports flat out at the line rate (all of them logged)
#   measure-load.sh noise [SECONDS]   random bytes flat out at the line rate
# Prints one line: the CPU time over SECONDS (default 30) and its share of one core.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" xvfb xdotool
mode="${1:-storm}"
seconds="${2:-30}"

build=build/demo
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_TESTS=OFF \
  -DORV_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" --target orvandel orvandel-sim > /dev/null
run="$build/load"
rm -rf "$run" && mkdir -p "$run/SYSINI"
cp "$build/app/orvandel" "$run/orvandel"
port="$(pwd)/$run/controller-port"
printf '[RS232Configure]\r\nBaudRate=115200\r\n[SerialPorts]\r\nCOM1=%s\r\n' "$port" \
  > "$run/SYSINI/MainForm.INI"
chmod go-w "$run/SYSINI/MainForm.INI"  # a port map is taken only from a file its owner alone writes

sim_args=(--link "$port" --settings 115200,N,8,1 --quiet-reports)
[ "$mode" = storm ] && sim_args+=(--burst 1000000)
mkfifo "$run/console"
"$build/sim/orvandel-sim" "${sim_args[@]}" < "$run/console" > /dev/null &
sim=$!
exec 3> "$run/console"  # the simulator's console, kept open for the noise commands

display=":96"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
trap 'kill "$program" "$sim" "$xvfb" 2>/dev/null; wait 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
DISPLAY="$display" "$run/orvandel" > "$run/program.log" 2>&1 &
program=$!
window=""
for _ in $(seq 100); do
  window="$(DISPLAY="$display" xdotool search --name 'Orvandel Program' 2>/dev/null | head -n1 || true)"
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not appear"; exit 1; }
sleep 1
# "Connection" sits at 3480,6000 twips, 2655 x 975: its middle at 96 dpi (15 twips a pixel).
DISPLAY="$display" xdotool mousemove --window "$window" $(((3480 + 2655 / 2) / 15)) \
  $(((6000 + 975 / 2) / 15)) click 1
if [ "$mode" = noise ]; then
  # Far more than the measurement needs: the simulator sends it paced at the line rate.
  for _ in $(seq $(((seconds + 10) * 12))); do echo "noise 1000"; done >&3
fi

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$program/stat"; }
sleep 5  # past the connect and the first replies
before="$(cpu_ticks)"
sleep "$seconds"
after="$(cpu_ticks)"
hz="$(getconf CLK_TCK)"
ms=$(((after - before) * 1000 / hz))
records=$(($(wc -c < "$run/DATA/EventLog.txt" 2>/dev/null || echo 0) / 45))
echo "$mode: CPU time over ${seconds} s: ${ms} ms ($((ms / seconds / 10)).$((ms / seconds % 10)) % of a core); EventLog.txt holds about ${records} records"
