#!/bin/bash
# The installed desktop entry passes desktop-file-validate and points at what
# the install holds: the program it runs and the icon it shows.
set -u -o pipefail
source "$(dirname "$0")/common.sh"

command -v desktop-file-validate >/dev/null ||
  skip "desktop-file-validate is not installed (Debian package desktop-file-utils; tools/setup.sh test installs it)"
install_into_temp_destdir
entry=$destdir/usr/share/applications/example.quorrel.Quorrel.desktop
[[ -f $entry ]] || { fail "no desktop entry at $entry"; finish; }

desktop-file-validate "$entry" || fail "desktop-file-validate finds problems in $entry"

# The value of a key of the [Desktop Entry] group.
value() { sed -n "/^\[Desktop Entry\]/,/^\[/s/^$1=//p" "$entry"; }

[[ $(value Name) == Quorrel ]] || fail "Name is '$(value Name)', not Quorrel"
[[ -n $(value Comment) ]] || fail "no English Comment"
value 'Comment\[zh_CN\]' | LC_ALL=C.UTF-8 grep -qP '\p{Han}' || fail "no Chinese Comment[zh_CN]"
[[ $(value Categories) == "Utility;TextTools;" ]] || fail "Categories is '$(value Categories)', not 'Utility;TextTools;'"
[[ $(value Type) == Application ]] || fail "Type is not Application"

exec_line=$(value Exec)
program=${exec_line%% *}
[[ $program == quorrel ]] || fail "Exec runs '$program', not quorrel"
[[ -x $destdir/usr/bin/$program ]] || fail "Exec's program $program is not installed in /usr/bin"
# "Open with" in a file manager: one file in, offered for plain text.
[[ $exec_line == "quorrel %f" ]] || fail "Exec is '$exec_line', not 'quorrel %f'"
[[ ";$(value MimeType)" == *";text/plain;"* ]] || fail "MimeType '$(value MimeType)' does not list text/plain"

icon=$(value Icon)
[[ $icon == quorrel ]] || fail "Icon is '$icon', not quorrel"
compgen -G "$destdir/usr/share/icons/hicolor/*/apps/$icon.png" >/dev/null ||
  fail "no $icon.png in the hicolor icon theme"

finish
