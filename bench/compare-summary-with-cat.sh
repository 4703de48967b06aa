#!/usr/bin/env bash
# Compares --summary and --summary --html over many files with `cat` of the
# same files, each in one process, side by side: median wall time over
# interleaved runs, each pair run in both orders (the first command of a pair
# tends to run faster), the ratio of all pairs and of each order. Files:
# random images (every entry varies, every value distinct) and copies of the
# sample with two entries changed per file (one a serial number), in 100
# directories. Targets: a ratio of at most 1 for --summary and at most 2 for
# --summary --html; the page of the random files at most 5 MB.
#
# Usage: bench/compare-summary-with-cat.sh [PARAMLIST [FILES [RUNS]]]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
paramlist=${1:-$root/build/paramlist}
files=${2:-10000}
runs=${3:-11}
cat=$(command -v cat)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$files" "$root/examples/sample.par" <<'PY'
import os, random, struct, sys
work, count, sample = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], 'rb').read()
random.seed(7)
os.makedirs(f'{work}/random')
for d in range(100):
    os.makedirs(f'{work}/copies/{d:02d}')
for i in range(count):
    with open(f'{work}/random/{i:05d}.par', 'wb') as f:
        f.write(random.randbytes(3950))
    image = bytearray(sample)
    struct.pack_into('<I', image, 4 * 7, i)
    struct.pack_into('<d', image, 600 + 8 * 10, 800 + i % 50 / 8)
    with open(f'{work}/copies/{i % 100:02d}/{i:05d}.par', 'wb') as f:
        f.write(image)
PY

. "$root/bench/timing.sh"

# compare NAME TARGET -- CAT-COMMAND... -- PARAMLIST-COMMAND...
compare() {
    local name=$1 target=$2 cat_command=() para_command=() cat_times=() para_times=() first=() second=()
    shift 3
    while [ "$1" != -- ]; do cat_command+=("$1"); shift; done
    shift
    para_command=("$@")
    for ((i = 0; i < runs; i++)); do
        local c p
        if ((i % 2)); then
            c=$(milliseconds "${cat_command[@]}")
            p=$(milliseconds "${para_command[@]}")
            second+=("$(awk -v c="$c" -v p="$p" 'BEGIN { print p / c }')")
        else
            p=$(milliseconds "${para_command[@]}")
            c=$(milliseconds "${cat_command[@]}")
            first+=("$(awk -v c="$c" -v p="$p" 'BEGIN { print p / c }')")
        fi
        cat_times+=("$c")
        para_times+=("$p")
    done
    local cat_wall para_wall first_ratio second_ratio
    cat_wall=$(printf '%s\n' "${cat_times[@]}" | median)
    para_wall=$(printf '%s\n' "${para_times[@]}" | median)
    first_ratio=$(printf '%s\n' "${first[@]}" | median)
    second_ratio=$(printf '%s\n' "${second[@]}" | median)
    awk -v n="$name" -v c="$cat_wall" -v p="$para_wall" -v t="$target" -v f="$first_ratio" -v s="$second_ratio" \
        'BEGIN { printf "%-28s %10.2f %10.2f %7.2f %7.2f %7.2f  %s %s\n", n, c, p, p / c, f, s,
                 (p / c <= t) ? "meets <=" : "MISSES <=", t }'
}

echo "--summary against cat, $files files a set, median of $runs interleaved runs, both orders"
echo "(ratio: of the medians; first, second: the median ratio of the pairs where paramlist ran first, second)"
printf '%-28s %10s %10s %7s %7s %7s\n' "wall time (ms)" cat paramlist ratio first second
for set in random copies; do
    mapfile -t list < <(find "$work/$set" -name '*.par' | sort)
    compare "--summary, $set" 1 -- "$cat" "${list[@]}" -- "$paramlist" --summary "${list[@]}"
    compare "--summary --html, $set" 2 -- "$cat" "${list[@]}" -- "$paramlist" --summary --html "${list[@]}"
done
mapfile -t list < <(find "$work/random" -name '*.par' | sort)
"$paramlist" --summary --html "${list[@]}" >"$work/page.html"
awk -v b="$(wc -c <"$work/page.html")" \
    'BEGIN { printf "page of the random files: %d bytes, %s\n", b, b <= 5 * 1048576 ? "meets <= 5 MB" : "MISSES <= 5 MB" }'
