#!/usr/bin/env bash
# A player left on a page lets the sound server's sink suspend, and Play still plays
# the page sound: the real player under an X server, a private sound server (pulse or
# pipewire, the first argument) whose null sink suspends after 1 s without a stream.
#   BIN_DIR=build/bin DEMO_DIR=build/demo TONE_TOOL=build/tests/vorur-test-tone \
#     xvfb-run -a -s "-screen 0 1024x768x24" tests/e2e/idle_sink_test.sh pulse
KIND=${1:?pulse or pipewire}
HERE=$(dirname "$0")
source "$HERE/lib.sh"
source "$HERE/../desktop/sound_server.sh"
TONE_TOOL=${TONE_TOOL:?TONE_TOOL must name vorur-test-tone}
unset VORUR_MIXER SDL_AUDIODRIVER SDL_DISKAUDIOFILE

PAGE_HZ=2400
ARGS=(kim7 C1 A01 L03 D5 1)
PLAY=(78 580) CLOSE=(774 580)
for tool in pactl parec sox; do
    command -v $tool > /dev/null || { echo "SKIP: $tool is missing"; exit 0; }
done
[ "$KIND" = pulse ] && ! command -v pulseaudio > /dev/null && { echo "SKIP: pulseaudio is missing"; exit 0; }
[ "$KIND" = pipewire ] && ! command -v pipewire-pulse > /dev/null && { echo "SKIP: pipewire-pulse is missing"; exit 0; }

start_sound_server "$KIND" || exit 1
case $KIND in
  pulse) pactl load-module module-suspend-on-idle timeout=1 > /dev/null || { fail "no suspend-on-idle"; finish; } ;;
  # WirePlumber suspends a node idle for its session.suspend-timeout-seconds (5 s by default).
  pipewire) SUSPEND_WAIT=15 ;;
esac
SUSPEND_WAIT=${SUSPEND_WAIT:-10}

LESSON_DIR=$WORK/lesson
mkdir -p "$LESSON_DIR"
sox -n -r 44100 -c 2 -b 16 "$LESSON_DIR/page.wav" synth 1.5 sine $PAGE_HZ vol 0.4
convert -size 320x240 xc:skyblue "$LESSON_DIR/page.png"
page='{"soundFile": "page.wav", "pictureFile": "page.png", "questionText": "", "answerText": "", "waitSeconds": 2, "fontSize": 20}'
echo "{\"textBesidePicture\": 0, \"pages\": [$page, $page]}" > "$LESSON_DIR/idle.json"
DEMO_DIR=$WORK/served
mkdir -p "$DEMO_DIR"
"$BIN_DIR/viztool" pack "$LESSON_DIR/idle.json" "$DEMO_DIR/idle.viz" > /dev/null || { fail "the lesson was not packed"; finish; }
start_server server

sink_state() { pactl list short sinks | awk '$2 == "speakers" {print $NF}'; }
# suspends_within SECONDS: true once the sink is SUSPENDED; SUSPENDED_AFTER says when.
suspends_within() {
    local t0=$SECONDS
    for _ in $(seq $(($1 * 10))); do
        if [ "$(sink_state)" = SUSPENDED ]; then SUSPENDED_AFTER=$((SECONDS - t0)); return 0; fi
        sleep 0.1
    done
    return 1
}

start_player "${SERVER_URL}idle.viz" "${ARGS[@]}"
if ! wait_main 30; then fail "the window did not open"; cat "$PLAYER_LOG"; finish; fi
check "the sink suspends under the player left on a page" suspends_within "$SUSPEND_WAIT"
echo "the sink was SUSPENDED ${SUSPENDED_AFTER:-?} s after the window opened"
check "the player keeps no stream while nothing plays" test -z "$(pactl list short sink-inputs)"

# Play: the page sound reaches the speakers.
parec -d speakers.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 \
    > "$WORK/monitor.raw" 2> "$WORK/parec.log" &
MONITOR_PID=$!
PIDS+=("$MONITOR_PID")
for _ in $(seq 50); do [ -s "$WORK/monitor.raw" ] && break; sleep 0.1; done
start=$(awk -v b="$(stat -c %s "$WORK/monitor.raw")" 'BEGIN{printf "%.3f", b / 176400}')
click_at "${PLAY[@]}"
sleep 2.5
kill "$MONITOR_PID"
wait "$MONITOR_PID" 2> /dev/null
"$TONE_TOOL" heard "$WORK/monitor.raw" $PAGE_HZ "$start" 1000000 > "$WORK/heard.txt"
ONSET=$(awk '$1=="onset"{print $2}' "$WORK/heard.txt")
DURING=$(awk '$1=="during"{print $2}' "$WORK/heard.txt")
echo "Play: the page sound was heard $ONSET s after the click, in $DURING of the time after"
# The tone is looked for in 50 ms windows, the first of which may begin up to 50 ms
# before the click: a sound that starts at once can show as heard a little "before"
# it. Never heard is -1.
check "Play plays the page sound from the suspended sink" awk -v o="$ONSET" 'BEGIN{exit !(o >= -0.05 && o <= 1)}'
check "the page sound plays on to its end" awk -v d="$DURING" -v o="$ONSET" 'BEGIN{exit !(d * (2.5 - o) >= 1.2)}'
# Once the sound is over the stream goes again and the sink suspends once more.
check "the sink suspends again after the page sound" suspends_within "$SUSPEND_WAIT"

click_at "${CLOSE[@]}"
check "the player ends" exits_within 15 "$PLAYER_PID"
finish
