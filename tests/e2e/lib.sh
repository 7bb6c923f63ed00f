# Shared helpers of the process-level tests. They run under an X server (xvfb-run)
# and drive the real programs with xdotool; every run gets its own home, runtime,
# settings and data folders.
set -u

BIN_DIR=${BIN_DIR:?BIN_DIR must name build/bin}
DEMO_DIR=${DEMO_DIR:?DEMO_DIR must name the built demo lessons}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vorur-e2e-XXXXXX")
export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config VORUR_DATA_DIR=$WORK/data
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Dazuzor" "$VORUR_DATA_DIR" "$WORK/uploads" "$WORK/shots"
chmod 700 "$XDG_RUNTIME_DIR"
export VORUR_MIXER=sim SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} SDL_DISKAUDIOFILE=/dev/null
unset QT_QPA_PLATFORM

FAILURES=0
PIDS=()

cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    if [ "$FAILURES" -eq 0 ] && [ -z "${KEEP_WORK:-}" ]; then rm -rf "$WORK"; else echo "work folder kept: $WORK"; fi
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $* [$SECONDS s]"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

# start_server NAME [options...]: starts lesson-server on the demo lessons; sets
# SERVER_URL (http://127.0.0.1:PORT/) and SERVER_PID.
start_server() {
    local name=$1; shift
    "$BIN_DIR/lesson-server" --root "$DEMO_DIR" --uploads "$WORK/uploads" --port 0 "$@" > "$WORK/$name.log" 2>&1 &
    SERVER_PID=$!
    PIDS+=("$SERVER_PID")
    for _ in $(seq 100); do
        SERVER_URL=$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$WORK/$name.log" | head -1)
        [ -n "$SERVER_URL" ] && return 0
        sleep 0.05
    done
    echo "lesson-server did not start:"; cat "$WORK/$name.log"; exit 1
}

# damaged_lesson OUT.viz: three pages of demo1, each with a 1 s pause; the first
# page's picture and the second page's sound are damaged past decoding.
damaged_lesson() {
    local dir=$WORK/damaged
    rm -rf "$dir"
    "$BIN_DIR/viztool" extract "$DEMO_DIR/demo1.viz" "$dir" >/dev/null || return 1
    printf 'JFIF, then nothing' > "$dir/01.jpg"
    printf 'RIFF, then nothing' > "$dir/02.wav"
    cat > "$dir/lesson.json" <<'JSON'
{"textBesidePicture": 0, "pages": [
 {"soundFile": "01.mp3", "pictureFile": "01.jpg", "waitSeconds": 1, "fontSize": 20},
 {"soundFile": "02.wav", "pictureFile": "02.png", "waitSeconds": 1, "fontSize": 20},
 {"soundFile": "03.ogg", "pictureFile": "03.jpg", "waitSeconds": 1, "fontSize": 20}]}
JSON
    "$BIN_DIR/viztool" pack "$dir/lesson.json" "$1" >/dev/null
}

# short_lessons OUT.viz...: a two-page lesson whose test run takes seconds (1 s
# tones of 300 and 600 Hz, 2 s pauses), packed once under each name given.
short_lessons() {
    local src=$WORK/short-lesson n out
    mkdir -p "$src"
    for n in 1 2; do
        convert -size 320x240 "xc:hsl($((n * 120)),60%,70%)" "$src/p$n.png"
        sox -n -r 44100 -c 1 "$src/s$n.wav" synth 1 sine $((300 * n))
    done
    cat >"$src/lesson.json" <<'JSON'
{"textBesidePicture": 0, "pages": [
 {"soundFile": "s1.wav", "pictureFile": "p1.png", "questionText": "하나", "answerText": "one", "waitSeconds": 2, "fontSize": 20},
 {"soundFile": "s2.wav", "pictureFile": "p2.png", "questionText": "둘", "answerText": "two", "waitSeconds": 2, "fontSize": 20}]}
JSON
    for out in "$@"; do
        "$BIN_DIR/viztool" pack "$src/lesson.json" "$out" >/dev/null || return 1
    done
}

# settings LINES...: the player's settings file.
settings() {
    printf '[General]\n' > "$XDG_CONFIG_HOME/Dazuzor/Vorur_Ozudiz2.conf"
    printf '%s\n' "$@" >> "$XDG_CONFIG_HOME/Dazuzor/Vorur_Ozudiz2.conf"
}

# start_player ARGS...: the player as a launcher starts it; sets PLAYER_PID and
# PLAYER_LOG, the file of this start's output.
PLAYER_RUNS=0
start_player() {
    PLAYER_RUNS=$((PLAYER_RUNS + 1))
    PLAYER_LOG=$WORK/player-$PLAYER_RUNS.log
    "$BIN_DIR/Vorur_Ozudiz" "$@" > "$PLAYER_LOG" 2>&1 &
    PLAYER_PID=$!
    PIDS+=("$PLAYER_PID")
}

# exits_within SECONDS PID: true when the process ends in time; STATUS holds its code.
exits_within() {
    local limit=$(($1 * 10)) pid=$2
    for _ in $(seq "$limit"); do
        if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; STATUS=$?; return 0; fi
        sleep 0.1
    done
    return 1
}

# window_origin WIN: sets X and Y to the window's top-left corner on the screen.
# xdotool counts a window manager's frame twice; xwininfo does not.
window_origin() {
    local info
    info=$(xwininfo -id "$1" 2>/dev/null) || return 1
    X=$(sed -n 's/^ *Absolute upper-left X: *\(-*[0-9]*\)$/\1/p' <<<"$info")
    Y=$(sed -n 's/^ *Absolute upper-left Y: *\(-*[0-9]*\)$/\1/p' <<<"$info")
}

find_windows() { xdotool search --onlyvisible --name '^Vorur_Ozudiz$' 2>/dev/null; }

# wait_message SECONDS: waits for a message box (a titled window that is not the
# 800x600 main window); sets BOX.
wait_message() {
    local limit=$(($1 * 10))
    for _ in $(seq "$limit"); do
        for w in $(find_windows); do
            eval "$(xdotool getwindowgeometry --shell "$w")"
            if [ "$WIDTH" != 800 ] || [ "$HEIGHT" != 600 ]; then
                [ "$WIDTH" -gt 100 ] && [ "$WIDTH" -lt 700 ] && { BOX=$w; return 0; }
            fi
        done
        sleep 0.1
    done
    return 1
}

# message_text: the first line of the message box's text, read through the X
# selection after selecting it with a triple click.
message_text() {
    eval "$(xdotool getwindowgeometry --shell "$BOX")"
    window_origin "$BOX"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + 17)) click --repeat 3 --delay 60 1
    sleep 0.3
    xclip -o -selection primary 2>/dev/null
}

# answer KEY: presses a key in the message box (Return answers its default button).
answer() {
    xdotool windowfocus --sync "$BOX" 2>/dev/null
    xdotool key "$1"
    sleep 0.3
}

# wait_main SECONDS: waits for the 800x600 main window; sets MAIN, MX, MY.
wait_main() {
    local limit=$(($1 * 10))
    for _ in $(seq "$limit"); do
        for w in $(find_windows); do
            eval "$(xdotool getwindowgeometry --shell "$w")"
            if [ "$WIDTH" = 800 ] && [ "$HEIGHT" = 600 ]; then window_origin "$w"; MAIN=$w; MX=$X; MY=$Y; return 0; fi
        done
        sleep 0.1
    done
    return 1
}

# click_at X Y: a click at window coordinates of the main window.
click_at() {
    xdotool mousemove $((MX + $1)) $((MY + $2)) click 1
    sleep 0.2
}

# shot NAME: the main window's pixels into $WORK/shots/NAME.png.
shot() { import -window root -crop "800x600+$MX+$MY" +repage "$WORK/shots/$1.png"; }

# differs A B: true when two shots differ in more than a few pixels.
differs() {
    local n
    n=$(compare -metric AE "$WORK/shots/$1.png" "$WORK/shots/$2.png" null: 2>&1 | cut -d' ' -f1)
    [ "${n%.*}" -gt 100 ]
}

# same_view A B: true when the page views (the window less its frame and bar) of two
# shots are alike; the bar's buttons may differ by hover.
same_view() {
    local n
    n=$(compare -metric AE -extract 794x555+3+2 "$WORK/shots/$1.png" "$WORK/shots/$2.png" null: 2>&1 | cut -d' ' -f1)
    [ "${n%.*}" -le 100 ]
}

finish() {
    if [ "$FAILURES" -ne 0 ]; then echo "$FAILURES check(s) failed"; exit 1; fi
    echo "all checks passed"
}
