# Shared by the end-to-end scripts (sourced, after setting $case): a work folder removed at
# the end with the program still running there, if any; fail; finish; and a press of Escape.

work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# fail MESSAGE: the case fails, with the program's output so far.
fail() {
  echo "FAIL ($case): $*"
  [ -f "$work/out" ] && { echo "--- output:"; cat "$work/out"; }
  exit 1
}

# finish SECONDS: waits for the program ($pid) to end by itself; sets status.
finish() {
  wait_end=$(($1 * 20))
  waited=0
  while kill -0 "$pid" 2>/dev/null; do
    [ "$waited" -ge "$wait_end" ] && fail "still running after $1 s"
    sleep 0.05
    waited=$((waited + 1))
  done
  wait "$pid"
  status=$?
  pid=""
}

# press_escape WINDOW: types Escape into WINDOW. The program ends on the press and its window
# goes, so xdotool cannot deliver the release there; on a display that never resets the key
# would stay down, repeating into later tests. It is released on the display as a whole.
press_escape() {
  timeout 5 xdotool key --window "$1" Escape
  timeout 5 xdotool keyup Escape
}
