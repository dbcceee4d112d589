#!/bin/bash
# Takes a screenshot of Quillon's window after one conversion, under a private
# X server, into docs/screenshot.png (or the given file).
#   scripts/screenshot.sh QUILLON_BINARY [OUTPUT_PNG] [SOFA_FILE]
# Needs xvfb-run, xdotool and ImageMagick's import.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
quillon=$(realpath "${1:?usage: $0 QUILLON_BINARY [OUTPUT_PNG] [SOFA_FILE]}")
output=$(realpath -m "${2:-$repo/docs/screenshot.png}")
sofa=$(realpath -m "${3:-$repo/../shared/sofa/MIT_KEMAR_normal_pinna.sofa}")

if [ -z "${QUILLON_SCREENSHOT_INNER:-}" ]; then
    export QUILLON_SCREENSHOT_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$quillon" "$output" "$sofa"
fi

work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"

"$quillon" &
pid=$!
win=
for _ in $(seq 100); do
    win=$(xdotool search --all --pid "$pid" --name '^Quillon$' 2>/dev/null | head -1) || true
    [ -n "$win" ] && break
    sleep 0.1
done
[ -n "$win" ] || { echo "no Quillon window" >&2; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$win")"

if [ -f "$sofa" ]; then
    xdotool mousemove $((X + 300)) $((Y + 116)) click 1
    xdotool type --delay 2 "$sofa"
    xdotool mousemove $((X + 300)) $((Y + 188)) click 1
    xdotool key ctrl+a
    xdotool type --delay 2 "$work/hrtfs"
    xdotool mousemove $((X + 96)) $((Y + 332)) click 1
    for _ in $(seq 300); do
        [ -s "$work/hrtfs/$(basename "$sofa" .sofa).txt" ] && break
        sleep 0.1
    done
fi
# Away from the window, so that no tooltip shows; give the status box a tick.
xdotool mousemove 0 0
sleep 1

mkdir -p "$(dirname "$output")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$output"
echo "wrote $output (${WIDTH}x${HEIGHT})"
