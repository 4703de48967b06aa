#!/usr/bin/env bash
# Measures `paramlist --set 'Operations[10]=851.5'` over many files against
# the floor of a crash-safe replace (bench/replace-floor.c: write a temporary,
# flush it, rename it over the file, flush the directory, per file), side by
# side in one run, each pair in both orders, on 2,000 and 10,000 files; and
# against the three-process jq loop a file that --set replaces, on 200 files.
# The files live on the real disk (under /var/tmp unless BENCH_DIR says
# otherwise): on tmpfs a flush costs nothing and the comparison says nothing.
# Target: a ratio of at most 1.3 against the floor.
#
# Usage: bench/compare-set-with-floor.sh [PARAMLIST [RUNS]]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
paramlist=${1:-$root/build/paramlist}
runs=${2:-3}
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/paramlist-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/replace-floor" "$root/bench/replace-floor.c"

. "$root/bench/timing.sh"

jq_loop() {
    for file in "$@"; do
        "$paramlist" --json "$file" | jq -c '.Operations[10] = 851.5' | "$paramlist" --from-json - -o "$file"
    done
}

echo "paramlist --set against the floor of a crash-safe replace, median of $runs interleaved runs, both orders"
printf '%-34s %10s %10s %7s\n' "wall time (ms)" floor "--set" ratio
for count in 2000 10000; do
    make_files "$work/fleet$count" "$count"
    mapfile -t list < <(printf '%s\n' "$work/fleet$count"/*.par)
    floor_times=() set_times=()
    # A pair not counted, which brings the files' directory and inodes into memory.
    "$work/replace-floor" "${list[@]}" && "$paramlist" --set 'Operations[10]=851.5' "${list[@]}"
    for ((i = 0; i < runs; i++)); do
        if ((i % 2)); then
            floor_times+=("$(milliseconds "$work/replace-floor" "${list[@]}")")
            set_times+=("$(milliseconds "$paramlist" --set 'Operations[10]=851.5' "${list[@]}")")
        else
            set_times+=("$(milliseconds "$paramlist" --set 'Operations[10]=851.5' "${list[@]}")")
            floor_times+=("$(milliseconds "$work/replace-floor" "${list[@]}")")
        fi
    done
    floor=$(printf '%s\n' "${floor_times[@]}" | median)
    set=$(printf '%s\n' "${set_times[@]}" | median)
    awk -v n="$count files" -v f="$floor" -v s="$set" \
        'BEGIN { printf "%-34s %10.1f %10.1f %7.2f  %s\n", n, f, s, s / f, (s / f <= 1.3) ? "meets <= 1.3" : "MISSES <= 1.3" }'
    rm -rf "$work/fleet$count"
done

make_files "$work/jq" 200
mapfile -t list < <(printf '%s\n' "$work/jq"/*.par)
jq_time=$(milliseconds jq_loop "${list[@]}")
set_times=()
for ((i = 0; i < runs; i++)); do
    set_times+=("$(milliseconds "$paramlist" --set 'Operations[10]=851.5' "${list[@]}")")
done
set=$(printf '%s\n' "${set_times[@]}" | median)
printf '%-34s %10s %10s %7s\n' "" "jq loop" "--set" "jq/set"
awk -v j="$jq_time" -v s="$set" 'BEGIN { printf "%-34s %10.1f %10.1f %7.1f\n", "200 files", j, s, j / s }'
