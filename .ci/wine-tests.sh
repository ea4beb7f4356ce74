#!/usr/bin/env bash
# Builds the Windows flavour with MinGW-w64 and runs it under Wine with COM1 mapped to a
# pseudo-terminal: the tests against a line that echoes every byte (tools/ptyecho), what
# Wine's serial driver does otherwise than Windows' (veldar-wincheck), then a complete dump
# by veldar-dump.exe from the device simulator, checked byte for byte.
# Run from the repository root, with the native build folder build/ already configured.
set -euo pipefail

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y g++-mingw-w64-x86-64-posix wine64 wine
fi

cmake --build build --target veldar-ptyecho veldar-devsim
cmake --preset mingw
cmake --build --preset mingw

WINEPREFIX=$(mktemp -d)
export WINEPREFIX
export WINEDEBUG=-all
# No .NET or HTML engine: the tests are plain executables, and their installers would
# only ask for a download.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
work=$(mktemp -d)
# COM1 is the link $work/COM1, which each far end in turn points at its own terminal.
com1=$work/COM1
far_pid=

stop_far_end() {
    if [[ -n $far_pid ]]; then
        kill "$far_pid" 2>/dev/null || true
        wait "$far_pid" 2>/dev/null || true
        far_pid=
    fi
}

cleanup() {
    stop_far_end
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT

# Waits (10 s at most) until COM1 leads to the terminal named on the first line of $1.
wait_for_com1() {
    local out=$1 terminal=
    for _ in $(seq 100); do
        terminal=$(head -n 1 "$out" | sed 's/^slave: //')
        [[ -n $terminal && $(readlink -f "$WINEPREFIX/dosdevices/com1") == "$terminal" ]] && return 0
        kill -0 "$far_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "COM1 does not lead to the far end's terminal (${terminal:-none}):" >&2
    ls -l "$WINEPREFIX/dosdevices/com1" "$com1" >&2 || true
    cat "$out" >&2
    exit 1
}

timeout 300 wineboot -i

# Each time Wine starts, its mount manager lays the COM links anew from the serial
# devices it finds (/dev/ttyS0 becomes COM1) unless the registry names the port's
# device. Name our link, let the server stop, and start Wine again to apply it.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1" /f
wineserver -w
# One server for the rest of the run, its own messages kept apart: one started by a
# program under `timeout` can be sent SIGHUP later and then prints all its objects.
wineserver -p 2>"$work/wineserver.log"
timeout 120 wine cmd /c exit

echo "-- tests, COM1 echoing"
./build/veldar-ptyecho "$com1" >"$work/echo.out" &
far_pid=$!
wait_for_com1 "$work/echo.out"

VELDAR_WIN32_COM1=1 ctest --test-dir build-mingw --output-on-failure --timeout 300

echo "-- where Wine's serial driver differs from Windows' (the device works around each)"
wincheck_status=0
timeout 60 wine build-mingw/veldar-wincheck.exe COM1 || wincheck_status=$?
if ((wincheck_status == 2 || wincheck_status > 100)); then
    echo "veldar-wincheck could not check COM1 (status $wincheck_status)" >&2
    exit 1
fi
stop_far_end

echo "-- a complete dump by veldar-dump.exe from the device simulator"
records=$work/records.txt
expected=$work/expected.txt
for i in $(seq 1 300); do
    # Windows-1252 bytes: a capture carries the device's bytes unchanged.
    printf 'MESURE %04d;%d.%d;temp\xe9rature\n' "$i" $((i % 40)) $((i % 10))
done >"$records"
sed 's/$/\r/' "$records" >"$expected"
mkdir "$work/out"

./build/veldar-devsim --link-dir "$work" --records "$records" --header WINE300 \
    --kick-every 2 --timeout 120 --quiet >"$work/devsim.log" 2>&1 &
far_pid=$!
wait_for_com1 "$work/devsim.log"

dump_status=0
timeout 150 wine build-mingw/veldar-dump.exe --dest "Z:${work//\//\\}\\out" --wait 90 --quiet \
    >"$work/dump.log" 2>&1 || dump_status=$?
# The simulator ends by itself once the dump is done.
timeout 30 tail --pid="$far_pid" -f /dev/null || kill "$far_pid" 2>/dev/null || true
sim_status=0
wait "$far_pid" || sim_status=$?
far_pid=
if ((dump_status != 0 || sim_status != 0)) || ! cmp "$expected" "$work/out/WINE300.txt"; then
    echo "The dump under Wine failed (veldar-dump $dump_status, veldar-devsim $sim_status)." >&2
    echo "--- veldar-dump" >&2
    cat "$work/dump.log" >&2
    echo "--- veldar-devsim" >&2
    tail -n 40 "$work/devsim.log" >&2
    ls -l "$work/out" >&2
    exit 1
fi
echo "300 records captured byte for byte under Wine"
