#!/usr/bin/env bash
# Runs the demo on a virtual X server, clicks "Connection" and lets the simulated traffic run.
#   demo-xvfb.sh screenshot [FILE] [SECONDS]  saves a picture of the connected window
#                                             (default docs/demo-connected.png after 12 s)
#   demo-xvfb.sh idle [SECONDS]               the program's CPU time over SECONDS (default 60)
#                                             of connected polling, from its own accounting
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages xvfb xdotool imagemagick
mode="${1:-screenshot}"

display=":97"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
trap 'kill "$demo" 2>/dev/null; kill "$xvfb" 2>/dev/null; wait 2>/dev/null || true' EXIT
export DISPLAY="$display"
bash scripts/demo.sh > build/demo-xvfb.log 2>&1 &
demo=$!

window=""
for _ in $(seq 600); do  # the first run builds the program: allow a while
  window="$(xdotool search --name 'Orvandel Program' 2>/dev/null | head -n1 || true)"
  [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "the window did not appear; see build/demo-xvfb.log"; exit 1; }
sleep 1
# "Connection" sits at 3480,6000 twips, 2655 x 975: its middle at 96 dpi (15 twips a pixel).
xdotool mousemove --window "$window" $(((3480 + 2655 / 2) / 15)) $(((6000 + 975 / 2) / 15)) click 1

cpu_ticks() {  # user + system time of the program, in clock ticks
  awk '{ print $14 + $15 }' "/proc/$(pgrep -f 'build/demo/run/orvandel$' | head -n1)/stat"
}
case "$mode" in
  screenshot)
    out="${2:-docs/demo-connected.png}"
    sleep "${3:-12}"
    import -window "$window" "$out"
    echo "saved $out"
    ;;
  idle)
    seconds="${2:-60}"
    sleep 5  # past the connect and the first replies
    before="$(cpu_ticks)"
    sleep "$seconds"
    after="$(cpu_ticks)"
    hz="$(getconf CLK_TCK)"
    echo "CPU time over ${seconds} s of connected polling: $(((after - before) * 1000 / hz)) ms"
    ;;
esac
# Without a window manager a close request may go unanswered: end the program directly.
xdotool windowclose "$window" 2>/dev/null || true
pkill -f 'build/demo/run/orvandel$' 2>/dev/null || true
wait "$demo" || true
