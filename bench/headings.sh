#!/bin/bash
# The heading rules against each other on bench/compare.sh's synthetic
# novels: quorrel-split with the keyword rule (the default), --headings=auto
# and --pattern, into tmpfs, peak memory from /usr/bin/time. The rules take
# turns, one run each per round (after a warm-up round), so that a machine
# whose load drifts slows them alike. Prints one table per input: median
# seconds, ratio to the keyword rule, median processor seconds (user and
# system, all threads: less swayed by other work than the time is), peak MiB.
#
#   bench/headings.sh [BUILD_FOLDER]   (default build/release; a release build
#                                       with quorrel-split and quorrel-gen-novel)
#   Environment: QUORREL_BENCH_DATA  data folder (default /tmp/quorrel-bench)
#                QUORREL_BENCH_RUNS  timed runs per command (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
bin=${1:-build/release}
shm=/dev/shm/quorrel-headings
split_bin=$PWD/$bin/cli/quorrel-split
gen_bin=$PWD/$bin/tools/novel/quorrel-gen-novel
mkdir -p "$data"

# The same inputs as bench/compare.sh.
inputs=("a|200M GBK, 20000 chapters|$(book 200M 20000 GBK)"
        "b|200M UTF-8, 20000 chapters|$(book 200M 20000 UTF-8)"
        "c|200M GBK, 100 chapters|$(book 200M 100 GBK)")
pattern='^\s*第[0-9一二三四五六七八九十百千]+章'
rules=("keywords|" "auto|--headings=auto" "pattern|--pattern=$pattern")

for input in "${inputs[@]}"; do
  IFS='|' read -r label title src <<<"$input"
  echo "($label) $title"
  declare -A times=() cpu=()
  for round in $(seq 0 "$runs"); do
    for i in "${!rules[@]}"; do
      rm -rf "$shm"; mkdir -p "$shm"
      start=$(date +%s%N)
      # shellcheck disable=SC2086  # the rule's option, if any
      used=$(/usr/bin/time -f '%U %S' "$split_bin" -q ${rules[$i]#*|} "$src" "$shm/" 2>&1 >/dev/null | tail -1)
      end=$(date +%s%N)
      if [ "$round" -gt 0 ]; then
        times[$i]+="$(( (end - start) / 1000 )) "
        cpu[$i]+="$(echo "$used" | awk '{ print ($1 + $2) * 1e6 }') "
      fi
    done
  done
  base=""
  median_of() {
    echo "$1" | tr ' ' '\n' | grep . | sort -n |
      awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m / 1e6 }'
  }
  for i in "${!rules[@]}"; do
    median=$(median_of "${times[$i]}")
    processor=$(median_of "${cpu[$i]}")
    [ -z "$base" ] && base=$median
    rm -rf "$shm"; mkdir -p "$shm"
    # shellcheck disable=SC2086  # the rule's option, if any
    peak=$(/usr/bin/time -f %M "$split_bin" -q ${rules[$i]#*|} "$src" "$shm/" 2>&1 >/dev/null | tail -1)
    printf '  %-9s %8.3f s  %5.2fx  %6.2f s cpu  %6.1f MiB\n' "${rules[$i]%%|*}" "$median" \
      "$(echo "$median / $base" | bc -l)" "$processor" "$(echo "$peak / 1024" | bc -l)"
  done
done
rm -rf "$shm"
