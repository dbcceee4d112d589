#!/usr/bin/env bash
# Whole quillon-convert runs (process start included) against quillon-bare-read,
# which only opens the same file and reads Data.IR through the netCDF C library.
# Each command runs RUNS times, interleaved, after one unmeasured warm-up run;
# the medians and their ratios are printed, wall clock and CPU time (user +
# system; steadier on a busy machine), against the plain bare read and against
# one whose buffer lies on huge pages like the converter's Data.IR block.
#
#   bench/run.sh [BUILD_DIR] [RUNS]      (defaults: build, 7)
#   QUILLON_CONVERT=/path/to/quillon-convert bench/run.sh ...   times another build's converter
#
# Goals: minimum phase on 1550 x 256 at most 2.0 x the bare read, treatment none
# on the same file at most 1.5 x, the dense set (40000 x 256, default treatment,
# which is minimum phase) at most 3 x. The real sets in ../shared/sofa follow.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
runs=${2:-7}
shared="$top/../shared/sofa"

cmake --build "$build" --target quillon-convert quillon-bare-read quillon-bench-set >&2
convert=${QUILLON_CONVERT:-$build/cli/quillon-convert}
bare="$build/bench/quillon-bare-read"
makeSet="$build/bench/quillon-bench-set"

sets="$build/bench-sets"
mkdir -p "$sets"
out=$(mktemp -d /tmp/quillon-run-XXXXXX)
trap 'rm -rf "$out"' EXIT

# generated NAME M N RATE LOWEST HIGHEST: path of the set, written on first use.
generated() {
  local path="$sets/$1.sofa"
  if [ ! -f "$path" ]; then
    echo "writing $path" >&2
    "$makeSet" "$path.part" "$2" "$3" "$4" "$5" "$6"
    mv "$path.part" "$path"
  fi
  echo "$path"
}

# timed COMMAND...: "wall_ms cpu_ms" of one run (cpu = user + system)
timed() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.1f %.1f\n", $1 * 1000, ($2 + $3) * 1000 }'
}

# median of the numbers on standard input
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# column N of the runs on standard input, median
column() { cut -d' ' -f"$1" | median; }

# report LABEL GOAL FILE [CONVERT_OPTIONS...]: medians of the bare read (plain,
# and with its buffer on huge pages as the converter's block is) and of the
# conversion, wall clock and CPU time, and the ratios. The goal is judged on
# wall clock against the plain bare read; the ratio against the huge-page read
# shows what is left once page faults weigh alike.
report() {
  local label=$1 goal=$2 file=$3
  shift 3
  local bareRuns="" hugeRuns="" convertRuns="" i
  "$bare" "$file"
  "$bare" --huge-pages "$file"
  "$convert" "$@" "$file" "$out" >/dev/null
  for ((i = 0; i < runs; i++)); do
    bareRuns+="$(timed "$bare" "$file")"$'\n'
    hugeRuns+="$(timed "$bare" --huge-pages "$file")"$'\n'
    convertRuns+="$(timed "$convert" "$@" "$file" "$out")"$'\n'
  done
  awk -v label="$label" -v goal="$goal" \
      -v bw="$(printf '%s' "$bareRuns" | column 1)" -v bc="$(printf '%s' "$bareRuns" | column 2)" \
      -v hw="$(printf '%s' "$hugeRuns" | column 1)" -v hc="$(printf '%s' "$hugeRuns" | column 2)" \
      -v cw="$(printf '%s' "$convertRuns" | column 1)" -v cc="$(printf '%s' "$convertRuns" | column 2)" 'BEGIN {
    ratio = cw / bw
    verdict = goal == "-" ? "" : sprintf("  goal <= %.1f: %s", goal, ratio <= goal ? "met" : "MISSED")
    printf "%-40s convert %7.1f ms  bare read %7.1f ms  ratio %5.2f%s\n", label, cw, bw, ratio, verdict
    printf "%-40s   cpu %7.1f ms       cpu %7.1f ms  ratio %5.2f   | bare read on huge pages %7.1f ms (cpu %7.1f): ratio %5.2f (cpu %5.2f)\n", \
           "", cc, bc, (bc > 0 ? cc / bc : 0), hw, hc, cw / hw, (hc > 0 ? cc / hc : 0)
  }'
}

main=$(generated gen_1550x256_48000_-30_80 1550 256 48000 -30 80)
dense=$(generated gen_40000x256_48000_-90_90 40000 256 48000 -90 90)

echo "quillon-convert against quillon-bare-read: medians of $runs runs each, process start included"
report "minphase 1550 x 256 (-30..80, 48 kHz)" 2.0 "$main" --treatment minphase
report "none     1550 x 256 (-30..80, 48 kHz)" 1.5 "$main" --treatment none
report "default  40000 x 256 (dense, minphase)" 3.0 "$dense"
report "none     40000 x 256 (dense)" - "$dense" --treatment none
for real in "$shared"/*.sofa; do
  [ -f "$real" ] || continue
  for treatment in none crop minphase; do
    report "$(printf '%-8s %s' "$treatment" "$(basename "$real" .sofa)")" - "$real" --treatment "$treatment"
  done
done
