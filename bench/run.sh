#!/usr/bin/env bash
# Whole quillon-convert runs (process start included) against whole runs of
# quillon-bare-read, which only opens the same file and reads Data.IR through
# the netCDF C library. Per case: one unmeasured warm-up run of each command,
# then RUNS rounds, each running every command once in turn (interleaved, so
# that a change of machine load falls on all alike). Printed per command: the
# median, min and max wall time; the ratio is of the medians.
#
#   bench/run.sh [BUILD_DIR] [RUNS]      (defaults: build, 11; at least 7)
#   QUILLON_CONVERT=/path/to/quillon-convert   times another converter instead
#   QUILLON_BEFORE=/path/to/quillon-convert    also times this one (e.g. an older
#                                              build), interleaved with the others
#
# The generated sets are written on first use into BUILD_DIR/bench-sets, stored
# as SOFA writers store theirs (chunked, shuffle, deflate level 1), and one of
# them also uncompressed for comparison. The real sets in ../shared/sofa
# follow when present.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -d "${1:-$top/build}" ]; then
    cmake -S "$top" -B "${1:-$top/build}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
build=$(cd "${1:-$top/build}" && pwd)
runs=${2:-11}
if [ "$runs" -lt 7 ]; then
    echo "bench/run.sh: at least 7 runs" >&2
    exit 2
fi
shared=$(sed -n "s/^QUILLON_SHARED_SOFA_DIR:PATH=//p" "$build/CMakeCache.txt" 2>/dev/null)
shared=${shared:-$top/../shared/sofa}

cmake --build "$build" --target quillon-convert quillon-bare-read quillon-bench-set >&2
convert=${QUILLON_CONVERT:-$build/cli/quillon-convert}
before=${QUILLON_BEFORE:-}
bare="$build/bench/quillon-bare-read"
makeSet="$build/bench/quillon-bench-set"

sets="$build/bench-sets"
mkdir -p "$sets"
out=$(mktemp -d /tmp/quillon-run-XXXXXX)
trap 'rm -rf "$out"' EXIT

# generated NAME [--uncompressed] M N RATE LOWEST HIGHEST: path of the set,
# written on first use.
generated() {
    local path="$sets/$1.sofa"
    shift
    if [ ! -f "$path" ]; then
        echo "writing $path" >&2
        "$makeSet" "${@:1:$#-5}" "$path.part" "${@: -5}"
        mv "$path.part" "$path"
    fi
    echo "$path"
}

# wall COMMAND...: wall time of one run in ms
wall() {
    local TIMEFORMAT='%3R'
    { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.1f\n", $1 * 1000 }'
}

# stats: "median min max" of the numbers on standard input
stats() {
    sort -n | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.1f %.1f %.1f\n", m, v[1], v[NR] }'
}

echo "$(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg); $runs interleaved runs per command after a warm-up"
printf '%-34s %-24s %-24s %-7s' "case" "bare read ms med (min-max)" "convert ms med (min-max)" "ratio"
[ -n "$before" ] && printf ' %-24s %-7s' "before ms med (min-max)" "ratio"
printf ' goal\n'

# report LABEL GOAL FILE [CONVERT_OPTIONS...]
report() {
    local label=$1 goal=$2 file=$3
    shift 3
    local bareRuns="" convertRuns="" beforeRuns="" i
    "$bare" "$file"
    "$convert" "$@" "$file" "$out" >/dev/null
    [ -n "$before" ] && "$before" "$@" "$file" "$out" >/dev/null
    for ((i = 0; i < runs; i++)); do
        bareRuns+="$(wall "$bare" "$file")"$'\n'
        convertRuns+="$(wall "$convert" "$@" "$file" "$out")"$'\n'
        [ -n "$before" ] && beforeRuns+="$(wall "$before" "$@" "$file" "$out")"$'\n'
    done
    awk -v label="$label" -v goal="$goal" -v b="$(printf '%s' "$bareRuns" | stats)" \
        -v c="$(printf '%s' "$convertRuns" | stats)" \
        -v p="$( [ -n "$before" ] && printf '%s' "$beforeRuns" | stats)" 'BEGIN {
        split(b, bs, " "); split(c, cs, " ")
        printf "%-34s %7.1f (%6.1f-%7.1f)  %7.1f (%6.1f-%7.1f)  %5.2f ", label, bs[1], bs[2], bs[3], cs[1], cs[2], cs[3], cs[1] / bs[1]
        if (p != "") { split(p, ps, " "); printf "  %7.1f (%6.1f-%7.1f)  %5.2f ", ps[1], ps[2], ps[3], ps[1] / bs[1] }
        if (goal != "-") printf "  <= %.1f %s", goal, cs[1] / bs[1] <= goal ? "met" : "MISSED"
        printf "\n"
    }'
}

main=$(generated gen_1550x256_48000_-30_80 1550 256 48000 -30 80)
plain=$(generated gen_1550x256_48000_-30_80.uncompressed --uncompressed 1550 256 48000 -30 80)
dense=$(generated gen_40000x256_48000_-90_90 40000 256 48000 -90 90)

report "minphase 1550 x 256" 1.5 "$main" --treatment minphase
report "none     1550 x 256" 1.2 "$main" --treatment none
report "minphase 40000 x 256" 1.5 "$dense" --treatment minphase
report "none     40000 x 256" - "$dense" --treatment none
report "minphase 1550 x 256 uncompressed" - "$plain" --treatment minphase
report "none     1550 x 256 uncompressed" - "$plain" --treatment none
for real in "$shared"/*.sofa; do
    [ -f "$real" ] || continue
    for treatment in none crop minphase; do
        report "$(printf '%-8s %s' "$treatment" "$(basename "$real" .sofa | cut -c1-25)")" - "$real" --treatment "$treatment"
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
