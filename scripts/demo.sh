#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, serves the demo lesson and runs the player.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
echo "demo: the player is built in build/bin"
