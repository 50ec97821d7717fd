#!/usr/bin/env bash
# Prints, one a line, what the bash completion in FILE offers for the command
# line "kelvane-cli WORD..." with the cursor at the end of the last word.
# bash-completion's helpers are stood in for: _filedir offers nothing.
#   complete.sh FILE WORD...
set -u
file=$1
shift
_init_completion() {
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
}
_filedir() { :; }
compopt() { :; }
complete() { :; }
# shellcheck source=/dev/null
source "$file"
COMP_WORDS=(kelvane-cli "$@")
COMP_CWORD=$#
COMPREPLY=()
_kelvane_cli
printf '%s\n' "${COMPREPLY[@]}"
