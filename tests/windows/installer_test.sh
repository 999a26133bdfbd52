#!/bin/sh
# The installer, run under wine: a silent install into a folder of our own
# puts the programs, the texts, the Start-menu entries and the uninstall
# entry in place; the installed tool runs; the silent uninstall takes all of
# it away again.
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
for file in quorrel-split.exe README.txt LICENSE.txt uninstall.exe; do
  [ -f "$folder/$file" ] || fail "$file not installed"
done
[ -f "$menu/卸载 Quorrel.lnk" ] || fail "no Start-menu entry to uninstall"
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
