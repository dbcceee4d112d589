#!/usr/bin/env bash
# A batch of 8 real-sized sets (4 copies of each real set in SOFA_DIR)
# converted by whole quillon-convert runs with --jobs 1 and --jobs 2. One
# unmeasured warm-up of each, then RUNS rounds, each running both in turn
# (interleaved, so that a change of machine load falls on both alike).
# Printed: core count and load average, the median, min and max wall time of
# each, the ratio of the medians, and whether both wrote the same sets.
#
#   bench/batch.sh [BUILD_DIR] [RUNS]    (defaults: build, 7; at least 7)
#   SOFA_DIR=/path/to/sets               default: the build's QUILLON_SHARED_SOFA_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
runs=${2:-7}
if [ "$runs" -lt 7 ]; then
    echo "bench/batch.sh: at least 7 runs" >&2
    exit 2
fi
tool=$build/cli/quillon-convert
shared=$(sed -n "s/^QUILLON_SHARED_SOFA_DIR:PATH=//p" "$build/CMakeCache.txt" 2>/dev/null)
sets=${SOFA_DIR:-${shared:-$top/../shared/sofa}}
[ -x "$tool" ] || { echo "bench/batch.sh: no $tool (build first)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
n=0
for copy in 1 2 3 4; do
    for sofa in "$sets"/*.sofa; do
        cp "$sofa" "$work/in/$copy-$(basename "$sofa")"
        n=$((n + 1))
    done
done
[ "$n" -gt 0 ] || { echo "bench/batch.sh: no *.sofa in $sets" >&2; exit 2; }

run() { # jobs output-dir -> seconds
    local start end
    start=$(date +%s.%N)
    "$tool" --jobs "$1" "$work/in" "$2" >"$work/out-$1.txt"
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}
stats() { sort -n | awk '{ v[NR] = $1 } END { printf "median %.3f s  min %.3f s  max %.3f s", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[1], v[NR] }'; }

echo "sets: $n files from $sets; cores: $(nproc); load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
run 1 "$work/o1" >/dev/null
run 2 "$work/o2" >/dev/null
: >"$work/t1"
: >"$work/t2"
for _ in $(seq "$runs"); do
    run 1 "$work/o1" >>"$work/t1"
    run 2 "$work/o2" >>"$work/t2"
done
m1=$(sort -n "$work/t1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
m2=$(sort -n "$work/t2" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "--jobs 1: $(stats <"$work/t1")  ($runs runs)"
echo "--jobs 2: $(stats <"$work/t2")  ($runs runs)"
echo "speed-up of the medians: $(awk -v a="$m1" -v b="$m2" 'BEGIN { printf "%.2f", a / b }')"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
if diff -r "$work/o1" "$work/o2" >/dev/null && cmp -s <(sed "s#$work/o1#OUT#g" "$work/out-1.txt") \
                                                     <(sed "s#$work/o2#OUT#g" "$work/out-2.txt"); then
    echo "same sets and same standard output"
else
    echo "DIFFERENT sets or standard output" >&2
    exit 1
fi
