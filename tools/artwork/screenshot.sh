#!/bin/sh
# Takes the README's picture of the window as it opens, on a virtual screen.
# A window manager (openbox or twm) is used when one is installed, so the
# picture shows the title bar; without one, only the client area.
#
# Usage: tools/artwork/screenshot.sh <path to quorrel> [output, default docs/screenshot.png]
set -eu
quorrel=$(realpath "$1")
out=${2:-docs/screenshot.png}
exec xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" sh -eu -c '
  quorrel=$1 out=$2
  wm=""
  for candidate in openbox twm; do
    if command -v "$candidate" >/dev/null 2>&1; then "$candidate" >/dev/null 2>&1 & wm=$!; break; fi
  done
  sleep 1
  "$quorrel" & app=$!
  wid=$(xdotool search --sync --onlyvisible --name "^Quorrel\$" | head -n 1)
  sleep 1
  if [ -n "$wm" ]; then
    # the frame is the window manager'"'"'s parent of the client window
    frame=$(xwininfo -id "$wid" -children | sed -n "s/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p")
    geometry=$(xwininfo -id "$frame" | awk "/Absolute upper-left X/{x=\$4} /Absolute upper-left Y/{y=\$4} /Width/{w=\$2} /Height/{h=\$2} END{print w \"x\" h \"+\" x \"+\" y}")
  else
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
  fi
  import -window root -crop "$geometry" +repage "$out"
  kill "$app"
  [ -z "$wm" ] || kill "$wm"
' sh "$quorrel" "$out"
