#!/bin/sh
# End-to-end runs of xview on the shipped application (data/types/window.txt with
# data/testapp.txt), from the source tree. Usage: test_xview_e2e.sh XVIEW SOURCE_DIR CASE
#   shown       the window shows the title's text and both buttons with their captions
#   click-ok    a click on OK writes the script's line and changes the status line
#   close-box   a click on the close box ends the program with status 0 within two seconds
#   resize      the layout follows the window's new size
#   escape      Escape ends the program with status 0
#   no-display  DISPLAY unset: one line naming the problem, status 1
#   png         --png without a display, and what --click changes in it
#   bad-input   bad values (status 1, one line) and a malformed command line (status 2)
# Exit 77 (skipped) when a case needs a display and there is none.
set -u
xview=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_dir=$(cd "$2" && pwd)
case=$3

. "$(dirname "$0")/../support/e2e.sh"

# Where the shipped application's parts are drawn at 320 x 240 (window border 1, title bar
# 18 high, CLIENT below it; the contents' border 4, the tool bar's 2): WxH+LEFT+TOP.
title_label=300x16+2+2
ok_button=38x18+8+26
cancel_button=54x18+258+26
status_line=300x14+6+220
text=FFFFFF
ok_fill=2E6B4A
cancel_fill=7A4A2A
close_fill=B03A3A

needs_display() {
  if ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "no X display to run on"
    exit 77
  fi
}

# start ARGS...: xview in the source tree, in the background, output in $work/out.
start() {
  (cd "$source_dir" && exec "$xview" "$@" >"$work/out" 2>&1) &
  pid=$!
}

start_application() {
  start data/types/window.txt data/testapp.txt
}

# wait_for SECONDS COMMAND...: until COMMAND succeeds; fails the case after SECONDS.
wait_for() {
  limit=$(($1 * 10))
  shift
  waited=0
  until "$@"; do
    kill -0 "$pid" 2>/dev/null || fail "ended while waiting for: $*"
    [ "$waited" -ge "$limit" ] && fail "gave up waiting for: $*"
    sleep 0.1
    waited=$((waited + 1))
  done
}

window=""
find_window() {
  window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
  [ -n "$window" ]
}

shot() {
  import -window "$window" "$work/shot.png" 2>/dev/null
}

# has_colour IMAGE AREA HEX: a pixel of about that colour inside AREA (WxH+LEFT+TOP); the
# edges of smoothed letters are only near their colour.
has_colour() {
  convert "$1" -crop "$2" +repage -alpha off -fuzz 8% -fill "#010203" -opaque "#$3" \
    -format %c histogram:info:- 2>/dev/null | grep -qi "#010203"
}

# crop IMAGE AREA OUT
crop() {
  convert "$1" -crop "$2" +repage "$3"
}

# shows_application: a screenshot with the title's text and both buttons, text on them.
shows_application() {
  shot || return 1
  has_colour "$work/shot.png" "$title_label" "$text" &&
    has_colour "$work/shot.png" "$ok_button" "$ok_fill" && has_colour "$work/shot.png" "$ok_button" "$text" &&
    has_colour "$work/shot.png" "$cancel_button" "$cancel_fill" &&
    has_colour "$work/shot.png" "$cancel_button" "$text"
}

open_application() {
  needs_display
  # The pointer off the window, which opens in the middle of the screen: nothing is hovered.
  # The far corner, where no other test's window opens either.
  xdotool mousemove $(xdotool getdisplaygeometry | awk '{ print $1 - 1, $2 - 1 }')
  start_application
  wait_for 30 find_window
  wait_for 30 shows_application
}

status_changed() {
  shot && crop "$work/shot.png" "$status_line" "$work/status-now.png" &&
    ! compare -metric AE "$work/status-before.png" "$work/status-now.png" null: 2>/dev/null
}

output_has() {
  tr -d '\r' <"$work/out" | grep -qx "$1"
}

case $case in
shown)
  open_application
  has_colour "$work/shot.png" "$status_line" "$text" || fail "no text in the status line"
  echo "title text, OK, Cancel and the status line drawn"
  ;;
click-ok)
  open_application
  crop "$work/shot.png" "$status_line" "$work/status-before.png"
  xdotool mousemove --window "$window" 27 35 click 1
  wait_for 20 output_has "1 click"
  wait_for 20 status_changed
  xdotool click 1
  wait_for 20 output_has "2 clicks"
  xdotool mousemove --window "$window" 285 35 click 1
  wait_for 20 output_has "0 clicks"
  echo "OK counted twice into the status line, Cancel reset it"
  ;;
close-box)
  open_application
  xdotool mousemove --window "$window" 311 10
  clicked=$(date +%s%N)
  xdotool click 1
  finish 10
  ended=$(date +%s%N)
  [ "$status" -eq 0 ] || fail "exit status $status"
  elapsed=$(((ended - clicked) / 1000000))
  [ "$elapsed" -le 2000 ] || fail "ended $elapsed ms after the click"
  echo "ended with status 0, $elapsed ms after the click"
  ;;
resize)
  open_application
  xdotool windowsize "$window" 480 360
  # The close box at the new right edge, Cancel at the tool bar's new end, the status line
  # at the new bottom.
  relaid() {
    shot && has_colour "$work/shot.png" 10x12+466+4 "$close_fill" &&
      has_colour "$work/shot.png" 40x12+422+28 "$cancel_fill" &&
      has_colour "$work/shot.png" 300x12+6+342 "$text"
  }
  wait_for 30 relaid
  echo "the layout followed the window to 480 x 360"
  ;;
escape)
  open_application
  press_escape "$window"
  finish 20
  [ "$status" -eq 0 ] || fail "exit status $status"
  echo "Escape: status 0"
  ;;
no-display)
  (cd "$source_dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY "$xview" data/types/window.txt data/testapp.txt \
    >"$work/out" 2>&1) &
  pid=$!
  finish 20
  [ "$status" -eq 1 ] || fail "exit status $status, not 1"
  line=$(tr -d '\r' <"$work/out" | grep '^no display: SDL video could not start: ')
  [ -n "$line" ] || fail "no line naming the problem"
  echo "status 1 with: $line"
  ;;
png)
  run_png() {
    (cd "$source_dir" && env -u DISPLAY "$xview" "$@" >"$work/out" 2>&1)
  }
  run_png --png "$work/plain.png" data/types/window.txt data/testapp.txt || fail "--png: status $?"
  [ "$(identify -format '%wx%h' "$work/plain.png")" = 320x240 ] || fail "not 320 x 240"
  for area in "$title_label" "$ok_button" "$cancel_button" "$status_line"; do
    has_colour "$work/plain.png" "$area" "$text" || fail "no text in $area"
  done
  run_png --png "$work/clicked.png" --click 27,35 --click 27,35 data/types/window.txt data/testapp.txt ||
    fail "--png --click: status $?"
  output_has "2 clicks" || fail "no line from the script"
  crop "$work/plain.png" "$status_line" "$work/a.png"
  crop "$work/clicked.png" "$status_line" "$work/b.png"
  compare -metric AE "$work/a.png" "$work/b.png" null: 2>/dev/null && fail "the status line did not change"
  # Nothing else: the status line is the only part that changed.
  convert "$work/plain.png" -fill black -draw "rectangle 5,219 315,235" "$work/a.png"
  convert "$work/clicked.png" -fill black -draw "rectangle 5,219 315,235" "$work/b.png"
  compare -metric AE "$work/a.png" "$work/b.png" null: 2>/dev/null || fail "more than the status line changed"
  run_png --png "$work/big.png" --size 400x300 data/types/window.txt data/testapp.txt || fail "--size: status $?"
  [ "$(identify -format '%wx%h' "$work/big.png")" = 400x300 ] || fail "not 400 x 300"
  run_png --png "$work/close.png" --click 311,10 data/types/window.txt data/testapp.txt || fail "close: status $?"
  [ -e "$work/close.png" ] && fail "a picture after the application ended"
  # A file with errors still gives a picture of what was built, the errors on the console.
  printf 'SELF.WIDTH = 64;\nSELF.HEIGHT = 32;\nSELF.CAPTION : STRING = "half";\nSELF.WIDHT = 3;\n' >"$work/broken.txt"
  run_png --png "$work/broken.png" "$work/broken.txt" || fail "broken file: status $?"
  grep -q "Property 'WIDHT' not found" "$work/out" || fail "no loader line"
  has_colour "$work/broken.png" 60x28+2+2 "$text" || fail "the broken file's caption is not drawn"
  echo "--png drew the application; --click changed only the status line"
  ;;
bad-input)
  expect() {
    want=$1
    shift
    (cd "$source_dir" && env -u DISPLAY "$xview" "$@" >"$work/out" 2>&1)
    got=$?
    [ "$got" -eq "$want" ] || fail "xview $*: status $got, not $want"
    [ "$want" -eq 1 ] && { [ "$(tr -d '\r' <"$work/out" | grep -c '^xview: ')" -eq 1 ] || fail "xview $*: not one line"; }
    return 0
  }
  app="data/types/window.txt data/testapp.txt"
  # shellcheck disable=SC2086
  {
    expect 1 --png /nonexistent-folder/x.png $app
    expect 1 --png "$work" $app
    expect 1 --png "$work/x.png" --size 15x100 $app
    expect 1 --png "$work/x.png" --size 100x8193 $app
    expect 1 --png "$work/x.png" --size 100 $app
    expect 1 --png "$work/x.png" --click 5 $app
    expect 1 --png "$work/x.png" --click 320,5 $app
    expect 1 --png "$work/x.png" data/absent.txt
    expect 2
    expect 2 --png
    expect 2 --colour $app
    expect 2 a.txt b.txt c.txt
  }
  [ -e "$work/x.png" ] && fail "a picture was written"
  echo "bad values: status 1 with one line; bad command lines: status 2"
  ;;
*)
  echo "unknown case $case"
  exit 2
  ;;
esac
