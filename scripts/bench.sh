#!/usr/bin/env bash
# Builds the benchmarks into build-bench/ and runs them, each beside its anchor.
#   scripts/bench.sh [name...]     names: codec extract upload paint startup memory recorder fft sound idle
#                                  idle-pulse idle-pipewire realtime
# realtime records for 10 minutes at real-time pace; it runs only when named, as do
# idle-pulse and idle-pipewire (the idle measures on a private sound server).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=build-bench scripts/build.sh -DVORUR_BUILD_BENCH=ON -DVORUR_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
B=build-bench/bin
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} VORUR_MIXER=sim
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(codec extract upload paint startup memory recorder fft sound idle)
for name in "${names[@]}"; do
  echo "== $name"
  case $name in
    codec) "$B/codec_bench" ;;
    extract) "$B/bench_lesson_extract" ;;
    upload) "$B/net_upload_bench" ;;
    paint) "$B/bench_player_paint" ;;
    startup) "$B/bench_player_launch" startup ;;  # on a private Xvfb of its own
    memory) "$B/bench_player_launch" memory ;;
    recorder) "$B/recorder_bench" buffers ;;
    fft) "$B/recorder_bench" fft ;;
    sound) "$B/bench_sound_open" ;;
    idle) bench/player/idle_bench.sh "$B" none ;;
    idle-pulse) bench/player/idle_bench.sh "$B" pulse ;;
    idle-pipewire) bench/player/idle_bench.sh "$B" pipewire ;;
    realtime) "$B/recorder_bench" realtime 600 ;;
    *) echo "unknown benchmark: $name"; exit 2 ;;
  esac
done
