#!/usr/bin/env bash
# A picture of the main window, expanded, after a dump from the scripted device, taken on
# a virtual X display. Usage: tools/screenshot.sh [OUTPUT.png]   (default: veldar-window.png)
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-veldar-window.png}")
if ! command -v xvfb-run >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth
fi
cmake --build build --target veldar-screenshot >/dev/null
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" ./build/veldar-screenshot "$output"
