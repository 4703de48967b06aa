#!/usr/bin/env bash
# Writes examples/fleet: twelve presses on three lines, copies of
# examples/sample.par changed with paramlist --set as a fleet drifts apart,
# for paramlist --summary (the README's picture, doc/summary.png, is its page).
# Usage: examples/make_fleet.sh [PARAMLIST]
set -euo pipefail
examples=$(cd "$(dirname "$0")" && pwd)
paramlist=${1:-$examples/../build/paramlist}
fleet=$examples/fleet
rm -rf "$fleet"
for line in 1 2 3; do
    mkdir -p "$fleet/line-$line"
    for press in 1 2 3 4; do
        file=$fleet/line-$line/press-$line$press.par
        cp "$examples/sample.par" "$file"
        # Each press has a serial number of its own.
        "$paramlist" --set "Init[12]=$((40 + 4 * line + press))" "$file"
    done
done
set_in() { local assignment=$1; shift; for f in "$@"; do "$paramlist" --set "$assignment" "$fleet/$f.par"; done; }
set_in 'Operations[10]=870' line-2/press-21 line-2/press-22 line-2/press-23
set_in 'Operations[10]=851.5' line-1/press-13
set_in 'TerminalCondition[0]=1100' line-3/press-31 line-3/press-32 line-3/press-33 line-3/press-34
set_in 'Names[4]=cooling ramp v2' line-3/press-31 line-3/press-32
set_in 'Operations[3]=NaN' line-1/press-12
set_in 'Document[17]=false' line-2/press-24 line-3/press-34
set_in 'Init[1]=1250' line-1/press-14
