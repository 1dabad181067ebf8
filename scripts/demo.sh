#!/usr/bin/env bash
# Ventora in one command: installs what is missing, builds ventora.exe and its tools, then runs it
# under Wine with a simulated lap and a virtual fan controller that prints the levels it receives,
# and leaves a screenshot of the window in build/demo/ventora.png. Ctrl-C ends it early.
#
#   bash scripts/demo.sh [SECONDS]      (default 35; as root on a fresh Debian 12 machine)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VENTORA_WINDOWS_BUILD:-build/windows}

bash scripts/setup.sh

echo "demo: building ventora.exe, publish_game.exe and the test driver in $build"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target ventora publish_game ventora_driver

exec python3 scripts/demo.py --build "$build" --seconds "${1:-35}"
