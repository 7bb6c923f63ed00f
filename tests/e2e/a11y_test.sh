#!/usr/bin/env bash
# The player on a 4K screen as a learner with a keyboard and a screen reader meets
# it, on a private X server of its own: under openbox at scales 2 and 1, then
# without a window manager. Each start: the download dialog stands where the
# window will open; the window is moved off the screen's centre; Tab walks the bar
# with the focus ring visibly moving; Test, then a whole test run, are pressed
# with keys alone; the question, the outcome message and the file dialog stand
# centred over the window; the accessibility bus names every control in Korean.
# The window's skin shows no gap at 1, 1.5 and 2. Last, on a headless weston, the
# boxes are children of their window (xdg_toplevel.set_parent).
#   BIN_DIR=build/bin DEMO_DIR=build/demo TEST_BIN_DIR=build/tests tests/e2e/a11y_test.sh
export SDL_AUDIODRIVER=disk
source "$(dirname "$0")/lib.sh"
HERE=$(cd "$(dirname "$0")" && pwd)

# Debian's own Python, which has the accessibility client, whatever else is on PATH.
PYTHON=/usr/bin/python3
for tool in Xvfb openbox xwininfo xdotool import convert $PYTHON dbus-daemon sox; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

# The screen: 3840 x 2160, as a 4K monitor.
exec 5>"$WORK/display"
Xvfb -displayfd 5 -screen 0 3840x2160x24 -nolisten tcp -noreset >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$WORK/display")
unset XAUTHORITY

# A session bus of this test's own; the accessibility bus starts on it on demand.
dbus-daemon --session --fork --print-address=6 --print-pid=7 6>"$WORK/bus" 7>"$WORK/bus.pid"
PIDS+=("$(cat "$WORK/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$WORK/bus")
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1

# A two-page lesson whose test run takes seconds, and a steady tone as microphone.
mkdir -p "$WORK/lessons"
short_lessons "$WORK/lessons/l1.viz" || { echo "FAIL: viztool"; exit 1; }
DEMO_DIR=$WORK/lessons
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$WORK/mic.raw" synth 60 sine 700 vol 0.3
export SDL_DISKAUDIOFILEIN=$WORK/mic.raw
ARGS=(kim7 C1 A01 L03 D5 1)
UPLOAD_NAME=A01_L03_D5_SP_kim7.mp3

# rect WIN: RX, RY, RW, RH of the window's client area on the screen (device pixels).
rect() {
    local info
    info=$(xwininfo -id "$1" 2>/dev/null) || return 1
    RX=$(sed -n 's/^ *Absolute upper-left X: *\(-*[0-9]*\)$/\1/p' <<<"$info")
    RY=$(sed -n 's/^ *Absolute upper-left Y: *\(-*[0-9]*\)$/\1/p' <<<"$info")
    RW=$(sed -n 's/^ *Width: *\([0-9]*\)$/\1/p' <<<"$info")
    RH=$(sed -n 's/^ *Height: *\([0-9]*\)$/\1/p' <<<"$info")
}
player_windows() { xdotool search --onlyvisible --pid "$PLAYER_PID" 2>/dev/null; }
# wait_main SECONDS: the window of 800 x 600 at the scale; sets MAIN and its rectangle.
wait_main_at() {
    local w
    for _ in $(seq $(($1 * 10))); do
        for w in $(player_windows); do
            rect "$w" || continue
            if [ "$RW" = "$MAIN_W" ] && [ "$RH" = "$MAIN_H" ]; then MAIN=$w; return 0; fi
        done
        sleep 0.1
    done
    return 1
}
# wait_box SECONDS: another window of the player (a box or dialog); sets BOX and BX..BH.
wait_box() {
    local w
    for _ in $(seq $(($1 * 10))); do
        for w in $(player_windows); do
            [ "$w" = "${MAIN:-}" ] && continue
            rect "$w" || continue
            if [ "$RW" -gt 60 ] && [ "$RH" -gt 30 ]; then
                BOX=$w BX=$RX BY=$RY BW=$RW BH=$RH
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}
box_gone() { for _ in $(seq 50); do xwininfo -id "$BOX" 2>/dev/null | grep -q 'IsViewable' || return 0; sleep 0.1; done; return 1; }
# centred_on CX CY: the box's centre is that point, give or take the rounding of a scale.
centred_on() {
    local dx=$((BX + BW / 2 - $1)) dy=$((BY + BH / 2 - $2))
    [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ]
}
centred_on_main() { rect "$MAIN" && centred_on $((RX + RW / 2)) $((RY + RH / 2)); }
# title_and_close: the box asks the window manager for a title and a close button
# only: its Motif hints allow no minimising (8) or maximising (16).
title_and_close() {
    local hints functions
    hints=$(xprop -id "$BOX" _MOTIF_WM_HINTS 2>/dev/null | sed -n 's/.*= *//p')
    functions=$(cut -d, -f2 <<<"$hints" | tr -d ' ')
    [ -n "$functions" ] && [ $((functions & 8)) = 0 ] && [ $((functions & 16)) = 0 ] && [ $((functions & 32)) != 0 ]
}
focus_box() {
    if [ -n "$WM" ]; then xdotool windowactivate --sync "$BOX" 2>/dev/null; else xdotool windowfocus --sync "$BOX" 2>/dev/null; fi
    sleep 0.2
}
same_shots() { ! differs "$1" "$2"; }
focus_main() {
    if [ -n "$WM" ]; then xdotool windowactivate --sync "$MAIN" 2>/dev/null; else xdotool windowfocus --sync "$MAIN" 2>/dev/null; fi
    sleep 0.2
}
key() { xdotool key --delay 80 "$@"; sleep 0.35; }
# bar NAME: the bottom bar of the window (where the focus ring shows) into a shot.
bar() { rect "$MAIN" && import -window root -crop "${RW}x$((RH / 12))+$RX+$((RY + RH - RH / 12))" +repage "$WORK/shots/$1.png"; }
full() { rect "$MAIN" && import -window root -crop "${RW}x$RH+$RX+$RY" +repage "$WORK/shots/$1.png"; }
# no_gaps SHOT: no pixel of the window's own background grey (207, 207, 207)
# shows: the skin's pieces cover the window edge to edge.
no_gaps() {
    local n
    n=$(convert "$WORK/shots/$1.png" -fill black +opaque 'rgb(207,207,207)' -fill white -opaque 'rgb(207,207,207)' \
        -format '%[fx:round(mean*w*h)]' info:)
    [ "${n:-1}" = 0 ]
}

# session NAME SCALE: one start of the player, from the download to the end.
session() {
    local name=$1 scale=$2 s2=$(( $2 * 2 ))  # twice the scale, for whole numbers
    MAIN=
    MAIN_W=$((800 * s2 / 2)) MAIN_H=$((600 * s2 / 2))
    rm -f "$WORK/uploads/$UPLOAD_NAME"
    start_server "$name" --delay-ms 1500
    settings "UploadHost=$(echo "${SERVER_URL#http://}" | sed 's|/$||')"
    xdotool mousemove 3830 2150  # no hover anywhere
    QT_SCALE_FACTOR=$scale start_player "${SERVER_URL}l1.viz" "${ARGS[@]}"
    if wait_box 15; then
        check "$name: the download dialog stands where the window will open (at $BX,$BY ${BW}x$BH)" \
            centred_on $((400 * s2 / 2)) $((300 * s2 / 2))
    else
        fail "$name: no download dialog"
    fi
    check "$name: the window opens at ${MAIN_W}x$MAIN_H" wait_main_at 30 || { kill "$SERVER_PID"; return; }
    # Off the screen's centre, as a learner might have put it.
    xdotool windowmove "$MAIN" "$MOVE_X" "$MOVE_Y"
    sleep 0.8
    rect "$MAIN"
    echo "$name: the window is at $RX,$RY ${RW}x$RH"
    focus_main
    full "$name-start"
    check "$name: the skin covers the window without gaps" no_gaps "$name-start"

    # Tab walks the enabled controls of the bar and comes back to Play: each
    # press visibly moves the ring. (Once with a window manager, once without.)
    if [ "$name" != openbox-1 ]; then
        bar "$name-tab0"
        local i moved=0
        for i in $(seq 12); do
            key Tab
            # A slow (sanitized) build may paint a moment later.
            for _ in $(seq 8); do
                bar "$name-tab$i"
                if differs "$name-tab$((i - 1))" "$name-tab$i"; then moved=$((moved + 1)); break; fi
                sleep 0.25
            done
        done
        check "$name: each of 12 Tabs shows the focus moving ($moved did)" test "$moved" = 12
        check "$name: the twelfth Tab is back on Play" same_shots "$name-tab0" "$name-tab12"

        names=$(timeout 30 "$PYTHON" "$HERE/a11y_names.py" Vorur_Ozudiz 2>&1)
        echo "$names" | grep -E '^(push button|check box|slider)\|' | sed "s/^/  $name a11y: /"
        # Toggles are read with their state; practice is on at the start.
        for n in "push button|정지" "push button|이전 쪽" "push button|재생" "push button|다음 쪽" \
                 "check box|자동 넘김|not checked" "check box|질문 보기|not checked" "check box|답 보기|not checked" \
                 "check box|연습|checked" "check box|시험|not checked" "slider|스피커 음량" "slider|마이크 음량" \
                 "push button|최소화" "push button|최대화" "push button|닫기"; do
            check "$name: a screen reader reads \"$n\"" grep -qx "$n" <<<"$names"
        done
    fi

    # Keys alone: Tab to Test and press it, back to Play, Enter starts the run.
    key Tab Tab Tab Tab Tab Tab
    key space
    key shift+Tab shift+Tab
    bar "$name-play"
    key Return
    if wait_box 40; then
        check "$name: the question stands centred over the window (at $BX,$BY ${BW}x$BH)" centred_on_main
        check "$name: the question asks for a title and a close button only" title_and_close
        focus_box
        key Return  # 예
        box_gone
        if wait_box 20; then
            check "$name: the outcome message stands centred over the window (at $BX,$BY ${BW}x$BH)" centred_on_main
            import -window root -crop "$((BW + 40))x$((BH + 60))+$((BX - 20))+$((BY - 40))" +repage "$WORK/shots/$name-message.png"
            focus_box
            key Return
            box_gone
        else
            fail "$name: no outcome message"
        fi
    else
        fail "$name: the question never came"
    fi
    check "$name: the keyboard's test run reached the server" test -s "$WORK/uploads/$UPLOAD_NAME"

    focus_main
    key ctrl+o
    if wait_box 10; then
        check "$name: the file dialog stands centred over the window (at $BX,$BY ${BW}x$BH)" centred_on_main
        focus_box
        key Escape
        box_gone
    else
        fail "$name: Ctrl+O opened no file dialog"
    fi
    kill "$PLAYER_PID"
    check "$name: the player ends on request" exits_within 10 "$PLAYER_PID"
    kill "$SERVER_PID"
}

# --- Under a window manager at scale 2 and 1, then without one.
openbox >"$WORK/openbox.log" 2>&1 &
OPENBOX_PID=$!
PIDS+=("$OPENBOX_PID")
sleep 0.5
WM=openbox
MOVE_X=1900 MOVE_Y=700 session openbox-2 2
MOVE_X=2500 MOVE_Y=1200 session openbox-1 1
kill "$OPENBOX_PID"
wait "$OPENBOX_PID" 2>/dev/null
WM=
MOVE_X=300 MOVE_Y=1300 session bare-1 1

# --- At 1.5 the skin is drawn for the scale: no gaps, nothing cut.
start_server half
QT_SCALE_FACTOR=1.5 start_player "${SERVER_URL}l1.viz" "${ARGS[@]}"
MAIN= MAIN_W=1200 MAIN_H=900
if wait_main_at 30; then
    sleep 1
    full bare-1.5-start
    check "bare-1.5: the skin covers the window without gaps" no_gaps bare-1.5-start
else
    fail "bare-1.5: the window did not open at 1200x900"
fi
kill "$PLAYER_PID"
exits_within 10 "$PLAYER_PID"

# --- On Wayland: the boxes and the file dialog are children of their window.
# Weston runs as a window on the test's X screen: unlike its headless backend it
# has a seat (keyboard and pointer), as every desktop has, and Qt 6.4's Wayland
# plugin needs one once a text field paints its cursor.
if command -v weston >/dev/null && [ -x "${TEST_BIN_DIR:-}/player_window_test" ]; then
    weston --backend=x11-backend.so --use-pixman --socket=vorur-a11y --idle-time=0 --no-config >"$WORK/weston.log" 2>&1 &
    PIDS+=("$!")
    for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/vorur-a11y" ] && break; sleep 0.1; done
    # (A sanitized build's leak check cannot name what Qt's unloaded Wayland
    # plugin kept; what counts here are the requests and the test's own checks.)
    env -u DISPLAY WAYLAND_DISPLAY=vorur-a11y QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=1 \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        "$TEST_BIN_DIR/player_window_test" --gtest_filter='StandardDialogs.StandCentred*' >"$WORK/wayland-boxes.log" 2>&1
    status=$?
    if [ "$status" != 0 ]; then
        echo "the box test on weston, its last words:"
        grep -v '^\[' "$WORK/wayland-boxes.log" | tail -40
        tail -8 "$WORK/wayland-boxes.log"
    fi
    check "on weston the box test passes (status $status)" test "$status" = 0
    parents=$(grep -c 'xdg_toplevel@[0-9]*\.set_parent(xdg_toplevel@[0-9]*)' "$WORK/wayland-boxes.log")
    check "on weston each box owned by the window is its child ($parents set_parent requests)" test "$parents" -ge 3
fi

finish
