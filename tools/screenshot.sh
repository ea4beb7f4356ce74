#!/usr/bin/env bash
# The README's pictures: the main window, expanded, after a dump from the scripted device, and
# the tray menu, taken on a virtual X display.
# Usage: tools/screenshot.sh [FOLDER] [SCALE]   (default: docs/, 1) -> veldar-window.png,
# veldar-tray-menu.png; SCALE 2 draws them as on a screen at 200 % (on a screen twice as large).
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$(realpath -m "${1:-docs}")
scale=${2:-1}
mkdir -p "$folder"
if ! command -v xvfb-run >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth
fi
cmake --build build --target veldar-screenshot >/dev/null
QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
    xvfb-run -a -s "-screen 0 $((1280 * scale))x$((800 * scale))x24" ./build/veldar-screenshot \
    "$folder/veldar-window.png" "$folder/veldar-tray-menu.png"
