#!/usr/bin/env bash
# Runs the demo on a virtual X server, clicks "Connection", lets the simulated traffic run for a
# while and saves a picture of the connected window (docs/demo-connected.png by default).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages xvfb xdotool imagemagick
out="${1:-docs/demo-connected.png}"
seconds="${2:-12}"

display=":97"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp &
xvfb=$!
trap 'kill "$demo" 2>/dev/null; kill "$xvfb" 2>/dev/null; wait 2>/dev/null || true' EXIT
export DISPLAY="$display"
bash scripts/demo.sh > build/demo-screenshot.log 2>&1 &
demo=$!

window=""
for _ in $(seq 600); do  # the first run builds the program: allow a while
  window="$(xdotool search --name 'Orvandel Program' 2>/dev/null | head -n1 || true)"
  [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "the window did not appear; see build/demo-screenshot.log"; exit 1; }
sleep 1
# "Connection" sits at 3480,6000 twips, 2655 x 975: its middle at 96 dpi (15 twips a pixel).
xdotool mousemove --window "$window" $(((3480 + 2655 / 2) / 15)) $(((6000 + 975 / 2) / 15)) click 1
sleep "$seconds"
import -window "$window" "$out"
xdotool windowclose "$window" 2>/dev/null || xdotool windowkill "$window"
wait "$demo" || true
echo "saved $out"
