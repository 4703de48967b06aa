#!/usr/bin/env bash
# Compares a whole run of paramlist with `cat` of the same file, side by side:
# median wall time over interleaved runs, instructions executed under
# callgrind, and peak resident memory. Targets: a ratio of at most 1 for time
# and memory, at most 2 for instructions.
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
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*refs: *//p' | tr -d ,
}
peak_kib() { for _ in 1 2 3 4 5; do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; done | median; }

cat_times=() para_times=()
for ((i = 0; i < runs; i++)); do
    cat_times+=("$(microseconds "$cat" "$file")")
    para_times+=("$(microseconds "$paramlist" "$file")")
done
cat_wall=$(printf '%s\n' "${cat_times[@]}" | median)
para_wall=$(printf '%s\n' "${para_times[@]}" | median)
cat_ir=$(instructions "$cat" "$file")
para_ir=$(instructions "$paramlist" "$file")
cat_rss=$(peak_kib "$cat" "$file")
para_rss=$(peak_kib "$paramlist" "$file")

echo "paramlist against cat on $(basename "$file"), $runs interleaved runs each"
awk -v cw="$cat_wall" -v pw="$para_wall" -v ci="$cat_ir" -v pi="$para_ir" -v cr="$cat_rss" -v pr="$para_rss" '
function row(name, c, p, target) {
    printf "%-28s %12s %12s %7.2f  %s\n", name, c, p, p / c, (p / c <= target) ? "meets <= " target : "MISSES <= " target
}
BEGIN {
    printf "%-28s %12s %12s %7s\n", "", "cat", "paramlist", "ratio"
    row("wall time, median (us)", cw, pw, 1)
    row("instructions (callgrind)", ci, pi, 2)
    row("peak resident memory (KiB)", cr, pr, 1)
}'
