#!/usr/bin/env bash
# The format of every source file, and clang-tidy's bugprone and performance checks on the
# Qt-free libraries, over the compile commands of the native build (build/).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v clang-format >/dev/null || need+=(clang-format)
command -v clang-tidy >/dev/null || need+=(clang-tidy)
if [ ${#need[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

echo "-- clang-format"
find src tools tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run -Werror

echo "-- clang-tidy"
[ -f build/compile_commands.json ] || cmake --preset default >/dev/null
# The compiler's own warnings are the build's to report (GCC, -Werror); here only the checks.
ls src/serial/*.cpp src/dump/*.cpp src/program/*.cpp | grep -v '_win32\.cpp$' |
    xargs -P2 -n4 clang-tidy -p build --quiet --extra-arg=-Wno-everything
echo "clang-format and clang-tidy: no finding"
