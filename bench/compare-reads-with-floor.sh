#!/usr/bin/env bash
# Measures the modes that read a fleet (--check, --json, --csv, --get) over
# many files against the floor of reading them (bench/read-floor.c: open,
# read to the end, close, per file, on one thread), side by side in one run,
# each pair in both orders: the median wall time of each, their ratio, and
# the lowest and highest ratio of a pair, which show how much the machine
# moved meanwhile. Target: a ratio of at most 1.3 against the floor.
#
# Usage: bench/compare-reads-with-floor.sh [PARAMLIST [FILES [RUNS]]]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
paramlist=${1:-$root/build/paramlist}
files=${2:-10000}
runs=${3:-11}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/read-floor" "$root/bench/read-floor.c"

. "$root/bench/timing.sh"

make_files "$work/fleet" "$files"
mapfile -t list < <(printf '%s\n' "$work/fleet"/*.par)

# compare NAME PARAMLIST-ARGUMENTS...: the mode over the fleet against the floor.
compare() {
    local name=$1 floor_times=() mode_times=() ratios=()
    shift
    # A pair not counted, which brings the files' inodes and pages into memory.
    "$work/read-floor" "${list[@]}" && "$paramlist" "$@" "${list[@]}" >/dev/null
    for ((i = 0; i < runs; i++)); do
        local floor mode
        if ((i % 2)); then
            floor=$(milliseconds "$work/read-floor" "${list[@]}")
            mode=$(milliseconds "$paramlist" "$@" "${list[@]}")
        else
            mode=$(milliseconds "$paramlist" "$@" "${list[@]}")
            floor=$(milliseconds "$work/read-floor" "${list[@]}")
        fi
        floor_times+=("$floor") mode_times+=("$mode")
        ratios+=("$(awk -v m="$mode" -v f="$floor" 'BEGIN { printf "%.3f\n", m / f }')")
    done
    local floor_wall mode_wall spread
    floor_wall=$(printf '%s\n' "${floor_times[@]}" | median)
    mode_wall=$(printf '%s\n' "${mode_times[@]}" | median)
    spread=$(printf '%s\n' "${ratios[@]}" | sort -n | awk 'NR == 1 { low = $1 } { high = $1 } END { printf "%.2f-%.2f", low, high }')
    awk -v n="$name" -v f="$floor_wall" -v m="$mode_wall" -v s="$spread" 'BEGIN {
        printf "%-24s %10.1f %10.1f %7.2f %11s  %s\n", n, f, m, m / f, s, (m / f <= 1.3) ? "meets <= 1.3" : "MISSES <= 1.3" }'
}

echo "paramlist's reads against the floor of reading, $files files, median of $runs interleaved runs, both orders"
echo "(load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores)"
printf '%-24s %10s %10s %7s %11s\n' "wall time (ms)" floor mode ratio "pair range"
compare "--check" --check
compare "--json" --json
compare "--csv" --csv
compare "--get 'Operations[10]'" --get 'Operations[10]'
echo "(load average: $(cut -d' ' -f1-3 /proc/loadavg) afterwards)"
