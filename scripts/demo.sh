#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, serves the demo lessons with lesson-server
# and starts the player on one of them, as a launcher would.
#   scripts/demo.sh [demo1|demo2] [PRACTICE]
# Everything the demo writes (settings, downloads, recordings, uploads, screenshots)
# stays in build/demo-run; the user's own settings are never touched. BUILD_DIR
# names another build folder, as for scripts/build.sh.
#
# Where no sound server runs, a private one with a silent output and a microphone
# that hears that output serves the demo and ends with it. Where there is no display,
# the player runs on a virtual one: the demo shows the texts, steps a page, makes an
# automatic run (and in test mode a recorded run with its upload), saves what the
# learner would see in build/demo-run/screenshots and closes the player by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
LESSON=${1:-demo1}
TIMES=${2:-1}
case $LESSON in
  demo1 | demo2) ;;
  *) echo "usage: scripts/demo.sh [demo1|demo2] [PRACTICE]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
scripts/build.sh

BUILD=$(cd "${BUILD_DIR:-build}" && pwd)
BIN=$BUILD/bin
RUN=$BUILD/demo-run
SHOTS=$RUN/screenshots
# Recordings and settings are the user's alone.
(umask 077 && mkdir -p "$RUN/config/Dazuzor" "$RUN/data" "$RUN/uploads")
chmod 700 "$RUN" "$RUN/config" "$RUN/config/Dazuzor" "$RUN/data" "$RUN/uploads"

SERVER_PID=
PULSE_PID=
PULSE_DIR=
XVFB_PID=
PLAYER_PID=

# Whether a child still runs (an ended child that is not yet reaped does not).
running() {
  local state
  state=$(sed -n 's/^[0-9]* (.*) \(.\).*/\1/p' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}
# Asks a child to end, and makes it end if it has not within 3 s.
stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 30); do
    running "$1" || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$PLAYER_PID"
  stop "$SERVER_PID"
  stop "$XVFB_PID"
  stop "$PULSE_PID"
  [ -n "$PULSE_DIR" ] && rm -rf "$PULSE_DIR"
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

die() {
  echo "demo: $*" >&2
  exit 1
}

# Sound: the running server if there is one, else a private daemon for this run.
start_private_sound_server() {
  # A short path: the socket's name must fit in 108 bytes.
  PULSE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vorur-demo-pulse.XXXXXX")
  mkdir -m 700 "$PULSE_DIR/runtime"
  HOME=$PULSE_DIR XDG_RUNTIME_DIR=$PULSE_DIR/runtime PULSE_RUNTIME_PATH=$PULSE_DIR/runtime/pulse \
  PULSE_STATE_PATH=$PULSE_DIR/state \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
      --log-target=stderr \
      -L "module-native-protocol-unix auth-anonymous=1 socket=$PULSE_DIR/native" \
      -L "module-null-sink sink_name=demo_out rate=44100 sink_properties=device.description=Demo_Speakers" \
      -L "module-remap-source source_name=demo_mic master=demo_out.monitor source_properties=device.description=Demo_Microphone" \
      >"$RUN/pulse.log" 2>&1 &
  PULSE_PID=$!
  export PULSE_SERVER=unix:$PULSE_DIR/native PULSE_COOKIE=$PULSE_DIR/cookie PULSE_CLIENTCONFIG=/dev/null
  for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    running "$PULSE_PID" || break
    sleep 0.1
  done
  pactl info >/dev/null 2>&1 || { cat "$RUN/pulse.log" >&2; die "the private sound server did not start"; }
  pactl set-default-sink demo_out >/dev/null
  pactl set-default-source demo_mic >/dev/null
  export SDL_AUDIODRIVER=pulseaudio
  echo "demo: no sound server runs; using a private one (silent output; the microphone hears the page sounds)"
}
# On a desktop the recording is the playback mix, as for every learner; the private
# server's microphone hears the page sounds already, so there it records alone.
SPEAKER_REC=1
if pactl info >/dev/null 2>&1; then
  echo "demo: using the running sound server"
else
  start_private_sound_server
  SPEAKER_REC=0
fi

"$BIN/lesson-server" --root "$BUILD/demo" --uploads "$RUN/uploads" --port 0 > "$RUN/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 50); do
  grep -q '^listening on ' "$RUN/server.log" 2>/dev/null && break
  sleep 0.1
done
URL_BASE=$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$RUN/server.log" | head -1)
[ -n "$URL_BASE" ] || { cat "$RUN/server.log" >&2; die "lesson-server did not start"; }
HOSTPORT=${URL_BASE#http://}
HOSTPORT=${HOSTPORT%/}
echo "demo: lesson-server at $URL_BASE (uploads go to $RUN/uploads)"

# The demo's own settings: uploads go to the demo server.
cat > "$RUN/config/Dazuzor/Vorur_Ozudiz2.conf" <<CONF
[General]
UploadHost=$HOSTPORT
SpeakerRec=$SPEAKER_REC
CONF

export XDG_CONFIG_HOME=$RUN/config
export VORUR_DATA_DIR=$RUN/data
PLAYER_ARGS=("${URL_BASE}${LESSON}.viz" demo01 C1 A01 L01 D1 "$TIMES")
RECORDING=$RUN/data/A01_L01_D1_SP_demo01.mp3

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: starting the player on ${URL_BASE}${LESSON}.viz"
  "$BIN/Vorur_Ozudiz" "${PLAYER_ARGS[@]}" &
  PLAYER_PID=$!
  wait "$PLAYER_PID" || true
  PLAYER_PID=
  echo "demo: the player has closed"
  ls -l "$RUN/uploads"
  exit 0
fi

# No display: a virtual one of the window's size, and a tour of the player.
echo "demo: no display; running the player on a virtual one"
rm -rf "$SHOTS"
mkdir -p "$SHOTS"
rm -f "$RUN/xvfb.display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$RUN/xvfb.display" 2>"$RUN/xvfb.log" &
XVFB_PID=$!
for _ in $(seq 100); do
  [ -s "$RUN/xvfb.display" ] && break
  running "$XVFB_PID" || break
  sleep 0.1
done
[ -s "$RUN/xvfb.display" ] || { cat "$RUN/xvfb.log" >&2; die "Xvfb did not start"; }
export DISPLAY=:$(head -1 "$RUN/xvfb.display")

"$BIN/Vorur_Ozudiz" "${PLAYER_ARGS[@]}" >"$RUN/player.log" 2>&1 &
PLAYER_PID=$!

# The main window and every message box carry the application's name as title.
windows() {
  xdotool search --onlyvisible --name '^Vorur_Ozudiz$' 2>/dev/null || true
}
WIN=
for _ in $(seq 600); do
  WIN=$(windows | head -1)
  [ -n "$WIN" ] && break
  running "$PLAYER_PID" || { cat "$RUN/player.log" >&2; die "the player ended before showing its window"; }
  sleep 0.1
done
[ -n "$WIN" ] || die "the player showed no window within 60 s"

N=0
shot() {
  N=$((N + 1))
  local file
  file=$SHOTS/$(printf '%02d' "$N")-$1.png
  # Away from the buttons, so that none shows its hover picture.
  xdotool mousemove 400 300
  sleep 0.7
  import -window root "$file"
  echo "demo: screenshot $file"
}
# Buttons by their centres in the 800 x 600 window.
click() {
  local x y
  case $1 in
    play) x=78 y=580 ;;
    next) x=106 y=580 ;;
    auto) x=132 y=580 ;;
    question) x=165 y=573 ;;
    answer) x=165 y=588 ;;
    test) x=243 y=580 ;;
    close) x=774 y=580 ;;
  esac
  xdotool mousemove --window "$WIN" "$x" "$y" click 1
  sleep 0.3
}
# The Play button's picture, to tell when it is enabled again.
play_button() {
  import -window root -crop 31x30+63+565 +repage "$1"
}
same_picture() {
  [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" = 0 ]
}
message_box() {
  windows | grep -vx "$WIN" | head -1
}
wait_for() {
  local seconds=$1 what=$2
  shift 2
  for _ in $(seq $((seconds * 2))); do
    "$@" && return 0
    running "$PLAYER_PID" || die "the player ended while waiting for $what"
    sleep 0.5
  done
  shot "timeout"
  die "no $what within $seconds s"
}

sleep 1
shot "lesson-opened"
click question
click answer
shot "question-and-answer"
click next
shot "next-page"

# An automatic run from page 3 to the end (both demo lessons have more than three
# pages): each page's sound and pause, then the run ends by itself and Play is
# enabled again.
xdotool mousemove 400 300
sleep 0.7
play_button "$RUN/play-idle.png"
click next
click auto
shot "automatic-run"
run_ended() {
  play_button "$RUN/play-now.png"
  same_picture "$RUN/play-idle.png" "$RUN/play-now.png"
}
wait_for 90 "end of the automatic run" run_ended
shot "automatic-run-ended"
click auto

if [ "$(echo "$TIMES" | tr '[:lower:]' '[:upper:]')" != PRACTICE ]; then
  # A recorded run through every page, then the question whether to send it.
  click test
  click play
  # While the first page's sound plays: the microphone hears it on the level bar.
  sleep 0.5
  shot "test-run-recording"
  has_box() { [ -n "$(message_box)" ]; }
  wait_for 180 "question at the end of the test run" has_box
  shot "send-question"
  touch "$RUN/asked"
  xdotool key Return
  uploaded() { [ "$RUN/uploads/$(basename "$RECORDING")" -nt "$RUN/asked" ] && [ -n "$(message_box)" ]; }
  wait_for 60 "upload" uploaded
  shot "sent"
  [ -f "$RECORDING" ] && echo "demo: the recording is $RECORDING ($(stat -c %s "$RECORDING") bytes)"
  xdotool key Return
  sleep 0.5
fi

click close
for _ in $(seq 100); do
  running "$PLAYER_PID" || break
  sleep 0.1
done
running "$PLAYER_PID" && die "the player did not close"
wait "$PLAYER_PID" || true
PLAYER_PID=
echo "demo: the player has closed"
echo "demo: uploads in $RUN/uploads:"
ls -l "$RUN/uploads"
