#!/usr/bin/env bash
# Parameter files in a scratch git repository, set up with the lines that the
# README, the manual and examples/paramlist.gitconfig give: plain git diff,
# log -p and show give entry lines through --entries; branches
# that change different entries merge cleanly through --merge; the same entry
# changed differently conflicts, the file still lists, git status shows it
# unmerged, git checkout -m brings the conflict back and the two sides of it
# compare with --diff, and --set with git add completes the merge. git diff
# --stat names the changed files only: git counts their bytes, not the lines
# of --entries. The files of a schema, with a driver that names it, show one
# changed line for one changed entry, and the text git keeps of them is made
# again once dropped.
# Usage: git_test.sh PARAMLIST
set -euo pipefail
paramlist=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$(cd "$(dirname "$0")/../examples" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "git_test: $*" >&2; exit 1; }

# paramlist on PATH, as installed; no configuration but the repository's own.
mkdir "$work/bin" "$work/repo"
ln -s "$paramlist" "$work/bin/paramlist"
export PATH="$work/bin:$PATH" HOME="$work" GIT_CONFIG_NOSYSTEM=1 GIT_PAGER=cat
cd "$work/repo"
git init -q -b main
git config user.email ci@paramlist.invalid
git config user.name CI

git config diff.paramlist.textconv 'paramlist --entries --force --no-schema --'
git config diff.paramlist.cachetextconv true
git config merge.paramlist.name 'paramlist entry-by-entry merge'
git config merge.paramlist.driver 'paramlist --merge --path=%P %O %A %B'
echo '*.par diff=paramlist merge=paramlist' >.gitattributes
for key in diff.paramlist.textconv diff.paramlist.cachetextconv merge.paramlist.name merge.paramlist.driver; do
    [ "$(git config -f "$examples/paramlist.gitconfig" "$key")" = "$(git config "$key")" ] ||
        fail "examples/paramlist.gitconfig differs from the documented $key"
done

# edit FILE JQ-FILTER: changes entries of FILE as the README shows.
edit() { paramlist --json "$1" | jq "$2" | paramlist --from-json - -o "$1"; }
# branch NAME JQ-FILTER: a branch from main whose one commit edits the file.
branch() {
    git checkout -q -b "$1" main
    edit "$file" "$2"
    git commit -qam "$1"
}
# value FILE ENTRY: the entry's line of --entries.
value() { paramlist --entries "$1" | grep -F "$2: "; }

# A path with a blank, which the merge driver's %P must carry whole.
file='plant floor.par'
cp "$examples/sample.par" "$file"
cp "$examples/sample.par" ./-dash.par
git add -- .gitattributes "$file" -dash.par
git commit -qm sample

edit "$file" '.Names[2] = "feed rate 2" | .Document[4] = false'
changes=$(git diff | grep -E '^[-+][^-+]')
expected='-Names[2]: "feed rate"
-Document[4]: true
+Names[2]: "feed rate 2"
+Document[4]: false'
expected=$(sort <<<"$expected")
[ "$(sort <<<"$changes")" = "$expected" ] || fail "git diff showed: $changes"
# git counts a file's own bytes for --stat, not the lines textconv makes of it.
stat=$(git diff --stat | head -n 1)
[[ "$stat" == *"plant floor.par | "* ]] || fail "git diff --stat showed: $stat"
# git hands textconv a file of the work tree by its own name, which may start with '-'.
paramlist --set 'Init[1]=1201' -- -dash.par
dashed=$(git diff -- -dash.par 2>&1 | grep -E '^[-+][^-+]|fatal' || true)
[ "$dashed" = $'-Init[1]: 1200\n+Init[1]: 1201' ] || fail "git diff of -dash.par showed: $dashed"
git checkout -- -dash.par
# A file cut short is shown, not refused: a refusal would stop git diff altogether.
head -c 3900 "$examples/sample.par" >-dash.par
cut=$(git diff -- -dash.par 2>&1 | grep -E '^[-+]bytes|fatal' || true)
[ "$cut" = $'-bytes: 3950\n+bytes: 3900' ] || fail "git diff of a file cut short showed: $cut"
git checkout -- -dash.par
git commit -qam 'feed rate 2'
for command in 'log -p -1' 'show' 'show HEAD --stat=200'; do
    shown=$(git $command)
    [[ "$shown" != *Binary* ]] || fail "git $command says the file is binary: $shown"
done
[ "$(git log -p -1 | grep -E '^[-+][^-+]' | sort)" = "$expected" ] || fail "git log -p: $(git log -p -1)"
[ "$(git show | grep -E '^[-+][^-+]' | sort)" = "$expected" ] || fail "git show: $(git show)"
# A reader that stops early is no failure of the conversion.
(git log -p 2>"$work/log.err" || true) | head -n 1 >/dev/null
[ ! -s "$work/log.err" ] || fail "git log -p | head: $(cat "$work/log.err")"

# Two branches changing different entries merge cleanly, with both changes.
branch feed '.Operations[10] = 851.5'
branch zones '.Init[1] = 1300 | .Names[7] = "door"'
git merge -q --no-edit feed >"$work/merge.out" 2>&1 || fail "a clean merge failed: $(cat "$work/merge.out")"
[ "$(value "$file" 'Operations[10]')" = 'Operations[10]: 851.5' ] || fail "the merge lost feed's change"
[ "$(value "$file" 'Init[1]')" = 'Init[1]: 1300' ] || fail "the merge lost zones' change"
[ "$(value "$file" 'Names[7]')" = 'Names[7]: "door"' ] || fail "the merge lost zones' name"
[ -z "$(git status --porcelain)" ] || fail "the clean merge left: $(git status --porcelain)"

# The same entry changed differently conflicts; the file keeps this branch's
# value, so it still lists.
branch hot '.Operations[10] = 852'
branch cold '.Operations[10] = 853 | .Init[2] = 61'
git checkout -q hot
status=0
git merge --no-edit cold >"$work/merge.out" 2>&1 || status=$?
[ "$status" != 0 ] || fail "a conflicting merge succeeded"
grep -qF 'plant floor.par: Operations[10]: base 850, ours 852, theirs 853' "$work/merge.out" ||
    fail "the merge did not list the conflict: $(cat "$work/merge.out")"
grep -qF 'CONFLICT (content): Merge conflict in plant floor.par' "$work/merge.out" ||
    fail "git did not report the conflict: $(cat "$work/merge.out")"
[ "$(git status --porcelain -- "$file")" = 'UU "plant floor.par"' ] ||
    fail "git status shows: $(git status --porcelain)"
paramlist "$file" >/dev/null || fail "the conflicted file does not list"
[ "$(value "$file" 'Operations[10]')" = 'Operations[10]: 852' ] || fail "the conflicted file lost this branch's value"
[ "$(value "$file" 'Init[2]')" = 'Init[2]: 61' ] || fail "the conflicted file lost the other branch's change"

# A conflict undone by hand comes back with git checkout -m, which runs the
# merge driver again; the two sides compare as stages 2 and 3 of the index.
paramlist --set 'Operations[10]=1' "$file"
git checkout -m -- "$file" >"$work/checkout.out" 2>&1 || fail "git checkout -m: $(cat "$work/checkout.out")"
[ "$(value "$file" 'Operations[10]')" = 'Operations[10]: 852' ] || fail "git checkout -m did not merge again"
sides=$(paramlist --diff <(git show ":2:$file") <(git show ":3:$file") || true)
[ "$sides" = $'Init[2]: 60 -> 61\nOperations[10]: 852 -> 853' ] || fail "the sides of the conflict differ in: $sides"

# Resolved with --set and git add, the merge completes.
paramlist --set 'Operations[10]=852.5' "$file" || fail "--set could not resolve the conflict"
git add "$file"
git commit -q --no-edit
[ "$(git rev-list --parents -n 1 HEAD | wc -w)" = 3 ] || fail "the resolved merge is not a merge commit"
[ "$(value "$file" 'Operations[10]')" = 'Operations[10]: 852.5' ] || fail "the resolution did not stay"

# The files of a schema, with the driver of their own that the manual and
# examples/paramlist.gitconfig give: git converts the committed version from
# a copy outside the work tree, at the work tree's top, and the work tree's
# file by its path, so the text of both comes from the schema the driver
# names. paramlist is logged, to see how git calls the driver.
rm "$work/bin/paramlist"
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\nexec "%s" "$@"\n' "$work/calls" "$paramlist" >"$work/bin/paramlist"
chmod +x "$work/bin/paramlist"
press=plants/line1/press.par
mkdir -p plants/line1
cp "$examples/paramlist.toml" plants/
cp "$examples/sample.par" "$press"
echo 'plants/**/*.par diff=plants merge=paramlist' >>.gitattributes
textconv=$(sed -n 's/^#[[:space:]]*textconv = //p' "$examples/paramlist.gitconfig")
[ "$textconv" = 'paramlist --entries --force --schema=plants/paramlist.toml --' ] ||
    fail "examples/paramlist.gitconfig gives the schema's driver as: $textconv"
git config diff.plants.textconv "$textconv"
git config diff.plants.cachetextconv true
git add .gitattributes plants
git commit -qm plants
paramlist --set 'Operations[10]=851.5' "$press"
: >"$work/calls"
# From a folder below the top, where git still runs the driver at the top.
changes=$(cd plants/line1 && git diff HEAD -- press.par | grep -E '^[-+][^-+]')
entry() { paramlist --entries --schema=plants/paramlist.toml "$1" | grep -F 'Operations[10]: '; }
before=$(git show "HEAD:$press" | entry -)
after=$(entry "$press")
[ "$changes" = "-$before"$'\n'"+$after" ] || fail "git diff of one entry of a file with a schema showed: $changes"
grep -qx -- "--entries --force --schema=plants/paramlist.toml -- $press" "$work/calls" ||
    fail "git did not convert the work tree's file through the schema's driver: $(cat "$work/calls")"
grep -qE -- "^--entries --force --schema=plants/paramlist.toml -- /.*/press.par$" "$work/calls" ||
    fail "git did not convert the committed copy through the schema's driver: $(cat "$work/calls")"
# The line ends with the schema's note of the entry.
[ "$after" = 'Operations[10]: 851.5  # feed_rate: Feed rate [mm/min]' ] || fail "the line's note is: $after"

# git keeps the text of committed versions as notes under the driver's name,
# which the manual drops after the schema changes; the text made again is the
# new schema's.
git commit -qam 'feed 851.5'
git log -p -1 >/dev/null
git rev-parse -q --verify refs/notes/textconv/plants >/dev/null || fail "git kept no text under the schema's driver"
sed -i 's/^label = "Feed rate"$/label = "Feed"/' plants/paramlist.toml
git commit -qam 'the schema says Feed'
logged() { git log -p -1 -- "$press" | grep -E '^[-+]Operations'; }
cached=$(logged)
git update-ref -d refs/notes/textconv/plants
git rev-parse -q --verify refs/notes/textconv/plants >/dev/null && fail "git update-ref -d kept the text"
made=$(logged)
[[ "$cached" == *'Feed rate [mm/min]'*'Feed rate [mm/min]' ]] || fail "the kept text is not the old schema's: $cached"
[ "$made" = $'-Operations[10]: 850  # feed_rate: Feed [mm/min]\n+Operations[10]: 851.5  # feed_rate: Feed [mm/min]' ] ||
    fail "the text made after the kept one was dropped: $made"
echo "git_test: diff, log -p, show, a clean merge, and a conflict brought back with checkout -m and resolved with --set work;"\
    "a schema's driver gives one changed line and its kept text is dropped"
