#!/usr/bin/env bash
# VELDAR's two set-up commands, for a Debian or Ubuntu machine (run as root, or with sudo
# available for the package installation):
#   ./veldar.sh demo   builds VELDAR and runs its main job against the bundled device
#   ./veldar.sh test   builds VELDAR and runs every test
# Both install the packages they need when they are missing, then build into build/.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ ccache qt6-base-dev libgtest-dev libgmock-dev)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    install_missing "${PACKAGES[@]}"
    cmake --preset default >/dev/null
    cmake --build --preset default "$@"
}

# A dump of a few hundred records from the bundled device simulator, over a
# pseudo-terminal, through the real serial code and the dump engine.
demo() {
    build --target veldar-devsim veldar-dump
    work=$(mktemp -d)
    trap 'kill "${sim:-}" 2>/dev/null || true; rm -rf "${work:-}"' EXIT
    ./build/veldar-devsim --generate 300 --length 24 --header DEMO --link-dir "$work" --com 1 \
        --kick-every 1 --timeout 60 --quiet >"$work/devsim.log" 2>&1 &
    sim=$!
    for _ in $(seq 100); do [ -L "$work/COM1" ] && break; sleep 0.1; done
    mkdir -p "$work/captures"
    ./build/veldar-dump --link-dir "$work" --port COM1 --dest "$work/captures" --quiet --wait 30
    wait "$sim" || true
    local capture="$work/captures/DEMO.txt"
    if [ -f "$capture" ]; then
        mkdir -p captures
        cp "$capture" captures/DEMO.txt
        echo "Capture file: $(pwd)/captures/DEMO.txt, $(wc -l <captures/DEMO.txt) records"
        echo "Device simulator: $(tail -n 1 "$work/devsim.log")"
    else
        echo "No capture was saved; the simulator said:" >&2
        cat "$work/devsim.log" >&2
        return 1
    fi
}

case "${1:-}" in
demo)
    demo
    ;;
test)
    build
    ctest --preset default
    ;;
*)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
