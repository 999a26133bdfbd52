# bash completion for quorrel-split                           -*- shell-script -*-
# Copyright 2026 The Quorrel developers; MIT licence.
#
# Options; encodings after -e/--encoding and --to, rules after --headings,
# sizes after --max-size, the two name forms after --names, files after
# --contents (names matched in any case, as quorrel-split reads them); files
# and folders for SOURCE, folders for DESTINATION (which --check does not
# need). Needs bash alone (none of bash-completion's helpers), so it also
# works when sourced by hand.

_quorrel_split() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local options='-k --keyword -e --encoding -l --list -q --quiet --headings --pattern --max-size --check --json --contents --names --to --replace-invalid -h --help --version'
    local encodings='GB18030 GBK Big5 UTF-8 UTF-16LE UTF-16BE'
    local targets='UTF-8 UTF-8-BOM GB18030 GBK Big5 UTF-16LE'
    local rules='keywords auto'
    local sizes='100K 200K 500K 1M'
    # A word after which the next word is an option's argument: -k, -e, their
    # long forms, and short clusters ending in one of them (-qk).
    local takes_argument='^(-[lq]*[ek]|--keyword|--encoding|--headings|--pattern|--max-size|--contents|--names|--to)$'

    # The option whose argument is being completed, if any, and what goes
    # before the argument in the same word. With '=' in COMP_WORDBREAKS
    # (bash's default) "--encoding=UT" arrives as the words "--encoding" "="
    # "UT"; without it, as one word.
    local option='' lead=''
    if [[ $cur == = && $prev == --* ]]; then
        option=$prev cur=''
    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        option=${COMP_WORDS[COMP_CWORD-2]}
    elif [[ $cur =~ ^(--keyword|--encoding|--headings|--pattern|--max-size|--contents|--names|--to)=(.*)$ ]]; then
        option=${BASH_REMATCH[1]} lead=$option= cur=${BASH_REMATCH[2]}
    elif [[ $cur =~ ^-[lq]*([ek])(.+)$ ]]; then
        # A short option with its argument attached: -eUTF, -qkWORD.
        option=-${BASH_REMATCH[1]} lead=${cur%"${BASH_REMATCH[2]}"} cur=${BASH_REMATCH[2]}
    elif [[ $prev =~ $takes_argument ]]; then
        option=$prev
    fi

    COMPREPLY=()
    case $option in
        # Before -*e, which --max-size would match.
        --max-size)
            mapfile -t COMPREPLY < <(compgen -P "$lead" -W "$sizes" -- "$cur")
            return 0
            ;;
        --headings | -*e | --encoding | --to | --names)
            # quorrel-split reads these names in any case, so match them so too.
            local name names=$encodings
            case $option in
                --headings) names=$rules ;;
                --to) names=$targets ;;
                --names) names='title number' ;;
            esac
            for name in $names; do
                [[ ${name,,} == "${cur,,}"* ]] && COMPREPLY+=("$lead$name")
            done
            return 0
            ;;
        --contents)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return 0
            ;;
        -*k | --keyword | --pattern)
            return 0 # any text
            ;;
    esac

    # Count the operands before the word being completed; after "--" every
    # word is one.
    local i word operands=0 after_dashes=''
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $after_dashes ]]; then
            ((++operands))
        elif [[ $word == -- ]]; then
            after_dashes=1
        elif [[ $word =~ $takes_argument ]]; then
            ((++i)) # its argument, in the next word
            [[ ${COMP_WORDS[i]} == = ]] && ((++i))
        elif [[ $word == = ]]; then
            ((++i)) # the value of "--option" "=" "value"
        elif [[ $word != -?* ]]; then
            ((++operands))
        fi
    done

    if [[ -z $after_dashes && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return 0
    fi

    # Quote names and mark folders as file names are; compopt fails outside
    # a completion (a test calling this function), which changes nothing.
    compopt -o filenames 2>/dev/null
    case $operands in
        0) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;; # SOURCE, or a folder on the way
        1) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;; # DESTINATION: a prefix, usually a folder
    esac
    return 0
} &&
    complete -F _quorrel_split quorrel-split

# ex: filetype=sh
