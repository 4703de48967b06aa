#!/usr/bin/env bash
# The files made from the option table are as the program makes them now: each
# completion whole, and of the manual its synopsis between the markers and the
# first line of each entry of OPTIONS, an entry for each option and an option
# for each entry.
# Usage: generated_test.sh SOURCE_DIR PARAMLIST
set -euo pipefail
source=$1
paramlist=$2
failures=0

# The manual's part that --generate=man makes: the synopsis, then the tag of
# every entry of OPTIONS, sorted, since the entries follow their topics.
made_of_manual() {
    awk '/^\.\\" Made by paramlist --generate=man/ { synopsis = 1 }
         synopsis { print }
         /^\.\\" End of what paramlist --generate=man makes/ { synopsis = 0 }' "$1"
    awk '/^\.SH / { options = $2 == "OPTIONS" }
         options && tag && /^\\fB\\-/ { print }
         { tag = $0 == ".TP" }' "$1" | sort
}
made_by_program() {
    "$paramlist" --generate=man | awk '/^\.TP$/ { tags = 1 } !tags'
    "$paramlist" --generate=man | awk 'tag { print } { tag = $0 == ".TP" }' | sort
}

while read -r format file; do
    case $format in
    man) diff -u <(made_of_manual "$source/$file") <(made_by_program) ;;
    *) diff -u "$source/$file" <("$paramlist" --generate="$format") ;;
    esac || { echo "$file is not what paramlist --generate=$format makes"; failures=$((failures + 1)); }
done <<'FILES'
man man/paramlist.1
bash completions/paramlist.bash
zsh completions/_paramlist
fish completions/paramlist.fish
FILES

# A format that is none of these is a usage error.
status=0
"$paramlist" --generate=troff >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || { echo "--generate=troff: status $status, not 2"; failures=$((failures + 1)); }
exit $((failures > 0))
