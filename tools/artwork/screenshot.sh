#!/bin/sh
# Takes the README's picture of the window as it opens, on a virtual screen.
# With openbox installed the picture shows the title bar; without it, only
# the client area. Openbox draws every button of its title layout whatever a
# window asks for (it obeys only the resize part of the Motif hints), so it is
# given the layout the window asks for: icon, title, close.
#
# Usage: tools/artwork/screenshot.sh <path to quorrel> [output, default docs/screenshot.png]
set -eu
quorrel=$(realpath "$1")
out=${2:-docs/screenshot.png}
exec xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" sh -eu -c '
  quorrel=$1 out=$2
  wm=""
  if command -v openbox >/dev/null 2>&1; then
    rc=$(mktemp)
    sed "s|<titleLayout>.*</titleLayout>|<titleLayout>NLC</titleLayout>|" /etc/xdg/openbox/rc.xml > "$rc"
    openbox --config-file "$rc" >/dev/null 2>&1 & wm=$!
    sleep 1
  fi
  "$quorrel" & app=$!
  wid=$(xdotool search --sync --onlyvisible --name "^Quorrel\$" | head -n 1)
  sleep 1
  if [ -n "$wm" ]; then
    xdotool windowactivate --sync "$wid"
    sleep 0.5
    # the frame is the window manager'"'"'s parent of the client window
    frame=$(xwininfo -id "$wid" -children | sed -n "s/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p")
    geometry=$(xwininfo -id "$frame" | awk "/Absolute upper-left X/{x=\$4} /Absolute upper-left Y/{y=\$4} /Width/{w=\$2} /Height/{h=\$2} END{print w \"x\" h \"+\" x \"+\" y}")
  else
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
  fi
  import -window root -crop "$geometry" +repage "$out"
  kill "$app"
  [ -z "$wm" ] || { kill "$wm"; rm -f "$rc"; }
' sh "$quorrel" "$out"
