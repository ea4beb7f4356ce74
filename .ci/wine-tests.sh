#!/usr/bin/env bash
# Builds the Windows flavour with MinGW-w64 and runs its tests under Wine, with COM1
# mapped to a pseudo-terminal that echoes every byte (tools/ptyecho).
# Run from the repository root, with the native build folder build/ already configured.
set -euo pipefail

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y g++-mingw-w64-x86-64-posix wine64 wine
fi

cmake --build build --target veldar-ptyecho
cmake --preset mingw
cmake --build --preset mingw

WINEPREFIX=$(mktemp -d)
export WINEPREFIX
export WINEDEBUG=-all
# No .NET or HTML engine: the tests are plain executables, and their installers would
# only ask for a download.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
echo_pid=
echo_out=$(mktemp)

cleanup() {
    if [[ -n $echo_pid ]]; then
        kill "$echo_pid" 2>/dev/null || true
        wait "$echo_pid" 2>/dev/null || true
    fi
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$echo_out"
}
trap cleanup EXIT

timeout 300 wineboot -i

./build/veldar-ptyecho "$WINEPREFIX/dosdevices/com1" >"$echo_out" &
echo_pid=$!
# The tool prints the terminal's path once the link points at it (wineboot has already
# made a com1 link of its own, so the link existing says nothing).
for _ in $(seq 100); do
    [[ -s $echo_out ]] && break
    kill -0 "$echo_pid" || { echo "veldar-ptyecho stopped" >&2; exit 1; }
    sleep 0.1
done
terminal=$(head -n 1 "$echo_out")
if [[ -z $terminal || $(readlink "$WINEPREFIX/dosdevices/com1") != "$terminal" ]]; then
    echo "COM1 is not linked to the echoing terminal" >&2
    exit 1
fi

# Each time Wine starts, its mount manager lays the COM links anew from the serial
# devices it finds (/dev/ttyS0 becomes COM1) unless the registry names the port's
# device. Name the terminal, and let the server stop so the next start applies it.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$terminal" /f
wineserver -w

VELDAR_WIN32_COM1=1 ctest --test-dir build-mingw --output-on-failure --timeout 300
