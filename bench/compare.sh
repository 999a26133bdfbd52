#!/bin/bash
# quorrel-split side by side with peer tools and with a floor program.
#
# How to run (from anywhere in a clone; one command does everything):
#   bench/compare.sh [--big] [--disk] [--rounds N]
#     --big       also the 2 GiB GBK novel with 200000 chapters (needs ~2 GiB
#                 in the data folder, and ~6 GiB free in /dev/shm while it runs)
#     --disk      repeat every table with the output on the disk (a folder
#                 under the data folder) instead of tmpfs, with min and max
#     --rounds N  run each input's group of commands N times (default 2) and
#                 pool the runs; see "Order" below
#   Environment: QUORREL_BENCH_DATA  data folder (default /tmp/quorrel-bench)
#                QUORREL_BENCH_RUNS  timed runs per command per round (default 5)
#
# It installs what is missing (Debian/Ubuntu, apt-get, sudo when not root):
# hyperfine, time, mawk, jq and the build tools; builds the release preset
# (quorrel-split, quorrel-gen-novel, quorrel-floor, and quorrel-window-bench
# when that target exists); generates the inputs once into the data folder
# (seed 7, --preamble --blank-lines --decoys 1):
#   (a) 200M GBK, 20000 chapters      (b) 200M UTF-8, 20000 chapters
#   (c) 200M GBK, 100 chapters        (d) 2G GBK, 200000 chapters (--big only)
# then, per input, checks each command's output once, and times them all with
# hyperfine into a folder on tmpfs (/dev/shm), emptied before every run by
# hyperfine's --prepare (untimed). The source is in the page cache
# (hyperfine's warm-up run reads it), so the tables measure CPU and
# file-system work, not the disk's read speed.
#
# Columns of each table:
#   command    what ran (exact command lines are printed before the tables)
#   median s   median wall-clock seconds of the pooled runs, from hyperfine's
#              --export-json (hyperfine subtracts its shell's start-up time)
#   ratio      median / quorrel-split's median (below 1.00: faster than us)
#   peak MiB   maximum resident memory, from one separate run under
#              /usr/bin/time -f %M (not from the timed runs)
#   min s, max s  (--disk tables only) fastest and slowest pooled run
#
# Rows:
#   quorrel-split   quorrel-split -q SRC OUT/
#   csplit          GNU csplit at lines matching "第.*章\|章.*第" (both keywords, either
#                   order, as bytes in the source's encoding, LC_ALL=C)
#   mawk            our job as an awk program (blank lines dropped, both keywords
#                   by index(), pieces 0000.txt... each closed once written)
#   floor           quorrel-floor --from-file: one read of the whole source into
#                   memory, then as many open/write/close as quorrel-split wrote
#                   pieces, the same total bytes, in equal consecutive slices.
#                   The lower bound for any tool that writes these pieces.
#   floor, write only*  quorrel-floor --pieces-dir: loads quorrel-split's own
#                   pieces, then times only writing them, with its own clock
#                   (not hyperfine: the process would include the loading).
#                   5 runs per round, median printed; its peak memory holds
#                   all the pieces.
#   cp              cp SRC OUT/, one file of the same size (input (c) only)
# After each tmpfs table, when the target quorrel-window-bench exists (it needs
# the window, QUORREL_BUILD_GUI), its own report: it times the core's run and
# the window's Split button alternately in one process, so it is run once
# (quorrel-window-bench --rounds RUNS SRC OUT/) and not under hyperfine.
#
# Order: hyperfine runs all runs of one command before the next command, so
# slow drift (thermal, other load) would favour some commands. Each round is
# one hyperfine call over the whole group; with --rounds 2 or more every
# command is measured early and late, and the runs of all rounds are pooled.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

big=0 disk=0 rounds=2
while [ $# -gt 0 ]; do
  case "$1" in
    --big) big=1 ;;
    --disk) disk=1 ;;
    --rounds) rounds=${2:?--rounds needs a number}; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: $0 [--big] [--disk] [--rounds N]" >&2; exit 2 ;;
  esac
  shift
done
shm=/dev/shm/quorrel-compare
bin=build/release

# ---------------------------------------------------------------------------
# Tools and build

install_missing() {
  command -v dpkg-query >/dev/null && command -v apt-get >/dev/null || return 0
  local missing="" p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  # shellcheck disable=SC2086  # a list of names
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}
# What the release preset needs to configure (as tools/setup.sh), then ours.
install_missing cmake ninja-build g++ pkg-config libicu-dev libgtest-dev qt6-base-dev libgl-dev \
  hyperfine time mawk jq coreutils
for tool in hyperfine /usr/bin/time mawk jq csplit cmake; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing" >&2; exit 1; }
done

echo "Building the release preset..."
cmake --preset release >/dev/null
targets="quorrel-split quorrel-gen-novel quorrel-floor"
window_bin=""
if cmake --build --preset release --target help 2>/dev/null | grep -q '^quorrel-window-bench:'; then
  targets="$targets quorrel-window-bench"
  window_bin=$PWD/$bin/bench/quorrel-window-bench
fi
# shellcheck disable=SC2086  # a list of targets
cmake --build --preset release --target $targets >/dev/null
split_bin=$PWD/$bin/cli/quorrel-split
gen_bin=$PWD/$bin/tools/novel/quorrel-gen-novel
floor_bin=$PWD/$bin/bench/quorrel-floor

# ---------------------------------------------------------------------------
# Inputs

mkdir -p "$data"
data=$(cd "$data" && pwd)
inputs=("a|200M GBK, 20000 chapters|$(book 200M 20000 GBK)|GBK"
        "b|200M UTF-8, 20000 chapters|$(book 200M 20000 UTF-8)|UTF-8"
        "c|200M GBK, 100 chapters|$(book 200M 100 GBK)|GBK")
[ "$big" = 1 ] && inputs+=("d|2G GBK, 200000 chapters|$(book 2G 200000 GBK)|GBK")

# ---------------------------------------------------------------------------
# The peers. Keyword bytes reach them through the environment, so command lines
# stay plain text (hyperfine takes UTF-8 arguments only):
#   QB_K1, QB_K2  "第" and "章" in the source's encoding
#   QB_SP         U+3000 in the source's encoding (a blank-line character)
#   QB_RE         csplit's pattern: QB_K1.*QB_K2\|QB_K2.*QB_K1
export QB_K1 QB_K2 QB_SP QB_RE
set_encoding() {
  case "$1" in
    GBK) QB_K1=$(printf '\265\332'); QB_K2=$(printf '\325\302'); QB_SP=$(printf '\241\241') ;;
    UTF-8) QB_K1=$(printf '\347\254\254'); QB_K2=$(printf '\347\253\240'); QB_SP=$(printf '\343\200\200') ;;
  esac
  QB_RE="$QB_K1.*$QB_K2\\|$QB_K2.*$QB_K1"
}

# Our job in awk, byte for byte (LC_ALL=C): blank lines (spaces, tabs, U+3000,
# the CR of CR LF) dropped; a line holding both keywords starts a new piece;
# text before the first heading goes into a piece that starts with CR LF; each
# line is printed with its CR, and ORS adds the LF. No single quote inside.
# shellcheck disable=SC2016  # awk, not shell, expands these
awk_prog='BEGIN{blank="^([ \t\r]|" sp ")*$";n=-1} $0~blank{next} index($0,k1)&&index($0,k2){if(n>=0)close(f);f=sprintf("%s%04d.txt",out,++n);print>f;next} n<0{f=sprintf("%s%04d.txt",out,++n);printf "\r\n">f} {print>f}'

names=() cmds=()
add() { names+=("$1"); cmds+=("$2"); }
# commands SRC OUTROOT PIECES BYTES WITH_CP: fills names and cmds.
commands() {
  local src=$1 root=$2 pieces=$3 bytes=$4 with_cp=$5
  names=() cmds=()
  add quorrel-split "$split_bin -q $src $root/quorrel-split/"
  add csplit "LC_ALL=C csplit -s -z -n 6 -f $root/csplit/x $src \"/\$QB_RE/\" '{*}'"
  add mawk "LC_ALL=C mawk -v k1=\"\$QB_K1\" -v k2=\"\$QB_K2\" -v sp=\"\$QB_SP\" -v out=$root/mawk/ '$awk_prog' $src"
  add floor "$floor_bin --from-file $src --pieces $pieces --bytes $bytes $root/floor/"
  [ "$with_cp" = 1 ] && add cp "cp $src $root/cp/"
  return 0
}
# Empties the output root and makes each command's folder (hyperfine --prepare).
prepare_cmd() {
  local root=$1 sync=$2 dirs="" n
  for n in "${names[@]}" floor-write; do dirs="$dirs $root/$n"; done
  echo "rm -rf $root && mkdir -p$dirs${sync:+ && sync}"
}

# ---------------------------------------------------------------------------
# Measuring

# jq: the median, min and max of the pooled times of command NAME.
stats() {
  jq -rs --arg c "$1" '[.[].results[] | select(.command == $c) | .times[]] | sort
    | (length) as $n
    | if $n == 0 then "nan nan nan"
      else "\((if $n % 2 == 1 then .[($n - 1) / 2] else (.[$n / 2 - 1] + .[$n / 2]) / 2 end)) \(.[0]) \(.[$n - 1])" end' \
    "$2"/round-*.json
}

peak_mib() {  # peak resident memory of one run of a shell command, in MiB
  /usr/bin/time -f %M -o "$shm-time.txt" sh -c "$1" >/dev/null 2>&1 || { echo nan; return; }
  awk '{ printf "%.1f", $1 / 1024 }' "$shm-time.txt"
}

count_files() { find "$1" -maxdepth 1 -type f | wc -l; }
sum_bytes() { find "$1" -maxdepth 1 -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%d", s }'; }

notes=()
checks=()
printed_cmds=0
# bench_input LABEL TITLE SRC ENCODING WHERE: one table (WHERE: tmpfs or disk).
bench_input() {
  local label=$1 title=$2 src=$3 enc=$4 where=$5
  local root ref=$shm-ref sync=""
  if [ "$where" = disk ]; then root=$data/out-disk; sync=1; else root=$shm/out; fi
  set_encoding "$enc"
  cat "$src" >/dev/null

  # The reference: one real split, for the piece count and total bytes.
  rm -rf "$ref" && mkdir -p "$ref"
  "$split_bin" -q "$src" "$ref/" >/dev/null
  local pieces bytes
  pieces=$(count_files "$ref")
  bytes=$(sum_bytes "$ref")
  local with_cp=0
  [ "$label" = c ] && with_cp=1
  commands "$src" "$root" "$pieces" "$bytes" "$with_cp"
  local prep
  prep=$(prepare_cmd "$root" "$sync")

  # Each command once, for its peak memory and a look at its output.
  local i keep=() mem=() counts="" same
  for i in "${!names[@]}"; do
    sh -c "$prep"
    mem[i]=$(peak_mib "${cmds[i]}")
    local dir="$root/${names[i]}" n b
    n=$(count_files "$dir"); b=$(sum_bytes "$dir")
    if [ "${mem[i]}" = nan ]; then
      notes+=("($label $where) ${names[i]} failed; left out")
      continue
    fi
    keep+=("$i")
    [ "$where" = tmpfs ] || continue
    same=""
    if [ "${names[i]}" = mawk ]; then  # it does our job, so it must match byte for byte
      if diff -rq "$ref" "$dir" >/dev/null; then same=" (identical to quorrel-split's)"; else same=" (DIFFERENT from quorrel-split's)"; fi
    fi
    counts="$counts; ${names[i]} $n files, $b bytes$same"
  done
  [ "$where" = tmpfs ] && checks+=("($label)${counts#;}")

  # The floor's own clock: only writing the pieces.
  local fw_times=() r
  for r in $(seq "$rounds"); do
    for _ in $(seq "$runs"); do
      sh -c "$prep"
      fw_times+=("$("$floor_bin" --pieces-dir "$ref" "$root/floor-write/" 2>/dev/null)")
    done
  done
  sh -c "$prep"
  local fw_mem fw_cmd="$floor_bin --pieces-dir $ref $root/floor-write/"
  fw_mem=$(peak_mib "$fw_cmd")

  if [ "$printed_cmds" = 0 ]; then
    printed_cmds=1
    echo
    echo "Command lines (input (a), output on tmpfs; QB_* hold keyword bytes in the source's encoding):"
    for i in "${!names[@]}"; do echo "  ${names[i]}: ${cmds[i]}"; done
    echo "  floor, write only: $fw_cmd"
    echo "  before each run: $prep"
    printf '%s\n' '  with, as printf octal escapes: QB_K1 \265\332, QB_K2 \325\302, QB_SP \241\241 (GBK);' \
      '  QB_K1 \347\254\254, QB_K2 \347\253\240, QB_SP \343\200\200 (UTF-8); QB_RE is QB_K1.*QB_K2\|QB_K2.*QB_K1'
  fi

  # hyperfine, in rounds.
  local json=$shm-json-$label-$where args=()
  rm -rf "$json" && mkdir -p "$json"
  for i in "${keep[@]}"; do args+=(-n "${names[i]}" "${cmds[i]}"); done
  for r in $(seq "$rounds"); do
    echo "($label, output on $where) round $r of $rounds..." >&2
    # Its report and warnings go to a log, shown only if it fails.
    hyperfine --style none --warmup 1 --runs "$runs" --prepare "$prep" \
      --export-json "$json/round-$r.json" "${args[@]}" >"$json/round-$r.log" 2>&1 \
      || { cat "$json/round-$r.log" >&2; exit 1; }
  done
  sh -c "rm -rf $root"

  # The table.
  local base
  base=$(stats quorrel-split "$json" | cut -d' ' -f1)
  echo
  echo "($label) $title: $(basename "$src"), $(stat -c %s "$src") bytes -> $pieces pieces, $bytes bytes; output on $where"
  if [ "$where" = disk ]; then
    printf '  %-22s %9s %9s %9s %7s %9s\n' command "median s" "min s" "max s" ratio "peak MiB"
  else
    printf '  %-22s %9s %7s %9s\n' command "median s" ratio "peak MiB"
  fi
  row() {  # NAME MEDIAN MIN MAX MEM
    local ratio
    ratio=$(awk -v a="$2" -v b="$base" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }')
    if [ "$where" = disk ]; then
      printf '  %-22s %9.3f %9.3f %9.3f %7s %9s\n' "$1" "$2" "$3" "$4" "$ratio" "$5"
    else
      printf '  %-22s %9.3f %7s %9s\n' "$1" "$2" "$ratio" "$5"
    fi
  }
  for i in "${keep[@]}"; do
    read -r med lo hi <<<"$(stats "${names[i]}" "$json")"
    row "${names[i]}" "$med" "$lo" "$hi" "${mem[i]}"
  done
  read -r med lo hi <<<"$(printf '%s\n' "${fw_times[@]}" | sort -g | awk '{ t[NR] = $1 }
    END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; print m, t[1], t[NR] }')"
  row "floor, write only*" "$med" "$lo" "$hi" "$fw_mem"

  if [ -n "$window_bin" ] && [ "$where" = tmpfs ]; then
    local wb_cmd="$window_bin --rounds $runs $src $root/window-bench/" wb_mem
    sh -c "$prep"
    if /usr/bin/time -f %M -o "$shm-time.txt" sh -c "$wb_cmd" >"$shm-window.txt" 2>"$shm-window.err"; then
      wb_mem=$(awk '{ printf "%.1f", $1 / 1024 }' "$shm-time.txt")
      echo "  quorrel-window-bench (its own clock, $runs alternating rounds, peak $wb_mem MiB):"
      sed 's/^/    /' "$shm-window.txt"
    else
      notes+=("($label) quorrel-window-bench failed: $(cat "$shm-window.txt" "$shm-window.err" | tr '\n' ' ')")
    fi
    [ "$label" = a ] && notes+=("quorrel-window-bench ran as: $wb_cmd")
    sh -c "rm -rf $root"
  fi
}

rm -rf "$shm" "$shm"-* && mkdir -p "$shm"
trap 'rm -rf "$shm" "$shm"-* "$data/out-disk"' EXIT
if [ "$disk" = 1 ] && [ "$(stat -f -c %T "$data")" = tmpfs ]; then
  echo "compare.sh: note: $data is on tmpfs, so --disk does not measure a disk" >&2
fi

echo "Runs: warm-up 1, then $runs timed runs per command per round, $rounds round(s), pooled."
for input in "${inputs[@]}"; do
  IFS='|' read -r label title src enc <<<"$input"
  bench_input "$label" "$title" "$src" "$enc" tmpfs
  [ "$disk" = 1 ] && bench_input "$label" "$title" "$src" "$enc" disk
done
echo
echo "* write phase only, timed inside the process (steady_clock), not by hyperfine."
echo
echo "Output of one run of each command (files and bytes written):"
for c in "${checks[@]}"; do echo "  $c"; done
echo
echo "What each peer does differently:"
echo "  csplit: cuts at lines matching \"第.*章\|章.*第\" (it takes one pattern per cut, so both keywords in either order are an alternation); keeps blank lines and every byte of the source (its files add up to the source), writes no CR LF before the preamble, names files x000000..."
echo "  mawk: our rules written out by hand for bytes: keywords and U+3000 given in the source's encoding, no encoding detection; keeps each line's own end (CR LF only because the source has it) and adds LF to a last line without one"
echo "  floor: no line or keyword search at all: one read of the source, then equal slices of it with the same file count and total bytes as quorrel-split's pieces"
echo "  cp: one file, the whole source: the cost of copying it without any splitting"
for n in "${notes[@]}"; do echo "  note: $n"; done
