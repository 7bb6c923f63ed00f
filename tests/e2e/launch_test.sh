#!/usr/bin/env bash
# Start-up of the real player as a launcher runs it: argument checks, the single
# instance guard, the codec library, the download and its failures, a start with
# stderr closed, and the outbox sent in the background. Every end the learner sees
# as silent explains itself in one line on stderr; a start that goes well prints
# nothing.
#   BIN_DIR=build/bin DEMO_DIR=build/demo xvfb-run -a tests/e2e/launch_test.sh
source "$(dirname "$0")/lib.sh"

start_server gone
GONE_URL=$SERVER_URL
kill "$SERVER_PID"
wait "$SERVER_PID" 2>/dev/null
start_server server
ARGS=(kim7 C1 A01 L03 D5 1)
STALE=$VORUR_DATA_DIR/demo1.viz
# downloads_empty FOLDER: nothing is left in the player's Downloads folder but its mark.
downloads_empty() { test -z "$(find "$1/Downloads" -mindepth 1 ! -name .vorur-ozudiz 2>/dev/null)"; }
USAGE="usage: Vorur_Ozudiz URL ID CLASS TAG1 TAG2 TAG3 TIMES, or Vorur_Ozudiz 'vorur-ozudiz://launch\\?url=\\.\\.\\.', or Vorur_Ozudiz LESSON\\.viz"

# only_line PATTERN: the output of the last start is exactly one line, matching the
# extended regular expression PATTERN as a whole.
only_line() { [ "$(wc -l < "$PLAYER_LOG")" -eq 1 ] && grep -Eqx -- "$1" "$PLAYER_LOG"; }

# silent_end NAME PATTERN ARGS...: the player ends by itself, no window of its own
# (message box or main window) ever shows, and it says why on stderr.
silent_end() {
    local name=$1 pattern=$2 shown=
    shift 2
    start_player "$@"
    for _ in $(seq 200); do
        kill -0 "$PLAYER_PID" 2>/dev/null || break
        [ -n "$(find_windows)" ] && shown=yes
        sleep 0.1
    done
    if ! exits_within 1 "$PLAYER_PID"; then
        fail "$name: the player did not end"
        kill -9 "$PLAYER_PID"
        return
    fi
    check "$name: nothing is shown" test -z "$shown"
    check "$name: stderr says why ($(head -c 300 "$PLAYER_LOG"))" only_line "$pattern"
}

# name | the line on stderr | arguments
echo stale > "$STALE"
while IFS='|' read -r name pattern args; do
    read -ra argv <<<"$args"
    silent_end "$name" "$pattern" "${argv[@]}"
done <<TABLE
no arguments|Vorur_Ozudiz: 0 arguments given, 7 expected: $USAGE|
one argument, neither a link nor a file|Vorur_Ozudiz: the one argument is neither a vorur-ozudiz: link nor a lesson file: $USAGE|--nonsense
six arguments|Vorur_Ozudiz: 6 arguments given, 7 expected: $USAGE|${SERVER_URL}demo1.viz kim7 C1 A01 L03 D5
eight arguments|Vorur_Ozudiz: 8 arguments given, 7 expected: $USAGE|${SERVER_URL}demo1.viz ${ARGS[*]} extra
a url without a slash|Vorur_Ozudiz: the lesson URL has no "/": lesson\.viz|lesson.viz ${ARGS[*]}
a missing package|Vorur_Ozudiz: cannot download ${SERVER_URL}missing\.viz: HTTP status 404|${SERVER_URL}missing.viz ${ARGS[*]}
a refused connection|Vorur_Ozudiz: cannot download ${GONE_URL}gone\.viz: .*[Cc]ouldn.t connect.*|${GONE_URL}gone.viz ${ARGS[*]}
TABLE
check "a wrong argument count deletes nothing" test "$(cat "$STALE")" = stale
# A launcher that has closed its end of the player's stderr gets a quiet end, not a
# death by SIGPIPE.
"$BIN_DIR/Vorur_Ozudiz" 2>&1 | true
status=${PIPESTATUS[0]}
check "a closed stderr does not kill the player (status $status)" test "$status" -eq 0
check "no package file is left behind by a failed download" downloads_empty "$VORUR_DATA_DIR"

# Started with stderr closed, as some launchers start it: the display connection must
# not take its number, or the first line on stderr (here the damaged first page's)
# goes into it. The window shows and paints, answers a click and ends on SIGTERM.
damaged_lesson "$WORK/damaged.viz"
PLAYER_LOG=$WORK/closed-stderr.log
"$BIN_DIR/Vorur_Ozudiz" "file://$WORK/damaged.viz" "${ARGS[@]}" > "$PLAYER_LOG" 2>&- &
PLAYER_PID=$!
PIDS+=("$PLAYER_PID")
if wait_main 20; then
    pass "with stderr closed the window shows"
    sleep 1
    shot closed-stderr-page1
    click_at 106 580  # Next
    sleep 1
    shot closed-stderr-page2
    check "... paints and answers a click" differs closed-stderr-page1 closed-stderr-page2
else
    fail "with stderr closed the window never shows"
fi
kill "$PLAYER_PID"
if exits_within 10 "$PLAYER_PID"; then
    pass "... and ends on SIGTERM"
else
    fail "with stderr closed SIGTERM does not end the player"
    kill -9 "$PLAYER_PID"
fi
check "... writing nothing on stdout" test ! -s "$PLAYER_LOG"

# A last segment without a dot: the message, then the end.
start_player "${SERVER_URL}dir/" "${ARGS[@]}"
if wait_message 10; then
    check "a package name without a dot is reported" test "$(message_text)" = "강좌파일의 경로가 잘못되었습니다."
    check "... and explained on stderr" \
        only_line "Vorur_Ozudiz: the lesson URL does not end in a package file name with a \"\\.\": ${SERVER_URL}dir/"
    answer Return
else
    fail "no message for a package name without a dot"
fi
check "the player ends after the message" exits_within 10 "$PLAYER_PID"

# The codec library missing beside a copy of the player: the message names it, and
# nothing is downloaded.
mkdir -p "$WORK/lonely"
cp "$BIN_DIR/Vorur_Ozudiz" "$WORK/lonely/"
echo stale > "$STALE"
PLAYER_LOG=$WORK/lonely.log
"$WORK/lonely/Vorur_Ozudiz" "${SERVER_URL}demo1.viz" "${ARGS[@]}" > "$PLAYER_LOG" 2>&1 &
PLAYER_PID=$!
PIDS+=("$PLAYER_PID")
if wait_message 10; then
    check "a missing codec library is reported" test "$(message_text)" = "libDovOvoru.so 파일을 찾을 수 없습니다."
    check "... and explained on stderr" \
        only_line "Vorur_Ozudiz: cannot load the codec library libDovOvoru\.so: .*libDovOvoru\.so: cannot open shared object file.*"
    answer Return
else
    fail "no message for a missing codec library"
fi
check "the player ends after the codec message" exits_within 10 "$PLAYER_PID"
check "without the codec the arguments are never read" test "$(cat "$STALE")" = stale
rm -f "$STALE"

# The single-instance guard across two processes: while a first player waits for a
# slow server, a second one ends silently; once the first has gone, a new start runs.
start_server slow --delay-ms 4000
start_player "${SERVER_URL}demo1.viz" "${ARGS[@]}"
FIRST=$PLAYER_PID
FIRST_LOG=$PLAYER_LOG
sleep 1
shot_dialog="$WORK/shots/download-dialog.png"
import -window root "$shot_dialog"
silent_end "a second player while the first runs" \
    "Vorur_Ozudiz: another copy of the player is running in this login and keeps its lesson; it was asked to come to the front, and this start opens nothing" \
    "${SERVER_URL}demo1.viz" "${ARGS[@]}"
if wait_main 20; then
    pass "the first player downloaded and opened its window"
    kill "$FIRST"
    exits_within 10 "$FIRST" || kill -9 "$FIRST"
else
    fail "the first player never showed its window"
    kill -9 "$FIRST"
fi
check "a start that goes well prints nothing ($(head -c 300 "$FIRST_LOG"))" test ! -s "$FIRST_LOG"
check "the package was deleted after opening" downloads_empty "$VORUR_DATA_DIR"
start_player "${SERVER_URL}demo1.viz" "${ARGS[@]}"
check "after the first has ended a new start takes the guard" wait_main 20
kill "$PLAYER_PID"
exits_within 10 "$PLAYER_PID" || kill -9 "$PLAYER_PID"

# A portable copy: a URL naming a file of the player's folder, or pointing into it,
# deletes nothing there.
PORT=$WORK/portable
mkdir -p "$PORT"
cp "$BIN_DIR/Vorur_Ozudiz" "$BIN_DIR/libDovOvoru.so" "$DEMO_DIR/demo1.viz" "$PORT/"
as_copy() { env -u VORUR_DATA_DIR -u XDG_DATA_HOME "$@" >> "$WORK/player.log" 2>&1 & PLAYER_PID=$!; PIDS+=("$PLAYER_PID"); }
as_copy "$PORT/Vorur_Ozudiz" "${SERVER_URL}libDovOvoru.so" "${ARGS[@]}"
check "a download named like the codec library ends silently" exits_within 15 "$PLAYER_PID"
check "the codec library is still there" cmp -s "$BIN_DIR/libDovOvoru.so" "$PORT/libDovOvoru.so"
as_copy "$PORT/Vorur_Ozudiz" "file://$PORT/demo1.viz" "${ARGS[@]}"
if wait_main 20; then
    pass "a package beside the player opens"
    check "the lesson is in the copy's own Temp folder" test -f "$PORT/Temp/config.cfg"
else
    fail "a package beside the player did not open"
fi
kill "$PLAYER_PID"
exits_within 10 "$PLAYER_PID" || kill -9 "$PLAYER_PID"
check "the package beside the player is kept" cmp -s "$DEMO_DIR/demo1.viz" "$PORT/demo1.viz"
check "the copy's download folder is empty again" downloads_empty "$PORT"

# A copy dropped among the user's files never takes their Temp folder: it keeps its
# files in the per-user data folder.
mkdir -p "$HOME/Downloads/Temp"
echo "the user's own" > "$HOME/Downloads/Temp/notes.txt"
cp "$BIN_DIR/Vorur_Ozudiz" "$BIN_DIR/libDovOvoru.so" "$HOME/Downloads/"
as_copy "$HOME/Downloads/Vorur_Ozudiz" "${SERVER_URL}demo1.viz" "${ARGS[@]}"
if wait_main 20; then
    pass "a copy among the user's files opens the lesson"
    check "its lesson is in the per-user data folder" test -f "$HOME/.local/share/Dazuzor/Vorur_Ozudiz2/Temp/config.cfg"
else
    fail "a copy among the user's files did not open the lesson"
fi
kill "$PLAYER_PID"
exits_within 10 "$PLAYER_PID" || kill -9 "$PLAYER_PID"
check "the user's Temp folder is untouched" test "$(cat "$HOME/Downloads/Temp/notes.txt")" = "the user's own"
check "the per-user data folder is the user's alone" test "$(stat -c %a "$HOME/.local/share/Dazuzor/Vorur_Ozudiz2")" = 700

# The outbox goes out in the background at every start: the window opens while a
# recording is on its way, a player killed mid-send loses nothing, and the next
# start delivers it, once. The server pauses halfway through the body, and the
# recording is larger than what the sockets buffer, so the kill lands mid-body.
NAME=A01_L03_D5_SP_kim7.mp3
OUTBOX=$VORUR_DATA_DIR/Outbox
mkdir -m 700 "$OUTBOX"
head -c 33554432 /dev/urandom > "$WORK/kept.mp3"
install -m 600 "$WORK/kept.mp3" "$OUTBOX/$NAME"
start_server pausing --mid-body-delay-ms 6000
settings "UploadHost=$(echo "${SERVER_URL#http://}" | sed 's|/$||')"
start_player "${SERVER_URL}demo1.viz" "${ARGS[@]}"
for _ in $(seq 100); do [ -e "$OUTBOX/.sending.$NAME" ] && break; sleep 0.1; done
check "the start sends the outbox" test -e "$OUTBOX/.sending.$NAME"
check "the window opens while the recording is on its way" wait_main 5
check "it is still on its way" test -e "$OUTBOX/.sending.$NAME"
kill -9 "$PLAYER_PID"
exits_within 5 "$PLAYER_PID"
sleep 6.5
check "the server stored nothing of the broken send" test ! -e "$WORK/uploads/$NAME"
start_player "${SERVER_URL}demo1.viz" "${ARGS[@]}"
check "a new start runs after the kill" wait_main 20
for _ in $(seq 300); do grep -q "stored $NAME" "$WORK/pausing.log" && break; sleep 0.1; done
check "the new start delivered the recording whole" cmp -s "$WORK/kept.mp3" "$WORK/uploads/$NAME"
check "once" test "$(grep -c "stored $NAME" "$WORK/pausing.log")" = 1
check "nothing is left in the outbox but its lock, mark and record" test -z "$(ls -A "$OUTBOX" | grep -v -x -e '\.lock' -e '\.vorur-outbox' -e '\.index')"
kill "$PLAYER_PID"
check "the player closes at once after sending" exits_within 5 "$PLAYER_PID"

# On a Wayland compositor (a headless weston) the player runs natively: its window is
# a toplevel of the compositor's with the minimum size, and it prints nothing but the
# protocol trace asked for here.
if command -v weston >/dev/null; then
    weston --backend=headless-backend.so --socket=vorur-e2e --idle-time=0 --no-config > "$WORK/weston.log" 2>&1 &
    PIDS+=("$!")
    for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/vorur-e2e" ] && break; sleep 0.1; done
    PLAYER_LOG=$WORK/wayland.log
    # A sanitized build's leak check cannot name what the Wayland client library
    # keeps for the process once Qt has unloaded its plugin (so its suppression
    # cannot match); the player's own leaks are checked by the X11 starts above.
    env -u DISPLAY WAYLAND_DISPLAY=vorur-e2e QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=1 \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        "$BIN_DIR/Vorur_Ozudiz" "${SERVER_URL}demo1.viz" "${ARGS[@]}" > "$PLAYER_LOG" 2>&1 &
    PLAYER_PID=$!
    PIDS+=("$PLAYER_PID")
    toplevel() {
        grep -q 'xdg_toplevel@[0-9]*\.set_title("Vorur_Ozudiz")' "$PLAYER_LOG" &&
            grep -q 'xdg_toplevel@[0-9]*\.set_min_size(600, 450)' "$PLAYER_LOG"
    }
    for _ in $(seq 200); do toplevel && break; sleep 0.1; done
    check "under Wayland the window is a toplevel of the compositor" toplevel
    kill "$PLAYER_PID"
    check "... it closes on request" exits_within 10 "$PLAYER_PID"
    check "... and prints nothing of its own ($(grep -v '^\[' "$PLAYER_LOG" | head -c 300))" \
        test -z "$(grep -v '^\[' "$PLAYER_LOG")"
fi

finish
