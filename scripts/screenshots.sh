#!/usr/bin/env bash
# Takes the README's screenshots of the real player under a virtual X screen:
#   docs/screenshot-over.png       demo1, question and answer over the picture
#   docs/screenshot-beside.png     demo2, question and answer beside the picture
#   docs/screenshot-test-run.png   a test run in a pause: countdown and level bar
#                                  (the microphone is a spoken file through SDL's
#                                  disk driver)
#   docs/screenshot-no-lesson.png  a download that is no package: no lesson, every
#                                  player button disabled
#
#   scripts/screenshots.sh [BUILD_DIR]     (default: build)
#
# Builds nothing: BUILD_DIR must hold bin/Vorur_Ozudiz, bin/lesson-server and the
# demo lessons in demo/. Needs xvfb-run, xdotool, ImageMagick, espeak-ng and sox
# (scripts/install-deps.sh). Everything the player writes stays in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$(cd "${1:-build}" && pwd)

# Run the rest on a virtual 24-bit screen of our own.
if [ -z "${VORUR_SHOTS_ON_XVFB:-}" ]; then
  for tool in xvfb-run xdotool import convert espeak-ng sox; do
    command -v "$tool" > /dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh)"; exit 1; }
  done
  for file in bin/Vorur_Ozudiz bin/lesson-server demo/demo1.viz demo/demo2.viz; do
    [ -e "$BUILD/$file" ] || { echo "screenshots: $BUILD/$file is missing; build first"; exit 1; }
  done
  VORUR_SHOTS_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$BUILD"
fi

BIN=$BUILD/bin
DOCS=$ROOT/docs
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vorur-shots.XXXXXX")
SERVER_PID=""
PLAYER_PID=""

cleanup() {
  [ -n "$PLAYER_PID" ] && kill "$PLAYER_PID" 2> /dev/null || true
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2> /dev/null || true
  wait 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

log() { echo "screenshots: $*"; }
fail() {
  echo "screenshots: $*" >&2
  exit 1
}

# --- the lessons, one download that is no package, and the server
mkdir -p "$WORK/lessons" "$WORK/uploads" "$WORK/config/Dazuzor" "$WORK/data"
cp "$BUILD/demo/demo1.viz" "$BUILD/demo/demo2.viz" "$WORK/lessons/"
head -c 4096 /dev/urandom > "$WORK/lessons/broken.viz"

"$BIN/lesson-server" --root "$WORK/lessons" --uploads "$WORK/uploads" --port 0 > "$WORK/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 50); do
  grep -q '^listening on ' "$WORK/server.log" 2> /dev/null && break
  sleep 0.1
done
URL_BASE=$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$WORK/server.log" | head -1)
[ -n "$URL_BASE" ] || fail "lesson-server did not start: $(cat "$WORK/server.log")"
HOSTPORT=${URL_BASE#http://}
HOSTPORT=${HOSTPORT%/}

cat > "$WORK/config/Dazuzor/Vorur_Ozudiz2.conf" << CONF
[General]
UploadHost=$HOSTPORT
SpeakerRec=0
CONF

# The learner's voice for the test run: spoken English, 44.1 kHz 16-bit stereo raw,
# repeated so that it outlasts the run.
espeak-ng -s 140 -w "$WORK/voice.wav" \
  "The apples are red and sweet. I would like three bananas, please. How much are the pears?"
sox "$WORK/voice.wav" -r 44100 -c 2 -b 16 -e signed-integer -t raw "$WORK/voice.raw" repeat 6

export XDG_CONFIG_HOME=$WORK/config
export VORUR_DATA_DIR=$WORK/data
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
export VORUR_MIXER=sim
export SDL_AUDIODRIVER=dummy
export QT_QPA_PLATFORM=xcb

# --- driving the player

# Starts the player on a lesson of the server; extra environment as NAME=VALUE first.
start_player() {
  local lesson=$1
  shift
  env "$@" "$BIN/Vorur_Ozudiz" "${URL_BASE}${lesson}" shot01 C1 A01 L01 D1 1 > "$WORK/player.log" 2>&1 &
  PLAYER_PID=$!
}

# SIGTERM closes the player as its close button would; one that hangs is killed.
stop_player() {
  if [ -n "$PLAYER_PID" ]; then
    kill "$PLAYER_PID" 2> /dev/null || true
    for _ in $(seq 50); do
      kill -0 "$PLAYER_PID" 2> /dev/null || break
      sleep 0.1
    done
    if kill -0 "$PLAYER_PID" 2> /dev/null; then
      log "the player did not end on SIGTERM; killed"
      kill -KILL "$PLAYER_PID" 2> /dev/null || true
    fi
    wait "$PLAYER_PID" 2> /dev/null || true
    PLAYER_PID=""
  fi
}

# The id of the visible 800 x 600 player window (message boxes carry the same title).
main_window() {
  local id
  for _ in $(seq 100); do
    for id in $(xdotool search --onlyvisible --name '^Vorur_Ozudiz$' 2> /dev/null); do
      if xdotool getwindowgeometry "$id" 2> /dev/null | grep -q 'Geometry: 800x600'; then
        echo "$id"
        return 0
      fi
    done
    kill -0 "$PLAYER_PID" 2> /dev/null || break
    sleep 0.1
  done
  fail "the player window did not appear: $(cat "$WORK/player.log")"
}

# Clicks the middle of a control of the window at (x, y) of size w x h, then moves
# the pointer off the controls so no button shows its hover face.
click() {
  local win=$1 x=$2 y=$3 w=$4 h=$5
  xdotool mousemove --window "$win" $((x + w / 2)) $((y + h / 2)) click 1
  sleep 0.2
  xdotool mousemove --window "$win" 400 120
}

shoot() {
  local win=$1 out=$2
  import -window "$win" -crop 800x600+0+0 +repage "$WORK/shot.png"
  convert "$WORK/shot.png" -strip "$out"
}

# Number of pixels near `colour` in the given crop of an image.
count_colour() {
  local image=$1 crop=$2 colour=$3 fuzz=$4
  convert "$image" -crop "$crop" +repage -fuzz "$fuzz" -fill white -opaque "$colour" \
    -fill black +opaque white -format '%[fx:round(mean*w*h)]' info:
}

# Button places (x y w h) of the 800 x 600 window.
QT_BTN="153 566 24 15"
AT_BTN="153 581 24 14"
PLAY_BTN="63 565 31 30"
TEST_BTN="225 565 37 30"

# --- 1. texts over the picture
log "demo1: texts over the picture"
start_player demo1.viz
WIN=$(main_window)
sleep 0.5
click "$WIN" $QT_BTN
click "$WIN" $AT_BTN
sleep 0.8
shoot "$WIN" "$DOCS/screenshot-over.png"
stop_player

# --- 2. texts beside the picture
log "demo2: texts beside the picture"
start_player demo2.viz
WIN=$(main_window)
sleep 0.5
click "$WIN" $QT_BTN
click "$WIN" $AT_BTN
sleep 0.8
shoot "$WIN" "$DOCS/screenshot-beside.png"
stop_player

# --- 3. a test run, photographed in a pause while the voice comes in
log "demo1: test run"
start_player demo1.viz SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN="$WORK/voice.raw" SDL_DISKAUDIOFILE=/dev/null
WIN=$(main_window)
sleep 0.5
click "$WIN" $TEST_BTN
click "$WIN" $PLAY_BTN
taken=""
for _ in $(seq 120); do
  sleep 0.25
  import -window "$WIN" -crop 800x600+0+0 +repage "$WORK/try.png"
  countdown=$(count_colour "$WORK/try.png" 31x24+628+570 '#FFFF00' 25%)
  level=$(count_colour "$WORK/try.png" 791x5+5+558 '#FED480' 0)
  # A countdown digit and a bar at least a tenth full.
  if [ "$countdown" -gt 10 ] && [ "$level" -gt 400 ]; then
    convert "$WORK/try.png" -strip "$DOCS/screenshot-test-run.png"
    taken=1
    break
  fi
done
[ -n "$taken" ] || fail "no moment with a countdown and a moving level bar"
stop_player

# --- 4. no lesson: the download is no package
log "broken download: no lesson"
start_player broken.viz
# The "package could not be unpacked" box comes before the window: the one window
# of the player's title that is not 800 x 600.
box=""
for _ in $(seq 100); do
  for id in $(xdotool search --onlyvisible --name '^Vorur_Ozudiz$' 2> /dev/null); do
    if ! xdotool getwindowgeometry "$id" 2> /dev/null | grep -q 'Geometry: 800x600'; then
      box=$id
    fi
  done
  [ -n "$box" ] && break
  sleep 0.1
done
[ -n "$box" ] || fail "no message box for the broken package: $(cat "$WORK/player.log")"
sleep 0.5
xdotool windowfocus --sync "$box" key Return
WIN=$(main_window)
sleep 1
shoot "$WIN" "$DOCS/screenshot-no-lesson.png"
stop_player

log "written: docs/screenshot-over.png docs/screenshot-beside.png docs/screenshot-test-run.png docs/screenshot-no-lesson.png"
