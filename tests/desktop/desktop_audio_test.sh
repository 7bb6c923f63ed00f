#!/usr/bin/env bash
# A test run on what a learner's desktop has: the real player under an X server, a
# private sound server (PulseAudio or PipeWire, the first argument) with speakers
# and two microphones that hear different tones, the headset being the desktop's
# default source although the built-in microphone is listed first, and lesson-server.
# The learner clicks Test and Play, hears the take in the question box (or gets the
# plain question) and answers Yes; the upload is decoded and the tones are looked for. The sound server's state must be the same after the player
# has ended, also after a SIGKILL in the middle of a run. Then the server fails
# under a run: it hangs while the run ends, it restarts in the middle of a run,
# and it dies for good.
#   BIN_DIR=build/bin DEMO_DIR=build/demo TONE_TOOL=build/tests/vorur-test-tone \
#     xvfb-run -a -s "-screen 0 1024x768x24" tests/desktop/desktop_audio_test.sh pulse
KIND=${1:?pulse or pipewire}
HERE=$(dirname "$0")
source "$HERE/../e2e/lib.sh"
source "$HERE/sound_server.sh"
TONE_TOOL=${TONE_TOOL:?TONE_TOOL must name vorur-test-tone}
# The real devices: the sound server's sources and SDL on the sound server.
unset VORUR_MIXER SDL_AUDIODRIVER SDL_DISKAUDIOFILE

BUILTIN_HZ=530 HEADSET_HZ=1000 PAGE_HZ=2400
ARGS=(kim7 C1 A01 L03 D5 1)
UPLOAD_NAME=A01_L03_D5_SP_kim7.mp3
PLAY=(78 580) TEST=(243 580) CLOSE=(774 580)

for tool in pactl sox; do
    command -v $tool > /dev/null || { echo "SKIP: $tool is missing"; exit 0; }
done
[ "$KIND" = pulse ] && ! command -v pulseaudio > /dev/null && { echo "SKIP: pulseaudio is missing"; exit 0; }
[ "$KIND" = pipewire ] && ! command -v pipewire-pulse > /dev/null && { echo "SKIP: pipewire-pulse is missing"; exit 0; }

# The microphones hear their tones; a feed ends when its server goes away.
feed_microphones() {
    "$TONE_TOOL" feed "$SOUND_DIR/builtin.fifo" $BUILTIN_HZ 2>/dev/null &
    PIDS+=("$!")
    "$TONE_TOOL" feed "$SOUND_DIR/headset.fifo" $HEADSET_HZ 2>/dev/null &
    PIDS+=("$!")
}

start_sound_server "$KIND" || exit 1
server_state > "$WORK/state-before.txt"

# A lesson of two pages whose model sound is a tone of its own.
LESSON_DIR=$WORK/lesson
mkdir -p "$LESSON_DIR"
sox -n -r 44100 -c 2 -b 16 "$LESSON_DIR/page.wav" synth 1.5 sine $PAGE_HZ vol 0.4
convert -size 320x240 xc:skyblue "$LESSON_DIR/page.png"
cat > "$LESSON_DIR/lesson.json" <<JSON
{"textBesidePicture": 0, "pages": [
 {"soundFile": "page.wav", "pictureFile": "page.png", "questionText": "", "answerText": "", "waitSeconds": 2, "fontSize": 20},
 {"soundFile": "page.wav", "pictureFile": "page.png", "questionText": "", "answerText": "", "waitSeconds": 2, "fontSize": 20}]}
JSON
# One page whose pause is long enough for the server to hang in it.
cat > "$LESSON_DIR/one.json" <<JSON
{"textBesidePicture": 0, "pages": [
 {"soundFile": "page.wav", "pictureFile": "page.png", "questionText": "", "answerText": "", "waitSeconds": 5, "fontSize": 20}]}
JSON
# A run of about 20 s: four pages of a 2 s sound and a 3 s pause.
sox -n -r 44100 -c 2 -b 16 "$LESSON_DIR/long.wav" synth 2 sine $PAGE_HZ vol 0.4
page='{"soundFile": "long.wav", "pictureFile": "page.png", "questionText": "", "answerText": "", "waitSeconds": 3, "fontSize": 20}'
echo "{\"textBesidePicture\": 0, \"pages\": [$page, $page, $page, $page]}" > "$LESSON_DIR/long.json"
DEMO_DIR=$WORK/served
mkdir -p "$DEMO_DIR"
for lesson in lesson:tones one:one long:long; do
    "$BIN_DIR/viztool" pack "$LESSON_DIR/${lesson%%:*}.json" "$DEMO_DIR/${lesson#*:}.viz" > /dev/null ||
        { fail "the lesson ${lesson%%:*} was not packed"; finish; }
done
start_server server
HOST=$(echo "${SERVER_URL#http://}" | sed 's|/$||')

same_state() {
    server_state > "$WORK/state-after.txt"
    diff "$WORK/state-before.txt" "$WORK/state-after.txt"
}

# probe FILE [--from SECONDS]: the tones' shares of the recording's 100 ms windows.
probe() {
    "$TONE_TOOL" probe "$@" $BUILTIN_HZ $HEADSET_HZ $PAGE_HZ > "$WORK/probe.txt" || return 1
    LENGTH=$(awk '$1=="length"{print $2}' "$WORK/probe.txt")
    BUILTIN=$(awk -v f=$BUILTIN_HZ '$1==f{print $2}' "$WORK/probe.txt")
    HEADSET=$(awk -v f=$HEADSET_HZ '$1==f{print $2}' "$WORK/probe.txt")
    PAGE=$(awk -v f=$PAGE_HZ '$1==f{print $2}' "$WORK/probe.txt")
    echo "recording${2:+ from ${3:-} s}: $LENGTH s; windows with the built-in microphone $BUILTIN, the headset $HEADSET, the page sound $PAGE"
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a >= b)}'; }
at_most() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a <= b)}'; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN{printf "%.1f", b - a}'; }
# sleep_into_run SECONDS: sleeps until that long after the run's start.
sleep_into_run() {
    sleep "$(awk -v t="$RUN_T0" -v s="$1" -v n="$(now)" 'BEGIN{d = t + s - n; printf "%.3f", (d > 0 ? d : 0)}')"
}

# start_run LESSON: the player on a lesson, in a test run from RUN_T0 on.
start_run() {
    start_player "${SERVER_URL}$1" "${ARGS[@]}"
    wait_main 30 || return 1
    sleep 0.5
    click_at "${TEST[@]}"
    click_at "${PLAY[@]}"
    RUN_T0=$(now)
}

# end_player: the learner closes the window; the player must end.
end_player() {
    click_at "${CLOSE[@]}"
    check "$1: the player ends" exits_within 15 "$PLAYER_PID"
}

box_shot() { import -window "$BOX" "$WORK/shots/$1.png"; }
# The speakers' monitor, recorded into $WORK/monitor.raw from monitor_start to
# monitor_stop; monitor_at: the seconds it holds so far.
monitor_start() {
    parec -d speakers.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 \
        > "$WORK/monitor.raw" 2> "$WORK/parec.log" &
    MONITOR_PID=$!
    for _ in $(seq 50); do [ -s "$WORK/monitor.raw" ] && break; sleep 0.1; done
}
monitor_stop() { kill "$MONITOR_PID"; wait "$MONITOR_PID" 2>/dev/null; }
monitor_at() { awk -v b="$(stat -c %s "$WORK/monitor.raw")" 'BEGIN{printf "%.3f", b / 176400}'; }
# heard START STOP: when the default microphone's tone is heard on the speakers
# (ONSET after START, -1: never), its share until STOP (DURING) and after it (AFTER).
heard() {
    "$TONE_TOOL" heard "$WORK/monitor.raw" $HEADSET_HZ "$1" "$2" > "$WORK/heard.txt"
    ONSET=$(awk '$1=="onset"{print $2}' "$WORK/heard.txt")
    DURING=$(awk '$1=="during"{print $2}' "$WORK/heard.txt")
    AFTER=$(awk '$1=="after"{print $2}' "$WORK/heard.txt")
}

# The learner hears the take in the question box (Alt+P), stops it and sends it
# (Alt+Y): the speakers carry the default microphone's tone within 1 s of 들어보기
# and none after 멈춤, and the server gets the file that played.
review_take() {
    box_shot review-idle
    monitor_start
    cp "$VORUR_DATA_DIR/$UPLOAD_NAME" "$WORK/played.mp3"
    xdotool windowfocus --sync "$BOX" 2>/dev/null
    local start stop
    start=$(monitor_at)
    xdotool key alt+p
    sleep 2.5
    box_shot review-playing
    stop=$(monitor_at)
    xdotool key alt+p
    sleep 1.5
    monitor_stop
    heard "$start" "$stop"
    echo "review: the take was heard $ONSET s after 들어보기, in $DURING of the time until 멈춤, in $AFTER of it after"
    # (50 ms windows: the first may begin up to 50 ms before the key; never heard is -1.)
    check "the take is heard within 1 s of 들어보기" awk -v o="$ONSET" 'BEGIN{exit !(o >= -0.05 && o <= 1)}'
    check "the take plays on until 멈춤" at_least "$DURING" 0.9
    check "멈춤 stops the take" at_most "$AFTER" 0
    answer alt+y
    wait_message 30 && answer Return
    check "the server gets the file that played" cmp "$WORK/played.mp3" "$WORK/uploads/$UPLOAD_NAME"
}

# ReviewBeforeSend=0: the plain question, in which Alt+P plays nothing.
plain_question() {
    box_shot plain-question
    monitor_start
    local start
    start=$(monitor_at)
    answer alt+p
    sleep 1
    monitor_stop
    heard "$start" 1000000
    check "ReviewBeforeSend=0: the question plays nothing" test "$ONSET" = -1.000
    answer Return
    wait_message 30 && answer Return
}

for speaker in 1 0; do
    rm -f "$WORK/uploads/"*
    # The run with SpeakerRec=0 asks the plain question.
    settings "UploadHost=$HOST" "SpeakerRec=$speaker" "ReviewBeforeSend=$speaker"
    start_player "${SERVER_URL}tones.viz" "${ARGS[@]}"
    if ! wait_main 30; then fail "SpeakerRec=$speaker: the window did not open"; cat "$WORK/player.log"; continue; fi
    sleep 0.5
    click_at "${TEST[@]}"
    click_at "${PLAY[@]}"
    sleep 2
    shot "recording-$speaker"
    if wait_message 60; then
        if [ $speaker = 1 ]; then review_take; else plain_question; fi
    else
        fail "SpeakerRec=$speaker: the question never came"
    fi
    click_at "${CLOSE[@]}"
    check "SpeakerRec=$speaker: the player ends" exits_within 15 "$PLAYER_PID"
    STORED=$WORK/uploads/$UPLOAD_NAME
    if [ -s "$STORED" ] && probe "$STORED"; then
        check "SpeakerRec=$speaker: the recording lasts the run" at_least "$LENGTH" 6
        check "SpeakerRec=$speaker: the default microphone is heard throughout" at_least "$HEADSET" 0.95
        check "SpeakerRec=$speaker: the other microphone is heard nowhere" at_most "$BUILTIN" 0
        if [ $speaker = 1 ]; then
            check "SpeakerRec=1: the page sound is in the playback mix" at_least "$PAGE" 0.25
        else
            check "SpeakerRec=0: the page sound is not recorded" at_most "$PAGE" 0
        fi
        cp "$STORED" "$WORK/upload-speaker$speaker.mp3"
    else
        fail "SpeakerRec=$speaker: no decodable upload"
    fi
    check "SpeakerRec=$speaker: the sound server is as it was" same_state
done

# Killed in the middle of a run: nothing of the player's outlives it.
settings "UploadHost=$HOST" "SpeakerRec=1"
start_player "${SERVER_URL}tones.viz" "${ARGS[@]}"
if wait_main 30; then
    sleep 0.5
    click_at "${TEST[@]}"
    click_at "${PLAY[@]}"
    sleep 2.5
    check "a run is recording before the kill" sh -c "pactl list short source-outputs | grep -q ."
    kill -KILL "$PLAYER_PID"
    exits_within 5 "$PLAYER_PID"
    sleep 1
    check "after SIGKILL the sound server is as it was" same_state
else
    fail "the window did not open for the killed run"
fi

# The server hangs (SIGSTOP) 3 s into the run, in the page sound or in the pause
# after it, so the run ends while it does not answer: the question still comes within
# about two seconds of the run's end, and what was recorded until the hang is sent intact.
rm -f "$WORK/uploads/"*
if start_run one.viz; then
    # The page sound (1.5 s) is over; the run ends about 5 s later.
    sleep_into_run 3
    signal_sound_server STOP
    if wait_message 30; then
        took=$(since "$RUN_T0")
        echo "with the server stopped, the question came $took s after Play"
        # The page sound opens at Play, and a null sink may take up to 2 s to ask for
        # its first block; a sound the hang cuts goes on on the clock after 3 s.
        check "a hung server does not hold up the run's end (question after $took s)" at_most "$took" 15
        check "the question is asked" test "$(message_text)" = "학습한 내용을 서버로 전송하시겠습니까?"
        answer Return
        wait_message 30 && { OUTCOME=$(message_text); answer Return; }
        check "the hung server's run is sent" test "${OUTCOME:-}" = "전송이 완료 되었습니다."
    else
        fail "no question while the server hung"
    fi
    signal_sound_server CONT
    end_player "hung server"
    STORED=$WORK/uploads/$UPLOAD_NAME
    if [ -s "$STORED" ] && probe "$STORED"; then
        check "the hung server's recording holds the microphone until the hang" at_least "$LENGTH" 2.5
        check "the hung server's recording holds the default microphone" at_least "$HEADSET" 0.85
    else
        fail "the hung server's run left no decodable upload"
    fi
    sleep 1
    check "after the hang the sound server is as it was" same_state
else
    fail "the window did not open for the hung server's run"
fi

# The server restarts 6 s into a 20 s run: the recording goes on with the gap as
# silence, keeps the run's length and hears the microphone again; the page sounds
# play on the new server.
rm -f "$WORK/uploads/"*
if start_run long.viz; then
    sleep_into_run 6
    kill_sound_server
    sleep 1.5
    restart_sound_server || { fail "the $KIND server did not come back"; finish; }
    echo "the $KIND server was away from 6 s to $(since "$RUN_T0") s"
    playing=no
    for _ in $(seq 100); do
        pactl list short sink-inputs 2>/dev/null | grep -q . && { playing=yes; break; }
        sleep 0.1
    done
    check "page sounds play on the restarted server" test $playing = yes
    if wait_message 40; then
        RUN_LENGTH=$(since "$RUN_T0")
        check "the question is asked after the restart" test "$(message_text)" = "학습한 내용을 서버로 전송하시겠습니까?"
        answer Return
        wait_message 30 && { OUTCOME=$(message_text); answer Return; }
        check "the restarted run is sent" test "${OUTCOME:-}" = "전송이 완료 되었습니다."
    else
        fail "no question after the restart"
    fi
    end_player "restart"
    STORED=$WORK/uploads/$UPLOAD_NAME
    if [ -s "$STORED" ] && probe "$STORED"; then
        echo "the run lasted ${RUN_LENGTH:-?} s"
        check "the recording keeps the run's length across the restart" at_least "$LENGTH" "$(awk -v r="${RUN_LENGTH:-20}" 'BEGIN{print r - 1.5}')"
        check "the recording is no longer than the run" at_most "$LENGTH" "${RUN_LENGTH:-20}"
        check "the other microphone is heard nowhere" at_most "$BUILTIN" 0
        check "the time the server was away is silence" at_most "$HEADSET" "$(awk -v l="$LENGTH" 'BEGIN{print 1 - 1 / l}')"
        probe "$STORED" --from 9
        check "the default microphone is heard again after the restart" at_least "$HEADSET" 0.95
        check "the page sounds are in the playback mix after the restart" at_least "$PAGE" 0.2
    else
        fail "the restarted run left no decodable upload"
    fi
    sleep 1
    check "after the restart the sound server is as it was" same_state
else
    fail "the window did not open for the restarted run"
fi

# The server dies 3 s into the run and does not come back: the run ends as a
# recording that failed, nothing is offered or sent, and stderr says why.
rm -f "$WORK/uploads/"*
if start_run long.viz; then
    sleep_into_run 3
    kill_sound_server
    if wait_message 40; then
        check "a lost recording is not offered for sending" test "$(message_text)" = "녹음파일을 전송하지 못했습니다."
        answer Return
    else
        fail "the run without a server never ended"
    fi
    end_player "no server"
    check "nothing was uploaded" test -z "$(ls "$WORK/uploads")"
    check "stderr says the capture failed ($(head -c 300 "$PLAYER_LOG"))" \
        grep -q "^Vorur_Ozudiz: capturing the recording .* failed: the sound server went away" "$PLAYER_LOG"
else
    fail "the window did not open for the run without a server"
fi

finish
