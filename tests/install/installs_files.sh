#!/bin/bash
# `cmake --install <build> --prefix /usr` into a fresh DESTDIR puts exactly
# the expected files there, and they are the right ones: runnable programs,
# icons of their directory's size, compressed pages without time stamps, a
# changelog at the project's version.
set -u -o pipefail
source "$(dirname "$0")/common.sh"

install_into_temp_destdir

if ! diff -u <(expected_files) <(cd "$destdir" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort); then
  fail "the installed files differ from the expected ones (- expected, + installed)"
fi

programs=(quorrel-split)
[[ $gui == 1 ]] && programs+=(quorrel)
for program in "${programs[@]}"; do
  [[ -x $destdir/usr/bin/$program ]] || fail "usr/bin/$program is not executable"
done
shown=$("$destdir/usr/bin/quorrel-split" --version 2>&1)
[[ $shown == "quorrel-split $version" ]] || fail "installed quorrel-split --version says '$shown', not 'quorrel-split $version'"

# PNG: the signature, then the IHDR chunk with width and height (big-endian).
if [[ $gui == 1 ]]; then
  for size in 16 32 48 128; do
    icon=$destdir/usr/share/icons/hicolor/${size}x${size}/apps/quorrel.png
    [[ -f $icon ]] || continue
    read -r -a head <<<"$(od -An -tu1 -N24 "$icon" | tr "\n" " ")"
    signature="${head[*]:0:8}"
    width=$(((head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19]))
    height=$(((head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23]))
    [[ $signature == "137 80 78 71 13 10 26 10" ]] || fail "$icon is not a PNG"
    [[ $width == "$size" && $height == "$size" ]] || fail "$icon is ${width}x$height, not ${size}x$size"
  done
fi

# gzip -n: no file name (flag bit 3) and a zero time stamp, so the package's
# bytes do not depend on when it was built.
for page in "$destdir"/usr/share/man/man1/*.gz "$destdir"/usr/share/doc/quorrel/changelog.gz; do
  [[ -f $page ]] || continue
  gzip -t "$page" 2>/dev/null || fail "$page is not a valid gzip file"
  read -r -a head <<<"$(od -An -tu1 -N8 "$page")"
  ((head[3] & 8)) && fail "$page keeps the original file name (compress with gzip -n)"
  [[ "${head[*]:4:4}" == "0 0 0 0" ]] || fail "$page has a time stamp (compress with gzip -n)"
done

changelog=$destdir/usr/share/doc/quorrel/changelog.gz
if [[ -f $changelog ]]; then
  top=$(gzip -dc "$changelog" | head -n 1)
  [[ $top == "quorrel ($version) "* ]] || fail "the changelog's latest entry is '$top', not version $version"
fi

finish
