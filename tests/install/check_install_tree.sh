#!/usr/bin/env bash
# The installed tree: every program, the codec beside the player, links, demo
# lessons, icons and menu entries in place; run paths that work from there and
# nothing of the build tree; the installed player loads the installed codec.
#   check_install_tree.sh <build dir>
source "$(dirname "$0")/install_lib.sh" "$1"
install_tree

PRIV=$P/$LIBDIR/vorur-ozudiz
BIN=$P/$BINDIR
SHARE=$P/$DATADIR

# Programs and the codec.
for f in "$PRIV/Vorur_Ozudiz" "$PRIV/vorur-rec" "$BIN/vorur-ozudiz-demo" \
         "$BIN/viztool" "$BIN/lesson-server" "$BIN/vorur-upload"; do
    check "$f is an executable file" test -f "$f" -a -x "$f"
done
check "libDovOvoru.so lies beside the player" test -f "$PRIV/libDovOvoru.so"

# The commands in bin that reach the private folder are relative links, so the
# tree works under any prefix.
for link in vorur-ozudiz vorur-rec; do
    target=$(readlink "$BIN/$link")
    case $target in
        /*|"") fail "$BIN/$link is not a relative link (${target:-no link})" ;;
    esac
done
check "vorur-ozudiz leads to the player" test "$(readlink -f "$BIN/vorur-ozudiz")" = "$(readlink -f "$PRIV/Vorur_Ozudiz")"
check "vorur-rec leads to the private copy" test "$(readlink -f "$BIN/vorur-rec")" = "$(readlink -f "$PRIV/vorur-rec")"

# Nothing meant for building against us is installed.
stray=$(find "$ROOT" \( -name '*.a' -o -name '*.h' -o -name '*.cmake' -o -name '*.pc' \) -print)
check "no archives, headers or build files are installed: $stray" test -z "$stray"

# Run paths: $ORIGIN for what loads the codec, none for the tools in bin; no text
# file points into the build folder.
runpath() {
    readelf -d "$1" 2>/dev/null | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p'
}
for f in "$PRIV/Vorur_Ozudiz" "$PRIV/vorur-rec"; do
    rp=$(runpath "$f")
    check "$f has run path \$ORIGIN (has '$rp')" test "$rp" = '$ORIGIN'
done
for f in "$BIN/viztool" "$BIN/lesson-server" "$BIN/vorur-upload"; do
    rp=$(runpath "$f")
    check "$f has no run path (has '$rp')" test -z "$rp"
done
leaks=$(grep -rlI -F "$BUILD" "$ROOT" 2>/dev/null)
check "installed scripts and entries mention the build folder: $leaks" test -z "$leaks"

# Every shared library the installed programs need resolves.
for f in "$PRIV/Vorur_Ozudiz" "$PRIV/vorur-rec" "$PRIV/libDovOvoru.so" \
         "$BIN/viztool" "$BIN/lesson-server" "$BIN/vorur-upload"; do
    missing=$(ldd "$f" 2>&1 | grep 'not found')
    check "$f resolves its libraries: $missing" test -z "$missing"
done

# The installed player, started through its link, loads the codec beside it (and
# not the one in the build tree): with six arguments it then ends quietly with 0.
# Without the codec it would stop at a message box instead, which the timeout catches.
mkdir -p "$SCRATCH/runtime" "$SCRATCH/data"
chmod 700 "$SCRATCH/runtime"
out=$(cd "$SCRATCH" && env -u LD_LIBRARY_PATH XDG_RUNTIME_DIR="$SCRATCH/runtime" \
      VORUR_DATA_DIR="$SCRATCH/data" LD_DEBUG=files LD_DEBUG_OUTPUT="$SCRATCH/ld" \
      timeout 30 "$BIN/vorur-ozudiz" http://127.0.0.1:9/a.viz 1 2 3 4 5 2>&1)
status=$?
check "the installed player ends with 0 on six arguments (status $status, output: $out)" test "$status" -eq 0
check "the installed player loads $PRIV/libDovOvoru.so" \
    grep -q "calling init: $(readlink -f "$PRIV")/libDovOvoru.so" "$SCRATCH"/ld.*
check "the installed player loads no codec from the build tree" \
    bash -c "! grep -q 'calling init: .*$BUILD.*libDovOvoru' '$SCRATCH'/ld.*"

# Demo lessons, checked by the installed viztool.
for lesson in demo1 demo2; do
    f=$SHARE/vorur-ozudiz/demo/$lesson.viz
    check "$f is a sound lesson package" "$BIN/viztool" check "$f"
done

# Icons: each size folder holds a picture of that size.
icons=$(find "$SHARE/icons/hicolor" -name vorur-ozudiz.png | sort)
check "icons are installed" test -n "$icons"
for icon in $icons; do
    dir=$(basename "$(dirname "$(dirname "$icon")")")
    size=$(png_size "$icon")
    check "$icon is $dir (is $size)" test "$size" = "$dir"
done
check "a 48x48 icon exists for menus" test -f "$SHARE/icons/hicolor/48x48/apps/vorur-ozudiz.png"

# Menu entries: the visible one opens the demo; the player's own is hidden, since
# started without a launcher's arguments it would end silently.
APPS=$SHARE/applications
for entry in vorur-ozudiz.desktop vorur-ozudiz-demo.desktop; do
    check "$entry is installed" test -f "$APPS/$entry"
    if command -v desktop-file-validate >/dev/null; then
        msgs=$(desktop-file-validate "$APPS/$entry" 2>&1)
        check "$entry validates: $msgs" test -z "$msgs"
    fi
    exe=$(desktop_value "$APPS/$entry" Exec)
    check "$entry runs an installed command ($exe)" test -x "$BIN/${exe%% *}"
    icon=$(desktop_value "$APPS/$entry" Icon)
    check "$entry shows an installed icon ($icon)" test -f "$SHARE/icons/hicolor/48x48/apps/$icon.png"
done
check "the menu entry runs the demo launcher" test "$(desktop_value "$APPS/vorur-ozudiz-demo.desktop" Exec)" = vorur-ozudiz-demo
check "the menu entry is shown" test -z "$(desktop_value "$APPS/vorur-ozudiz-demo.desktop" NoDisplay)"
check "the bare player's entry is hidden" test "$(desktop_value "$APPS/vorur-ozudiz.desktop" NoDisplay)" = true

finish
