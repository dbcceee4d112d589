#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quillon.
#   scripts/run.sh                 opens the window
#   scripts/run.sh ARGS...         runs the headless converter: quillon-convert ARGS...
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
cmake --build build -j "$(nproc)" >&2
if [ $# -gt 0 ]; then
  exec build/cli/quillon-convert "$@"
fi
exec build/app/quillon
