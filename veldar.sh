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

case "${1:-}" in
demo)
    build --target veldar-portcheck
    ./build/veldar-portcheck
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
