#!/usr/bin/env bash
# Lays out the portable Windows folder and zips it: veldar.exe, the Qt libraries and
# plugins it loads, the MinGW runtime, Qt's French translation; stripped.
#   tools/windows/package_zip.sh QT_PREFIX EXE ZIP
set -euo pipefail
qt=$1 exe=$2 zip=$3
cross=x86_64-w64-mingw32

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/VELDAR
mkdir -p "$dir/platforms" "$dir/styles" "$dir/translations"
cp "$exe" "$dir/veldar.exe"
cp "$qt"/bin/Qt6Core.dll "$qt"/bin/Qt6Gui.dll "$qt"/bin/Qt6Widgets.dll "$dir/"
cp "$qt"/plugins/platforms/qwindows.dll "$dir/platforms/"
cp "$qt"/plugins/styles/qwindowsvistastyle.dll "$dir/styles/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$("$cross-g++-posix" -print-file-name="$dll")" "$dir/"
done
# The program speaks only French: Qt's own texts (the log's context menu) too.
cp /usr/share/qt6/translations/qtbase_fr.qm "$dir/translations/"
find "$dir" \( -name '*.exe' -o -name '*.dll' \) -exec "$cross-strip" --strip-unneeded {} +

# Every DLL the program and its plugins import must be in the folder or be Windows' own
# (an import library of MinGW's, or an API set).
missing=$(find "$dir" \( -name '*.exe' -o -name '*.dll' \) -exec "$cross-objdump" -p {} + |
    sed -n 's/^\s*DLL Name: //p' | sort -u | while read -r dll; do
        [[ $dll == api-ms-win-* ]] || [ -e "$dir/$dll" ] || [ -e "/usr/$cross/lib/lib${dll%.dll}.a" ] ||
            [ -e "/usr/$cross/lib/lib$(echo "${dll%.dll}" | tr 'A-Z' 'a-z').a" ] || echo "$dll"
    done)
if [ -n "$missing" ]; then
    echo "package_zip: imports found nowhere: $missing" >&2
    exit 1
fi

mkdir -p "$(dirname "$zip")"
rm -f "$zip"
zip_abs=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
(cd "$stage" && zip -qr9 "$zip_abs" VELDAR)
echo "$zip_abs"
