#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
# the full build (window tests under Xvfb) and the engine under ASan+UBSan.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON
cmake --build build -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON -DQUILLON_WERROR=ON \
      -DQUILLON_WITH_JUCE=OFF -DQUILLON_BENCH=OFF
cmake --build build-asan -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== engine tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
ctest --test-dir build-asan --output-on-failure -j "$jobs"
echo "== all tests =="
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure -j "$jobs"
