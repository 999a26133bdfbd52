#!/bin/sh
# End to end: the real quorrel.exe under wine on a virtual X screen, driven
# with xdotool as a person would, and read back with window_probe.exe. Only
# what is the Win32 view's own is checked here; what the form decides is
# tested in the form's tables on both systems. A copy of the program in a
# folder of its own, opened with a Chinese path as its argument, starts with
# it as source and its own folder as destination; a plain "s" does nothing,
# Enter on the focused Split splits from the start, Tab walks the controls
# in order, Alt+S splits again: the message 保存完毕, the caption, and the
# pieces quorrel-split.exe gives, byte for byte; Alt+T and Alt+N tick the
# two check boxes, grey out the keyword controls, and Alt+S then splits a
# classic as quorrel-split.exe --headings=auto --names=title does. The real
# dialogs answer Cancel with nothing; the open-file dialog takes a typed
# name, without ".txt" too, and the folder picker shows its prompt. The
# shop button and the link open the shop's page. Started again at 144 dpi, it lays itself
# out at that size. Alt+F4 ends it, and during a split of thousands of
# one-line chapters ends it within seconds, every piece written complete; in
# the middle of one long piece, it ends it and removes that piece.
#
# Usage: window_e2e.sh BUILD_DIR [SCREENSHOT_DIR]
# With SCREENSHOT_DIR, the window, the message box and both dialogs are
# saved there as PNG (ImageMagick's import). Exits 77 (skipped) when wine,
# xvfb-run, xdotool or xmodmap is missing.
set -eu
# shellcheck source=tests/support/virtual_screen.sh
. "$(dirname "$0")/../support/virtual_screen.sh"

if [ "${1:-}" != "--on-screen" ]; then
  for tool in wine xvfb-run xdotool xmodmap; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIPPED: $tool is not installed (Debian: apt-get install wine xvfb xauth xdotool x11-xserver-utils)"
      exit 77
    fi
  done
  build=$(realpath "$1")
  shots=${2:+$(realpath -m "$2")}
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  status=0
  on_virtual_screen 1024x768x24 sh "$0" --on-screen "$build" "$work" "$shots" || status=$?
  exit "$status"
fi

build=$2
work=$3
shots=$4
screen_answers
find "$work" -mindepth 1 -delete  # what an attempt on a screen that failed left
tools=$(dirname "$0")/../../tools/windows

# A prefix of this test's own: its desktop belongs to this X screen, and it
# has the settings below. Stopped whatever happens.
# The Chinese characters typed below get keys of their own (media keys
# nobody presses here). Left to xdotool, each would be mapped to a spare key
# just before it is typed, and wine, rereading the keyboard on every change,
# drops characters when the machine is busy.
keycode=240
for character in 小 说 长 篇; do
  code=$(printf '%s' "$character" | iconv -f UTF-8 -t UTF-32BE | od -An -tx1 | tr -d ' \n' | sed 's/^0*//')
  xmodmap -e "keycode $keycode = U$code"
  keycode=$((keycode + 1))
done

prefix="$build/wine-window"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$tools/wine.sh" "$prefix"
trap 'wineserver -k 2>/dev/null || true' EXIT
# Without a window manager, wine must place its windows itself, or clicks
# arrive late or not at all. Wine's own dialogs draw Chinese only when the
# Chinese system faces map to a font that exists.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
for face in SimSun NSimSun SimHei "Microsoft YaHei" "Microsoft YaHei UI" PMingLiU MingLiU \
  "Microsoft JhengHei" "Microsoft JhengHei UI"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f \
    >/dev/null 2>&1
done
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
# Wine's own Marlett draws the title bars' buttons; it is looked for in the
# prefix (Debian's fonts-wine puts it elsewhere).
[ -f /usr/share/wine/fonts/marlett.ttf ] && cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"

fail() {
  printf 'FAIL: %s\n' "$*"
  shot failure
  exit 1
}
probe() { wine "$build/bin/window_probe.exe" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Retries a command for up to 20 seconds.
within() {
  tries=0
  until "$@" >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || return 1
    sleep 0.2
  done
}
no_dialog() { ! probe dialog; }
state_is() { [ "$(probe state "$1")" = "$2" ]; }  # control, what probe state prints
dialog_titled() { [ "$(probe dialog | head -n 1)" = "$1" ]; }
shot() {
  [ -n "$shots" ] && command -v import >/dev/null 2>&1 || return 0
  mkdir -p "$shots"
  sleep 0.5
  import -window root "$work/screen.png" && convert "$work/screen.png" -trim +repage "$shots/$1.png"
}
click() {  # control
  # shellcheck disable=SC2046  # x and y
  xdotool mousemove $(probe where "$1") click 1
}
# Types over the text of the box that has the focus (in the window or a
# dialog), and again while the machine was too busy for wine to take every
# character.
type_over() {  # text
  for _ in 1 2 3; do
    xdotool key End shift+Home BackSpace
    xdotool type --delay 60 "$1"
    [ "$(probe typed)" = "$1" ] && return 0
  done
  fail "the box with the focus holds '$(probe typed)' after typing '$1' three times"
}
finished_with() {  # the message box: title Quorrel, text $1, then closed with Return
  within dialog_titled Quorrel || fail "no message box"
  text=$(probe dialog | sed -n 2p)
  [ "$text" = "$1" ] || fail "the message box says '$text', not '$1'"
  shot message
  xdotool key Return
  within no_dialog || fail "Return did not close the message box"
}
same_pieces() {  # folder: the reference's pieces, byte for byte, and no others
  for piece in "$work/reference/"*.txt; do
    cmp -s "$piece" "$1/$(basename "$piece")" || fail "$1/$(basename "$piece") differs from quorrel-split's"
  done
  [ "$(ls "$1" | grep -c '\.txt$')" -eq "$(ls "$work/reference" | wc -l)" ] ||
    fail "other pieces in $1: $(ls "$1")"
}

mkdir "$work/小说" "$work/便携" "$work/reference"
printf '%s\r\n' "序言" "第一章 起" "甲行" "  " "第二章 承" "乙行" "" "第三章 转" "丙行" "第四章 合" > "$work/小说/长篇.txt"
novel=$(winpath "$work/小说/长篇.txt")
wine "$build/bin/quorrel-split.exe" -q "$novel" "$(winpath "$work/reference")\\" >/dev/null ||
  fail "quorrel-split.exe did not split the novel"
[ "$(ls "$work/reference" | wc -l)" -eq 5 ] || fail "quorrel-split.exe wrote $(ls "$work/reference")"

# Opened with the novel, from a folder the user may write to; Alt+S splits.
cp "$build/bin/quorrel.exe" "$work/便携/"
wine "$work/便携/quorrel.exe" "$novel" >"$work/quorrel.log" 2>&1 &
app=$!
within probe text Command1 || fail "the window did not appear"
[ "$(probe text txtFrom)" = "$novel" ] || fail "txtFrom is '$(probe text txtFrom)', not the argument"
[ "$(probe text txtTo)" = "$(winpath "$work/便携")\\" ] || fail "txtTo is '$(probe text txtTo)'"
shot window
# The focus starts on Split. Its access key is Alt+S, never a plain "s";
# Enter presses it from the start, as Space does.
xdotool key s
sleep 1
no_dialog || fail "a plain s pressed Split"
[ -z "$(ls "$work/便携" | grep '\.txt$')" ] || fail "a plain s split the novel"
xdotool key Return
finished_with 保存完毕
same_pieces "$work/便携"
[ "$(probe text Label1)" = "已经保存5章" ] || fail "Label1 shows '$(probe text Label1)'"
# The focus is back on Split, and Tab walks the controls in the table's order.
order=""
for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13; do
  order="$order $(probe focus)"
  xdotool key Tab
done
[ "$order" = " Command1 txtFrom cmdOrigleFile txtTo cmdSaveFolder lstKey txtKey cmdAdd cmdDelete chkByForm chkTitleNames cmdWeb Command1" ] ||
  fail "the tab order is$order"
xdotool key alt+s
finished_with 保存完毕
same_pieces "$work/便携"

# A classic headed 第一回 …, which the keywords 第 and 章 do not cut: Alt+T
# and Alt+N tick both boxes (the keyword controls grey out), and Alt+S
# writes one piece per chapter named by its title, as quorrel-split.exe
# --headings=auto --names=title does.
printf '%s\r\n' "话说天下大势" "第一回 宴桃园豪杰三结义" "甲行" "第二回 张翼德怒鞭督邮" "乙行" \
  "第三回 议温明董卓叱丁原" "丙行" > "$work/小说/长篇.txt"
mkdir "$work/titled"
wine "$build/bin/quorrel-split.exe" -q --headings=auto --names=title "$novel" "$(winpath "$work/titled")\\" \
  >/dev/null || fail "quorrel-split.exe did not split the classic"
[ "$(ls "$work/titled" | sed -n 2p)" = "0001 第一回 宴桃园豪杰三结义.txt" ] ||
  fail "quorrel-split.exe wrote $(ls "$work/titled")"
[ "$(probe state chkByForm) $(probe state lstKey)" = "cleared cleared" ] || fail "the boxes do not start cleared"
xdotool key alt+t alt+n
within state_is chkByForm checked || fail "Alt+T left 按标题格式分章 $(probe state chkByForm)"
[ "$(probe state chkTitleNames)" = checked ] || fail "Alt+N left 用章节标题命名 $(probe state chkTitleNames)"
for control in lstKey txtKey cmdAdd cmdDelete; do
  [ "$(probe state "$control")" = "cleared greyed" ] || fail "$control is not greyed out while 按标题格式分章 is ticked"
done
shot window-boxes
xdotool key alt+s
finished_with 保存完毕
for piece in "$work/titled/"*.txt; do
  cmp -s "$piece" "$work/便携/$(basename "$piece")" || fail "$(basename "$piece") differs from quorrel-split.exe's"
done

# The open-file dialog: Escape cancels it, which empties the box; a typed
# name fills it.
click cmdOrigleFile
within dialog_titled 选择 || fail "the open-file dialog did not open: $(probe dialog)"
shot open-dialog
xdotool key Escape
within no_dialog || fail "Escape did not close the open-file dialog"
[ -z "$(probe text txtFrom)" ] || fail "Cancel left '$(probe text txtFrom)' in txtFrom"
for typed in "$novel" "${novel%.txt}"; do
  click cmdOrigleFile
  within dialog_titled 选择 || fail "the open-file dialog did not open again"
  type_over "$typed"
  xdotool key Return
  within no_dialog || fail "the open-file dialog did not take the typed name $typed"
  [ "$(probe text txtFrom)" = "$novel" ] || fail "txtFrom is '$(probe text txtFrom)' after typing $typed"
done

# The folder picker shows the prompt; Escape cancels it and empties the box.
click cmdSaveFolder
within probe dialog || fail "the folder picker did not open"
probe dialog | grep -q -x 选择目录 || fail "the folder picker does not show 选择目录: $(probe dialog)"
shot folder-dialog
xdotool key Escape
within no_dialog || fail "Escape did not close the folder picker"
[ -z "$(probe text txtTo)" ] || fail "Cancel left '$(probe text txtTo)' in txtTo"

# The shop button and the link open the shop's page in the browser: here a
# script that records the address.
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$(realpath "$(dirname "$0")/log_url.sh")" /f \
  >/dev/null 2>&1
opened="$prefix/drive_c/quorrel-opened-urls.txt"
for control in cmdWeb Label1; do
  rm -f "$opened"
  click "$control"
  within grep -q -x -F https://www.quorrel-shop.example/recharge "$opened" ||
    fail "$control did not open the shop's page"
done

ends_with_alt_f4() {
  click Label2  # the window, not a box, has the focus
  xdotool key alt+F4
  tries=0
  while kill -0 "$app" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 50 ] || fail "Alt+F4 did not end quorrel.exe"
    sleep 0.2
  done
}
[ "$(probe size Command1)" = "105 33" ] || fail "at 96 dpi Command1 measures $(probe size Command1)"
ends_with_alt_f4

# At 144 dpi (150 %) the window is drawn at that size, not stretched: 1575
# by 495 twips are 157.5 by 49.5 pixels.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
wine "$work/便携/quorrel.exe" >>"$work/quorrel.log" 2>&1 &
app=$!
within probe text Command1 || fail "the window did not appear at 144 dpi"
[ "$(probe size Command1)" = "158 50" ] || fail "at 144 dpi Command1 measures $(probe size Command1)"
shot window-144dpi
ends_with_alt_f4
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1

# Closed while thousands of one-line pieces are being written (wine needs
# seconds for them): the window keeps handling its events while it waits for
# the writer, so Alt+F4 at 0.75 s ends the program within seconds, long
# before the last piece, and every piece on disk is complete.
chapters=4000
mkdir "$work/many"
cp "$build/bin/quorrel.exe" "$work/many/"
seq "$chapters" | awk '{ printf "第%d章\r\n", $1 }' >"$work/many.txt"
wine "$work/many/quorrel.exe" "$(winpath "$work/many.txt")" >>"$work/quorrel.log" 2>&1 &
app=$!
within probe text Command1 || fail "the window did not appear for the long split"
[ "$(probe focus)" = Command1 ] || fail "the focus is on $(probe focus), not on Split"
xdotool key Return
sleep 0.75
xdotool key alt+F4
asked=$(date +%s%N)
while kill -0 "$app" 2>/dev/null; do
  [ $(( $(date +%s%N) - asked )) -le 5000000000 ] || fail "quorrel.exe still runs 5 s after Alt+F4 during the split"
  sleep 0.05
done
closed_ms=$(( ($(date +%s%N) - asked) / 1000000 ))
written=$(ls "$work/many" | grep -c '\.txt$' || true)
[ "$written" -lt "$chapters" ] || fail "all $chapters pieces were written before the close took effect"
number=0
while [ "$number" -lt "$written" ]; do
  piece="$work/many/$(printf '%04d' "$number").txt"
  printf '第%d章\r\n' $((number + 1)) | cmp -s - "$piece" || fail "$piece is not the complete chapter $((number + 1))"
  number=$((number + 1))
done
echo "closed during the split: quorrel.exe ended ${closed_ms} ms after Alt+F4, with $written of $chapters pieces written"

# Closed in the middle of one long piece: Alt+F4 pressed once the second
# piece has begun on disk ends the program without a message, the piece is
# removed and the first stays whole. The source is large enough that wine
# cannot write the whole piece before the keys arrive.
mkdir "$work/long"
cp "$build/bin/quorrel.exe" "$work/long/"
{
  printf '第一章\r\n甲\r\n第二章\r\n'
  yes 正文正文正文正文正文正文正文正文正文正文 | head -n 3300000
} >"$work/long.txt"
wine "$work/long/quorrel.exe" "$(winpath "$work/long.txt")" >>"$work/quorrel.log" 2>&1 &
app=$!
within probe text Command1 || fail "the window did not appear for the long piece"
click Command1
tries=0
until [ -s "$work/long/0001.txt" ]; do
  tries=$((tries + 1))
  [ "$tries" -le 6000 ] || fail "the long piece did not begin"
  sleep 0.01
done
xdotool key alt+F4
tries=0
while kill -0 "$app" 2>/dev/null; do
  tries=$((tries + 1))
  [ "$tries" -le 600 ] || fail "quorrel.exe still runs after Alt+F4 in the middle of a long piece: $(probe dialog)"
  sleep 0.05
done
[ "$(ls "$work/long" | grep '\.txt$')" = 0000.txt ] || fail "after Alt+F4 in a long piece: $(ls "$work/long")"
printf '第一章\r\n甲\r\n' | cmp -s - "$work/long/0000.txt" || fail "the piece before the long one is not whole"

echo "PASS: no split on a plain s, Enter splits from the start; tab order; Alt+S; split from a Chinese argument as quorrel-split does; both dialogs opened and cancelled, a name without .txt completed; the shop page opened; Alt+F4 ended it; laid out at 96 and 144 dpi; Alt+F4 during a long split ended it within seconds, pieces complete; Alt+F4 in the middle of a long piece removed it"
