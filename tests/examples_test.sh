#!/usr/bin/env bash
# Runs what the README and the manual show, for real: every command of the
# README's tour, its output compared with the README's; editing a file through
# jq, a fleet's text changed with jq and with the manual's pandas example and
# applied back, and a save that flushes the directory after its rename (seen
# with strace). Parameter files in git, beyond the tour: git_test.sh.
# Usage: examples_test.sh PARAMLIST
set -euo pipefail
paramlist=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$(cd "$(dirname "$0")/../examples" && pwd)
sources=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "examples_test: $*" >&2; exit 1; }
# manual_example PATTERN: the manual's example block (.nf to .fi) that holds
# PATTERN, its escapes undone.
manual_example() {
    awk -v pattern="$1" '/^\.nf$/ { block = ""; inside = 1; next }
        /^\.fi$/ { if (inside && block ~ pattern) printf "%s", block; inside = 0 }
        inside { block = block $0 "\n" }' "$sources/man/paramlist.1" |
        sed -e 's/\\(aq/'"'"'/g' -e 's/\\(dq/"/g' -e 's/\\-/-/g' -e 's/\\e/\\/g'
}

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

# A fleet's text through jq and pandas, and back: only the entry that changed.
mkdir "$work/fleet"
for i in 1 2 3; do cp "$examples/sample.par" "$work/fleet/plant$i.par"; done
(
    cd "$work"
    "$paramlist" --set 'Operations[10]=851.5' fleet/plant2.par
    cp fleet/plant1.par untouched.par
    "$paramlist" --json fleet/*.par >fleet.jsonl
    dry=$(jq -c 'select(.Names[2] == "feed rate") | .Operations[10] = 850' fleet.jsonl | "$paramlist" -n --apply -) &&
        fail "a dry run that finds a change must exit 1"
    [ "$dry" = "fleet/plant2.par: Operations[10]: 851.5 -> 850" ] || fail "dry run: $dry"
    before=$(stat -c %i fleet/plant1.par)
    jq -c 'select(.Names[2] == "feed rate") | .Operations[10] = 850' fleet.jsonl | "$paramlist" --apply -
    [ "$(stat -c %i fleet/plant1.par)" = "$before" ] || fail "--apply rewrote a file whose text did not change"
    cmp fleet/plant2.par untouched.par || fail "--apply of the jq change must leave plant2.par as the others"
    "$paramlist" --entries fleet/plant3.par | sed 's/^Init\[3\]: .*/Init[3]: 9/' | "$paramlist" --apply - fleet/plant3.par
    [ "$("$paramlist" --diff untouched.par fleet/plant3.par)" = "Init[3]: 0 -> 9" ] || fail "entries text applied"
    for python in python3 /usr/bin/python3; do
        if "$python" -c 'import pandas' 2>/dev/null; then
            "$paramlist" --set 'Operations[10]=851.5' fleet/plant1.par
            "$paramlist" --json fleet/*.par >fleet.jsonl
            # The manual's pandas examples, as they stand there.
            manual_example cooled >cool.py
            grep -q 'json.dumps' cool.py || fail "the manual's pandas example of --apply is missing"
            "$python" cool.py
            "$paramlist" --apply cooled.jsonl
            [ "$("$paramlist" --json fleet/*.par | jq -c '.Operations[10]' | sort -u)" = 850 ] ||
                fail "the pandas round trip must set Operations[10] to 850"
            cmp fleet/plant1.par untouched.par || fail "the pandas round trip must change Operations[10] alone"
            "$paramlist" --csv fleet/*.par >fleet.csv
            { manual_example read_csv; echo 'assert len(fleet) == 3 and fleet["Operations[10]"].dtype == "float64"'; } >read.py
            "$python" read.py || fail "the manual's pandas example of --csv does not read fleet.csv"
            break
        fi
    done
)

cd "$work"
cp "$examples/sample.par" plant.par
# A record that differs from the file's: one that does not is not written at all.
"$paramlist" --json plant.par | jq -c '.Operations[10] = 851.5' >plant.json
strace -f -e trace=fsync,rename,renameat,renameat2 -o "$work/trace" "$paramlist" --from-json plant.json -o plant.par
last=$(grep -E 'fsync|rename' "$work/trace" | tail -n 2 | sed -E 's/^[0-9]+ +//; s/\(.*//' | tr '\n' ' ')
[ "$last" = "renameat fsync " ] || [ "$last" = "renameat2 fsync " ] || [ "$last" = "rename fsync " ] ||
    fail "a save must flush the directory after its rename; the trace ends: $last"
# The README's tour: every command of its console blocks, run in order in one
# shell from a scratch folder laid out as the sources are (examples/, and
# build/ holding the program), each one's standard output and error compared
# with the lines the README shows under it, trailing blanks aside.
tour=$work/tour
mkdir "$tour" "$tour/home" "$tour/runs"
mkdir "$tour/sources"
ln -s "$examples" "$tour/sources/examples"
ln -s "$(dirname "$paramlist")" "$tour/sources/build"
awk -v runs="$tour/runs" '
    /^```console$/ { inside = 1; next }
    /^```/ { inside = 0; next }
    inside && /^\$ / {
        n++
        printf "{ %s\n} >%s/%d.actual 2>&1\n", substr($0, 3), runs, n
        print substr($0, 3) >(runs "/" n ".command")
        printf "" >(runs "/" n ".expected")
        next
    }
    inside && n { print >(runs "/" n ".expected") }
' "$sources/README.md" >"$tour/tour.sh"
commands=$(find "$tour/runs" -name '*.command' | wc -l)
[ "$commands" -ge 30 ] || fail "the README shows $commands commands; its tour is missing"
# The editor of the tour's --edit: it changes what the README says it does.
(cd "$tour/sources" &&
    env HOME="$tour/home" GIT_CONFIG_NOSYSTEM=1 GIT_PAGER=cat PAGER=cat \
        GIT_AUTHOR_NAME=tour GIT_AUTHOR_EMAIL=tour@paramlist.invalid \
        GIT_COMMITTER_NAME=tour GIT_COMMITTER_EMAIL=tour@paramlist.invalid \
        VISUAL="sed -i 's/^Init\[3\]: 9\$/Init[3]: 7/'" bash "$tour/tour.sh" </dev/null) ||
    true # the last command's status: the outputs below tell whether the tour ran as shown
for ((i = 1; i <= commands; i++)); do
    if ! diff <(sed 's/[[:space:]]*$//' "$tour/runs/$i.expected") <(sed 's/[[:space:]]*$//' "$tour/runs/$i.actual") \
            >"$tour/runs/$i.diff"; then
        echo "examples_test: the README's \$ $(cat "$tour/runs/$i.command")" >&2
        cat "$tour/runs/$i.diff" >&2
        failed=1
    fi
done
[ -z "${failed:-}" ] || fail "the README's tour does not print what it shows"

echo "examples_test: the README's $commands commands, jq edit, conditional --set, the fleet's text applied back and directory flush work"
