#!/usr/bin/env bash
# The Windows program as its users run it, under Wine on a virtual display: the portable
# zip unpacked into a fresh folder, COM1 mapped to a link that the device simulator points
# at its pseudo-terminal. The adapter is pulled in the middle of the first dump (the link
# goes) and comes back 1.5 s later on a new pseudo-terminal: the accepted records are in the
# rescue copy, and the dump that follows, with no user action, is checked byte for byte.
# Then an end-of-session quit that must write VELDAR.ini. A screenshot of the window after the dump
# is kept as build/windows-after-dump.png.
# Run from the repository root after ./veldar.sh windows (and the native build).
set -euo pipefail
cd "$(dirname "$0")/.."

zip=dist/veldar-windows-x64.zip
need=()
command -v wine >/dev/null || need+=(wine64 wine)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v unzip >/dev/null || need+=(unzip)
command -v import >/dev/null || need+=(imagemagick)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
for tool in wine wineserver wineboot Xvfb unzip import; do
    command -v "$tool" >/dev/null || { echo "windows-program: $tool is missing" >&2; exit 1; }
done
[ -f "$zip" ] || { echo "windows-program: no $zip (./veldar.sh windows makes it)" >&2; exit 1; }
cmake --build build --target veldar-devsim >/dev/null

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d"
xvfb= sim= app=
cleanup() {
    for pid in $app $sim; do kill "$pid" 2>/dev/null || true; done
    wineserver -k >/dev/null 2>&1 || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
ci_name=windows-program
# shellcheck source=wine-display.sh
source .ci/wine-display.sh

start_virtual_display

timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot -i failed"

dir=$WINEPREFIX/drive_c/VELDAR
unzip -q "$zip" -d "$WINEPREFIX/drive_c"
[ -f "$dir/veldar.exe" ] || fail "the zip holds no VELDAR/veldar.exe"

records=$work/records.txt
for i in $(seq 1 300); do echo "WIN $i;$((i * 53 % 1000)),$((i % 7));OK"; done >"$records"
# The simulator keeps its link in $work/line; Wine's COM1 points at that link, so the port
# follows the simulator's new pseudo-terminal after the unplug as a replugged adapter does.
mkdir -p "$work/line"
com1=$work/line/COM1
build/veldar-devsim --records "$records" --header WINDUMP --kick-every 2 --timeout 240 \
    --link-dir "$work/line" --com 1 --unplug-after 100 --back-after 1500 --quiet \
    >"$work/devsim.log" 2>&1 &
sim=$!
wait_for 10 "link from the simulator" test -L "$com1"

# Wine lays its COM links anew at each start from the registry's port list.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1" /f >"$work/reg.log" 2>&1
wineserver -w
# The server outlives this command; its own output goes to the log, not to CI's.
wineserver -p >"$work/wineserver.log" 2>&1
wine cmd /c exit >>"$work/reg.log" 2>&1
com1_is_link() { [ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$com1" ]; }
wait_for 30 "COM1 link to $com1" com1_is_link

(cd "$dir" && exec wine ./veldar.exe) >"$work/veldar.log" 2>&1 &
app=$!

capture=$dir/WINDUMP.txt
expected=$work/expected.txt
sed 's/$/\r/' "$records" >"$expected"
capture_complete() { [ -f "$capture" ] && cmp -s "$capture" "$expected"; }
wait_for 240 "complete capture $capture" capture_complete
grep -q '] unplugged:' "$work/devsim.log" || fail "the simulator never unplugged"
rescue=$(ls "$dir"/*_partiel*.txt 2>/dev/null | head -n 1)
[ -n "$rescue" ] || fail "no rescue copy of the dump the unplug cut short"
head -n 99 "$expected" | cmp -s - "$rescue" ||
    fail "the rescue copy does not hold the 99 accepted records"
echo "windows-program: unplugged mid-dump, the rescue copy holds the 99 accepted records;" \
    "back 1.5 s later, the next dump holds the simulator's $(wc -l <"$records") records, byte for byte"
import -display "$DISPLAY" -window root build/windows-after-dump.png 2>/dev/null ||
    echo "windows-program: no screenshot" >&2

timeout 60 wineboot --end-session >>"$work/wineboot.log" 2>&1 || fail "wineboot --end-session failed"
app_ended() { ! kill -0 "$app" 2>/dev/null; }
wait_for 60 "end of veldar.exe after the end of the session" app_ended
status=0
wait "$app" || status=$?
app=
ini=$dir/VELDAR.ini
[ -f "$ini" ] || fail "VELDAR.ini was not written at the end of the session"
[ "$(head -n 2 "$ini" | od -An -c | tr -s ' \n' ' ')" = " [ P O R T _ C O M M ] \r \n C O M 1 \r \n " ] ||
    fail "VELDAR.ini does not name COM1: $(od -c "$ini" | head -n 5)"
echo "windows-program: veldar.exe ended with status $status at the end of the session and wrote VELDAR.ini"
