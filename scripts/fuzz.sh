#!/usr/bin/env bash
# Fuzzes the SOFA layer and the converter under the sanitizers (AddressSanitizer
# and UndefinedBehaviorSanitizer unless FUZZ_SANITIZE says otherwise) for a
# given time, then prints inputs tried, crashes, sanitizer reports, time-outs
# and new coverage.
#
#   scripts/fuzz.sh generator [SECONDS] [FIRST_SEED]   seed-driven structure-aware generator
#   scripts/fuzz.sh raw [SECONDS]                      libFuzzer on the file's bytes
#   scripts/fuzz.sh structured [SECONDS]               libFuzzer driving the generator's choices
#
# Builds (clang, sanitizers, coverage) in $FUZZ_BUILD_DIR (default: build-fuzz).
# FUZZ_SANITIZE=undefined builds with UndefinedBehaviorSanitizer alone, in
# build-fuzz-undefined: no leak or memory checks, but about four times the inputs
# a second, for the long generator campaigns (default: address,undefined).
# Findings and the grown corpus go to $FUZZ_OUT_DIR (default: the build directory's fuzz-out).
# Each run uses one core, niced; run two at once on a two-core machine at most.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-generator}
seconds=${2:-600}
sanitize=${FUZZ_SANITIZE:-address,undefined}
if [ "$sanitize" = address,undefined ]; then
  build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
else
  build=${FUZZ_BUILD_DIR:-$top/build-fuzz-${sanitize//,/-}}
fi
out=${FUZZ_OUT_DIR:-$build/fuzz-out}/$mode
mkdir -p "$out"

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLON_WITH_JUCE=OFF -DQUILLON_BENCH=OFF -DQUILLON_SANITIZE=ON \
    -DQUILLON_SANITIZERS="$sanitize" -DQUILLON_FUZZ=ON > "$out/configure.log"
fi
cmake --build "$build" --target sofa_fuzz_generate fuzz_convert_sofa fuzz_generated_sofa > "$out/build.log"

# A file that declares gigabytes must meet a refusal, not the machine's memory:
# our allocations (operator new) above 3 GiB are reported rather than made; the C
# libraries' mallocs above it return NULL, so that libnetcdf's own sizing from a
# corrupt header takes its error path (libFuzzer's limit sits above ASan's).
export ASAN_OPTIONS=${ASAN_OPTIONS:-max_allocation_size_mb=3072:allocator_may_return_null=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/fuzz/lsan.supp}
export TMPDIR=${TMPDIR:-/tmp}
# Some inputs are accepted into sets of up to 1 GiB; on a virtual machine their
# page faults, not the conversion, can take most of a run. Transparent huge
# pages for malloc's large blocks cut them (no effect under AddressSanitizer).
export GLIBC_TUNABLES=${GLIBC_TUNABLES:-glibc.malloc.hugetlb=1}
fuzz_dir="$build/tests/fuzz"
log="$out/run.log"

case "$mode" in
generator)
  first=${3:-$(date +%s)}
  # The driver prints its own summary (inputs, crashes, sanitizer reports, leaks,
  # time-outs, broken rules, new outcome classes and edges).
  status=0
  nice -n 10 "$fuzz_dir/sofa_fuzz_generate" run --first "$first" --count 100000000 --seconds "$seconds" \
    --save "$out/saved" --save-max-bytes 30000 --quiet > "$log" 2> "$out/stderr.log" || status=$?
  cat "$log"
  echo "sanitizers: $sanitize"
  echo "sanitizer report lines: $(grep -cE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$out/stderr.log" || true)"
  echo "reproduce a seed: $fuzz_dir/sofa_fuzz_generate write SEED file.sofa && $fuzz_dir/sofa_fuzz_generate check file.sofa"
  exit $status
  ;;
raw | structured)
  if [ "$mode" = raw ]; then
    target=fuzz_convert_sofa
    corpus="$out/corpus"
    mkdir -p "$corpus"
    cp -n "$top"/tests/fuzz/corpus/*.sofa "$corpus"/ 2>/dev/null || true
    max_len=65536
  else
    target=fuzz_generated_sofa
    corpus="$out/corpus"
    mkdir -p "$corpus"
    # Starting points: random choice strings, so that the first inputs already vary.
    if [ -z "$(ls -A "$corpus")" ]; then
      for i in $(seq 1 32); do head -c 256 /dev/urandom > "$corpus/seed-$i"; done
    fi
    max_len=4096
  fi
  mkdir -p "$out/artifacts"
  status=0
  # One worker process that survives crashes, time-outs and out-of-memory
  # reports, so that one run counts them all. A valid file of a million
  # measurements takes about a minute under the sanitizers and coverage: the
  # time-out leaves room for it.
  nice -n 10 "$fuzz_dir/$target" "$corpus" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=180 -rss_limit_mb=6144 -malloc_limit_mb=4096 \
    -artifact_prefix="$out/artifacts/" -print_final_stats=1 > "$log" 2>&1 || status=$?
  first_cov=$(grep -m1 -oE 'cov: [0-9]+' "$log" | grep -oE '[0-9]+' || echo 0)
  last=$(grep -E '^#[0-9]+: cov: ' "$log" | tail -n 1 || true)
  last_cov=$(echo "$last" | grep -oE 'cov: [0-9]+' | grep -oE '[0-9]+' || echo 0)
  inputs=$(echo "$last" | grep -oE '^#[0-9]+' | tr -d '#' || echo 0)
  counts=$(echo "$last" | grep -oE 'oom/timeout/crash: [0-9]+/[0-9]+/[0-9]+' | cut -d' ' -f2 || echo 0/0/0)
  echo "mode: $mode ($target), $seconds s, sanitizers: $sanitize"
  echo "inputs tried: ${inputs:-0}"
  echo "crashes: $(echo "$counts" | cut -d/ -f3)"
  echo "out-of-memory reports: $(echo "$counts" | cut -d/ -f1)"
  echo "time-outs: $(echo "$counts" | cut -d/ -f2)"
  echo "sanitizer reports: $(grep -cE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$log" || true)"
  echo "rules broken: $(grep -c '==quillon-fuzz== rule broken' "$log" || true)"
  echo "new coverage: edges $first_cov -> $last_cov, corpus $(ls "$corpus" | wc -l) inputs"
  echo "artifacts: $(ls "$out/artifacts" | wc -l) in $out/artifacts (log: $log)"
  if [ "$mode" = structured ]; then
    echo "turn an artifact into its SOFA file: $fuzz_dir/sofa_fuzz_generate write-bytes ARTIFACT file.sofa"
  fi
  exit $status
  ;;
*)
  sed -n '2,14p' "$0"
  exit 2
  ;;
esac
