#!/usr/bin/env bash
# Makes docs/screenshot.png: the viewer on the sample picture in its own
# Xvfb, with the pointer held on the overview so the marker shows.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
display=:$((RANDOM % 100 + 150))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null' EXIT
export DISPLAY=$display XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp}
sleep 1
[ -f "$build/sample.png" ] || "$build/tools/korvane-sample" "$build/sample.png"
"$build/src/korvane" "$build/sample.png" &
viewer=$!
sleep 2
xdotool mousemove 520 260 mousedown 1
sleep 0.3
import -window root -crop 1008x674+0+0 +repage docs/screenshot.png
xdotool mouseup 1
kill $viewer
