#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to cmake;
# TARGETS="a b" builds only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j "$(nproc)" ${TARGETS:+--target $TARGETS}
