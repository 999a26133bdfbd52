#!/bin/bash
# The installed manual pages format without a warning from man (the check
# lintian makes), quorrel-split's has the sections a reader looks for, and
# it documents every option `quorrel-split --help` lists, and no other.
set -u -o pipefail
source "$(dirname "$0")/common.sh"

command -v man >/dev/null ||
  skip "man is not installed (Debian package man-db; tools/setup.sh test installs it)"
install_into_temp_destdir
man1=$destdir/usr/share/man/man1
export LC_ALL=C.UTF-8 MANWIDTH=200

pages=(quorrel-split)
[[ $gui == 1 ]] && pages+=(quorrel)
for page in "${pages[@]}"; do
  file=$man1/$page.1.gz
  [[ -f $file ]] || { fail "no manual page $file"; continue; }
  warnings=$(man --warnings -E UTF-8 -l -Tutf8 -Z "$file" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "man warns about $page.1: $warnings"
done

# man-db prints plain text when its output is not a terminal.
text=$(man -l "$man1/quorrel-split.1.gz" 2>/dev/null)
[[ -n $text ]] || { fail "quorrel-split.1 formats to nothing"; finish; }
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENCODING EXAMPLES; do
  grep -qx "$section" <<<"$text" || fail "quorrel-split.1 has no $section section"
done
grep -q '^ *quorrel-split - ' <<<"$text" || fail "quorrel-split.1's NAME is not 'quorrel-split - ...'"

# Each option as --help shows it, short and long form: "-k, --keyword".
options=$(help_options "$destdir/usr/bin/quorrel-split")
[[ -n $options ]] || fail "found no option in quorrel-split --help"
while read -r short long; do
  [[ -z $long ]] && long=$short short=
  if [[ -n $short ]]; then
    grep -qE -- "^ +$short, $long\b" <<<"$text" || fail "quorrel-split.1 does not list '$short, $long'"
  else
    grep -qE -- "^ +$long\b" <<<"$text" || fail "quorrel-split.1 does not list '$long'"
  fi
done <<<"$options"
# ...and none that --help does not: an option gone from the program.
longs=$(sed 's/^.* //' <<<"$options")
while read -r long; do
  grep -qx -- "$long" <<<"$longs" || fail "quorrel-split.1 lists '$long', which quorrel-split --help does not"
done < <(sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$text" | sed -nE 's/^ {7}(-[a-z], )?(--[a-z-]+).*/\2/p')

finish
