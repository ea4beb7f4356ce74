#!/usr/bin/env bash
# VELDAR's two set-up commands, for a Debian or Ubuntu machine (run as root, or with sudo
# available for the package installation):
#   ./veldar.sh demo   builds VELDAR and runs its main job against the bundled device
#   ./veldar.sh test   builds VELDAR and runs every test
# Both install the packages they need when they are missing, then build into build/.
# A third command makes the Debian package (built into build-package/):
#   ./veldar.sh package   builds dist/veldar_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ ccache qt6-base-dev libgtest-dev libgmock-dev)
# Qt's own texts in French, and a narrow font that keeps the status to its label where
# Tahoma is missing (DejaVu Sans Condensed).
PACKAGES+=(qt6-translations-l10n fonts-dejavu-extra)
# The desktop tests: a virtual display, a window manager, an XEmbed tray and a hand for them.
TEST_PACKAGES=(xvfb openbox trayer xdotool x11-utils)

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

# VELDAR itself, copied into a fresh folder beside a COM1 link to the bundled device
# simulator: the simulator triggers a dump of a few hundred records with a header, VELDAR
# saves it, then quits on SIGTERM and writes its settings file. Only the device is simulated.
demo() {
    build --target veldar veldar-devsim
    work=$(mktemp -d)
    trap 'kill "${sim:-}" "${app:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "${work:-}" || true' EXIT
    cp build/veldar "$work/"
    for i in $(seq 1 300); do echo "MESURE $i;$((i * 37 % 1000)),$((i % 10));OK"; done >"$work/records.txt"
    ./build/veldar-devsim --records "$work/records.txt" --header DEMO --link-dir "$work" --com 1 \
        --kick-every 2 --timeout 120 --quiet >"$work/devsim.log" 2>&1 &
    sim=$!
    for _ in $(seq 100); do [ -L "$work/COM1" ] && break; sleep 0.1; done
    # Without a desktop the window is drawn off screen.
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
    "$work/veldar" >"$work/veldar.log" 2>&1 &
    app=$!
    local capture="$work/DEMO.txt" expected
    expected=$(sed 's/$/\r/' "$work/records.txt")
    for _ in $(seq 900); do
        [ -f "$capture" ] && [ "$(cat "$capture")" = "$expected" ] && break
        sleep 0.1
    done
    kill -TERM "$app"
    local status=0
    wait "$app" || status=$?
    app=
    wait "$sim" || true
    sim=
    if [ ! -f "$capture" ] || [ "$(cat "$capture")" != "$expected" ]; then
        echo "The capture does not hold the simulator's records. VELDAR said:" >&2
        cat "$work/veldar.log" "$work/devsim.log" >&2
        return 1
    fi
    mkdir -p captures
    cp "$capture" captures/DEMO.txt
    cp "$work/VELDAR.ini" captures/VELDAR.ini
    echo "Capture file: $(pwd)/captures/DEMO.txt, $(wc -l <captures/DEMO.txt) records, as the device sent them"
    echo "VELDAR ended with status $status and wrote VELDAR.ini:"
    tr -d '\r' <captures/VELDAR.ini | sed 's/^/    /'
    [ "$status" -eq 0 ]
}

# The portable Windows program: Qt built for MinGW once into ~/.cache/veldar, then
# veldar.exe and the Qt-free tests, dist/veldar-windows-x64.zip, and the per-user installer
# made of the zip's files, dist/VELDAR-<version>-x64.msi.
windows() {
    install_missing "${PACKAGES[@]}" g++-mingw-w64-x86-64-posix dpkg-dev zip unzip qt6-translations-l10n \
        wixl msitools icoutils
    local qt version
    qt=$(tools/windows/qt_mingw.sh)
    # veldar.exe's icon and the installer's shortcuts show the icon the native build draws
    # for the Linux menus.
    build --target veldar-icon-files
    tools/windows/make_icon.sh build/icons/hicolor build-windows/veldar.ico
    VELDAR_QT_MINGW=$qt cmake --preset windows >/dev/null
    cmake --build --preset windows
    wrestool -l --type=14 build-windows/veldar.exe | grep -q . ||
        { echo "veldar.exe holds no icon" >&2; exit 1; }
    cmake --preset mingw >/dev/null
    cmake --build --preset mingw
    tools/windows/package_zip.sh "$qt" build-windows/veldar.exe dist/veldar-windows-x64.zip
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
    rm -f dist/VELDAR-*-x64.msi
    tools/windows/package_msi.sh dist/veldar-windows-x64.zip build/icons/hicolor "$version" \
        "dist/VELDAR-$version-x64.msi"
}

# The installed program keeps its settings and COMn links in the user's ~/.config/veldar/;
# the package adds the menu entry, the icon and an autostart entry to copy per user.
package() {
    install_missing "${PACKAGES[@]}" dpkg-dev file
    cmake --preset package >/dev/null
    cmake --build --preset package
    rm -rf build-package/cpack
    if ! (cd build-package && cpack -B cpack >cpack.log 2>&1); then
        cat build-package/cpack.log >&2
        return 1
    fi
    mkdir -p dist
    rm -f dist/veldar_*_amd64.deb
    cp build-package/cpack/veldar_*_amd64.deb dist/
    echo "Package: $(pwd)/$(ls dist/veldar_*_amd64.deb)"
}

case "${1:-}" in
demo)
    demo
    ;;
test)
    install_missing "${TEST_PACKAGES[@]}"
    build
    ctest --preset default
    ;;
windows)
    windows
    ;;
package)
    package
    ;;
*)
    echo "usage: $0 demo|test|windows|package" >&2
    exit 2
    ;;
esac
