#!/usr/bin/env bash
# The layers' includes (Qt only in the app folders), the format of every source file, and
# clang-tidy's bugprone and performance checks on the Qt-free libraries, over the compile
# commands of the native build (build/).
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

echo "-- layers"
# Qt belongs to the window: only the app folders (src/app, tests/app, tools/app) include a Qt
# header or a header of the window's. Under the window each library includes only those
# below it: serial, then dump, then program.
names() { for folder; do (cd "$folder" && ls -- *.h); done | sed 's/\./\\./g' | paste -sd'|'; }
sources() { find "$@" \( -name '*.cpp' -o -name '*.h' \) -not -path '*/app/*' -print0; }
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'
crossing=$(
    sources src tools tests bench |
        xargs -0 -r grep -HnE "$include([<\"]Q|\"($(names src/app tests/app))\")" || true
    sources src/serial src/dump | xargs -0 -r grep -HnE "$include\"($(names src/program))\"" || true
    sources src/serial | xargs -0 -r grep -HnE "$include\"($(names src/dump))\"" || true
    # Nor do their builds link Qt or the window's library.
    find src tools tests -name CMakeLists.txt -not -path '*/app/*' -print0 |
        xargs -0 -r grep -HnE 'Qt6::|veldar_app\b' || true
)
if [ -n "$crossing" ]; then
    echo "$crossing"
    echo "includes or links across the layers (ARCHITECTURE.md, Layers)" >&2
    exit 1
fi

echo "-- clang-format"
find src tools tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run -Werror

echo "-- clang-tidy"
[ -f build/compile_commands.json ] || cmake --preset default >/dev/null
# The compiler's own warnings are the build's to report (GCC, -Werror); here only the checks.
ls src/serial/*.cpp src/dump/*.cpp src/program/*.cpp | grep -v '_win32\.cpp$' |
    xargs -P2 -n4 clang-tidy -p build --quiet --extra-arg=-Wno-everything
echo "layers, clang-format and clang-tidy: no finding"
