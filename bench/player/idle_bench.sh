#!/usr/bin/env bash
# The release player with a lesson open on its first page and nothing playing, beside
# the anchor window (bench_anchor_window): wakeups per second of every thread (from the
# voluntary and involuntary context switches in /proc/PID/task/*/status) and CPU over
# 5 s after 2 s of settling, then Play's latency (bench_play_latency). With a sound
# server (pulse or pipewire, started privately with a null sink), also the sink's
# state and the server's own CPU and wakeups over the same 5 s, and, on the X server,
# Play by the Space key to the first sample of the page sound in the sink's monitor.
#   bench/player/idle_bench.sh BIN_DIR [none|pulse|pipewire]
set -u
BIN_DIR=$(cd "${1:?BIN_DIR}" && pwd)
SERVER=${2:-none}
HERE=$(cd "$(dirname "$0")" && pwd)
SETTLE=${IDLE_SETTLE:-2} SPAN=${IDLE_SPAN:-5}

# A real X server when one can be had: what the player meets on a desktop.
if [ -z "${DISPLAY:-}" ] && [ -z "${IDLE_UNDER_X:-}" ] && command -v xvfb-run > /dev/null; then
    IDLE_UNDER_X=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$@"
fi
[ -n "${DISPLAY:-}" ] && unset QT_QPA_PLATFORM

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vorur-idle-XXXXXX")
export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config VORUR_DATA_DIR=$WORK/data
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$VORUR_DATA_DIR" "$WORK/served" "$WORK/uploads"
chmod 700 "$XDG_RUNTIME_DIR"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2> /dev/null; done
    wait 2> /dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

if [ "$SERVER" = none ]; then
    export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} VORUR_MIXER=${VORUR_MIXER:-sim}
else
    unset SDL_AUDIODRIVER VORUR_MIXER
    source "$HERE/../../tests/desktop/sound_server.sh"
    start_sound_server "$SERVER" > /dev/null || exit 1
    # The server suspends an unused sink after 1 s (PipeWire's session manager after its own 5 s).
    [ "$SERVER" = pulse ] && pactl load-module module-suspend-on-idle timeout=1 > /dev/null
fi

# A lesson of two pages with a 2 s tone each.
sox -n -r 44100 -c 2 -b 16 "$WORK/page.wav" synth 2 sine 2400 vol 0.4
convert -size 640x480 xc:skyblue "$WORK/page.png"
page='{"soundFile": "page.wav", "pictureFile": "page.png", "questionText": "", "answerText": "", "waitSeconds": 2, "fontSize": 20}'
echo "{\"textBesidePicture\": 0, \"pages\": [$page, $page]}" > "$WORK/lesson.json"
"$BIN_DIR/viztool" pack "$WORK/lesson.json" "$WORK/served/idle.viz" > /dev/null || { echo "cannot pack the lesson"; exit 1; }
"$BIN_DIR/lesson-server" --root "$WORK/served" --uploads "$WORK/uploads" --port 0 > "$WORK/server.log" 2>&1 &
PIDS+=("$!")
for _ in $(seq 100); do
    URL=$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$WORK/server.log" | head -1)
    [ -n "$URL" ] && break
    sleep 0.05
done

"$BIN_DIR/Vorur_Ozudiz" "${URL}idle.viz" kim7 C1 A01 L03 D5 1 > "$WORK/player.log" 2>&1 &
PLAYER=$!
PIDS+=("$PLAYER")
"$BIN_DIR/bench_anchor_window" > /dev/null 2>&1 &
ANCHOR=$!
PIDS+=("$ANCHOR")
# Start-up and the lesson's download take well under a second here; then the settling.
sleep $((1 + SETTLE))

# snapshot PID: "tid name switches" for every thread, and "cpu ticks" for the process.
snapshot() {
    local pid=$1 t
    for t in /proc/"$pid"/task/*; do
        [ -r "$t/status" ] || continue
        awk -v tid="${t##*/}" -v name="$(tr ' ' '_' < "$t/comm")" \
            '/^(voluntary|nonvoluntary)_ctxt_switches/{n += $2} END{print tid, name, n}' "$t/status"
    done
    awk '{print "cpu", $14 + $15}' "/proc/$pid/stat"
}
# rates WHAT BEFORE AFTER: wakeups per second per thread and the CPU share.
rates() {
    awk -v what="$1" -v span="$SPAN" -v hz="$(getconf CLK_TCK)" '
        FNR == 1 { file++ }
        $1 == "cpu" { cpu[file] = $2; next }
        file == 1 { before[$1] = $3; next }
        { name[$1] = $2; d = $3 - ($1 in before ? before[$1] : 0); rate[$1] = d / span; total += d }
        END {
            printf "%-8s wakeups/s %6.1f  CPU %5.2f %%  threads %d\n", what, total / span, 100 * (cpu[2] - cpu[1]) / hz / span, length(name)
            for (t in rate) if (rate[t] > 0) printf "           %-20s %6.1f/s\n", name[t], rate[t]
        }' "$2" "$3"
}
server_pids() { [ "$SERVER" = none ] || printf '%s\n' "${SOUND_PIDS[@]}"; }

for p in "$PLAYER" "$ANCHOR" $(server_pids); do snapshot "$p" > "$WORK/before-$p"; done
sleep "$SPAN"
for p in "$PLAYER" "$ANCHOR" $(server_pids); do snapshot "$p" > "$WORK/after-$p"; done

echo "== idle: a lesson open on a page, nothing playing; $SPAN s after $SETTLE s of settling; sound: $SERVER"
rates player "$WORK/before-$PLAYER" "$WORK/after-$PLAYER"
rates anchor "$WORK/before-$ANCHOR" "$WORK/after-$ANCHOR"
for p in $(server_pids); do rates "$(cat /proc/$p/comm)" "$WORK/before-$p" "$WORK/after-$p"; done
player_rate=$(cat "$WORK/before-$PLAYER" "$WORK/after-$PLAYER" | awk '$1=="cpu"{next} {if (seen[$1]++) d += $3 - b[$1]; else b[$1] = $3} END{printf "%.1f", d / '"$SPAN"'}')
echo "target: player 0 wakeups/s (anchor's figure beside it): $player_rate/s $([ "$player_rate" = 0.0 ] && echo met || echo 'NOT met')"
if [ "$SERVER" != none ]; then
    # PipeWire's session manager suspends after 5 s: give it the time.
    [ "$SERVER" = pipewire ] && sleep 1
    echo "sink: $(pactl list short sinks | awk '$2=="speakers"{print $NF}') (target SUSPENDED); player streams: $(pactl list short sink-inputs | wc -l)"
fi
kill "$ANCHOR" 2> /dev/null

# Play by the Space key: the window has the keyboard and Space plays the page.
if [ "$SERVER" != none ] && [ -n "${DISPLAY:-}" ] && command -v xdotool > /dev/null && command -v parec > /dev/null; then
    parec -d speakers.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=10 > "$WORK/monitor.raw" 2> /dev/null &
    MON=$!
    PIDS+=("$MON")
    sleep 1
    win=$(xdotool search --onlyvisible --name '^Vorur_Ozudiz$' 2> /dev/null | head -1)
    xdotool windowactivate --sync "$win" 2> /dev/null || xdotool windowfocus --sync "$win" 2> /dev/null
    before=$(stat -c %s "$WORK/monitor.raw")
    xdotool key space
    sleep 3
    kill "$MON"
    python3 - "$WORK/monitor.raw" "$before" << 'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
start = int(sys.argv[2]) // 4
n = len(data) // 4
frames = struct.unpack('<%dh' % (2 * n), data[:4 * n])
onset = next((i for i in range(start, n) if abs(frames[2 * i]) > 1000), None)
if onset is None:
    print("Play -> the page sound in the sink's monitor: not heard")
else:
    ms = (onset - start) * 1000 / 44100
    print("Play -> the page sound in the sink's monitor: %.0f ms (key press and monitor clock included; target <= 30 ms)" % ms)
PY
fi
# Play's latency in-process, after the time the server takes to suspend its sink.
case $SERVER in none) IDLE=0 ;; pulse) IDLE=2 ;; pipewire) IDLE=6 ;; esac
[ -x "$BIN_DIR/bench_play_latency" ] || exit 0
"$BIN_DIR/bench_play_latency" 5 "$IDLE"
if [ "$SERVER" != none ]; then
    # A null sink that no client asks for a short latency serves streams in blocks of up
    # to its 2 s maximum (PulseAudio's does), which a sound card does not: again with
    # the monitor recorded at 10 ms, as the real-stack test records it.
    parec -d speakers.monitor --raw --latency-msec=10 > /dev/null 2>&1 &
    PIDS+=("$!")
    sleep 0.5
    echo "-- the same with the sink held at 10 ms by a recording of its monitor"
    "$BIN_DIR/bench_play_latency" 5 0
fi
