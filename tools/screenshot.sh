#!/usr/bin/env bash
# The README's pictures: the main window, expanded, after a dump from the scripted device, and
# the tray menu, taken on a virtual X display.
# Usage: tools/screenshot.sh [FOLDER]   (default: docs/) -> veldar-window.png, veldar-tray-menu.png
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$(realpath -m "${1:-docs}")
mkdir -p "$folder"
if ! command -v xvfb-run >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth
fi
cmake --build build --target veldar-screenshot >/dev/null
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" ./build/veldar-screenshot \
    "$folder/veldar-window.png" "$folder/veldar-tray-menu.png"
