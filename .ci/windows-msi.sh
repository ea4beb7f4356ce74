#!/usr/bin/env bash
# The Windows installer as an IT department deploys it, under Wine in a fresh prefix on a
# virtual display: msiexec /i ... /qn puts the zip's files under the user's local
# application data with a Start-menu and a Startup shortcut; a log-on starts VELDAR from
# the Startup shortcut, it dumps 100 records from the simulator on COM1 byte for byte and
# quits at the end of the session, writing VELDAR.ini beside itself. A newer package then
# replaces it in place, msiexec /x removes what was installed and keeps what VELDAR wrote,
# and AUTOSTART=0 leaves the Startup shortcut out.
# Run from the repository root after ./veldar.sh windows (and the native build).
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(VELDAR VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
msi=dist/VELDAR-$version-x64.msi
need=()
command -v wine >/dev/null || need+=(wine64 wine)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v unzip >/dev/null || need+=(unzip)
command -v wixl >/dev/null || need+=(wixl)
command -v msibuild >/dev/null || need+=(msitools)
command -v icotool >/dev/null || need+=(icoutils)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
for tool in wine wineserver wineboot winepath Xvfb unzip wixl msibuild icotool; do
    command -v "$tool" >/dev/null || { echo "windows-msi: $tool is missing" >&2; exit 1; }
done
[ -f "$msi" ] || { echo "windows-msi: no $msi (./veldar.sh windows makes it)" >&2; exit 1; }
cmake --build build --target veldar-devsim >/dev/null

work=$(mktemp -d)
# No menu entries of Wine's own in the user's Linux desktop for the shortcuts.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
xvfb='' sim=''
cleanup() {
    [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
ci_name=windows-msi
# shellcheck source=wine-display.sh
source .ci/wine-display.sh
# run_msiexec LOG ARGS...: an unattended msiexec, its own log kept.
run_msiexec() {
    local log=$1
    shift
    wine msiexec "$@" /qn /l*v "$(winepath -w "$work/$log.log")" >>"$work/msiexec.log" 2>&1 ||
        fail "msiexec $* failed"
}

start_virtual_display

timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot -i failed"

records=$work/records.txt
for i in $(seq 1 100); do echo "MSI $i;$((i * 71 % 1000)),$((i % 9));OK"; done >"$records"
mkdir -p "$work/line"
com1=$work/line/COM1
build/veldar-devsim --records "$records" --header MSIDUMP --kick-every 2 --timeout 120 \
    --link-dir "$work/line" --com 1 --quiet >"$work/devsim.log" 2>&1 &
sim=$!
wait_for 10 "link from the simulator" test -L "$com1"
# Wine lays its COM links anew at each start from the registry's port list.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1" /f >"$work/reg.log" 2>&1
wineserver -w
wineserver -p >"$work/wineserver.log" 2>&1
wine cmd /c exit >>"$work/reg.log" 2>&1
com1_is_link() { [ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$com1" ]; }
wait_for 30 "COM1 link to $com1" com1_is_link

# The user's folders as Windows names them, whatever the user.
unix_folder() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')"; }
local_data=$(unix_folder LOCALAPPDATA)
programs=$(unix_folder APPDATA)/Microsoft/Windows/Start\ Menu/Programs
dir=$local_data/Programs/VELDAR
menu=$programs/VELDAR.lnk
startup_link() { find "$programs" -maxdepth 2 -ipath "$programs/startup/VELDAR.lnk" | grep .; }
# The one veldar.exe of this prefix (other programs under Wine may run on the machine).
app_pid() {
    local pid
    for pid in $(pgrep -f 'VELDAR\\veldar\.exe'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
    return 0
}
app_running() { [ -n "$(app_pid)" ]; }
app_ended() { [ -z "$(app_pid)" ]; }
# A shortcut names the installed program, its folder to start in and an icon on the disk
# (the last two in UTF-16).
check_shortcut() {
    local lnk=$1 text icon
    [ -f "$lnk" ] || fail "no shortcut $lnk"
    grep -aqF "$(winepath -w "$dir/veldar.exe")" "$lnk" || fail "$lnk does not start $dir/veldar.exe"
    text=$(tr -d '\000' <"$lnk")
    grep -qF "$(winepath -w "$dir")" <<<"$text" || fail "$lnk does not start in $dir"
    icon=$(grep -aoE '[A-Z]:\\[^:[:cntrl:]]*\\veldar\.ico' <<<"$text" | head -n 1 || true)
    [ -n "$icon" ] && [ -s "$(winepath -u "$icon")" ] || fail "$lnk shows no icon on the disk ($icon)"
}
installed_products() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | grep -cE '^\s+DisplayName\s+REG_SZ\s+VELDAR$' || true
}

echo "windows-msi: installing $msi"
run_msiexec install /i "$(winepath -w "$msi")"
zip_dir=$work/zip
unzip -q dist/veldar-windows-x64.zip -d "$zip_dir"
diff -r "$zip_dir/VELDAR" "$dir" >"$work/diff.log" 2>&1 || fail "the installed folder differs from the zip's"
check_shortcut "$menu"
check_shortcut "$(startup_link)"
[ "$(installed_products)" = 1 ] || fail "VELDAR is not registered once"

# A log-on: wineboot starts what the Startup folder holds.
app_ended || fail "veldar.exe runs before the log-on"
wineboot >>"$work/wineboot.log" 2>&1 || fail "wineboot (log-on) failed"
wait_for 30 "veldar.exe started from the Startup shortcut" app_running
capture=$dir/MSIDUMP.txt
expected=$work/expected.txt
sed 's/$/\r/' "$records" >"$expected"
capture_complete() { [ -f "$capture" ] && cmp -s "$capture" "$expected"; }
wait_for 90 "complete capture $capture" capture_complete
echo "windows-msi: started from the Startup shortcut, the dump holds the simulator's 100 records, byte for byte"

# The end of the session, without the new start that follows a restart.
timeout 60 wineboot --end-session --shutdown >>"$work/wineboot.log" 2>&1 || fail "wineboot --end-session failed"
wait_for 60 "end of veldar.exe after the end of the session" app_ended
ini=$dir/VELDAR.ini
[ -f "$ini" ] || fail "VELDAR.ini was not written beside veldar.exe at the end of the session"
[ "$(head -n 2 "$ini" | od -An -c | tr -s ' \n' ' ')" = " [ P O R T _ C O M M ] \r \n C O M 1 \r \n " ] ||
    fail "VELDAR.ini does not name COM1: $(od -c "$ini" | head -n 5)"
echo "windows-msi: veldar.exe ended with the session and wrote VELDAR.ini beside itself"
kept=$work/kept
mkdir -p "$kept"
cp "$ini" "$capture" "$kept/"

# A newer package of the same files, as the next release would be.
newer=$(echo "$version" | awk -F. -v OFS=. '{ $NF = $NF + 1; print }')
newer_msi=$work/VELDAR-$newer-x64.msi
tools/windows/package_msi.sh dist/veldar-windows-x64.zip build/icons/hicolor "$newer" "$newer_msi" \
    >"$work/package.log" 2>&1 || fail "no package of version $newer"
run_msiexec upgrade /i "$(winepath -w "$newer_msi")"
[ "$(installed_products)" = 1 ] || fail "the upgrade left $(installed_products) VELDAR registered"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    grep -qE "^\s+DisplayVersion\s+REG_SZ\s+$newer$" || fail "the registered version is not $newer"
diff -r -x VELDAR.ini -x VELDAR.lock -x MSIDUMP.txt "$zip_dir/VELDAR" "$dir" >"$work/diff.log" 2>&1 ||
    fail "the upgraded folder differs from the zip's"
check_shortcut "$menu"
check_shortcut "$(startup_link)"
cmp -s "$kept/VELDAR.ini" "$ini" && cmp -s "$kept/MSIDUMP.txt" "$capture" ||
    fail "the upgrade changed VELDAR.ini or the capture"
echo "windows-msi: version $newer replaced $version in place; settings and capture kept"

run_msiexec uninstall /x "$(winepath -w "$newer_msi")"
[ "$(installed_products)" = 0 ] || fail "VELDAR is still registered after msiexec /x"
[ ! -e "$menu" ] && [ -z "$(startup_link)" ] || fail "a shortcut is left after msiexec /x"
left=$(cd "$dir" && find . -mindepth 1 | sort | tr '\n' ' ')
# VELDAR.lock is the program's own too: the one-instance lock it leaves beside itself.
[ "$left" = "./MSIDUMP.txt ./VELDAR.ini ./VELDAR.lock " ] || [ "$left" = "./MSIDUMP.txt ./VELDAR.ini " ] ||
    fail "msiexec /x left or took the wrong files: $left"
cmp -s "$kept/VELDAR.ini" "$ini" && cmp -s "$kept/MSIDUMP.txt" "$capture" ||
    fail "msiexec /x changed VELDAR.ini or the capture"
echo "windows-msi: msiexec /x removed the program and its shortcuts, kept VELDAR.ini and the capture"

run_msiexec no-autostart /i "$(winepath -w "$msi")" AUTOSTART=0
[ -f "$dir/veldar.exe" ] || fail "AUTOSTART=0 installed no veldar.exe"
check_shortcut "$menu"
[ -z "$(startup_link)" ] || fail "AUTOSTART=0 installed a Startup shortcut"
run_msiexec uninstall-again /x "$(winepath -w "$msi")"
[ ! -e "$dir/veldar.exe" ] && [ ! -e "$menu" ] || fail "the second msiexec /x left the program"
echo "windows-msi: AUTOSTART=0 leaves the Startup shortcut out"
