# The timing the bench scripts share, sourced by them: one run's wall time,
# the median of many, and a fleet of copies of the sample file.

# milliseconds COMMAND...: the wall time of one run; a run that fails ends the bench.
milliseconds() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    local end=$EPOCHREALTIME
    echo "$start $end" | awk '{ printf "%.3f\n", ($2 - $1) * 1e3 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# make_files FOLDER COUNT: COUNT copies of the sample file, written back to disk.
make_files() {
    local folder=$1 count=$2
    mkdir -p "$folder"
    for ((i = 0; i < count; i++)); do
        cp "$root/examples/sample.par" "$folder/$(printf '%05d' "$i").par"
    done
    # The copies' own writeback would otherwise fall on whichever runs first.
    sync
}
