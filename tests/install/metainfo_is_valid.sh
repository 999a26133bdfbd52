#!/bin/bash
# The installed AppStream metadata passes `appstreamcli validate --no-net`
# and agrees with the rest of the install: the desktop entry it launches,
# the programs it says it provides, the project's version and licence.
set -u -o pipefail
source "$(dirname "$0")/common.sh"

command -v appstreamcli >/dev/null ||
  skip "appstreamcli is not installed (Debian package appstream; tools/setup.sh test installs it)"
install_into_temp_destdir
id=example.quorrel.Quorrel
metainfo=$destdir/usr/share/metainfo/$id.metainfo.xml
[[ -f $metainfo ]] || { fail "no AppStream metadata at $metainfo"; finish; }

# Exits non-zero on errors and warnings; infos (such as a domain it does not
# know, like .example) pass.
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli finds problems in $metainfo"

# The text of the first element named $1 (one per line is how the file is
# written).
element() { sed -n "s|.*<$1[^>]*>\(.*\)</$1>.*|\1|p" "$metainfo" | head -n 1; }

[[ $(element id) == "$id" ]] || fail "the component id is '$(element id)', not $id"
launchable=$(element launchable)
[[ $launchable == "$id.desktop" ]] || fail "it launches '$launchable', not $id.desktop"
[[ -f $destdir/usr/share/applications/$launchable ]] || fail "the desktop entry it launches, $launchable, is not installed"

while read -r binary; do
  [[ -x $destdir/usr/bin/$binary ]] || fail "it provides $binary, which is not installed in /usr/bin"
done < <(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo")

release=$(sed -n 's|.*<release [^>]*version="\([^"]*\)".*|\1|p' "$metainfo" | head -n 1)
[[ $release == "$version" ]] || fail "its latest release is '$release', not the project's version $version"

screenshot=$(element image)
[[ $screenshot == https://* ]] || fail "the screenshot '$screenshot' is not an https address"

# One licence everywhere: the metadata's, and the copyright file's.
license=$(element project_license)
copyright_license=$(sed -n 's/^License: *//p' "$destdir/usr/share/doc/quorrel/copyright" | head -n 1)
[[ $license == "$copyright_license" ]] ||
  fail "the metadata says licence '$license', the copyright file '$copyright_license'"

finish
