#!/usr/bin/env bash
# Rewrites what is made from the option table after a row changes: the
# completions whole, and the manual's synopsis between its markers. A new
# option's entry in OPTIONS is prose, written by hand, whose first line
# tests/generated_test.sh compares with what paramlist --generate=man makes.
# Usage: cmake/regenerate.sh PARAMLIST
set -euo pipefail
paramlist=$(realpath "$1")
cd "$(dirname "$0")/.."
"$paramlist" --generate=bash >completions/paramlist.bash
"$paramlist" --generate=zsh >completions/_paramlist
"$paramlist" --generate=fish >completions/paramlist.fish
synopsis=$(mktemp)
trap 'rm -f "$synopsis"' EXIT
"$paramlist" --generate=man | awk '/^\.TP$/ { exit } { print }' >"$synopsis"
awk -v made="$synopsis" '
    /^\.\\" Made by paramlist --generate=man/ { while ((getline line < made) > 0) print line; skip = 1; next }
    skip && /^\.\\" End of what paramlist --generate=man makes/ { skip = 0; next }
    !skip { print }' man/paramlist.1 >man/paramlist.1.new
mv man/paramlist.1.new man/paramlist.1
