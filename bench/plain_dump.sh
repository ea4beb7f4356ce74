#!/usr/bin/env bash
# The dump protocol done plainly, as a yardstick for veldar-dump: the line raw at 115200 bit/s,
# "LOAD", then every line read until its CR and answered "ACK", up to "OVER" (answered too).
# No poll schedule: each read returns when the CR is in. Bytes before the acknowledgement of
# the request (a simulator's '?' kick) are skipped.
# Prints a line in the form of veldar-dump --stats: records (the header not counted), elapsed
# ms from the request to the last answer, ms of the first and of the last tenth of the records,
# ms from the first record to the last and the number of records timed.
# Usage: bench/plain_dump.sh PORT   (a serial device or pseudo-terminal, e.g. the COM1 link
#        veldar-devsim --link-dir makes)
set -euo pipefail
export LC_ALL=C
port=${1:?usage: plain_dump.sh PORT}
cr=$'\r'
# Generous: the device answers within milliseconds.
timeout=5

fail() {
    echo "plain_dump: $1" >&2
    [ -z "${reader:-}" ] || kill "$reader" 2>/dev/null || true
    exit 1
}

stty -F "$port" 115200 raw -echo
# Read through a pipe: bash's read on a terminal sets the terminal's own modes for the call
# (CR made LF among them).
exec 3< <(exec cat "$port")
reader=$!
exec 4>"$port"

start=${EPOCHREALTIME/[.,]/}
printf 'LOAD\r' >&4
answer=
until [[ $answer == *ACK ]]; do
    IFS= read -r -t "$timeout" -d "$cr" -u 3 answer || fail "no ACK to LOAD"
done

# Microseconds at which each record (after the header) was complete, before its answer.
steps=()
first=1
while true; do
    IFS= read -r -t "$timeout" -d "$cr" -u 3 record || fail "line ended after ${#steps[@]} records"
    if [[ $record == OVER ]]; then
        printf 'ACK\r' >&4
        break
    fi
    # The header: its counting byte, then "#;".
    if ((first)) && [[ $record == ?'#;'* ]]; then
        first=0
    else
        first=0
        steps+=("${EPOCHREALTIME/[.,]/}")
    fi
    printf 'ACK\r' >&4
done
end=${EPOCHREALTIME/[.,]/}
((${#steps[@]} > 0)) || fail "no records"
exec 4>&- 3<&-
kill "$reader" 2>/dev/null || true

printf '%s\n' "${steps[@]}" | awk -v elapsed=$(((end - start) / 1000)) '
    { t[NR - 1] = $1 }
    END {
        n = NR; first = last = span = 0
        if (n >= 20) {
            tenth = int(n / 10)
            first = t[tenth] - t[0]; last = t[n - 1] - t[n - 1 - tenth]
        }
        if (n > 0) span = t[n - 1] - t[0]
        printf "stats: records=%d elapsed_ms=%d first_tenth_ms=%d last_tenth_ms=%d first_to_last_ms=%d steps=%d\n",
               n, elapsed, first / 1000, last / 1000, span / 1000, n }'
