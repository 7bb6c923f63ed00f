#!/usr/bin/env bash
# A machine where a library the programs load on first use is missing or broken
# (a partial install, a removed package): the program that needs it says which
# library and what cannot work, once, and fails the way it fails without a server
# or a device, without crashing. A file that is not a library stands in for it,
# found first through LD_LIBRARY_PATH.
source "$(dirname "$0")/install_lib.sh" "$1"
BIN=$BUILD/bin

mkdir -p "$SCRATCH/broken"
sox -n -r 44100 -c 1 "$SCRATCH/tone.wav" synth 0.5 sine 440
echo "not a recording" > "$SCRATCH/take.mp3"

# library | expected exit status | command
cases=(
    "libcurl.so.4|1|$BIN/vorur-upload http://127.0.0.1:9/upload take.mp3 $SCRATCH/take.mp3"
    "libpulse.so.0|any|env -u VORUR_MIXER $BIN/vorur-rec --list"
    "libSDL2-2.0.so.0|1|env VORUR_MIXER=sim $BIN/vorur-rec --play $SCRATCH/tone.wav -t 1 -o $SCRATCH/out.mp3"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r lib expected command <<<"$entry"
    rm -f "$SCRATCH/broken/"*
    echo "not a library" > "$SCRATCH/broken/$lib"
    # shellcheck disable=SC2086  # the command is split into its words on purpose
    LD_LIBRARY_PATH=$SCRATCH/broken timeout 30 $command >"$SCRATCH/out" 2>"$SCRATCH/err"
    status=$?
    said=$(grep -c "cannot load $lib: " "$SCRATCH/err")
    check "$lib broken: ${command##*/} says so once ($said times: $(head -c 300 "$SCRATCH/err"))" test "$said" = 1
    check "$lib broken: ${command##*/} ends without crashing (status $status)" test "$status" -lt 124
    [ "$expected" = any ] || check "$lib broken: ${command##*/} fails with status $expected ($status)" \
        test "$status" = "$expected"
done

finish
