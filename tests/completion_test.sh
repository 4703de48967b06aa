#!/usr/bin/env bash
# The shell completions: bash's function is called as bash calls it, with
# COMP_WORDS and COMP_CWORD set, and its COMPREPLY checked; the zsh one must
# load through compinit and the fish one parse. A shell that is not installed
# is skipped. Every option that --help names must be in each of them, and
# bash and fish offer after each mode the options of its synopsis in --help.
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
named=$(grep -o -E -- '(^|[ [])--?[a-zA-Z][-a-z0-9]*' <<<"$help" | tr -d ' [' | sort -u)
for option in $named; do
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
# What bash offers for the words, the last one being completed, each reply
# followed by |.
bash_offers() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _paramlist
             printf "%s|" "${COMPREPLY[@]}"' completion "$completions/paramlist.bash" "$@"
}
while IFS=$'\t' read -r words expected; do
    eval "set -- $words"
    got=$(bash_offers "$@")
    if [ "$got" != "$expected" ]; then
        echo "bash: paramlist ${words#paramlist } : expected '$expected', got '$got'"
        failures=$((failures + 1))
    fi
done <<'CASES'
paramlist ''	-dash.par|a.par|b.par|folder|in.json|notes.txt|
paramlist --ch	--check|
paramlist --diff --o	|
paramlist --json --d	--diff|--dry-run|
paramlist --ours -o	|
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

# Before any option, every option that --help names, and --.
got=$(bash_offers paramlist - | tr '|' '\n' | sort)
expected=$(printf '%s\n' $named -- | sort)
[ "$got" = "$expected" ] || { echo "bash: paramlist - : expected $expected, got $got"; failures=$((failures + 1)); }

# Each synopsis of --help on one line, the summary left out; an option's two
# forms, as the option lines of --help give them.
synopses=$(awk '/^  paramlist --/ { if (line) print line; line = length($0) > 31 && substr($0, 30, 2) == "  " ? substr($0, 1, 29) : $0; next }
                /^            [^ ]/ { line = line $0; next }
                END { print line }' <<<"$help")
forms=$(sed -n -E 's/^  (-[a-zA-Z]), (--[-a-z0-9]+).*/\1 \2/p' <<<"$help")
mkdir offers && cd offers
while read -r _ mode argument _; do
    # A mode that also goes with others (--json) offers theirs too.
    grep -v -E -- "^  paramlist $mode " <<<"$synopses" | grep -q -E -- "\[$mode[] ]" && continue
    line=$(grep -E -- "^  paramlist $mode " <<<"$synopses")
    words=$(grep -o -E -- '(^|[ [])--?[a-zA-Z][-a-z0-9]*' <<<"$line" | tr -d ' [' | sed "0,/^$mode\$/{/^$mode\$/d}")
    for word in $words; do grep -E -- "(^| )$word( |\$)" <<<"$forms" || echo "$word"; done | tr ' ' '\n' | sort -u >"$work/expected"
    given=(paramlist "$mode")
    [[ $argument == [A-Z]* ]] && given+=(X)
    bash_offers "${given[@]}" - | tr '|' '\n' | grep -v -x -e -- -e '' | sort >"$work/got"
    diff "$work/expected" "$work/got" >/dev/null ||
        { echo "bash: ${given[*]} - : offers $(tr '\n' ' ' <"$work/got"), --help says $(tr '\n' ' ' <"$work/expected")"; failures=$((failures + 1)); }
    if command -v fish >/dev/null; then
        fish -c 'source $argv[1]; complete -C "$argv[2] -"' "$completions/paramlist.fish" "${given[*]}" | cut -f1 | sort >"$work/got"
        diff "$work/expected" "$work/got" >/dev/null ||
            { echo "fish: ${given[*]} - : offers $(tr '\n' ' ' <"$work/got"), --help says $(tr '\n' ' ' <"$work/expected")"; failures=$((failures + 1)); }
    fi
done <<<"$(grep -v -E '^  paramlist FILE' <<<"$synopses")"
cd "$work"

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
