#!/bin/bash
# The real program under an X server: fill the paths with xdotool, click
# Convert, check the HRTF set and the settings file, click the logo, close
# the window. Exits 77 (skipped) without a display, xdotool or the SOFA file.
#   end_to_end.sh QUILLON X_TEST_HELPER SOFA_FILE
set -u
quillon=$1
xhelper=$2
sofa=$3

skip() { echo "SKIPPED: $*"; exit 77; }
fail() {
    echo "FAILED: $*"
    # What the window and the files looked like, for the log.
    [ -n "${settings:-}" ] && [ -f "$settings" ] && cat "$settings"
    [ -n "${out:-}" ] && ls -la "$out" 2>&1
    if command -v import >/dev/null; then
        import -window root "${TMPDIR:-/tmp}/quillon-e2e-failure.png" 2>/dev/null &&
            echo "screen saved in ${TMPDIR:-/tmp}/quillon-e2e-failure.png"
    fi
    exit 1
}

[ -n "${DISPLAY:-}" ] || skip "no X display (run under xvfb-run)"
command -v xdotool >/dev/null || skip "xdotool not installed"
[ -f "$sofa" ] || skip "no SOFA file at $sofa"

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-e2e-XXXXXX")
pid=
atoms_pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$atoms_pid" ] && kill "$atoms_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A throw-away home, and a stand-in browser opener that records its argument.
export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config
mkdir -p "$HOME" "$work/bin"
printf '#!/bin/sh\necho "$1" >> "%s"\n' "$work/opened.txt" > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
export PATH=$work/bin:$PATH

# Waits up to $1 seconds for the command in the remaining arguments to succeed.
wait_for() {
    local tries=$(( $1 * 10 )); shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}

# No window manager here: its atoms must exist before the window starts.
"$xhelper" hold-atoms > "$work/atoms" &
atoms_pid=$!
wait_for 10 grep -q ready "$work/atoms" || fail "could not prepare the X server"

"$quillon" &
pid=$!

window_id() { xdotool search --all --pid "$pid" --name '^Quillon$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window_id)" ]; }
wait_for 20 has_window || fail "no window titled Quillon"
win=$(window_id)
eval "$(xdotool getwindowgeometry --shell "$win")"
[ "$WIDTH" = 692 ] && [ "$HEIGHT" = 520 ] || fail "window is ${WIDTH}x${HEIGHT}, not 692x520"

settings=$XDG_CONFIG_HOME/Kelvane/Quillon/Quillon.xml
[ -f "$settings" ] || fail "no settings file after start-up"

# Click at a point of the window's content.
click_at() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; }

out=$work/out/hrtfs
click_at 300 116                 # inText
xdotool type --delay 2 "$sofa"
click_at 300 188                 # outText, holding the default directory
xdotool key ctrl+a
xdotool type --delay 2 "$out"
click_at 96 332                  # Convert

name=$(basename "$sofa" .sofa)
set_written() { [ -s "$out/$name" ] && [ -s "$out/$name.txt" ]; }
wait_for 60 set_written || fail "no HRTF set in $out"
head -1 "$out/$name.txt" | grep -q '^% fs n_elevs n_hrtfs' || fail "header file does not start as a header"

saved() { grep -q "name=\"inFile\" val=\"$sofa\"" "$settings" && grep -q "name=\"outDir\" val=\"$out\"" "$settings"; }
wait_for 10 saved || { cat "$settings"; fail "settings file does not hold the paths"; }

# The logo's margin is no link; its inner area is.
click_at 495 8
sleep 0.5
[ ! -e "$work/opened.txt" ] || fail "a click on the logo's margin opened something"
click_at 566 46
wait_for 10 test -s "$work/opened.txt" || fail "a click on the logo opened nothing"
grep -q '^https://' "$work/opened.txt" || fail "the logo opened $(cat "$work/opened.txt")"

# Closing the window ends the program normally.
"$xhelper" close "$win" || fail "could not ask the window to close"
ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_for 10 ended || fail "the program did not end after its window was closed"
wait "$pid"
status=$?
pid=
[ $status = 0 ] || fail "the program ended with status $status"

echo "PASSED"
