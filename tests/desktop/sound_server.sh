# A private sound server for the desktop tests, as a learner's desktop has one:
# PulseAudio, or PipeWire with WirePlumber and its PulseAudio service on a D-Bus
# session bus of its own. Speakers are a null sink; two microphones are pipe
# sources, a built-in one listed first and a headset that is the default source.
# Everything lives in $XDG_RUNTIME_DIR and $HOME, which the caller made fresh. A
# caller's feed_microphones, when defined, is run as soon as the microphones exist.
#   start_sound_server pulse|pipewire   sets PULSE_SERVER and SOUND_DIR; pids go into PIDS
#   signal_sound_server SIGNAL          to every process of the server (STOP, CONT...)
#   kill_sound_server                   the server dies at once, as in a crash
#   restart_sound_server                the server again, with the same devices
#   server_state                        what the desktop would remember, one item a line

start_sound_server() {
    SOUND_KIND=$1
    SOUND_DIR=$WORK/sound
    mkdir -p "$SOUND_DIR"
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native PULSE_CLIENTCONFIG=/dev/null
    mkdir -p "$XDG_RUNTIME_DIR/pulse"
    case $SOUND_KIND in
      pulse) ;;
      pipewire)
        # The bus outlives restarts of the server, as a desktop session's does.
        dbus-daemon --session --nofork --print-address=3 3> "$SOUND_DIR/bus" > "$SOUND_DIR/dbus.log" 2>&1 &
        PIDS+=("$!")
        for _ in $(seq 50); do [ -s "$SOUND_DIR/bus" ] && break; sleep 0.1; done
        export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$SOUND_DIR/bus")
        ;;
      *) echo "unknown sound server $SOUND_KIND"; return 1 ;;
    esac
    start_sound_daemons
}

# The server's processes (into SOUND_PIDS), then its speakers and microphones.
start_sound_daemons() {
    SOUND_PIDS=()
    # A killed server leaves its sockets and FIFOs behind.
    rm -f "$XDG_RUNTIME_DIR/pulse/native" "$XDG_RUNTIME_DIR/pipewire-0" "$SOUND_DIR"/*.fifo
    case $SOUND_KIND in
      pulse)
        # The modules that make a desktop remember defaults, devices and streams.
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
            --log-target=stderr \
            -L "module-device-restore" -L "module-stream-restore" -L "module-card-restore" \
            -L "module-default-device-restore" -L "module-always-sink" \
            -L "module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native" \
            >> "$SOUND_DIR/daemon.log" 2>&1 &
        SOUND_PIDS+=("$!")
        ;;
      pipewire)
        pipewire >> "$SOUND_DIR/pipewire.log" 2>&1 &
        SOUND_PIDS+=("$!")
        for _ in $(seq 50); do [ -e "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
        wireplumber >> "$SOUND_DIR/wireplumber.log" 2>&1 &
        SOUND_PIDS+=("$!")
        pipewire-pulse >> "$SOUND_DIR/pipewire-pulse.log" 2>&1 &
        SOUND_PIDS+=("$!")
        ;;
    esac
    PIDS+=("${SOUND_PIDS[@]}")
    for _ in $(seq 100); do pactl info > /dev/null 2>&1 && break; sleep 0.1; done
    if ! pactl info > /dev/null 2>&1; then
        echo "the $SOUND_KIND sound server did not start:"; cat "$SOUND_DIR"/*.log; return 1
    fi
    pactl load-module module-null-sink sink_name=speakers rate=44100 \
        sink_properties=device.description=Speakers > /dev/null || return 1
    local mic
    for mic in builtin headset; do
        pactl load-module module-pipe-source source_name=${mic}_mic file="$SOUND_DIR/$mic.fifo" \
            format=s16le rate=44100 channels=2 source_properties=device.description=${mic^}_Microphone \
            > /dev/null || return 1
    done
    # The pipe sources make their FIFOs themselves.
    for _ in $(seq 50); do
        [ -p "$SOUND_DIR/builtin.fifo" ] && [ -p "$SOUND_DIR/headset.fifo" ] &&
            pactl list short sources 2>/dev/null | grep -q headset_mic && pactl list short sinks | grep -q speakers && break
        sleep 0.1
    done
    ! declare -F feed_microphones > /dev/null || feed_microphones
    pactl set-default-sink speakers && pactl set-default-source headset_mic || return 1
    # The session manager stores the choice a moment later.
    sleep 0.5
}

signal_sound_server() { kill -"$1" "${SOUND_PIDS[@]}" 2>/dev/null; }

kill_sound_server() {
    signal_sound_server KILL
    local pid
    for pid in "${SOUND_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
}

restart_sound_server() {
    kill_sound_server
    start_sound_daemons
}

# What the player must leave as it found it: the defaults, the sources' active ports,
# volumes and mutes, the sink's volume, the modules, and no stream of its own.
server_state() {
    echo "default sink $(pactl get-default-sink)"
    echo "default source $(pactl get-default-source)"
    local s
    for s in builtin_mic headset_mic; do
        echo "$s $(pactl get-source-volume $s | head -1 | tr -s ' ') $(pactl get-source-mute $s)"
    done
    echo "speakers $(pactl get-sink-volume speakers | head -1 | tr -s ' ') $(pactl get-sink-mute speakers)"
    pactl list sources | sed -n 's/^\s*Active Port: /active port /p'
    pactl list short modules | cut -s -f2 | sort
    pactl list short source-outputs | cut -f1 | sed 's/^/recording stream /'
    pactl list short sink-inputs | cut -f1 | sed 's/^/playing stream /'
}
