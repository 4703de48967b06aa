#!/usr/bin/env bash
# Compares a whole run of paramlist with `cat` of the same file, side by side,
# for the listing and for --json: median wall time over interleaved runs,
# instructions executed under callgrind, and peak resident memory. Targets: a
# ratio of at most 1 for time and memory, at most 2 for instructions.
#
# Usage: bench/compare-with-cat.sh [PARAMLIST [FILE [RUNS]]]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
paramlist=${1:-$root/build/paramlist}
file=${2:-$root/examples/sample.par}
runs=${3:-51}
cat=$(command -v cat)
for tool in valgrind /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "compare-with-cat: $tool is needed" >&2; exit 2; }
done

microseconds() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    local end=$EPOCHREALTIME
    echo "$start $end" | awk '{ printf "%.0f\n", ($2 - $1) * 1e6 }'
}
. "$root/bench/timing.sh"
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*refs: *//p' | tr -d ,
}
peak_kib() { for _ in 1 2 3 4 5; do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; done | median; }

# report NAME COMMAND...: one block of rows for paramlist run as COMMAND FILE.
report() {
    local name=$1 cat_times=() para_times=()
    shift
    for ((i = 0; i < runs; i++)); do
        if ((i % 2)); then
            cat_times+=("$(microseconds "$cat" "$file")")
            para_times+=("$(microseconds "$@" "$file")")
        else
            para_times+=("$(microseconds "$@" "$file")")
            cat_times+=("$(microseconds "$cat" "$file")")
        fi
    done
    local cat_wall para_wall cat_ir para_ir cat_rss para_rss
    cat_wall=$(printf '%s\n' "${cat_times[@]}" | median)
    para_wall=$(printf '%s\n' "${para_times[@]}" | median)
    cat_ir=$(instructions "$cat" "$file")
    para_ir=$(instructions "$@" "$file")
    cat_rss=$(peak_kib "$cat" "$file")
    para_rss=$(peak_kib "$@" "$file")
    awk -v n="$name" -v cw="$cat_wall" -v pw="$para_wall" -v ci="$cat_ir" -v pi="$para_ir" -v cr="$cat_rss" \
        -v pr="$para_rss" '
    function row(what, c, p, target) {
        printf "%-36s %12s %12s %7.2f  %s\n", what, c, p, p / c, (p / c <= target) ? "meets <= " target : "MISSES <= " target
    }
    BEGIN {
        row(n ": wall time, median (us)", cw, pw, 1)
        row(n ": instructions (callgrind)", ci, pi, 2)
        row(n ": peak resident memory (KiB)", cr, pr, 1)
    }'
}

echo "paramlist against cat on $(basename "$file"), $runs interleaved runs each, both orders"
printf '%-36s %12s %12s %7s\n' "" cat paramlist ratio
report "listing" "$paramlist"
report "--json" "$paramlist" --json
