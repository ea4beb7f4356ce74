#!/usr/bin/env bash
# Dump speed: 1000 records from the device simulator over a pseudo-terminal through
# veldar-dump, with the simulator paced at 115200 bit/s and unpaced. Prints records per
# second and the share of the dump's time spent in the protocol's own poll sleeps (the rest
# is the time the bytes take on the line plus our own overhead).
# Usage: bench/dump_speed.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target veldar-devsim veldar-dump >/dev/null

run() { # $1: extra simulator options
    local work sim stats
    work=$(mktemp -d)
    # shellcheck disable=SC2086
    "$build/veldar-devsim" --generate 1000 --length 32 --header BENCH --link-dir "$work" --com 1 \
        --kick-every 1 --timeout 120 --quiet $1 >"$work/devsim.log" 2>&1 &
    sim=$!
    for _ in $(seq 100); do [ -L "$work/COM1" ] && break; sleep 0.1; done
    stats=$("$build/veldar-dump" --link-dir "$work" --port COM1 --dest "$work" --quiet --stats \
        --wait 60 | grep '^stats:')
    wait "$sim" || true
    rm -rf "$work"
    echo "$stats"
}

printf '%-10s %8s %10s %12s %14s\n' mode records "time (s)" "records/s" "poll sleeps"
for mode in paced unpaced; do
    options=""
    [ "$mode" = unpaced ] && options="--no-pacing"
    line=$(run "$options")
    records=$(sed -E 's/.*records=([0-9]+).*/\1/' <<<"$line")
    elapsed=$(sed -E 's/.*elapsed_ms=([0-9]+).*/\1/' <<<"$line")
    slept=$(sed -E 's/.*slept_ms=([0-9]+).*/\1/' <<<"$line")
    awk -v m="$mode" -v r="$records" -v e="$elapsed" -v s="$slept" 'BEGIN {
        printf "%-10s %8d %10.2f %12.1f %13.1f%%\n", m, r, e / 1000, (e > 0 ? r * 1000 / e : 0),
               (e > 0 ? 100 * s / e : 0) }'
done
