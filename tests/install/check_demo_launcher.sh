#!/usr/bin/env bash
# The installed demo launcher serves the installed demo lesson and opens it in the
# installed player: the lesson lands in the user's data folder, the user's own
# settings stay untouched, and stopping the launcher ends the player and the server.
#   check_demo_launcher.sh <build dir>
source "$(dirname "$0")/install_lib.sh" "$1"
install_tree

LAUNCHER=$P/$BINDIR/vorur-ozudiz-demo
PRIV=$P/$LIBDIR/vorur-ozudiz
HOMEDIR=$SCRATCH/home
DATA=$HOMEDIR/.local/share/Dazuzor/Vorur_Ozudiz2
CACHE=$HOMEDIR/.cache/vorur-ozudiz-demo
mkdir -p "$HOMEDIR" "$SCRATCH/runtime"
chmod 700 "$SCRATCH/runtime"

as_user() {
    env -u VORUR_DATA_DIR -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME \
        HOME="$HOMEDIR" XDG_RUNTIME_DIR="$SCRATCH/runtime" "$@"
}

# A lesson that is not installed is refused before anything starts.
as_user "$LAUNCHER" demo3 >"$SCRATCH/usage.log" 2>&1
status=$?
check "an unknown lesson is a usage error (status $status)" test "$status" -eq 2
check "nothing is written for a usage error" test ! -e "$CACHE"

# Its own session, so whatever it leaves behind can be found and ended afterwards.
env -u VORUR_DATA_DIR -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME \
    HOME="$HOMEDIR" XDG_RUNTIME_DIR="$SCRATCH/runtime" setsid "$LAUNCHER" demo2 >"$SCRATCH/launcher.log" 2>&1 &
launcher=$!
cleanup_group() {
    kill -KILL -- "-$launcher" 2>/dev/null
    rm -rf "$SCRATCH"
}
trap cleanup_group EXIT

# The download goes into a folder of the run's own under Downloads.
package_gone() { [ -d "$DATA/Downloads" ] && [ -z "$(find "$DATA/Downloads" -name 'demo2.viz')" ]; }
opened=0
for _ in $(seq 600); do
    if [ -f "$DATA/Temp/config.cfg" ] && package_gone; then
        opened=1
        break
    fi
    kill -0 "$launcher" 2>/dev/null || break
    sleep 0.1
done
check "the lesson is opened in the user's data folder $DATA (launcher said: $(cat "$SCRATCH/launcher.log"))" \
    test "$opened" -eq 1
check "the package is removed once opened" package_gone
check "nothing is written beside the installed player" test ! -e "$PRIV/Temp"
check "the user's own settings folder is not written" test ! -e "$HOMEDIR/.config"

conf=$(ls "$CACHE"/run.*/config/Dazuzor/Vorur_Ozudiz2.conf 2>/dev/null | head -1)
check "the demo's settings live in the user's cache" test -n "$conf"
if [ -n "$conf" ]; then
    check "the demo's settings name the demo server" grep -q '^UploadHost=127\.0\.0\.1:[0-9][0-9]*$' "$conf"
    check "the demo's settings keep the microphone as the source" grep -qx 'SpeakerRec=0' "$conf"
fi

children=$(pgrep -P "$launcher" | tr '\n' ' ')
check "the player and the server run under the launcher ($children)" test "$(echo $children | wc -w)" -eq 2

# Ending the launcher ends both and removes the run's folder; uploads are kept.
kill -TERM "$launcher"
for _ in $(seq 100); do
    kill -0 "$launcher" 2>/dev/null || break
    sleep 0.1
done
check "the launcher ends on TERM" bash -c "! kill -0 $launcher 2>/dev/null"
for _ in $(seq 50); do
    left=
    for child in $children; do
        # An orphan nobody has reaped yet has ended too.
        state=$(sed -n 's/^[0-9]* (.*) \(.\).*/\1/p' "/proc/$child/stat" 2>/dev/null)
        [ -n "$state" ] && [ "$state" != Z ] && left="$left $child($state)"
    done
    [ -z "$left" ] && break
    sleep 0.1
done
check "the player and the server end with the launcher (left:$left)" test -z "$left"
check "the run's folder is removed" bash -c "! ls -d '$CACHE'/run.* >/dev/null 2>&1"
check "the uploads folder stays" test -d "$CACHE/uploads"
check "the demo's folders are the user's alone ($(stat -c '%a' "$CACHE" "$CACHE/uploads" | tr '\n' ' '))" \
    test "$(stat -c '%a' "$CACHE" "$CACHE/uploads" | sort -u)" = 700

finish
