#!/usr/bin/env bash
# The shell completions: bash's function is called as bash calls it, with
# COMP_WORDS and COMP_CWORD set, and its COMPREPLY checked; the zsh one must
# load through compinit and the fish one parse. A shell that is not installed
# is skipped. Every option that --help names must be in each of them.
# Usage: completion_test.sh COMPLETIONS_DIR PARAMLIST
set -euo pipefail
completions=$(cd "$1" && pwd)
paramlist=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir folder
touch -- b.par a.par notes.txt in.json -dash.par

failures=0
help=$("$paramlist" --help)
for option in $(grep -o -E -- '(^|[ [])--?[a-zA-Z][-a-z]*' <<<"$help" | tr -d ' [' | sort -u); do
    for file in paramlist.bash _paramlist paramlist.fish; do
        # fish names options without their dashes: -s h, -l help.
        name=$([ "$file" = paramlist.fish ] && echo "${option#"${option%%[!-]*}"}" || echo "$option")
        grep -q -E -- "(^|[^-a-zA-Z])$name([^-a-zA-Z]|\$)" "$completions/$file" ||
            { echo "$file lacks $option"; failures=$((failures + 1)); }
    done
done

# Each case: the words up to the cursor as the shell would quote them (bash
# makes a word of each = and of the text on either side of it), the last one
# being completed, and the replies expected in order, each followed by |.
while IFS=$'\t' read -r words expected; do
    eval "set -- $words"
    got=$(bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _paramlist
                   printf "%s|" "${COMPREPLY[@]}"' completion "$completions/paramlist.bash" "$@")
    if [ "$got" != "$expected" ]; then
        echo "bash: paramlist ${words#paramlist } : expected '$expected', got '$got'"
        failures=$((failures + 1))
    fi
done <<'CASES'
paramlist ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --ch	--check|
paramlist -	--help|-h|--version|-V|--json|--csv|--tsv|--from-json|-o|--output|--force|--wait|--diff|--brief|-z|--null|-H|--with-filename|--check|--set|--create|--dry-run|-n|--apply|--edit|--entries|--get|--merge|--ours|--theirs|--path|--files0-from|--schema|--no-schema|--|
paramlist --json a.par -	-dash.par|
paramlist -- -	-dash.par|
paramlist --check --json ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --from-json ''	folder|in.json|-dash.par|a.par|b.par|notes.txt|
paramlist --from-json in.json -o ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --output = n	notes.txt|
paramlist --output =	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --set Op	Operations[|
paramlist --set = N	Names[|
paramlist --set Init[0]=1 --cr	--create|
paramlist --set 'Init[0]' = 1 --cr	--create|
paramlist --set 'Init[0]' = 1 --set ''	Init[|TerminalCondition[|Operations[|Names[|Document[|
paramlist --set 'Names[2]' = 'feed rate' a.par -	-dash.par|
paramlist --merge --path = ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --apply ''	folder|in.json|-dash.par|a.par|b.par|notes.txt|
paramlist --apply in.json --dr	--dry-run|
paramlist --apply in.json ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --ed	--edit|
paramlist --get Op	Operations[|
paramlist --get 'Names[2]' --get ''	Init[|TerminalCondition[|Operations[|Names[|Document[|
paramlist --get 'Names[2]' --fi	--files0-from|
paramlist --files0-from = n	notes.txt|
paramlist --files0-from ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --set Init[0]=1 --wait = ''	|
paramlist --set Init[0]=1 --wait = 5 ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
CASES

if command -v zsh >/dev/null; then
    zsh -f -c 'fpath=("$1" $fpath); autoload -U compinit; compinit -u -d "$2/zcompdump"
               [[ ${_comps[paramlist]} == _paramlist ]] && autoload -Uz +X _paramlist' \
        zsh "$completions" "$work" || { echo "zsh: _paramlist does not load"; failures=$((failures + 1)); }
else
    echo "zsh is not installed: its completion is not checked"
fi
if command -v fish >/dev/null; then
    fish -n "$completions/paramlist.fish" || { echo "fish: paramlist.fish does not parse"; failures=$((failures + 1)); }
else
    echo "fish is not installed: its completion is not checked"
fi
exit $((failures > 0))
