#!/bin/sh
# End to end: the real `quorrel` on a virtual X screen, used from the
# keyboard as a person would, under LANG=C. Opened with the novel as its
# argument, it opens and cancels the folder dialog (which empties the
# destination), takes a quoted destination, presses Split with Alt+S,
# answers the message box with Return, and checks the pieces on disk; then
# that nothing was written to the home or configuration folders (no settings
# file), and that a terminate signal closes the idle window with status 143.
#
# Usage: e2e_split.sh <path to quorrel>
# Exits 77 (skipped) when xvfb-run or xdotool is missing.
set -eu
# shellcheck source=tests/support/virtual_screen.sh
. "$(dirname "$0")/../support/virtual_screen.sh"

if [ "${1:-}" != "--on-screen" ]; then
  for tool in xvfb-run xdotool; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIPPED: $tool is not installed (Debian/Ubuntu: apt-get install xvfb xauth xdotool)"
      exit 77
    fi
  done
  quorrel=$(realpath "$1")
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  status=0
  on_virtual_screen 800x600x24 sh "$0" --on-screen "$quorrel" "$work" || status=$?
  exit "$status"
fi

quorrel=$2
work=$3
screen_answers
find "$work" -mindepth 1 -delete  # what an attempt on a screen that failed left
fail() {
  echo "FAIL: $*"
  [ ! -s "$work/quorrel.log" ] || sed 's/^/quorrel: /' "$work/quorrel.log"
  kill "$app" 2>/dev/null || true
  exit 1
}

# The visible windows named exactly $1: "Quorrel" is the main window, then
# the message box.
# (Titles are compared whole here: xdotool's --name does not match Chinese.)
windows() {
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" != "${1:-Quorrel}" ] || echo "$w"
  done
}
wait_for_windows() {  # count [name]; a busy machine may take many seconds, an ended quorrel none
  tries=0
  while [ "$(windows "${2:-Quorrel}" | wc -l)" -ne "$1" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 600 ] && kill -0 "$app" 2>/dev/null || return 1
    sleep 0.1
  done
}

printf '%s\n' "序" "第一章 起" "甲" "" "第二章 承" "乙" "第三章 转" "丙" > "$work/novel.txt"
mkdir "$work/out" "$work/home" "$work/config"

HOME=$work/home XDG_CONFIG_HOME=$work/config LANG=C LC_ALL=C QT_QPA_PLATFORM=xcb \
  "$quorrel" "$work/novel.txt" > "$work/quorrel.log" 2>&1 &
app=$!
if ! wait_for_windows 1; then
  ! grep -q "could not connect to display" "$work/quorrel.log" || exit 75
  fail "the window did not appear"
fi
main=$(windows)
xdotool windowfocus --sync "$main"
sleep 0.5

# The focus starts on Split; in tab order follow the source box, its Browse
# button, the destination box and its Browse button.
xdotool key Tab Tab Tab Tab space
wait_for_windows 1 "选择目录" || fail "the folder dialog did not open"
xdotool windowfocus --sync "$(windows "选择目录")"
xdotool key Escape
wait_for_windows 0 "选择目录" || fail "Escape did not close the folder dialog"
xdotool windowfocus --sync "$main"
xdotool key shift+Tab
xdotool type --delay 5 "\"$work/out/\""
xdotool key alt+s

wait_for_windows 2 || fail "no message box after Alt+S"
box=$(windows | grep -v -x "$main" | head -n 1)
xdotool windowfocus --sync "$box"
xdotool key Return
wait_for_windows 1 || fail "Return did not close the message box"
kill -0 "$app" 2>/dev/null || fail "quorrel ended after the message box"

expect() {  # file, lines joined with CR LF, ending in CR LF
  file=$1
  shift
  printf '%s\r\n' "$@" > "$work/expected"
  cmp -s "$work/expected" "$file" || fail "$(basename "$file") is not as expected: $(od -c "$file" | head -n 5)"
}
expect "$work/out/0000.txt" "" "序"
expect "$work/out/0001.txt" "第一章 起" "甲"
expect "$work/out/0002.txt" "第二章 承" "乙"
expect "$work/out/0003.txt" "第三章 转" "丙"
[ "$(ls "$work/out" | wc -l)" -eq 4 ] || fail "unexpected files: $(ls "$work/out")"

written=$(find "$work/home" "$work/config" -mindepth 1 | head -n 5)
[ -z "$written" ] || fail "files written outside the pieces: $written"

kill -TERM "$app"
status=0
wait "$app" || status=$?
[ "$status" -eq 143 ] || fail "after SIGTERM the exit status is $status, not 143"
echo "PASS: four pieces written through the window; nothing else written; SIGTERM closed it"
