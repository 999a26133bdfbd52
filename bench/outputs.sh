#!/bin/bash
# quorrel-split's memory and time for its outputs on a book of a million
# pieces: the listing, the table of contents (--list --json, --contents)
# and the check's report, each written as the run goes.
#
# How to run (from anywhere in a clone):
#   bench/outputs.sh [CHAPTERS]
#     CHAPTERS    how many one-line chapters the book has (default 1000000)
#   Environment: QUORREL_BENCH_DATA  data folder (default /tmp/quorrel-bench,
#                                    shared with compare.sh)
#
# Builds the release preset's quorrel-split, generates the book once into
# the data folder (第1章 to 第N章, one line each, UTF-8: every piece is one
# line, so every piece is a finding of --check and an entry of the table),
# writes the pieces of --contents to tmpfs (/dev/shm) and prints one table:
#   s          wall-clock seconds of one run
#   peak MiB   maximum resident memory of that run, from /usr/bin/time -f %M
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

case "${1:-}" in
  -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
chapters=${1:-1000000}
out=/dev/shm/quorrel-outputs
for tool in /usr/bin/time cmake; do
  command -v "$tool" >/dev/null || { echo "outputs.sh: $tool is missing (apt-get install time cmake)" >&2; exit 1; }
done

echo "Building the release preset..." >&2
cmake --preset release >/dev/null
cmake --build --preset release --target quorrel-split >/dev/null
split_bin=$PWD/build/release/cli/quorrel-split

mkdir -p "$data"
book=$data/outputs-$chapters.txt
if [ ! -f "$book" ]; then
  seq 1 "$chapters" | awk '{ print "第" $1 "章" }' >"$book.part"
  mv "$book.part" "$book"
fi

rm -rf "$out" && mkdir -p "$out"
trap 'rm -rf "$out" "$out".*' EXIT
printf '%-16s %9s %10s   %s\n' output s "peak MiB" command
# measure NAME ARGS...: one run under /usr/bin/time, standard output dropped.
measure() {
  local name=$1
  shift
  rm -rf "$out" && mkdir -p "$out"
  cat "$book" >/dev/null  # into the page cache
  /usr/bin/time -f '%e %M' -o "$out.time" "$split_bin" "$@" >/dev/null || true
  read -r secs kib < <(tail -n 1 "$out.time")  # after a "non-zero status" line, if any
  printf '%-16s %9.2f %10.1f   %s\n' "$name" "$secs" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" \
    "quorrel-split $*"
}
measure "--list" --list "$book" "$out/"
measure "--list --json" --list --json "$book" "$out/"
measure "--check" --check "$book" "$out/"
measure "--contents" -q --contents="$out.json" "$book" "$out/"
