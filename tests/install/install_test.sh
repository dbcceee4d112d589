#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and packages it, as a user would,
# then checks what was installed and packaged:
# - the installed quillon-convert, run outside the source and build trees,
#   converts a real set correctly (tests/independent/check_conversion.py);
# - the installed window starts and shows its window (when there is a display);
# - the desktop entry validates, runs an installed program and names an icon
#   installed in hicolor sizes, each PNG as large as its folder says;
# - the manual pages render without warnings; quillon-convert's has an entry
#   for every option of --help and every exit status it lists;
# - nothing installed refers to the source or the build tree;
# - the Debian package holds the same files, its Depends were found by
#   dpkg-shlibdeps and its version is the program's.
#   install_test.sh BUILD_DIR SOURCE_DIR SOFA_FILE
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
sofa=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# A clean environment: no PATH into the trees, a private home.
mkdir -p "$work/home"
clean_env=(env -i PATH=/usr/bin:/bin HOME="$work/home" ${DISPLAY:+DISPLAY=$DISPLAY} ${XAUTHORITY:+XAUTHORITY=$XAUTHORITY})
run() { (cd "$work" && exec "${clean_env[@]}" "$@"); }

root=$work/root
# Stripped as the package is, so that debug information does not count as
# a path into the build machine.
DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null
bin=$root/usr/bin
share=$root/usr/share
for program in quillon quillon-convert; do
    [ -x "$bin/$program" ] || fail "$program not installed in bin/"
done

# The converter.
[ -f "$sofa" ] || { echo "FAIL: no SOFA set at $sofa" >&2; exit 1; }
run python3 "$source/tests/independent/check_conversion.py" "$bin/quillon-convert" "$sofa" "$work/sets" \
    || fail "the installed quillon-convert did not convert $(basename "$sofa") correctly"
version=$(run "$bin/quillon-convert" --version | awk '{ print $2 }')

# The window.
if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
    (cd "$work" && exec "${clean_env[@]}" "$bin/quillon" >/dev/null 2>&1) &
    pid=$!
    win=
    for _ in $(seq 600); do # up to a minute on a loaded machine
        win=$(xdotool search --all --pid "$pid" --name '^Quillon$' 2>/dev/null | head -1) || true
        [ -n "$win" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$win" ] || fail "the installed quillon showed no window titled Quillon"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
else
    echo "no display: the installed window is not started"
fi

# The desktop entry and its icon.
entries=("$share"/applications/*.desktop)
if [ ${#entries[@]} -ne 1 ] || [ ! -f "${entries[0]}" ]; then
    fail "expected one desktop entry in share/applications, found: ${entries[*]}"
else
    entry=${entries[0]}
    [[ $(basename "$entry") =~ ^[a-z0-9-]+(\.[A-Za-z0-9-]+){2,}\.desktop$ ]] \
        || fail "$(basename "$entry") is not a reverse-domain name"
    # It reports some errors with a zero exit status: any word counts.
    verdict=$(desktop-file-validate "$entry" 2>&1) && [ -z "$verdict" ] \
        || fail "desktop-file-validate rejects $(basename "$entry"): $verdict"
    key() { sed -n "s/^$1=//p" "$entry"; }
    [ -x "$bin/$(key Exec | awk '{ print $1 }')" ] || fail "Exec=$(key Exec) is not an installed program"
    [ "$(key Categories)" = "AudioVideo;Audio;" ] || fail "Categories=$(key Categories)"
    icon=$(key Icon)
    found=0
    for png in "$share"/icons/hicolor/*/apps/"$icon".png; do
        [ -f "$png" ] || continue
        size=$(basename "$(dirname "$(dirname "$png")")")
        file "$png" | grep -q "PNG image data, ${size/x/ x }," || fail "$png is not a ${size} PNG: $(file -b "$png")"
        found=$((found + 1))
    done
    [ -f "$share/icons/hicolor/48x48/apps/$icon.png" ] || fail "no 48x48 icon named $icon"
    [ "$found" -ge 4 ] || fail "the icon $icon is installed in $found hicolor sizes only"
fi

# The manual pages, one per program; quillon-convert's against --help.
for program in quillon quillon-convert; do
    page=$share/man/man1/$program.1
    if [ ! -f "$page" ]; then
        fail "no manual page $program.1 in share/man/man1"
        continue
    fi
    MANWIDTH=80 man --warnings -l "$page" >"$work/$program.txt" 2>"$work/man.err" || fail "man -l $program.1 fails"
    [ ! -s "$work/man.err" ] || fail "man -l $program.1 warns: $(cat "$work/man.err")"
done
if [ -f "$work/quillon-convert.txt" ]; then
    section() { awk -v h="$1" '$0 == h { f = 1; next } /^[A-Z]/ { f = 0 } f' "$work/quillon-convert.txt"; }
    help=$(run "$bin/quillon-convert" --help)
    options=$(grep -oE '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' <<<"$help" | sed -E 's/^[^-]*//' | sort -u)
    [ -n "$options" ] || fail "no options found in --help"
    for option in $options; do
        # An entry of its own: the option opens a tag line, alone or in a list.
        section OPTIONS | grep -qE -- "^ {7}(-[^ ]*, )*$option( |,|$)" \
            || fail "the manual page has no OPTIONS entry for $option"
    done
    codes=$(sed -n '/^exit status/,$p' <<<"$help" | grep -oE '(^|[,:] )[0-9]+ [a-z]' | grep -oE '[0-9]+' | sort -u)
    [ -n "$codes" ] || fail "no exit status found in --help"
    for code in $codes; do
        section "EXIT STATUS" | grep -qE "^ {7}$code( |$)" || fail "the manual page has no EXIT STATUS entry for $code"
    done
    for heading in FILES EXAMPLES; do
        [ -n "$(section "$heading")" ] || fail "the manual page has no $heading section"
    done
    grep -q "^Quillon $version " "$work/quillon-convert.txt" || fail "the manual page is not of version $version"
fi

# The Debian package.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack -G DEB fails"; }
debs=("$work"/pkg/quillon_*.deb)
deb=${debs[0]}
if [ ! -f "$deb" ]; then
    fail "cpack made no quillon_*.deb"
else
    dpkg-deb -c "$deb"
    (cd "$root" && find . -type f | sort) >"$work/installed.txt"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/packaged.txt"
    diff "$work/installed.txt" "$work/packaged.txt" >&2 || fail "the package and the install hold different files"
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libc6 libnetcdf-c++4 libstdc++6; do
        grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), program $version"
    for field in Maintainer Description; do
        [ -n "$(dpkg-deb -f "$deb" $field)" ] || fail "the package has no $field"
    done
    dpkg-deb -x "$deb" "$work/unpacked"
fi

# No path into the trees, in the install or the package: the build tree, or
# a folder of the source tree (whatever short path the trees may have).
trees=("$build/")
for folder in "$source"/*/; do trees+=("$folder"); done
for tree in "${trees[@]}"; do
    hits=$(grep -rlF -- "$tree" "$root" "$work/unpacked" 2>/dev/null || true)
    [ -z "$hits" ] || fail "refers to $tree: $hits"
done

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "installed, packaged and checked"
