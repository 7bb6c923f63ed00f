#!/usr/bin/env bash
# A learner's whole session on the real player: the launcher starts it with seven
# arguments, the package comes from lesson-server, pages are stepped by clicks, a
# test run records a spoken file (SDL's disk driver as the microphone), the question
# is answered Yes and the server stores the recording. Then the same run against a
# server that refuses it, against one that cannot be reached and against one that
# keeps the learner waiting until the player is closed: that recording waits in the
# outbox and the next start delivers it without a click. A lesson with damaged pages
# runs to its end. Last, a portable copy of the player over two starts: its first
# undelivered take stays in its own folder, and the next start, with the same data
# folder, delivers it.
#   BIN_DIR=build/bin DEMO_DIR=build/demo xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/e2e_test.sh
export SDL_AUDIODRIVER=disk
source "$(dirname "$0")/lib.sh"

LESSON=demo2.viz
ARGS=(kim7 C1 A01 L03 D5 1)
UPLOAD_NAME=A01_L03_D5_SP_kim7.mp3

# The microphone: spoken sentences with pauses, long enough for the whole run.
espeak-ng -s 150 -w "$WORK/say.wav" "This is the learner speaking. One, two, three. The apples are red and sweet." 2>/dev/null
sox "$WORK/say.wav" -r 44100 -c 2 -b 16 -e signed-integer "$WORK/say-pad.wav" pad 0 1.5
sox "$WORK/say-pad.wav" -t raw "$WORK/mic.raw" repeat 12
export SDL_DISKAUDIOFILEIN=$WORK/mic.raw

# Clicks at the centres of the player's buttons (window coordinates).
PLAY=(78 580) NEXT=(106 580) PREV=(51 580) TEST=(243 580) CLOSE=(774 580)

# run_test_run REPLY_EXPECTED: Test, Play, wait for the question, answer Yes, read
# the outcome message; sets OUTCOME.
run_test_run() {
    click_at "${TEST[@]}"
    click_at "${PLAY[@]}"
    sleep 3
    shot recording
    if ! wait_message 120; then fail "the question never came"; return 1; fi
    local question
    question=$(message_text)
    check "the learner is asked whether to send" test "$question" = "학습한 내용을 서버로 전송하시겠습니까?"
    answer Return
    if ! wait_message 30; then fail "no outcome message"; return 1; fi
    OUTCOME=$(message_text)
    shot outcome
    answer Return
}

# --- The accepted run.
start_server server
settings "UploadHost=$(echo "${SERVER_URL#http://}" | sed 's|/$||')"
start_player "${SERVER_URL}${LESSON}" "${ARGS[@]}"
check "the window opens with page 0" wait_main 30
sleep 1
shot page0
click_at "${NEXT[@]}"
sleep 0.8
shot page1
check "Next shows another page" differs page0 page1
click_at "${PREV[@]}"
sleep 0.8
shot page0-again
check "Previous comes back to page 0" same_view page0 page0-again

run_test_run
check "the success message is shown" test "${OUTCOME:-}" = "전송이 완료 되었습니다."
STORED=$WORK/uploads/$UPLOAD_NAME
check "the server stored the recording" test -s "$STORED"
check "the accepted recording stays with the learner" test -s "$VORUR_DATA_DIR/$UPLOAD_NAME"
if [ -s "$STORED" ]; then
    # The upload decodes, lasts as long as the run, and holds the voice.
    sox "$STORED" -n stat 2> "$WORK/stat.txt" || true
    length=$(awk -F: '/Length \(seconds\)/{gsub(/ /,"",$2); print int($2)}' "$WORK/stat.txt")
    rms=$(awk -F: '/RMS +amplitude/{gsub(/ /,"",$2); print $2}' "$WORK/stat.txt")
    echo "upload: ${length:-?} s, RMS ${rms:-?}"
    check "the upload lasts the whole run" test "${length:-0}" -ge 20
    check "the upload holds the voice" awk -v r="${rms:-0}" 'BEGIN{exit !(r > 0.02)}'
fi
click_at "${CLOSE[@]}"
check "the close button ends the player" exits_within 15 "$PLAYER_PID"
# Output of the player itself, without SDL's notes that its disk driver is in use.
player_output() { grep -v "^CRITICAL: .*\(disk i/o audio driver\|from file\|to file\)" "$PLAYER_LOG"; }
check "a session that goes well prints nothing ($(player_output | head -c 300))" test -z "$(player_output)"
check "closing emptied the Temp folder of the lesson" test -z "$(find "$VORUR_DATA_DIR/Temp" -maxdepth 1 -type f ! -name '*.ogg' ! -name '*.mp3' ! -name '*.wav' ! -name .vorur-ozudiz)"

# --- A lesson whose first picture and second sound are damaged: the run goes through
# them, the silent page keeping its pause, ends and asks; stderr names each page.
damaged_lesson "$WORK/damaged.viz"
rm -f "$WORK/uploads/"*
start_player "file://$WORK/damaged.viz" "${ARGS[@]}"
if wait_main 30; then
    OUTCOME=
    run_test_run
    check "the run through damaged pages ends, asks and is sent" test "${OUTCOME:-}" = "전송이 완료 되었습니다."
    sox "$STORED" -n stat 2> "$WORK/stat.txt" || true
    length=$(awk -F: '/Length \(seconds\)/{gsub(/ /,"",$2); print int($2)}' "$WORK/stat.txt")
    # Two sounds of about 2.5 s, and three pauses of 1 s: the silent page's kept too.
    check "its upload lasts the whole run (${length:-?} s)" test "${length:-0}" -ge 7
else
    fail "the damaged lesson does not open"
fi
click_at "${CLOSE[@]}"
exits_within 15 "$PLAYER_PID" || kill -9 "$PLAYER_PID"
check "stderr names each damaged page once ($(player_output | head -c 400))" test "$(player_output)" = \
    "Vorur_Ozudiz: page 1 of the lesson shows without its picture: picture \"01.jpg\" does not decode (damaged, or too large)
Vorur_Ozudiz: page 2 of the lesson shows silent: sound \"02.wav\" cannot be played (damaged, too large, or no sound output)"
kill "$SERVER_PID"

# --- The refused run: a reply without "OK".
rm -f "$WORK/uploads/"*
start_server refusing --reply "FAIL"
settings "UploadHost=$(echo "${SERVER_URL#http://}" | sed 's|/$||')"
start_player "${SERVER_URL}${LESSON}" "${ARGS[@]}"
check "the window opens again" wait_main 30
run_test_run
check "the refusal is shown" test "${OUTCOME:-}" = "녹음파일을 전송했으나 실패 응답을 받았습니다."
check "no recording is left after a refusal" test ! -e "$VORUR_DATA_DIR/$UPLOAD_NAME"
OUTBOX=$VORUR_DATA_DIR/Outbox
check "the refused recording is kept in the outbox" test -s "$OUTBOX/refused/$UPLOAD_NAME"
click_at "${CLOSE[@]}"
exits_within 15 "$PLAYER_PID"
check "the refusal is explained on stderr ($(player_output | head -c 300))" test "$(player_output)" = \
    "Vorur_Ozudiz: the server at ${SERVER_URL}RozevaDevur_O2_Veve/sprec_upload2.asp did not accept $UPLOAD_NAME: reply \"FAIL\""

# --- The run whose upload cannot reach the server: the refusing server has gone
# and nothing listens on its port.
kill "$SERVER_PID"; wait "$SERVER_PID" 2>/dev/null
# The package comes from a server that is up; UploadHost still names the one gone.
start_server lessons
start_player "${SERVER_URL}${LESSON}" "${ARGS[@]}"
check "the window opens for the unreachable run" wait_main 30
run_test_run
check "the failed send is shown" test "${OUTCOME:-}" = "녹음파일을 전송하지 못했습니다."
check "the recording waits in the outbox" test -s "$OUTBOX/$UPLOAD_NAME"
check "it supersedes the refused one" test ! -e "$OUTBOX/refused/$UPLOAD_NAME"
check "the outbox is the user's alone" test "$(stat -c %a "$OUTBOX") $(stat -c %a "$OUTBOX/$UPLOAD_NAME")" = "700 600"
click_at "${CLOSE[@]}"
exits_within 15 "$PLAYER_PID"

# --- A server that keeps the learner waiting for its answer: meanwhile the window
# is served and its close button ends the player at once, the recording waiting in
# the outbox. The package still comes from the server that is up.
LESSONS_URL=$SERVER_URL
LESSONS_PID=$SERVER_PID
start_server waiting --delay-ms 40000
settings "UploadHost=$(echo "${SERVER_URL#http://}" | sed 's|/$||')"
start_player "${LESSONS_URL}${LESSON}" "${ARGS[@]}"
check "the window opens for the waiting run" wait_main 30
click_at "${TEST[@]}"
click_at "${PLAY[@]}"
if wait_message 120; then answer Return; else fail "the question never came"; fi
sleep 2
shot upload-waiting
check "the upload is waiting for the server" kill -0 "$PLAYER_PID"
click_at "${CLOSE[@]}"
check "the close button ends the player while the server is silent" exits_within 5 "$PLAYER_PID"
check "the recording waits in the outbox" test -s "$OUTBOX/$UPLOAD_NAME"
check "the given-up upload is explained on stderr ($(player_output | head -c 300))" \
    grep -q "^Vorur_Ozudiz: cannot upload .* to ${SERVER_URL}RozevaDevur_O2_Veve/sprec_upload2.asp: upload stopped$" "$PLAYER_LOG"
cp "$OUTBOX/$UPLOAD_NAME" "$WORK/queued.mp3"
kill "$SERVER_PID"
SERVER_PID=$LESSONS_PID
kill "$SERVER_PID"

# --- The next start, with the server back: delivered in the background, once.
rm -f "$WORK/uploads/"*
start_server back
settings "UploadHost=$(echo "${SERVER_URL#http://}" | sed 's|/$||')"
start_player "${SERVER_URL}${LESSON}" "${ARGS[@]}"
check "the window opens on the next start" wait_main 30
for _ in $(seq 150); do grep -q "stored $UPLOAD_NAME" "$WORK/back.log" && break; sleep 0.1; done
check "the next start delivered the recording without a click" cmp -s "$WORK/queued.mp3" "$WORK/uploads/$UPLOAD_NAME"
check "the outbox is empty again" test ! -e "$OUTBOX/$UPLOAD_NAME"
click_at "${CLOSE[@]}"
exits_within 15 "$PLAYER_PID"
start_player "${SERVER_URL}${LESSON}" "${ARGS[@]}"
wait_main 30
sleep 2
click_at "${CLOSE[@]}"
exits_within 15 "$PLAYER_PID"
check "it was sent once, and not again at a later start" test "$(grep -c "stored $UPLOAD_NAME" "$WORK/back.log")" = 1

# --- A portable copy: the player in a folder of the user's own keeps its files
# there. Its first start cannot deliver the take (nothing listens on the upload
# host); its second start, with the server back, delivers it from the same folder.
COPY=$HOME/vorur-copy
mkdir -p "$COPY"
cp "$BIN_DIR/Vorur_Ozudiz" "$BIN_DIR/libDovOvoru.so" "$COPY/"
start_copy() {
    PLAYER_RUNS=$((PLAYER_RUNS + 1))
    PLAYER_LOG=$WORK/player-$PLAYER_RUNS.log
    env -u VORUR_DATA_DIR -u XDG_DATA_HOME "$COPY/Vorur_Ozudiz" "$@" > "$PLAYER_LOG" 2>&1 &
    PLAYER_PID=$!
    PIDS+=("$PLAYER_PID")
}
# data_folders: the folders the copy has made, beside itself and per user.
data_folders() { (cd "$COPY" && find . -maxdepth 1 -type d ! -name . | sort | tr '\n' ' '); test -e "$HOME/.local/share/Dazuzor" && echo "per-user"; }
BACK_URL=$SERVER_URL
start_server nobody
NOBODY=$(echo "${SERVER_URL#http://}" | sed 's|/$||')
kill "$SERVER_PID"; wait "$SERVER_PID" 2>/dev/null
settings "UploadHost=$NOBODY"
start_copy "${BACK_URL}${LESSON}" "${ARGS[@]}"
check "the copy opens its window" wait_main 30
run_test_run
check "the copy's failed send is shown" test "${OUTCOME:-}" = "녹음파일을 전송하지 못했습니다."
click_at "${CLOSE[@]}"
exits_within 15 "$PLAYER_PID"
FIRST_FOLDERS=$(data_folders)
check "the copy keeps its files beside itself ($FIRST_FOLDERS)" test "$FIRST_FOLDERS" = "./Downloads ./Outbox ./Temp "
check "its take waits in its own outbox" test -s "$COPY/Outbox/$UPLOAD_NAME"
check "the outbox is marked as the player's" test -f "$COPY/Outbox/.vorur-outbox" -a -f "$COPY/Outbox/.lock"
cp "$COPY/Outbox/$UPLOAD_NAME" "$WORK/copy-queued.mp3"
STORED_BEFORE=$(grep -c "stored $UPLOAD_NAME" "$WORK/back.log")
settings "UploadHost=$(echo "${BACK_URL#http://}" | sed 's|/$||')"
start_copy "${BACK_URL}${LESSON}" "${ARGS[@]}"
check "the copy opens its window again" wait_main 30
for _ in $(seq 150); do [ "$(grep -c "stored $UPLOAD_NAME" "$WORK/back.log")" -gt "$STORED_BEFORE" ] && break; sleep 0.1; done
check "the second start delivered the copy's take" cmp -s "$WORK/copy-queued.mp3" "$WORK/uploads/$UPLOAD_NAME"
check "the copy's outbox is empty again" test ! -e "$COPY/Outbox/$UPLOAD_NAME"
check "the data folder is the same at the second start ($(data_folders))" test "$(data_folders)" = "$FIRST_FOLDERS"
click_at "${CLOSE[@]}"
exits_within 15 "$PLAYER_PID"

finish
