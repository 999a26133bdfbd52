#!/bin/bash
# CPack builds a Debian package whose control data says what Debian needs
# (dependencies found by dpkg-shlibdeps: Qt Widgets and ICU for the window,
# ICU and no Qt for the command line alone), which holds exactly the files
# of an install, owned by root with the usual modes, and in which lintian
# finds no error or warning.
set -u -o pipefail
source "$(dirname "$0")/common.sh"

for tool in dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null ||
    skip "$tool is not installed (Debian package dpkg-dev; tools/setup.sh test installs it)"
done

# In this test's own folder, so it can run beside the other tests.
work=$tmp/cpack
if ! log=$("$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" 2>&1); then
  echo "$log" >&2
  fail "cpack -G DEB failed"
  finish
fi
deb=$work/quorrel_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { echo "$log" >&2; fail "cpack wrote no $(basename "$deb")"; finish; }

field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == quorrel ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ $(field Section) == utils ]] || fail "Section is '$(field Section)', not utils"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
[[ $(field Homepage) == https://* ]] || fail "Homepage '$(field Homepage)' is not an https address"
description=$(field Description)
[[ $(head -n 1 <<<"$description") == ?* ]] || fail "the Description has no synopsis"
(($(wc -l <<<"$description") > 1)) || fail "the Description has no extended description"

depends=$(field Depends)
[[ $depends =~ (^|, )libicu[0-9]+ ]] || fail "Depends does not name ICU (libicuNN): $depends"
if [[ $gui == 1 ]]; then
  [[ $depends =~ (^|, )libqt6widgets6 ]] || fail "Depends does not name libqt6widgets6: $depends"
  [[ $depends =~ (^|, )qt6-translations-l10n ]] || fail "Depends does not name qt6-translations-l10n (Qt's Chinese texts): $depends"
else
  [[ $depends != *libqt6* ]] || fail "without the window the package needs no Qt, yet Depends says: $depends"
fi

# Regular files, then everything's owner and mode.
contents=$(dpkg-deb --contents "$deb")
if ! diff -u <(expected_files) <(awk '$1 ~ /^-/ { sub(/^\.\//, "", $6); print $6 }' <<<"$contents" | LC_ALL=C sort); then
  fail "the package's files differ from an install's (- expected, + in the package)"
fi
while read -r mode owner _ _ _ path _; do
  [[ $owner == root/root ]] || fail "$path is owned by $owner, not root/root"
  case $mode in
    d*) want=drwxr-xr-x ;;
    -*) [[ $path == ./usr/bin/* ]] && want=-rwxr-xr-x || want=-rw-r--r-- ;;
    *) want="a file or a folder" ;;
  esac
  [[ $mode == "$want" ]] || fail "$path has mode $mode, not $want"
done <<<"$contents"

if command -v lintian >/dev/null; then
  # As root lintian says it should not be; that notice is no finding.
  findings=$(lintian "$deb" 2>&1 | grep -v '^running with root privileges is not recommended!$')
  if grep -qE '^[EW]: ' <<<"$findings"; then
    echo "$findings" >&2
    fail "lintian finds errors or warnings in the package"
  fi
else
  echo "note: lintian is not installed (Debian package lintian); the package was not linted"
fi

finish
