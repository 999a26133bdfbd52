#!/bin/bash
# What writing the pieces in another encoding (--to) costs, against a plain
# split of the same source.
#
# How to run (from anywhere in a clone):
#   bench/convert.sh
#   Environment: QUORREL_BENCH_DATA  data folder (default /tmp/quorrel-bench,
#                                    shared with compare.sh)
#                QUORREL_BENCH_RUNS  timed runs per command (default 5)
#
# Builds the release preset (quorrel-split, quorrel-gen-novel), generates
# two 200 MB novels once (GBK and Big5, 20000 chapters, seed 7), writes the
# pieces to tmpfs (/dev/shm) and prints one table, a row per command:
#   wall s     hyperfine's mean wall-clock seconds (one warm-up run first)
#   user s     mean user CPU seconds, from the same runs
#   sys s      mean system CPU seconds
#   ratio      (user + sys) / that of the plain split of the same source
#   peak MiB   maximum resident memory of one separate run (/usr/bin/time)
# On a shared machine wall times swing with the load; CPU is the steadier
# figure.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

case "${1:-}" in
  "") ;;
  -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: $0" >&2; exit 2 ;;
esac
out=/dev/shm/quorrel-convert
for tool in hyperfine /usr/bin/time cmake; do
  command -v "$tool" >/dev/null || { echo "convert.sh: $tool is missing (bench/compare.sh installs it)" >&2; exit 1; }
done

echo "Building the release preset..." >&2
cmake --preset release >/dev/null
cmake --build --preset release --target quorrel-split quorrel-gen-novel >/dev/null
split_bin=$PWD/build/release/cli/quorrel-split
gen_bin=$PWD/build/release/tools/novel/quorrel-gen-novel

rm -rf "$out" && mkdir -p "$out"
trap 'rm -rf "$out" "$out".*' EXIT
# field NAME: the first value of NAME in hyperfine's JSON.
field() { sed -n "s/.*\"$1\": *\([0-9.e-]*\).*/\1/p" "$out.json" | head -1; }
printf '%-6s %7s %7s %7s %6s %9s   %s\n' source "wall s" "user s" "sys s" ratio "peak MiB" command
for enc in GBK Big5; do
  src=$(novel "convert-200M-$enc.txt" 200000000 20000 "$enc")
  base=""
  for opts in "" "--to=UTF-8" "--to=UTF-16LE"; do
    cmd="$split_bin -q $opts $src $out/"
    hyperfine --style none --warmup 1 --runs "$runs" --prepare "rm -rf $out && mkdir -p $out" \
      --export-json "$out.json" "$cmd" >/dev/null 2>&1
    wall=$(field mean) user=$(field user) sys=$(field system)
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
    [ -z "$base" ] && base=$cpu
    rm -rf "$out" && mkdir -p "$out"
    /usr/bin/time -f '%M' -o "$out.time" $cmd >/dev/null
    printf '%-6s %7.2f %7.2f %7.2f %6.2f %9.1f   %s\n' "$enc" "$wall" "$user" "$sys" \
      "$(awk -v c="$cpu" -v b="$base" 'BEGIN { print c / b }')" "$(awk '{ print $1 / 1024 }' "$out.time")" \
      "quorrel-split -q $opts SRC OUT/"
  done
done
