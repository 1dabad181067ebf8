#!/usr/bin/env bash
# Ventora in one command: installs what is missing, builds ventora.exe and its tools, the fan
# controller's firmware and the simulated board, then runs Ventora under Wine with a simulated lap
# and the simulated board running the firmware as its fan controller (printing level, duty and
# power pin as they change), and leaves a screenshot of the window in build/demo/ventora.png.
# Ctrl-C ends it early.
#
#   bash scripts/demo.sh [SECONDS]      (default 35; as root on a fresh Debian 12 machine)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VENTORA_WINDOWS_BUILD:-build/windows}

bash scripts/setup.sh

echo "demo: building ventora.exe, publish_game.exe and the test driver in $build"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target ventora publish_game ventora_driver

echo "demo: building the fan controller's firmware (build/firmware) and the simulated board (build/native)"
cmake --preset firmware >/dev/null
cmake --build --preset firmware
cmake --preset native >/dev/null
cmake --build build/native --target simulated_board

exec python3 scripts/demo.py --build "$build" --seconds "${1:-35}"
