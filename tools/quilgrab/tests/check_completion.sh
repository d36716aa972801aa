#!/bin/bash
# The bash completion against the real front end: every command of "quilgrab --help" and every
# option of "quilgrab COMMAND --help" is offered, options that take one of a few words offer
# exactly those words, and path values and inputs complete file names.
#   check_completion.sh path/to/quilgrab path/to/completion
set -u
quilgrab=$1
completion=$2
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/quilcomp.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { echo "bash-completion is missing" >&2; exit 1; }
# shellcheck disable=SC1090
source "$completion"

# Completes the last word of "quilgrab WORD..." and prints the candidates, one a line.
complete_line() {
    COMP_WORDS=(quilgrab "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _quilgrab quilgrab "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

offers() {  # offers WORD LINE...
    local word=$1
    shift
    complete_line "$@" | grep -qxF -- "$word"
}

commands=$("$quilgrab" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
[ -n "$commands" ] || fail "no commands in quilgrab --help"
for command in $commands; do
    offers "$command" "" || fail "quilgrab <TAB> does not offer $command"
    help=$("$quilgrab" "$command" --help)
    # Option lines: "  -f,--format FORMAT:wav|mp3|wma|ogg=wav   text".
    options=$(printf '%s\n' "$help" | grep -E '^  +-' | awk '{ print $1 }')
    [ -n "$options" ] || fail "no options in quilgrab $command --help"
    for names in $options; do
        for name in ${names//,/ }; do
            offers "$name" "$command" "${name:0:2}" ||
                fail "quilgrab $command ${name:0:2}<TAB> does not offer $name"
        done
    done
    # Options whose value is one of a few words: "NAME:a|b|c" or "NAME:{a,b,c}".
    printf '%s\n' "$help" | grep -E '^  +-' | while read -r names type _; do
        choices=${type#*:}
        choices=${choices%%=*}
        [ "$choices" != "$type" ] || continue
        case $choices in
            *'|'*) words=${choices//|/ } ;;
            '{'*'}') words=${choices:1:-1} && words=${words//,/ } ;;
            *) continue ;;
        esac
        name=${names##*,}
        expected=$(printf '%s\n' $words | sort)
        got=$(complete_line "$command" "$name" "")
        [ "$got" = "$expected" ] ||
            fail "quilgrab $command $name <TAB> offers '$(echo $got)', not '$(echo $expected)'"
    done
done

# File names where a path is expected, nowhere else.
mkdir -p "$work/files/albums"
touch "$work/files/song.wav" "$work/files/disc.cue" "$work/files/notes.txt" "$work/files/seen.pcap"
cd "$work/files" || exit 1
for line in "file --out" "cd --out" "live -d"; do
    # shellcheck disable=SC2086
    got=$(complete_line $line "")
    [ "$got" = "albums" ] || fail "quilgrab $line <TAB> offers '$(echo $got)', not the folder only"
done
for line in "file" "file -o" "tags" "stream" "cd --device"; do
    # shellcheck disable=SC2086
    offers song.wav $line "" || fail "quilgrab $line <TAB> does not offer files"
done
got=$(complete_line cd --image "")
[ "$got" = "$(printf 'albums\ndisc.cue')" ] || fail "cd --image <TAB> offers '$(echo $got)'"
got=$(complete_line sniff --read "")
[ "$got" = "$(printf 'albums\nseen.pcap')" ] || fail "sniff --read <TAB> offers '$(echo $got)'"
got=$(complete_line tags --title "")
[ -z "$got" ] || fail "tags --title <TAB> offers '$(echo $got)' for a free text"
got=$(complete_line file --format=m)
[ "$got" = "mp3" ] || fail "file --format=m<TAB> offers '$(echo $got)', not mp3"

[ "$failures" -eq 0 ] && echo "completion: all checks passed"
exit $((failures > 0))
