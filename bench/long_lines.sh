#!/bin/bash
# quorrel-split's memory and time on sources that are hard for a splitter:
# huge inputs and one huge line, and lines full of keyword bytes that
# straddle two characters.
#
# How to run (from anywhere in a clone):
#   bench/long_lines.sh [--no-big]
#     --no-big    skip the 2 GiB novel (it needs ~2 GiB in the data folder
#                 and ~2 GiB free in /dev/shm while it runs)
#   Environment: QUORREL_BENCH_DATA  data folder (default /tmp/quorrel-bench,
#                                    shared with compare.sh)
#                QUORREL_BENCH_RUNS  timed runs per line (default 5)
#
# Builds the release preset (quorrel-split, quorrel-gen-novel), generates the
# inputs once into the data folder, writes the pieces to tmpfs (/dev/shm) and
# prints one table:
#   peak MiB   maximum resident memory of one run, from /usr/bin/time -f %M
#   s          wall-clock seconds: of that run for the big inputs; for the
#              short lines the median of hyperfine's runs
# Rows:
#   1 GiB line        one GBK line of 1 GiB without a line end, a heading
#                     (第一章 then 天地 repeated): read twice in blocks
#   2 GiB novel       quorrel-gen-novel --size 2G --chapters 200000 (as
#                     compare.sh --big, input d)
#   1 MiB GBK line    one line of 1 MiB + CR LF, B0 B5 DA B0 repeated: 第 (B5 DA)
#                     at every fourth byte, always across two characters;
#                     keyword 第 only, so that every place is tested
#   1 MiB Big5 line   the same in Big5: A4 B2 C4 A4, 第 is B2 C4
#   (the 1 MiB lines fill the read buffer, so they take the long-line path;
#   the "fits" rows hold 1,000,000 bytes and are tested whole)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

big=1
case "${1:-}" in
  --no-big) big=0 ;;
  "") ;;
  -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: $0 [--no-big]" >&2; exit 2 ;;
esac
out=/dev/shm/quorrel-long-lines
for tool in hyperfine /usr/bin/time cmake; do
  command -v "$tool" >/dev/null || { echo "long_lines.sh: $tool is missing (bench/compare.sh installs it)" >&2; exit 1; }
done

echo "Building the release preset..." >&2
cmake --preset release >/dev/null
cmake --build --preset release --target quorrel-split quorrel-gen-novel >/dev/null
split_bin=$PWD/build/release/cli/quorrel-split
gen_bin=$PWD/build/release/tools/novel/quorrel-gen-novel

mkdir -p "$data"
# repeated BYTES SIZE: the printf-escaped BYTES repeated to exactly SIZE bytes.
repeated() { yes "$(printf "$1")" | tr -d '\n' | head -c "$2"; }
# input NAME: generates it once, prints its path.
input() {
  local path=$data/long-$1.txt
  if [ ! -f "$path" ]; then
    case "$1" in
      line-1G) { printf '\265\332\322\273\325\302 '; repeated '\314\354\265\330' $((1024 * 1024 * 1024 - 7)); } ;;
      gbk-1M) { repeated '\260\265\332\260' 1048576; printf '\r\n'; } ;;
      big5-1M) { repeated '\244\262\304\244' 1048576; printf '\r\n'; } ;;
      gbk-fits) { repeated '\260\265\332\260' 1000000; printf '\r\n'; } ;;
      big5-fits) { repeated '\244\262\304\244' 1000000; printf '\r\n'; } ;;
    esac >"$path.part"
    mv "$path.part" "$path"
  fi
  echo "$path"
}

rm -rf "$out" && mkdir -p "$out"
trap 'rm -rf "$out" "$out".*' EXIT
printf '%-18s %9s %10s   %s\n' input s "peak MiB" command
# measure NAME ARGS...: one run under /usr/bin/time.
measure() {
  local name=$1
  shift
  rm -rf "$out" && mkdir -p "$out"
  cat "${@: -2:1}" >/dev/null  # the source into the page cache
  /usr/bin/time -f '%e %M' -o "$out.time" "$split_bin" "$@" >/dev/null
  read -r secs kib <"$out.time"
  printf '%-18s %9.2f %10.1f   %s\n' "$name" "$secs" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" \
    "quorrel-split $*"
}
# timed NAME ENCODING SRC: hyperfine's median, and the peak of one run.
timed() {
  local name=$1 enc=$2 src=$3 cmd
  cmd="$split_bin -q -e $enc -k 第 $src $out/"
  hyperfine --style none --warmup 1 --runs "$runs" --prepare "rm -rf $out && mkdir -p $out" \
    --export-json "$out.json" "$cmd" >/dev/null 2>&1
  local median
  median=$(sed -n 's/.*"median": *\([0-9.e-]*\).*/\1/p' "$out.json" | head -1)
  rm -rf "$out" && mkdir -p "$out"
  /usr/bin/time -f '%M' -o "$out.time" $cmd >/dev/null
  printf '%-18s %9.3f %10.1f   %s\n' "$name" "$median" "$(awk '{ print $1 / 1024 }' "$out.time")" \
    "quorrel-split -q -e $enc -k 第 SRC OUT/"
}

measure "1 GiB line" -q "$(input line-1G)" "$out/"
[ "$big" = 1 ] && measure "2 GiB novel" -q "$(book 2G 200000 GBK)" "$out/"
timed "1 MiB GBK line" GBK "$(input gbk-1M)"
timed "1 MiB Big5 line" Big5 "$(input big5-1M)"
timed "GBK line, fits" GBK "$(input gbk-fits)"
timed "Big5 line, fits" Big5 "$(input big5-fits)"
