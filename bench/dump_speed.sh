#!/usr/bin/env bash
# Dump speed: records from the device simulator over a pseudo-terminal through veldar-dump
# (VELDAR's engine and serial code), the simulator paced at 115200 bit/s and unpaced.
# Prints records per second, the share of the dump spent in the protocol's own poll sleeps
# (the rest is the line and our overhead), the ratio to what the line itself could carry,
# the cost per record of the last tenth against the first (it must stay flat) and the peak
# resident size.
# Usage: bench/dump_speed.sh [records] [build folder]   (defaults: 1000, build)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-1000}
build=${2:-build}
length=40
cmake --build "$build" --target veldar-devsim veldar-dump >/dev/null

run() { # $1: extra simulator options
    local work sim stats
    work=$(mktemp -d)
    # shellcheck disable=SC2086
    "$build/veldar-devsim" --generate "$count" --length "$length" --header BENCH --link-dir "$work" \
        --com 1 --kick-every 1 --timeout 0 --quiet $1 >"$work/devsim.log" 2>&1 &
    sim=$!
    for _ in $(seq 100); do [ -L "$work/COM1" ] && break; sleep 0.1; done
    stats=$("$build/veldar-dump" --link-dir "$work" --port COM1 --dest "$work" --quiet --stats \
        --wait 60 | grep '^stats:')
    wait "$sim" || true
    rm -rf "$work"
    echo "$stats"
}

field() { sed -E "s/.*$1=([0-9]+).*/\\1/" <<<"$2"; }

printf '%-9s %8s %9s %10s %12s %12s %12s %10s\n' mode records "time (s)" records/s "poll sleeps" \
    "line limit" "last/first" "peak KiB"
for mode in paced unpaced; do
    options=""
    [ "$mode" = unpaced ] && options="--no-pacing"
    line=$(run "$options")
    awk -v m="$mode" -v r="$(field records "$line")" -v e="$(field elapsed_ms "$line")" \
        -v s="$(field slept_ms "$line")" -v f="$(field first_tenth_ms "$line")" \
        -v l="$(field last_tenth_ms "$line")" -v p="$(field peak_kib "$line")" -v len="$length" 'BEGIN {
        # A record is its counting byte, payload, two check bytes and CR, 10 bits a byte,
        # and the 4-byte reply back.
        limit = 115200 / 10 / (len + 4 + 4)
        rate = e > 0 ? r * 1000 / e : 0
        printf "%-9s %8d %9.2f %10.1f %11.1f%% %11.1f%% %12.2f %10d\n", m, r, e / 1000, rate,
               (e > 0 ? 100 * s / e : 0), 100 * rate / limit, (f > 0 ? l / f : 0), p }'
done
