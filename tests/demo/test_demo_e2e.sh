#!/bin/sh
# End-to-end runs of the real show binary on the X display of the test run, with SDL's
# dummy audio driver. Usage: test_demo_e2e.sh DEMO FIXTURES CASE
#   music-ends   the 3 s beat three times over as "music.mp3": draws the grid and ends by itself
#                with status 0
#   escape       no "music.mp3": keeps drawing until Escape, then status 0
#   own-file     the binary with the beat appended, saved as "Show.Mp3": plays itself and ends
#   no-display   DISPLAY unset: one line naming the problem, status 1
# Exit 77 (skipped) when a case needs a display and there is none. DEMO_RUNNER, when set, is
# the command that runs the program (the Windows build's: scripts/wine-run with its prefix).
set -u
demo=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
fixtures=$(cd "$2" && pwd)
case=$3

export SDL_AUDIODRIVER=dummy
. "$(dirname "$0")/../support/e2e.sh"

if [ "$case" != no-display ] && ! xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "no X display to run on"
  exit 77
fi

# start PROGRAM: runs it from $work in the background, output in $work/out.
start() {
  # shellcheck disable=SC2086
  (cd "$work" && exec ${DEMO_RUNNER:-} "$1" >"$work/out" 2>&1) &
  pid=$!
}

# The show's window: the one named "new project" that belongs to the running program.
find_window() {
  timeout 5 xdotool search --all --pid "$pid" --name '^new project$' 2>/dev/null | head -n 1
}

# Number of distinct colours in a screenshot of window $1.
colours() {
  if timeout 5 import -window "$1" "$work/shot.png" 2>/dev/null; then
    identify -format '%k' "$work/shot.png" 2>/dev/null || echo 0
  else
    echo 0
  fi
}

case $case in
music-ends)
  # The picture lights up a second or two into the music, and a screenshot takes the better
  # part of a second on a loaded machine: nine seconds leave room for several lit ones.
  cat "$fixtures/beat3s.mp3" "$fixtures/beat3s.mp3" "$fixtures/beat3s.mp3" >"$work/music.mp3"
  start "$demo"
  most=0
  window=""
  while kill -0 "$pid" 2>/dev/null && [ "$most" -le 1 ]; do
    [ -n "$window" ] || window=$(find_window)
    if [ -n "$window" ]; then
      n=$(colours "$window")
      [ "$n" -gt "$most" ] && most=$n
    fi
    sleep 0.2
  done
  finish 60
  [ "$status" -eq 0 ] || fail "exit status $status"
  grep -q "vagina" "$work/out" || fail "no start-up text"
  [ "$most" -gt 1 ] || fail "every screenshot was a single colour"
  echo "ended with status 0; a screenshot of $most colours"
  ;;
escape)
  start "$demo"
  sleep 4
  kill -0 "$pid" 2>/dev/null || fail "ended by itself without music"
  window=$(find_window)
  [ -n "$window" ] || fail "no window named \"new project\""
  press_escape "$window"
  finish 20
  [ "$status" -eq 0 ] || fail "exit status $status"
  echo "ran until Escape, then status 0"
  ;;
own-file)
  cat "$demo" "$fixtures/beat3s.mp3" >"$work/Show.Mp3"
  chmod +x "$work/Show.Mp3"
  start "$work/Show.Mp3"
  finish 60
  [ "$status" -eq 0 ] || fail "exit status $status"
  echo "played its own file and ended with status 0"
  ;;
no-display)
  (cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY "$demo" >"$work/out" 2>"$work/err") &
  pid=$!
  finish 20
  [ "$status" -eq 1 ] || fail "exit status $status, not 1"
  line=$(tr -d '\r' <"$work/out" | grep '^no display: SDL video could not start: ')
  [ -n "$line" ] || fail "no line naming the problem"
  grep -q vagina "$work/out" && fail "the start-up text ran into the line"
  echo "status 1 with: $line"
  ;;
*)
  echo "unknown case $case"
  exit 2
  ;;
esac
