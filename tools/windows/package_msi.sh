#!/usr/bin/env bash
# Builds the per-user Windows installer from the portable zip's own files, with wixl:
# packaging/windows/veldar.wxs, a fragment generated for the folder's other files, and an
# icon made of the program's drawn icon (the hicolor folder of tools/app/icons).
#   tools/windows/package_msi.sh ZIP ICON_FOLDER VERSION MSI
set -euo pipefail
zip=$1 icons=$2 version=$3 msi=$4
wxs=$(cd "$(dirname "$0")/../.." && pwd)/packaging/windows/veldar.wxs

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
unzip -q "$zip" -d "$stage"
[ -f "$stage/VELDAR/veldar.exe" ] || { echo "package_msi: $zip holds no VELDAR/veldar.exe" >&2; exit 1; }

# veldar.exe is declared in the .wxs, which its shortcuts name; the rest is listed here so
# that the installer always holds what the zip holds.
(cd "$stage" && find VELDAR -type f ! -path VELDAR/veldar.exe | sort |
    wixl-heat -p VELDAR/ --directory-ref INSTALLDIR --component-group ProgramFiles \
        --var var.Source) >"$stage/files.wxs"

# Shortcuts show the Icon table's icon, an icon file of its own.
"$(dirname "$0")/make_icon.sh" "$icons" "$stage/veldar.ico"

mkdir -p "$(dirname "$msi")"
msi=$(cd "$(dirname "$msi")" && pwd)/$(basename "$msi")
rm -f "$msi"
# wixl finds sources by paths relative to where it runs only.
(cd "$stage" && wixl -a x64 -D Version="$version" -D Source=VELDAR -D Icon=veldar.ico \
    -o "$msi" "$wxs" files.wxs)
# What wixl cannot write: the Startup shortcut's condition on AUTOSTART, and an upgrade of
# the same version (a rebuilt package then replaces the installed one instead of going
# beside it). The upgrade row's attributes are part of its key: the row is written anew,
# msidbUpgradeAttributesMigrateFeatures | msidbUpgradeAttributesVersionMaxInclusive = 513.
row() { msiinfo export "$msi" Upgrade | tr -d '\r' | awk -F'\t' -v f="$1" '$7 == "WIX_UPGRADE_DETECTED" { print $f }'; }
code=$(row 1) max=$(row 3)
msibuild "$msi" -q "UPDATE \`Component\` SET \`Condition\` = 'AUTOSTART <> \"0\"' WHERE \`Component\` = 'StartupShortcut'"
msibuild "$msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
msibuild "$msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$code', '$max', 513, 'WIX_UPGRADE_DETECTED')"
condition=$(msiinfo export "$msi" Component | tr -d '\r' | awk -F'\t' '$1 == "StartupShortcut" { print $5 }')
if [ "$condition" != 'AUTOSTART <> "0"' ] ||
    ! msiinfo export "$msi" Upgrade | tr -d '\r' | grep -q $'\t513\t\tWIX_UPGRADE_DETECTED$'; then
    echo "package_msi: $msi lacks the Startup condition or the upgrade row" >&2
    exit 1
fi
echo "$msi"
