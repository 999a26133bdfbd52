#!/bin/sh
# Takes the README's picture of the window on a virtual screen, under LANG=C
# (the window shows Chinese whatever the locale). With openbox installed the
# picture shows the title bar; without it, only the client area. Openbox
# draws every button of its title layout whatever a window asks for (it
# obeys only the resize part of the Motif hints), so it is given the layout
# the window asks for: icon, title, close.
#
# Usage: tools/artwork/screenshot.sh <path to quorrel> [output] [scene]
#   output  default docs/screenshot.png
#   scene   window   the window as it opens (default)
#           boxes    the sample novel opened, both check boxes ticked: the
#                    keyword controls greyed out (the README's picture)
#           message  the sample novel split, its message box open over the window
#           dialog   the open-file dialog of the source Browse button
set -eu

if [ "${1:-}" != "--on-screen" ]; then
  quorrel=$(realpath "$1")
  out=$(realpath -m "${2:-docs/screenshot.png}")
  sample=$(realpath "$(dirname "$0")/../../examples/sample-utf8.txt")
  exec xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" sh "$0" --on-screen "$quorrel" "$out" \
    "${3:-window}" "$sample"
fi
quorrel=$2 out=$3 scene=$4 sample=$5
# A folder with a short fixed name, as its paths show in the picture.
work=/tmp/quorrel-screenshot
rm -rf "$work"
mkdir -p "$work/chapters"
cp "$sample" "$work/小说.txt"

# The visible windows titled exactly $1 (xdotool's --name does not match Chinese).
windows_titled() {
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" != "$1" ] || echo "$w"
  done
}
wait_for() {  # title [count]: prints the first such window
  tries=0
  until [ "$(windows_titled "$1" | wc -l)" -ge "${2:-1}" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || { echo "no window titled $1" >&2; exit 1; }
    sleep 0.1
  done
  windows_titled "$1" | head -n 1
}

wm=""
if command -v openbox >/dev/null 2>&1; then
  sed "s|<titleLayout>.*</titleLayout>|<titleLayout>NLC</titleLayout>|" /etc/xdg/openbox/rc.xml > "$work/rc.xml"
  openbox --config-file "$work/rc.xml" >/dev/null 2>&1 & wm=$!
  sleep 1
fi
if [ "$scene" = window ]; then
  LANG=C LC_ALL=C "$quorrel" & app=$!
else
  HOME=$work LANG=C LC_ALL=C "$quorrel" "$work/小说.txt" & app=$!
fi
wid=$(wait_for Quorrel)
sleep 1
xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid"
sleep 0.5
case $scene in
  message)  # into a folder of its own, then Split
    xdotool key Tab Tab Tab ctrl+a
    xdotool type --delay 5 "$work/chapters/"
    xdotool key alt+s
    wait_for Quorrel 2 >/dev/null  # the message box has the window's title
    sleep 1 ;;
  boxes)  # into a folder of its own, both boxes ticked
    xdotool key Tab Tab Tab ctrl+a
    xdotool type --delay 5 "$work/chapters/"
    xdotool key alt+t alt+n
    sleep 0.5 ;;
  dialog)
    xdotool key Tab Tab space
    wid=$(wait_for "选择")
    sleep 1 ;;
esac

# The picture's frame: the window manager's parent of the client window.
if [ -n "$wm" ]; then
  frame=$(xwininfo -id "$wid" -children | sed -n "s/^  Parent window id: \(0x[0-9a-f]*\).*/\1/p")
  geometry=$(xwininfo -id "$frame" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print w "x" h "+" x "+" y}')
else
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
fi
import -window root -crop "$geometry" +repage "$out"
kill "$app"  # a stop signal: the window closes within a poll
wait "$app" || true
[ -z "$wm" ] || kill "$wm"
rm -rf "$work"
