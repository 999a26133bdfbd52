# What the benchmark scripts share, sourced from the top of a clone:
#   data   the data folder (QUORREL_BENCH_DATA, default /tmp/quorrel-bench),
#          where generated inputs stay from one run to the next
#   runs   timed runs per command (QUORREL_BENCH_RUNS, default 5)
# shellcheck shell=bash
data=${QUORREL_BENCH_DATA:-/tmp/quorrel-bench}
# shellcheck disable=SC2034  # read by the scripts that source this
runs=${QUORREL_BENCH_RUNS:-5}

# novel FILE SIZE CHAPTERS ENCODING [OPTION...]: a novel of quorrel-gen-novel
# ($gen_bin; seed 7, OPTIONs added) as FILE in the data folder, generated
# once; prints its path.
# shellcheck disable=SC2154  # gen_bin is set by the script, once it is built
novel() {
  local path=$data/$1
  if [ ! -f "$path" ]; then
    mkdir -p "$data"
    "$gen_bin" --size "$2" --chapters "$3" --encoding "$4" "${@:5}" --seed 7 -o "$path.part" 2>/dev/null
    mv "$path.part" "$path"
  fi
  echo "$path"
}

# book SIZE CHAPTERS ENCODING: the inputs of bench/compare.sh (a preamble,
# blank lines, a decoy heading), which the other scripts measure too.
book() { novel "cmp-$1-$2-$3.txt" "$@" --preamble --blank-lines --decoys 1; }
