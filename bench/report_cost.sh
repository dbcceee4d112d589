#!/usr/bin/env bash
# What the quality checks and the report files cost, in instructions counted
# by callgrind (steady on a busy machine, unlike wall time): one conversion of
# each real set with each treatment and the report on, split into the whole
# conversion, the checks (always on) and the report files (on request).
# Under valgrind SHA-256 runs its portable code, as on a processor without SHA
# extensions; with them the hash costs a fraction of that. Then whole
# quillon-convert runs of each set (default treatment) without and with
# --report, interleaved after one warm-up each: median, min and max of RUNS.
#
#   bench/report_cost.sh [BUILD_DIR] [RUNS]      (defaults: build, 7)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
shared="$top/../shared/sofa"
[ -d "$shared" ] || shared=/work/shared/sofa
runs=${2:-7}
cmake --build "$build" --target report_convert quillon-convert >&2
tool="$build/tests/report/report_convert"
out=$(mktemp -d /tmp/quillon-report-cost-XXXXXX)
trap 'rm -rf "$out"' EXIT

# inclusive NAME...: the summed inclusive counts of the functions whose
# "file:function(" entries are named (the first entry of each: a function may
# also be listed under a second spelling of its source path)
inclusive() {
  callgrind_annotate --inclusive=yes --auto=no --threshold=100 "$out/cg" 2>/dev/null | awk -v names="$*" '
    BEGIN { n = split(names, name, " ") }
    { for (i = 1; i <= n; ++i) if (!seen[i] && index($0, name[i] "(")) { seen[i] = 1; gsub(",", "", $1); s += $1; break } }
    END { print s + 0 }'
}

printf '%-30s %-9s %14s %12s %7s %12s %7s %12s\n' set treatment conversion checks share report share "of it hash"
for set in MIT_KEMAR_normal_pinna LISTEN_1002_IRC_1002_C_HRIR; do
  for treatment in none crop minphase; do
    valgrind --tool=callgrind --callgrind-out-file="$out/cg" "$tool" "$shared/$set.sofa" "$out/set" "$treatment" \
      >/dev/null 2>&1
    total=$(inclusive ConvertSofaFile.cpp:convertSofaFile)
    checks=$(inclusive QualityChecks.cpp:checkConversion QualityChecks.cpp:onsetDifferences)
    hash=$(inclusive Sha256.cpp:sha256OfFile)
    files=$(inclusive ReportFiles.cpp:writeReport)
    report=$((hash + files))
    base=$((total - report))
    awk -v s="$set" -v t="$treatment" -v b="$base" -v c="$checks" -v r="$report" -v h="$hash" 'BEGIN {
      printf "%-30s %-9s %14d %12d %6.1f%% %12d %6.1f%% %12d\n", s, t, b, c, 100 * c / b, r, 100 * r / b, h }'
  done
done
echo "conversion: instructions without the report files (checks included); share: of that"

# Whole runs: wall milliseconds of one run of the command.
wall() {
  local TIMEFORMAT='%3R'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.1f\n", $1 * 1000 }'
}
stats() { sort -n | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%8.1f %8.1f %8.1f", m, v[1], v[NR] }'; }
convert="$build/cli/quillon-convert"
echo
echo "whole runs, $runs of each interleaved; load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
printf '%-30s %-9s %8s %8s %8s   %8s %8s %8s\n' set "" median min max "+report" min max
for set in MIT_KEMAR_normal_pinna LISTEN_1002_IRC_1002_C_HRIR; do
  wall "$convert" "$shared/$set.sofa" "$out/plain" >/dev/null
  wall "$convert" --report "$shared/$set.sofa" "$out/report" >/dev/null
  : >"$out/plain.ms"; : >"$out/report.ms"
  for _ in $(seq "$runs"); do
    wall "$convert" "$shared/$set.sofa" "$out/plain" >>"$out/plain.ms"
    wall "$convert" --report "$shared/$set.sofa" "$out/report" >>"$out/report.ms"
  done
  printf '%-30s %-9s %s   %s\n' "$set" ms "$(stats <"$out/plain.ms")" "$(stats <"$out/report.ms")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
