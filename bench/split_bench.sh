#!/bin/sh
# Throughput and peak memory of quorrel-split on a generated novel.
#   bench/split_bench.sh [SIZE] [CHAPTERS] [ENCODING]     (default 200M 20000 GBK)
# Builds the release preset, generates the novel once (kept in $QUORREL_BENCH_DATA,
# default /tmp/quorrel-bench), warms the page cache, then splits it 5 times
# into a folder on tmpfs (/dev/shm) and prints each run's time and peak memory,
# then the median.
set -eu
cd "$(dirname "$0")/.."
size=${1:-200M}
chapters=${2:-20000}
enc=${3:-GBK}
data=${QUORREL_BENCH_DATA:-/tmp/quorrel-bench}
out=/dev/shm/quorrel-bench-out

[ -x /usr/bin/time ] || { sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo; $sudo apt-get install -y -qq time; }
cmake --preset release >/dev/null
cmake --build --preset release --target quorrel-split quorrel-gen-novel >/dev/null
bin=build/release
mkdir -p "$data"
novel="$data/novel-$size-$chapters-$enc.txt"
[ -f "$novel" ] || "$bin/tools/novel/quorrel-gen-novel" --size "$size" --chapters "$chapters" \
  --encoding "$enc" --preamble --blank-lines --decoys 2 --seed 7 -o "$novel"
bytes=$(stat -c %s "$novel")
cat "$novel" >/dev/null

times=""
for run in 1 2 3 4 5; do
  rm -rf "$out" && mkdir -p "$out"
  /usr/bin/time -f "%e %M" -o "$data/time.txt" "$bin/cli/quorrel-split" -q "$novel" "$out/" >/dev/null
  read -r secs kb < "$data/time.txt"
  echo "run $run: $secs s, peak $kb KiB, $(ls "$out" | wc -l) pieces"
  times="$times $secs"
done
rm -rf "$out"
median=$(printf '%s\n' $times | sort -n | sed -n 3p)
awk -v s="$median" -v b="$bytes" 'BEGIN { printf "median %.3f s for %.0f MB: %.0f MB/s\n", s, b / 1e6, b / 1e6 / s }'
