#!/usr/bin/env bash
# Compares the modes over many files with `cat` of the same files, each in one
# process, side by side: median wall time over interleaved runs, each pair run
# in both orders (the first command of a pair tends to run faster). Files:
# random images (any bytes) and realistic ones (the sample with two entries
# changed per file). Target: a ratio of at most 1 for --json, --csv and
# --check (both forms) and --entries over the files, for --diff REFERENCE FILE... against cat of the same
# files (the first file is the reference), and for --diff A B against cat A B.
# --check, --entries and --diff with a schema, whose notes end the lines of
# described entries: the realistic files beside examples/paramlist.toml,
# and the same files spread over 300 folders, each with a copy of it, which
# must cost no more per file.
#
# Usage: bench/compare-many-with-cat.sh [PARAMLIST [FILES [RUNS]]]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
paramlist=${1:-$root/build/paramlist}
files=${2:-10000}
runs=${3:-21}
cat=$(command -v cat)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$files" "$root/examples/sample.par" <<'PY'
import os, random, struct, sys
work, count, sample = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], 'rb').read()
random.seed(7)
os.makedirs(f'{work}/random'); os.makedirs(f'{work}/realistic')
for i in range(count):
    with open(f'{work}/random/{i:05d}.par', 'wb') as f:
        f.write(random.randbytes(3950))
    image = bytearray(sample)
    struct.pack_into('<I', image, 4 * 7, i)
    struct.pack_into('<d', image, 600 + 8 * 10, 800 + i / 8)
    with open(f'{work}/realistic/{i:05d}.par', 'wb') as f:
        f.write(image)
PY
mkdir "$work/described"
cp -l "$work"/realistic/*.par "$root/examples/paramlist.toml" "$work/described/"
for ((i = 0; i < files; i++)); do
    folder=$work/fleet/$((i % 300))
    [ -d "$folder" ] || { mkdir -p "$folder" && cp "$root/examples/paramlist.toml" "$folder/"; }
    ln "$work/realistic/$(printf '%05d' "$i").par" "$folder/"
done

. "$root/bench/timing.sh"
# diff and --check exit 1 when they find something: their time counts all the same.
milliseconds() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    local end=$EPOCHREALTIME
    echo "$start $end" | awk '{ printf "%.3f\n", ($2 - $1) * 1e3 }'
}

# compare NAME -- CAT-COMMAND... -- PARAMLIST-COMMAND...
compare() {
    local name=$1 cat_command=() para_command=() cat_times=() para_times=()
    shift 2
    while [ "$1" != -- ]; do cat_command+=("$1"); shift; done
    shift
    para_command=("$@")
    for ((i = 0; i < runs; i++)); do
        if ((i % 2)); then
            cat_times+=("$(milliseconds "${cat_command[@]}")")
            para_times+=("$(milliseconds "${para_command[@]}")")
        else
            para_times+=("$(milliseconds "${para_command[@]}")")
            cat_times+=("$(milliseconds "${cat_command[@]}")")
        fi
    done
    local cat_wall para_wall
    cat_wall=$(printf '%s\n' "${cat_times[@]}" | median)
    para_wall=$(printf '%s\n' "${para_times[@]}" | median)
    awk -v n="$name" -v c="$cat_wall" -v p="$para_wall" \
        'BEGIN { printf "%-34s %10.2f %10.2f %7.2f  %s\n", n, c, p, p / c, (p / c <= 1) ? "meets <= 1" : "MISSES <= 1" }'
}

echo "paramlist modes against cat, $files files a set, median of $runs interleaved runs, both orders"
printf '%-34s %10s %10s %7s\n' "wall time (ms)" cat paramlist ratio
for set in random realistic; do
    mapfile -t list < <(printf '%s\n' "$work/$set"/*.par)
    compare "--json, $set" -- "$cat" "${list[@]}" -- "$paramlist" --json "${list[@]}"
    compare "--csv, $set" -- "$cat" "${list[@]}" -- "$paramlist" --csv "${list[@]}"
    compare "--check, $set" -- "$cat" "${list[@]}" -- "$paramlist" --check "${list[@]}"
    compare "--check --json, $set" -- "$cat" "${list[@]}" -- "$paramlist" --check --json "${list[@]}"
    compare "--entries, $set" -- "$cat" "${list[@]}" -- "$paramlist" --entries "${list[@]}"
    compare "--diff REFERENCE FILE..., $set" -- "$cat" "${list[@]}" -- "$paramlist" --diff "${list[0]}" "${list[@]}"
    compare "--diff A B, $set" -- "$cat" "${list[0]}" "${list[1]}" -- "$paramlist" --diff "${list[0]}" "${list[1]}"
done
for set in described fleet; do
    mapfile -t list < <(printf '%s\n' "$work/$set"/*.par "$work/$set"/*/*.par 2>/dev/null | grep -v '\*')
    compare "--check with a schema, $set" -- "$cat" "${list[@]}" -- "$paramlist" --check "${list[@]}"
    compare "--check --json with a schema, $set" -- "$cat" "${list[@]}" -- "$paramlist" --check --json "${list[@]}"
    compare "--entries with a schema, $set" -- "$cat" "${list[@]}" -- "$paramlist" --entries "${list[@]}"
    compare "--diff with a schema, $set" -- "$cat" "${list[@]}" -- "$paramlist" --diff "${list[0]}" "${list[@]}"
    compare "--diff --json with a schema, $set" -- "$cat" "${list[@]}" -- \
        "$paramlist" --diff --json "${list[0]}" "${list[@]}"
done
