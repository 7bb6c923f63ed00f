#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, serves the demo lessons with lesson-server
# and starts the player on the first one, as a launcher would.
#   scripts/demo.sh [demo1|demo2] [PRACTICE]
# Everything the demo writes (settings, downloads, recordings, uploads) stays in
# build/demo-run; the user's own settings are never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
LESSON=${1:-demo1}
TIMES=${2:-1}

scripts/install-deps.sh
scripts/build.sh

BIN=$ROOT/build/bin
RUN=$ROOT/build/demo-run
mkdir -p "$RUN/config/Dazuzor" "$RUN/data" "$RUN/uploads"

cleanup() {
  [ -n "${SERVER_PID:-}" ] && kill "$SERVER_PID" 2>/dev/null || true
}
trap cleanup EXIT

"$BIN/lesson-server" --root "$ROOT/build/demo" --uploads "$RUN/uploads" --port 0 > "$RUN/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 50); do
  grep -q '^listening on ' "$RUN/server.log" 2>/dev/null && break
  sleep 0.1
done
URL_BASE=$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$RUN/server.log" | head -1)
[ -n "$URL_BASE" ] || { echo "demo: lesson-server did not start"; cat "$RUN/server.log"; exit 1; }
HOSTPORT=${URL_BASE#http://}
HOSTPORT=${HOSTPORT%/}
echo "demo: lesson-server at $URL_BASE (uploads go to $RUN/uploads)"

# The demo's own settings: uploads go to the demo server; the microphone stays the
# recording source.
cat > "$RUN/config/Dazuzor/Vorur_Ozudiz2.conf" <<CONF
[General]
UploadHost=$HOSTPORT
SpeakerRec=0
CONF

export XDG_CONFIG_HOME=$RUN/config
export VORUR_DATA_DIR=$RUN/data
echo "demo: starting the player on ${URL_BASE}${LESSON}.viz"
"$BIN/Vorur_Ozudiz" "${URL_BASE}${LESSON}.viz" demo01 C1 A01 L01 D1 "$TIMES"
echo "demo: the player has closed"
ls -l "$RUN/uploads"
