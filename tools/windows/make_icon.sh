#!/usr/bin/env bash
# The program's Windows icon file, made of the icon the native build draws (the hicolor
# folder of tools/app/icons): 16 to 48 pixels, the 256-pixel one kept as PNG.
#   tools/windows/make_icon.sh ICON_FOLDER ICO
set -euo pipefail
icons=$1 ico=$2
sizes=()
for size in 16 24 32 48; do sizes+=("$icons/${size}x${size}/apps/veldar.png"); done
mkdir -p "$(dirname "$ico")"
icotool -c -o "$ico" "${sizes[@]}" -r "$icons/256x256/apps/veldar.png"
