#!/bin/sh
# Packs the Windows programs of a build (preset windows) for users:
#   tools/windows/package.sh BUILD_DIR VERSION
# writes into BUILD_DIR
#   quorrel-VERSION-windows-x64.zip        portable: unzip anywhere and run
#   quorrel-VERSION-windows-x64-setup.exe  installer (NSIS, per user, /S silent)
# Both hold the window quorrel.exe and quorrel-split.exe, with README.txt,
# LICENSE.txt and the icon. Called by the build target package-windows.
set -eu
build=$(realpath "$1")
version=$2
source_dir=$(realpath "$(dirname "$0")/../..")
name="quorrel-$version-windows-x64"
stage="$build/package/$name"

rm -rf "$build/package"
mkdir -p "$stage"
for program in quorrel.exe quorrel-split.exe; do
  [ -f "$build/bin/$program" ] || { echo "package.sh: no $build/bin/$program" >&2; exit 1; }
  cp "$build/bin/$program" "$stage/"
done
# Text files with CR LF, as Notepad on older Windows needs them.
sed 's/$/\r/' "$source_dir/README.md" >"$stage/README.txt"
sed 's/$/\r/' "$source_dir/LICENSE" >"$stage/LICENSE.txt"
cp "$source_dir/resources/quorrel.ico" "$stage/"

rm -f "$build/$name.zip" "$build/$name-setup.exe"
(cd "$build/package" && zip -qr -X "$build/$name.zip" "$name")

makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$build/$name-setup.exe" \
  "$source_dir/packaging/windows/quorrel.nsi"
ls -l "$build/$name.zip" "$build/$name-setup.exe"
