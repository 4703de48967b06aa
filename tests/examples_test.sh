#!/usr/bin/env bash
# Runs what the README and the manual show, for real: editing a file through
# jq, and a save that flushes the directory after its rename (seen with
# strace). Parameter files in git: git_test.sh.
# Usage: examples_test.sh PARAMLIST
set -euo pipefail
paramlist=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$(cd "$(dirname "$0")/../examples" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "examples_test: $*" >&2; exit 1; }

cp "$examples/sample.par" "$work/a.par"
"$paramlist" --json "$work/a.par" | jq '.Operations[10] = 851.5' | "$paramlist" --from-json - -o "$work/a.par"
status=0
diff=$("$paramlist" --diff "$examples/sample.par" "$work/a.par") || status=$?
[ "$status" = 1 ] && [ "$diff" = "Operations[10]: 850 -> 851.5" ] || fail "jq edit: status $status, diff: $diff"

# The conditional edit through jq and --set; a NaN, which jq's order puts
# above every number, is left alone.
cp "$examples/sample.par" "$work/low.par"
cp "$examples/sample.par" "$work/nan.par"
"$paramlist" --set 'Operations[10]=851.5' "$work/a.par"
"$paramlist" --set 'Operations[10]=849.5' "$work/low.par"
"$paramlist" --set 'Operations[10]=NaN' "$work/nan.par"
(cd "$work" && "$paramlist" --json *.par | jq -r 'select((.Operations[10] | numbers) > 850) | .file' |
    xargs -d '\n' "$paramlist" --set 'Operations[10]=850')
[ "$("$paramlist" --get 'Operations[10]' "$work/a.par" "$work/low.par" "$work/nan.par" | sed 's/.*: //')" = \
    "$(printf '850\n849.5\n"NaN"')" ] || fail "the conditional edit through --set must change the file above 850 alone"

cd "$work"
cp "$examples/sample.par" plant.par
"$paramlist" --json plant.par >plant.json
strace -f -e trace=fsync,rename,renameat,renameat2 -o "$work/trace" "$paramlist" --from-json plant.json -o plant.par
last=$(grep -E 'fsync|rename' "$work/trace" | tail -n 2 | sed -E 's/^[0-9]+ +//; s/\(.*//' | tr '\n' ' ')
[ "$last" = "renameat fsync " ] || [ "$last" = "renameat2 fsync " ] || [ "$last" = "rename fsync " ] ||
    fail "a save must flush the directory after its rename; the trace ends: $last"
echo "examples_test: jq edit, conditional --set and directory flush work"
