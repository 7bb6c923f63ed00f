#!/usr/bin/env bash
# A test run on what a learner's desktop has: the real player under an X server, a
# private sound server (PulseAudio or PipeWire, the first argument) with speakers
# and two microphones that hear different tones, the headset being the desktop's
# default source although the built-in microphone is listed first, and lesson-server.
# The learner clicks Test and Play and answers Yes; the upload is decoded and the
# tones are looked for. The sound server's state must be the same after the player
# has ended, also after a SIGKILL in the middle of a run.
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

start_sound_server "$KIND" || exit 1
"$TONE_TOOL" feed "$SOUND_DIR/builtin.fifo" $BUILTIN_HZ 2>/dev/null &
PIDS+=("$!")
"$TONE_TOOL" feed "$SOUND_DIR/headset.fifo" $HEADSET_HZ 2>/dev/null &
PIDS+=("$!")
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
DEMO_DIR=$WORK/served
mkdir -p "$DEMO_DIR"
"$BIN_DIR/viztool" pack "$LESSON_DIR/lesson.json" "$DEMO_DIR/tones.viz" > /dev/null || { fail "the lesson was not packed"; finish; }
start_server server
HOST=$(echo "${SERVER_URL#http://}" | sed 's|/$||')

same_state() {
    server_state > "$WORK/state-after.txt"
    diff "$WORK/state-before.txt" "$WORK/state-after.txt"
}

# probe FILE: the tones' shares of the recording's 100 ms windows.
probe() {
    "$TONE_TOOL" probe "$1" $BUILTIN_HZ $HEADSET_HZ $PAGE_HZ > "$WORK/probe.txt" || return 1
    LENGTH=$(awk '$1=="length"{print $2}' "$WORK/probe.txt")
    BUILTIN=$(awk -v f=$BUILTIN_HZ '$1==f{print $2}' "$WORK/probe.txt")
    HEADSET=$(awk -v f=$HEADSET_HZ '$1==f{print $2}' "$WORK/probe.txt")
    PAGE=$(awk -v f=$PAGE_HZ '$1==f{print $2}' "$WORK/probe.txt")
    echo "recording: $LENGTH s; windows with the built-in microphone $BUILTIN, the headset $HEADSET, the page sound $PAGE"
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a >= b)}'; }
at_most() { awk -v a="$1" -v b="$2" 'BEGIN{exit !(a <= b)}'; }

for speaker in 1 0; do
    rm -f "$WORK/uploads/"*
    settings "UploadHost=$HOST" "SpeakerRec=$speaker"
    start_player "${SERVER_URL}tones.viz" "${ARGS[@]}"
    if ! wait_main 30; then fail "SpeakerRec=$speaker: the window did not open"; cat "$WORK/player.log"; continue; fi
    sleep 0.5
    click_at "${TEST[@]}"
    click_at "${PLAY[@]}"
    sleep 2
    shot "recording-$speaker"
    if wait_message 60; then
        answer Return
        wait_message 30 && answer Return
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

finish
