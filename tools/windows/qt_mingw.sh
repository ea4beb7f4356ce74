#!/usr/bin/env bash
# Builds Qt 6 (Core, Gui, Widgets, the windows platform plugin and styles) for 64-bit
# Windows with MinGW-w64, from Debian's own source package of the Qt the host has, so the
# host's moc, rcc and uic match it. Built once into a cache folder outside the work tree,
# keyed by the Qt version and this script's own content; prints the install prefix.
#   tools/windows/qt_mingw.sh            build when missing, print the prefix
# VELDAR_CACHE (default ~/.cache/veldar) moves the cache.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

cache=${VELDAR_CACHE:-$HOME/.cache/veldar}
version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | sed 's/+.*//')
[ -n "$version" ] || { echo "qt6-base-dev is not installed" >&2; exit 1; }
key=$(cat "$0" "$repo/cmake/mingw-w64.cmake" | sha256sum | cut -c1-12)
prefix=$cache/qt-$version-mingw-$key

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

log() { echo "qt_mingw: $*" >&2; }

# apt-get source needs a deb-src entry for the archive the machine already uses.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -q '^Sources$'; then
    list=/etc/apt/sources.list.d/debian.sources
    if [ -f "$list" ]; then
        sed 's/^Types: deb$/Types: deb-src/' "$list" >/etc/apt/sources.list.d/veldar-deb-src.sources
    else
        grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >/etc/apt/sources.list.d/veldar-deb-src.list
    fi
    apt-get update -qq
fi

work=$cache/qt-$version-work
rm -rf "$work"
mkdir -p "$work"
log "fetching the source of qt6-base $version"
(cd "$work" && apt-get source --download-only "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)" >/dev/null 2>&1)
(cd "$work" && dpkg-source -x ./*.dsc src >/dev/null)

# Only what VELDAR uses; the bundled third-party libraries instead of the host's, which
# are Linux builds. DirectWrite goes with Direct2D here: Qt 6.4 builds its DirectWrite
# font database only with Direct2D, while the platform plugin refers to it whenever
# DirectWrite is on, so GDI's font engine is used.
log "configuring (a few minutes)"
cmake -S "$work/src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF \
    -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF \
    -DFEATURE_icu=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_doubleconversion=OFF >"$work/configure.log" 2>&1 ||
    { tail -n 40 "$work/configure.log" >&2; exit 1; }
log "building (about half an hour on two cores)"
cmake --build "$work/build" >"$work/build.log" 2>&1 || { grep -A 20 FAILED "$work/build.log" | head -n 60 >&2; exit 1; }
rm -rf "$prefix"
cmake --install "$work/build" >/dev/null
touch "$prefix/.complete"
rm -rf "$work"
# Older builds of other versions or keys are of no further use.
find "$cache" -maxdepth 1 -name 'qt-*-mingw-*' ! -path "$prefix" -exec rm -rf {} +
echo "$prefix"
