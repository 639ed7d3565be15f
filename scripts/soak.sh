#!/usr/bin/env bash
# soak.sh PICTURE [MINUTES] [BUILD]: the viewer on PICTURE in its own Xvfb
# (1920x1080), driven by real X input for MINUTES (default 60): presses and
# short drags at random points of the overview, drags in the detail view,
# each move a little longer than the 60 ms tick. Prints the viewer's
# resident memory and its peak so far once a minute, and fails if the
# viewer ends early, if its memory after the last minute is over a tenth
# above that after the first, or if it does not close cleanly on SIGTERM
# at the end (with the sanitizer build, build-asan, a leak found at exit
# fails it too).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/xvfb.sh
picture=$1
minutes=${2:-60}
build=${3:-build-test}
start_xvfb 1920x1080x24
trap 'kill ${viewer:-} $XVFB_PID 2>/dev/null' EXIT
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp}
# With the sanitizer build: the libraries' own lifetime state is not a leak.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
"$build/src/korvane" "$picture" &
viewer=$!
# A large picture shows at once, its overview growing as it is read.
wait_until 600 xdotool search --onlyvisible --name '^KORVANE$' >/dev/null
resident() { awk '/^VmRSS/ { print int($2 / 1024) }' "/proc/$viewer/status"; }
peak() { awk '/^VmHWM/ { print int($2 / 1024) }' "/proc/$viewer/status"; }
echo "minute resident(MB) peak(MB)"
first=
end=$((SECONDS + minutes * 60))
next_report=$((SECONDS + 60))
while [ "$SECONDS" -lt "$end" ]; do
  kill -0 "$viewer" 2>/dev/null || { echo "the viewer ended early" >&2; exit 1; }
  # The overview is the left panel, at most 800 x 600; the detail view
  # lies right of it.
  x=$((RANDOM % 580 + 10)); y=$((RANDOM % 580 + 10))
  xdotool mousemove "$x" "$y" mousedown 1
  for _ in 1 2 3; do
    sleep 0.07
    xdotool mousemove_relative -- $((RANDOM % 41 - 20)) $((RANDOM % 41 - 20))
  done
  xdotool mouseup 1
  dx=$((RANDOM % 1000 + 850)); dy=$((RANDOM % 900 + 90))
  xdotool mousemove "$dx" "$dy" mousedown 1
  for _ in 1 2 3 4 5 6; do
    sleep 0.07
    xdotool mousemove_relative -- $((RANDOM % 161 - 80)) $((RANDOM % 161 - 80))
  done
  xdotool mouseup 1
  if [ "$SECONDS" -ge "$next_report" ]; then
    now=$(resident)
    echo "$(( (SECONDS - end + minutes * 60) / 60 )) $now $(peak)"
    first=${first:-$now}
    next_report=$((next_report + 60))
  fi
done
last=$(resident)
echo "after the first minute: ${first:-$last} MB; at the end: $last MB"
kill -TERM "$viewer"
status=0
wait "$viewer" || status=$?
viewer=
[ "$status" -eq 0 ] || { echo "the viewer ended with status $status on SIGTERM" >&2; exit 1; }
[ "$last" -le $(( ${first:-$last} * 11 / 10 )) ] || { echo "memory grew" >&2; exit 1; }
