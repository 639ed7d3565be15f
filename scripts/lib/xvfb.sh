# Sourced: start_xvfb SIZE starts an Xvfb on a display number the server
# picks itself (-displayfd: no race with other X servers on the machine),
# exports DISPLAY and sets XVFB_PID. wait_until SECONDS COMMAND... polls.

wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

start_xvfb() {
  local number_file
  number_file=$(mktemp)
  # -noreset: with its last client gone, the server would reset and refuse
  # the next one for a moment.
  Xvfb -displayfd 3 -screen 0 "${1:-1280x800x24}" -nolisten tcp -noreset 3>"$number_file" >/dev/null 2>&1 &
  XVFB_PID=$!
  wait_until 10 test -s "$number_file" || { rm -f "$number_file"; return 1; }
  DISPLAY=:$(head -n1 "$number_file")
  export DISPLAY
  rm -f "$number_file"
}
