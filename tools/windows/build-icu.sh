#!/bin/sh
# Builds a static ICU for 64-bit Windows (MinGW-w64) from Debian's own ICU
# source package, once per machine:
#   tools/windows/build-icu.sh
# installs into $QUORREL_ICU_ROOT (default /var/cache/quorrel/icu-VERSION-mingw64,
# VERSION being the one apt offers: 72.1 on Debian 12), outside any build
# folder, so a clean build or a new clone reuses it. A second run finds the
# finished cache and returns at once. Prints the cache's path last.
#
# ICU's tools are built natively first (a cross build runs them on the build
# machine), then the libraries for Windows. The data keeps only what the
# splitter asks ICU for: the converter alias table and the table converters
# named below (UTF-8/16/32, Latin-1, ASCII and UTF-7 are built into the code;
# the charset detector needs no data).
# Needs: dpkg-dev, g++, make, python3, g++-mingw-w64-x86-64-posix, and deb-src
# lines for apt (added here from the existing deb lines when missing).
set -eu

cache=/var/cache/quorrel
host=x86_64-w64-mingw32
jobs="${QUORREL_JOBS:-2}"

if [ -n "${QUORREL_ICU_ROOT:-}" ]; then
  [ -f "$QUORREL_ICU_ROOT/.complete" ] && echo "$QUORREL_ICU_ROOT" && exit 0
else
  for built in "$cache"/icu-*-mingw64; do
    [ -f "$built/.complete" ] && echo "$built" && exit 0
  done
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# Converters kept in the data: GB18030 and its subsets (GBK, GB2312/EUC-CN),
# Big5, and the few single- and double-byte ones the tests and --encoding name.
# windows-936-2000 and windows-950-2000 extend ibm-1386 and ibm-1373.
keep="cnvalias.icu gb18030.cnv windows-936-2000.cnv ibm-1386_P100-2001.cnv ibm-1383_P110-1999.cnv \
windows-950-2000.cnv ibm-1373_P100-2002.cnv ibm-5348_P100-1997.cnv ibm-943_P15A-2003.cnv ibm-37_P100-1995.cnv"

have_deb_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}

if ! have_deb_src; then
  # Mirror the existing Debian source declarations as deb-src ones.
  src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    sed -n 's/^Types:.*/Types: deb-src/p; /^Types:/!p' "$src" \
      | $sudo tee /etc/apt/sources.list.d/quorrel-deb-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list \
      | $sudo tee /etc/apt/sources.list.d/quorrel-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
fi

version=$(apt-cache showsrc icu | sed -n 's/^Version: \([0-9.]*\).*/\1/p' | sort -V | tail -n 1)
root="${QUORREL_ICU_ROOT:-$cache/icu-$version-mingw64}"
work="$root.work"
trap 'echo "build-icu.sh: failed; the logs are in $work" >&2' EXIT
$sudo mkdir -p "$(dirname "$root")"
$sudo rm -rf "$work" "$root"
$sudo mkdir -p "$work"
[ -n "$sudo" ] && $sudo chown "$(id -u):$(id -g)" "$work" "$(dirname "$root")"
cd "$work"
started=$(date +%s)

echo "Fetching Debian's ICU $version source into $work"
# apt downloads as its own user where that user may write.
[ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1 && chown _apt "$work"
apt-get source -qq icu >/dev/null
source_dir=$(ls -d "$work"/icu-*/source 2>/dev/null | head -n 1)
[ -n "$source_dir" ] || source_dir=$(ls -d "$work"/icu-*/icu4c/source | head -n 1)

echo "Building ICU's tools natively ($work/native)"
mkdir native && cd native
"$source_dir/configure" --disable-tests --disable-samples --disable-extras \
  --disable-layoutex --disable-icuio >native-configure.log 2>&1
make -j"$jobs" >native-make.log 2>&1
cd ..

echo "Cross-building static ICU for $host ($work/cross)"
mkdir cross && cd cross
"$source_dir/configure" --host="$host" --with-cross-build="$work/native" \
  --enable-static --disable-shared --disable-tests --disable-samples --disable-extras \
  --disable-layoutex --disable-icuio --disable-tools --prefix="$root" \
  CC="$host-gcc-posix" CXX="$host-g++-posix" \
  CPPFLAGS=-DU_STATIC_IMPLEMENTATION CFLAGS=-O2 CXXFLAGS="-O2 -std=c++17" \
  >cross-configure.log 2>&1
# The libraries alone: ICU's own data library is replaced below (its install
# also fails for a static MinGW build). The top-level make would make lib/.
mkdir -p lib
for part in common i18n; do
  make -j"$jobs" -C "$part" >"cross-$part.log" 2>&1
  make -C "$part" install >>"cross-$part.log" 2>&1
done
cd ..

echo "Cutting the data down to the converters the splitter uses"
dat=$(ls "$source_dir"/data/in/icudt*l.dat | head -n 1)
name=$(basename "$dat" .dat)          # icudt72l
entry=${name%l}                        # icudt72
tools="$work/native/bin"
LD_LIBRARY_PATH="$work/native/lib" "$tools/icupkg" -l "$dat" >all-items.txt
: >remove.txt
while read -r item; do
  case " $keep " in *" $item "*) ;; *) echo "$item" >>remove.txt ;; esac
done <all-items.txt
mkdir data trimmed
# icupkg names the items after the file it writes (icudt72l/gb18030.cnv),
# genccode the array (icudt72_dat, the symbol ICU looks for).
LD_LIBRARY_PATH="$work/native/lib" "$tools/icupkg" -r remove.txt "$dat" "trimmed/$name.dat"
cp "trimmed/$name.dat" "data/$entry.dat"
LD_LIBRARY_PATH="$work/native/lib" "$tools/genccode" -d data "data/$entry.dat"
"$host-gcc-posix" -O1 -c -I"$root/include" "data/${entry}_dat.c" -o "data/${entry}_dat.o"
rm -f "$root/lib/libsicudt.a"
"$host-ar" rcs "$root/lib/libsicudt.a" "data/${entry}_dat.o"
kept=$(LD_LIBRARY_PATH="$work/native/lib" "$tools/icupkg" -l "trimmed/$name.dat" | wc -l)

# CMake's FindICU looks for the static names only with MSVC.
for lib in uc in dt; do
  ln -sf "libsicu$lib.a" "$root/lib/libicu$lib.a"
done

cd /
trap - EXIT
rm -rf "$work"
echo "ICU $version for $host: $kept data items, $(( $(date +%s) - started )) s" >"$root/.complete"
cat "$root/.complete"
echo "$root"
