#!/usr/bin/env bash
# Makes docs/screenshot.png: the viewer on the sample picture in its own
# Xvfb, with the pointer held on the overview so the marker shows.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/xvfb.sh
build=${1:-build}
start_xvfb 1280x800x24
trap 'kill ${viewer:-} $XVFB_PID 2>/dev/null' EXIT
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp}
[ -f "$build/sample.png" ] || "$build/tools/korvane-sample" "$build/sample.png"
"$build/src/korvane" "$build/sample.png" &
viewer=$!
wait_until 10 xdotool search --onlyvisible --name '^KORVANE$' >/dev/null
# The first frame is painted once the detail view's corner is no longer black.
pixel() { import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | tail -n1 | grep -o '#[0-9A-F]\{6\}'; }
painted() { [ "$(pixel 1007 0)" != "#000000" ]; }
wait_until 10 painted
before=$(pixel 1007 0)
xdotool mousemove 520 260 mousedown 1
# The press moves the detail view and draws the marker with it.
moved() { [ "$(pixel 1007 0)" != "$before" ]; }
wait_until 5 moved
import -window root -crop 1008x674+0+0 +repage docs/screenshot.png
xdotool mouseup 1
