#!/bin/bash
# Renders the report page of one conversion in headless Chromium and keeps a
# screenshot, by default of the LISTEN set cropped (its page carries a warning)
# into docs/report.png.
#   scripts/report_screenshot.sh BUILD_DIR [OUTPUT_PNG] [SOFA_FILE] [TREATMENT]
# Needs chromium (apt-get install chromium).
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:?usage: $0 BUILD_DIR [OUTPUT_PNG] [SOFA_FILE] [TREATMENT]}")
output=$(realpath -m "${2:-$repo/docs/report.png}")
sofa=$(realpath -m "${3:-$repo/../shared/sofa/LISTEN_1002_IRC_1002_C_HRIR.sofa}")
treatment=${4:-crop}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$sofa" .sofa)
"$build/tests/report/report_convert" "$sofa" "$work/$name" "$treatment" >/dev/null
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/profile" --hide-scrollbars \
    --screenshot="$output" --window-size=1000,2150 "file://$work/$name.report.html" 2>/dev/null
echo "$output"
