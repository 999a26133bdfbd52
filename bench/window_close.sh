#!/bin/bash
# How long the Linux window takes to end a split when it is closed in the
# middle of one long piece, as a user closes it (Alt+F4 through the window
# manager), on a quiet or a busy machine.
#
# How to run (from anywhere in a clone):
#   bench/window_close.sh [TRIES] [BUSY]
#     TRIES   closes to time (default 4)
#     BUSY    processes spinning beside the window (default 3)
#   Needs Xvfb, openbox, xdotool and xwininfo (apt-get install xvfb openbox
#   xdotool x11-utils).
#   Environment: QUORREL_WINDOW_EXE  a quorrel.exe to time under wine instead
#                (tools/setup.sh windows builds build/windows/bin/quorrel.exe);
#                its windows are managed by openbox, as on a desktop
#
# Builds the release preset's window, copies it to tmpfs (/dev/shm) so that
# its own folder is the destination, makes a book of one heading and 60
# million body lines there (3.7 GB), presses Alt+S, and once the piece
# has passed 1 GB presses Alt+F4. One line per try:
#   closed at   the piece's size when Alt+F4 was pressed
#   off the screen ms   from the key to the window being unmapped
#   gone ms     from the key to the window's process having ended
#   pieces      the .txt files left beside the program (none: the open
#               piece is removed)
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
  -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
tries=${1:-4}
busy=${2:-3}
for tool in Xvfb openbox xdotool xwininfo cmake; do
  command -v "$tool" >/dev/null || { echo "window_close.sh: $tool is missing" >&2; exit 1; }
done

exe=${QUORREL_WINDOW_EXE:-}
dir=/dev/shm/quorrel-close
rm -rf "$dir" && mkdir -p "$dir"
if [ -n "$exe" ]; then
  cp "$exe" "$dir/quorrel.exe"
  export WINEPREFIX=/tmp/quorrel-close-wine WINEDEBUG=-all
  tools/windows/wine.sh "$WINEPREFIX"
  start_window() { wine "$dir/quorrel.exe" 'Z:\dev\shm\quorrel-close\book.txt' >/dev/null 2>&1 & }
else
  echo "Building the release preset..." >&2
  cmake --preset release >/dev/null
  cmake --build --preset release --target quorrel >/dev/null
  cp build/release/ui/qt/quorrel "$dir/"
  start_window() { "$dir/quorrel" "$dir/book.txt" >/dev/null 2>&1 & }
fi
book=$dir/book.txt
(printf '第一章\n'; { yes 正文正文正文正文正文正文正文正文正文正文 || true; } | head -n 60000000) >"$book"

display=:97
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
spinners=()
cleanup() {
  kill "${spinners[@]}" 2>/dev/null || true
  pkill -f "$dir/quorrel" 2>/dev/null || true
  [ -z "$exe" ] || wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1
openbox >/dev/null 2>&1 &
for _ in $(seq 1 "$busy"); do
  (while :; do :; done) &
  spinners+=($!)
done

ms() { date +%s%3N; }
for try in $(seq 1 "$tries"); do
  rm -f "$dir"/0*.txt
  start_window
  pid=$!
  window=
  for _ in $(seq 1 300); do
    window=$(xdotool search --onlyvisible --name '^Quorrel$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "try $try: the window did not appear" >&2; exit 1; }
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
  # A key pressed while the window is still being mapped can be lost.
  for _ in $(seq 1 10); do
    xdotool key --window "$window" alt+s
    sleep 1
    [ -f "$dir/0000.txt" ] && break
  done
  size=0
  until [ "$size" -gt $((1 << 30)) ]; do
    size=$(stat -c %s "$dir/0000.txt" 2>/dev/null || echo 0)
    kill -0 "$pid" 2>/dev/null || { echo "try $try: the split ended before 1 GB" >&2; exit 1; }
  done
  start=$(ms)
  xdotool key alt+F4
  hidden=
  while kill -0 "$pid" 2>/dev/null; do
    [ $(($(ms) - start)) -lt 30000 ] || { echo "try $try: still running 30 s after Alt+F4" >&2; kill "$pid"; break; }
    if [ -z "$hidden" ] && ! xwininfo -id "$window" 2>/dev/null | grep -q IsViewable; then
      hidden=$(($(ms) - start))
    fi
  done
  gone=$(($(ms) - start))
  wait "$pid" 2>/dev/null || true
  printf 'try %d: closed at %d MB, off the screen %s ms, gone %d ms, pieces: %s\n' "$try" $((size / 1000000)) \
    "${hidden:-$gone}" "$gone" "$(cd "$dir" && ls 0*.txt 2>/dev/null | tr '\n' ' ')"
done
