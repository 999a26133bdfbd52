#!/bin/sh
# The packages, run under wine: a silent install into a folder of our own
# puts the programs, the texts, the Start-menu entries and the uninstall
# entry in place; the installed tool runs; the silent uninstall takes all of
# it away again. The zip unpacks anywhere and its tool runs from there.
#   installer_test.sh BUILD_DIR VERSION
set -eu
build=$1
version=$2
tools=$(dirname "$0")/../../tools/windows
prefix="$build/wine"
wine_run() { "$tools/wine.sh" "$prefix" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

sh "$tools/package.sh" "$build" "$version" >/dev/null
setup="$build/quorrel-$version-windows-x64-setup.exe"
folder="$prefix/drive_c/quorrel-installer-test"
menu="$prefix/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quorrel"
rm -rf "$folder"

wine_run "$setup" /S '/D=C:\quorrel-installer-test'
for file in quorrel.exe quorrel-split.exe README.txt LICENSE.txt uninstall.exe; do
  [ -f "$folder/$file" ] || fail "$file not installed"
done
for entry in "Quorrel 小说分章" "卸载 Quorrel"; do
  [ -f "$menu/$entry.lnk" ] || fail "no Start-menu entry $entry"
done
[ "$(wine_run 'C:\quorrel-installer-test\quorrel-split.exe' --version)" = "quorrel-split $version" ] ||
  fail "the installed quorrel-split does not run"
wine_run reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorrel' >/dev/null ||
  fail "no uninstall entry"

# The uninstaller copies itself away and returns at once: wait for it.
wine_run 'C:\quorrel-installer-test\uninstall.exe' /S
for _ in $(seq 150); do [ -d "$folder" ] || [ -d "$menu" ] || break; sleep 0.2; done
[ ! -d "$folder" ] || fail "the folder is still there: $(ls "$folder")"
[ ! -d "$menu" ] || fail "the Start-menu folder is still there"
if wine_run reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorrel' >/dev/null 2>&1; then
  fail "the uninstall entry is still there"
fi
echo "installed, ran and uninstalled $(basename "$setup")"

unpacked="$prefix/drive_c/quorrel-zip-test"
rm -rf "$unpacked" && mkdir -p "$unpacked"
unzip -q "$build/quorrel-$version-windows-x64.zip" -d "$unpacked"
for file in quorrel.exe quorrel-split.exe README.txt LICENSE.txt; do
  [ -f "$unpacked/quorrel-$version-windows-x64/$file" ] || fail "$file not in the zip"
done
[ "$(wine_run "C:\\quorrel-zip-test\\quorrel-$version-windows-x64\\quorrel-split.exe" --version)" = "quorrel-split $version" ] ||
  fail "quorrel-split from the zip does not run"
rm -rf "$unpacked"
echo "unpacked and ran quorrel-$version-windows-x64.zip"
