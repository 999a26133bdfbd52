#!/bin/bash
# The installed bash completion of quorrel-split, loaded into this bash and
# asked the way bash asks it (COMP_WORDS, COMP_CWORD): options, encodings
# after -e/--encoding, files and folders for SOURCE, folders for
# DESTINATION. Its options are those of `quorrel-split --help`, and every
# encoding it offers is one quorrel-split accepts.
set -u -o pipefail
source "$(dirname "$0")/common.sh"

install_into_temp_destdir
completion=$destdir/usr/share/bash-completion/completions/quorrel-split
program=$destdir/usr/bin/quorrel-split

[[ -f $completion ]] || { fail "no completion at $completion"; finish; }
# shellcheck source=/dev/null
source "$completion" || fail "sourcing $completion fails"
[[ $(complete -p quorrel-split 2>&1) == *"-F _quorrel_split"* ]] ||
  fail "loading it does not register a completion for quorrel-split"

mkdir "$tmp/work" && cd "$tmp/work" || exit 1
mkdir chapters cheap novels
touch "novel one.txt" notes.md cheap.txt -- -dash.txt
printf '第一章\n正文\n' >source.txt

# What the completion offers for a command line, the word being completed
# last (an empty string completes a new word): the candidates sorted, joined
# with "|".
offers() {
  COMP_WORDS=(quorrel-split "$@")
  COMP_CWORD=$#
  COMP_LINE="quorrel-split $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _quorrel_split quorrel-split "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd '|'
}

# expectation | words of the command line after quorrel-split, the last
# being completed. '=' as a word of its own is how bash splits
# "--encoding=G" (with '=' in COMP_WORDBREAKS, its default).
cases=(
  "--encoding|--enc"
  "--keyword|--k"
  "-e|-e"
  "GB18030|GBK|Big5|UTF-16BE|UTF-16LE|UTF-8|--encoding ''"
  "GB18030|GBK|-e G"
  "UTF-16BE|UTF-16LE|-e utf-16"
  "GB18030|GBK|--encoding = g"
  "GB18030|GBK|Big5|UTF-16BE|UTF-16LE|UTF-8|--encoding ="
  "--encoding=Big5|--encoding=B"
  "-eGB18030|-eGB1"
  "-qeUTF-8|-qeUTF-8"
  "|-e Shift"
  "|-k ''"
  "|--keyword = ''"
  "|-qk ''"
  "notes.md|novel one.txt|novels|no"
  "chapters|cheap|cheap.txt|-k 第 ch"
  "chapters|cheap|source.txt ch"
  "chapters|cheap|-l --encoding = GBK source.txt ch"
  "UTF-16LE|UTF-8|UTF-8-BOM|--to = utf"
  "title|--names = t"
  "title|--names = T"
  "auto|--headings = AU"
  "--headings=keywords|--headings=K"
  "chapters|cheap|--check source.txt ch"
  "--to=GB18030|--to=GBK|--to=G"
  "notes.md|novel one.txt|novels|--contents no"
  "chapters|cheap|--to UTF-8 source.txt ch"
  "chapters|cheap|-qe GBK -- source.txt ch"
  "|source.txt chapters/ ''"
  "-dash.txt|-- -d"
)
for case in "${cases[@]}"; do
  words=${case##*|}
  expected=${case%|*}
  eval "set -- $words"
  # The candidates of a case are sorted as offers() sorts them.
  expected=$(tr '|' '\n' <<<"$expected" | LC_ALL=C sort | paste -sd '|')
  got=$(offers "$@")
  [[ $got == "$expected" ]] || fail "quorrel-split $words<TAB>: offers '$got', expected '$expected'"
done

# With '=' not breaking words, "--encoding=u" is one word, and so is each
# candidate.
COMP_WORDBREAKS=${COMP_WORDBREAKS//=/}
got=$(offers --encoding=utf-16l)
[[ $got == "--encoding=UTF-16LE" ]] || fail "--encoding=utf-16l<TAB> as one word: offers '$got'"

# The options offered for "-" are those --help lists.
expected=$(help_options "$program" | tr ' ' '\n' | LC_ALL=C sort | paste -sd '|')
got=$(offers -)
[[ $got == "$expected" ]] || fail "-<TAB> offers '$got'; quorrel-split --help lists '$expected'"

# Every encoding offered is one quorrel-split splits with.
for encoding in $(offers --encoding '' | tr '|' ' '); do
  "$program" --encoding "$encoding" --list source.txt chapters/ >/dev/null 2>&1 ||
    fail "quorrel-split refuses --encoding $encoding, which the completion offers"
done

finish
