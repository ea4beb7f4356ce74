#!/usr/bin/env bash
# Dump speed: records from the device simulator over a pseudo-terminal through veldar-dump
# (VELDAR's engine and serial code), the simulator paced at 115200 bit/s and unpaced, and,
# as a yardstick, through bench/plain_dump.sh (reads until CR, no poll schedule), paced.
# Prints records per second, the share of the dump spent in the protocol's own poll sleeps
# (the rest is the line and our overhead), the ratio to what the line itself could carry,
# the cost per record of the last tenth against the first (it must stay flat), the peak
# resident size, and the time per record (from the first record to the last) against the
# line time of one record: the framed record and its reply, 10 bits a byte.
# Then the same paced dump, each beside the plain reader, through the simulator's model of a
# USB adapter (--adapter-latency): 16 ms without the event character, 16 ms with CR as the
# event character, and 1 ms (what the Linux low-latency flag gives an FTDI adapter).
# With "compare BEFORE" instead of the rows: the paced and the unpaced dump, 5 runs each of
# the build BEFORE (a build folder of an earlier tree) and of this one, taken in turns in the
# same sitting, as medians: time per record, records/s, and the time this build spends
# writing and syncing its journal (veldar-dump --stats).
# Usage: bench/dump_speed.sh [records] [build folder] [rows: all, plain (no adapter) or adapter]
#        bench/dump_speed.sh [records] [build folder] compare BEFORE
#        (defaults: 1000, build, all)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-1000}
build=${2:-build}
which=${3:-all}
before=${4:-}
case $which in all | plain | adapter | compare) ;; *) echo "dump_speed: rows all, plain, adapter or compare" >&2; exit 2 ;; esac
[ "$which" != compare ] || [ -x "$before/veldar-dump" ] || { echo "dump_speed: compare needs the build before" >&2; exit 2; }
length=40
cmake --build "$build" --target veldar-devsim veldar-dump >/dev/null

run() { # $1: extra simulator options; $2: the reader, dump (veldar-dump) or plain; $3: build
    local work sim stats from=${3:-$build}
    work=$(mktemp -d)
    # shellcheck disable=SC2086
    "$from/veldar-devsim" --generate "$count" --length "$length" --header BENCH --link-dir "$work" \
        --com 1 --kick-every 1 --timeout 0 --quiet $1 >"$work/devsim.log" 2>&1 &
    sim=$!
    for _ in $(seq 100); do [ -L "$work/COM1" ] && break; sleep 0.1; done
    if [ "$2" = plain ]; then
        stats=$(bash bench/plain_dump.sh "$work/COM1" | grep '^stats:') || true
    else
        stats=$("$from/veldar-dump" --link-dir "$work" --port COM1 --dest "$work" --quiet \
            --stats --wait 60 | grep '^stats:') || true
    fi
    # Without a completed dump the simulator would wait for ever.
    [ -n "$stats" ] || kill "$sim" 2>/dev/null || true
    wait "$sim" || true
    rm -rf "$work"
    [ -n "$stats" ] || { echo "dump_speed: no figures from the $2 run ($1)" >&2; return 1; }
    echo "$stats"
}

field() { sed -E -n "s/.*$1=([0-9]+).*/\\1/p" <<<"$2"; }

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

if [ "$which" = compare ]; then
    printf '%-9s %-7s %5s %16s %10s %16s %15s %12s\n' mode build runs "per record (ms)" records/s \
        "journal write ms" "journal sync ms" "journal syncs"
    for row in "paced|" "unpaced|--no-pacing"; do
        IFS='|' read -r mode options <<<"$row"
        declare -A per=() rate=() wr=() sy=() ns=()
        for _ in 1 2 3 4 5; do
            for b in before after; do
                from=$build
                [ "$b" = after ] || from=$before
                line=$(run "$options" dump "$from")
                span=$(field first_to_last_ms "$line") steps=$(field steps "$line")
                per[$b]+="$(awk -v s="$span" -v n="$steps" 'BEGIN { printf "%.4f", (n > 1 ? s / (n - 1) : 0) }') "
                rate[$b]+="$(awk -v r="$(field records "$line")" -v e="$(field elapsed_ms "$line")" 'BEGIN { printf "%.2f", (e > 0 ? r * 1000 / e : 0) }') "
                wr[$b]+="$(field journal_write_us "$line") " sy[$b]+="$(field journal_sync_us "$line") "
                ns[$b]+="$(field journal_syncs "$line") "
            done
        done
        for b in before after; do
            m() { tr ' ' '\n' <<<"$1" | awk NF | median; }
            # The build before keeps no journal: its columns stay "-".
            ms() { [ -z "$1" ] && echo - || awk -v u="$1" 'BEGIN { printf "%.1f", u / 1000 }'; }
            w=$(m "${wr[$b]}") s=$(m "${sy[$b]}") n=$(m "${ns[$b]}")
            printf '%-9s %-7s %5d %16.3f %10.1f %16s %15s %12s\n' "$mode" "$b" 5 "$(m "${per[$b]}")" \
                "$(m "${rate[$b]}")" "$(ms "$w")" "$(ms "$s")" "${n:--}"
        done
        unset per rate wr sy ns
    done
    exit 0
fi

printf '%-26s %8s %9s %10s %12s %12s %12s %10s %15s %12s\n' mode records "time (s)" records/s \
    "poll sleeps" "line limit" "last/first" "peak KiB" "per record (ms)" "/ line time"
# mode|simulator options|reader
rows=()
[ "$which" = adapter ] || rows+=("paced||dump" "unpaced|--no-pacing|dump" "plain read-until-CR||plain")
[ "$which" = plain ] || for adapter in "16 ms|--adapter-latency 16" "16 ms + CR|--adapter-latency 16 --adapter-event-char" \
    "1 ms|--adapter-latency 1"; do
    rows+=("adapter ${adapter%%|*}|${adapter#*|}|dump" "plain, adapter ${adapter%%|*}|${adapter#*|}|plain")
done
for row in "${rows[@]}"; do
    IFS='|' read -r mode options reader <<<"$row"
    line=$(run "$options" "$reader")
    awk -v m="$mode" -v r="$(field records "$line")" -v e="$(field elapsed_ms "$line")" \
        -v s="$(field slept_ms "$line")" -v f="$(field first_tenth_ms "$line")" \
        -v l="$(field last_tenth_ms "$line")" -v p="$(field peak_kib "$line")" \
        -v span="$(field first_to_last_ms "$line")" -v steps="$(field steps "$line")" \
        -v len="$length" 'BEGIN {
        # A record is its counting byte, payload, two check bytes and CR, 10 bits a byte,
        # and the 4-byte reply "ACK\r" back.
        lineMs = (1 + len + 2 + 1 + 4) * 10 * 1000 / 115200
        limit = 1000 / lineMs
        rate = e > 0 ? r * 1000 / e : 0
        perRecord = steps > 1 ? span / (steps - 1) : 0
        # The plain reader has no poll sleeps and no resident size of ours.
        sleeps = s == "" ? "-" : sprintf("%.1f%%", e > 0 ? 100 * s / e : 0)
        printf "%-26s %8d %9.2f %10.1f %12s %11.1f%% %12.2f %10s %15.2f %12.2f\n", m, r, e / 1000,
               rate, sleeps, 100 * rate / limit, (f > 0 ? l / f : 0), (p == "" ? "-" : p),
               perRecord, perRecord / lineMs }'
done
