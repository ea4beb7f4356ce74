#!/usr/bin/env bash
# A picture of the folder chooser on a made-up tree of capture folders, taken on a virtual X
# display. Usage: tools/screenshot_dialog.sh [OUTPUT.png]   (default: veldar-dialog.png)
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-veldar-dialog.png}")
if ! command -v xvfb-run >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth
fi
cmake --build build --target veldar-dialog-screenshot >/dev/null
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" ./build/veldar-dialog-screenshot "$output"
