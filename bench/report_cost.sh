#!/usr/bin/env bash
# What the quality checks and the report files cost, in instructions counted
# by callgrind (steady on a busy machine, unlike wall time): one conversion of
# each real set with each treatment and the report on, split into the whole
# conversion, the checks (always on) and the report files (on request).
# Under valgrind SHA-256 runs its portable code, as on a processor without SHA
# extensions; with them the hash costs a fraction of that. Wall-clock times of
# the report: quillon-bench (its "+report" table).
#
#   bench/report_cost.sh [BUILD_DIR]      (default: build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
shared="$top/../shared/sofa"
[ -d "$shared" ] || shared=/work/shared/sofa
cmake --build "$build" --target report_convert >&2
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
