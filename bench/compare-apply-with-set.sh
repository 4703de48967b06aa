#!/usr/bin/env bash
# Measures `paramlist --apply` of a fleet's JSON in which one entry changed
# against `paramlist --set` of that entry over the same files, side by side in
# one run, each pair in both orders, on 2,000 files; then the whole round trip
# `--json | jq | --apply` against the jq and --from-json loop it replaces, on
# 200 files. Every timed run changes the entry in every file, so that each
# writes what the other writes. The files live on the real disk (under
# /var/tmp unless BENCH_DIR says otherwise): on tmpfs a flush costs nothing.
# Target: --apply at most the time of --set (a ratio of at most 1.0, within
# the runs' noise).
#
# Usage: bench/compare-apply-with-set.sh [PARAMLIST [RUNS]]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
paramlist=${1:-$root/build/paramlist}
runs=${2:-5}
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/paramlist-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$root/bench/timing.sh"

count=2000
make_files "$work/fleet" "$count"
mapfile -t list < <(printf '%s\n' "$work/fleet"/*.par)
# The fleet's JSON with the entry at each of the two values the runs take in turn.
"$paramlist" --json "${list[@]}" | jq -c '.Operations[10] = 851.5' >"$work/a.jsonl"
"$paramlist" --json "${list[@]}" | jq -c '.Operations[10] = 852.5' >"$work/b.jsonl"
apply() { "$paramlist" --apply "$work/$1.jsonl"; }
set_entry() { "$paramlist" --set "Operations[10]=$1" "${list[@]}"; }
# A pair not counted, which brings the files' directory and inodes into memory.
apply a && set_entry 852.5
set_times=() apply_times=()
for ((i = 0; i < runs; i++)); do
    if ((i % 2)); then
        apply_times+=("$(milliseconds apply a)")
        set_times+=("$(milliseconds set_entry 852.5)")
    else
        set_times+=("$(milliseconds set_entry 851.5)")
        apply_times+=("$(milliseconds apply b)")
    fi
done
set=$(printf '%s\n' "${set_times[@]}" | median)
applied=$(printf '%s\n' "${apply_times[@]}" | median)
echo "paramlist --apply against --set of one changed entry, median of $runs interleaved runs, both orders"
printf '%-34s %10s %10s %7s\n' "wall time (ms)" "--set" "--apply" ratio
awk -v n="$count files" -v s="$set" -v a="$applied" \
    'BEGIN { printf "%-34s %10.1f %10.1f %7.2f  %s\n", n, s, a, a / s, (a / s <= 1.0) ? "meets <= 1.0" : "above 1.0" }'

make_files "$work/jq" 200
mapfile -t list < <(printf '%s\n' "$work/jq"/*.par)
jq_loop() {
    for file in "${list[@]}"; do
        "$paramlist" --json "$file" | jq -c '.Operations[10] = 851.5' | "$paramlist" --from-json - -o "$file"
    done
}
round_trip() { "$paramlist" --json "${list[@]}" | jq -c ".Operations[10] = $1" | "$paramlist" --apply -; }
jq_time=$(milliseconds jq_loop)
trip_times=()
for ((i = 0; i < runs; i++)); do
    trip_times+=("$(milliseconds round_trip "85$((i % 2)).5")")
done
trip=$(printf '%s\n' "${trip_times[@]}" | median)
printf '%-34s %10s %10s %7s\n' "" "jq loop" "round trip" "loop/trip"
awk -v j="$jq_time" -v t="$trip" 'BEGIN { printf "%-34s %10.1f %10.1f %7.1f\n", "200 files", j, t, j / t }'
