#!/usr/bin/env bash
# VELDAR at rest: the real program, in the tray with its port open on a pseudo-terminal
# (the device simulator, silent), for a while. Prints the start-up time (process start to
# the first probe byte on the line: the window built, settings read, the port open), the
# processor time it used at rest, the wake-ups per second of its threads (context switches)
# and its peak resident size. Then the simulator goes away (the adapter is pulled) and the
# same measure is taken while the program waits for its port to come back.
# Usage: bench/program_idle.sh [seconds] [build folder]   (defaults: 60, build)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build}
cmake --build "$build" --target veldar veldar-devsim >/dev/null
work=$(mktemp -d)
# The program quits as asked and writes its settings: wait for it before removing its folder.
trap 'kill "${app:-}" "${sim:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work" || true' EXIT
cp "$build/veldar" "$work/"
"$build/veldar-devsim" --silent --link-dir "$work" --com 1 --timeout 0 >"$work/devsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -L "$work/COM1" ] && break; sleep 0.1; done
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
start=$(date +%s%N)
(cd "$work" && exec ./veldar >/dev/null 2>&1) &
app=$!
until grep -q "rx @" "$work/devsim.log"; do sleep 0.005; done
ready=$(date +%s%N)
sleep 3 # the (silent) device is probed at five speeds, then the program rests

ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
# Context switches per thread ("tid count"); threads may come and go, so only those
# alive at both ends of the measure are compared.
switches() {
    for task in /proc/"$app"/task/*; do
        awk -v tid="${task##*/}" '/ctxt_switches/ {s += $2} END {print tid, s}' "$task/status" 2>/dev/null
    done
}
hz=$(getconf CLK_TCK)
t0=$(ticks); s0=$(switches)
sleep "$seconds"
t1=$(ticks); s1=$(switches)
peak=$(awk '/VmHWM/ {print $2}' "/proc/$app/status")
threads=$(ls "/proc/$app/task" | wc -l) # at the end of the measure

# The adapter pulled: the line hangs up and the link goes.
kill -TERM "$sim"
wait "$sim" 2>/dev/null || true
sim=
rm -f "$work/COM1"
sleep 2 # the loss is noticed and the port closed
l0=$(switches)
sleep "$seconds"
l1=$(switches)

awk -v ns=$((ready - start)) 'BEGIN { printf "%-34s %.0f ms\n", "start-up to the port open", ns / 1e6 }'
printf '%-34s %s\n' "idle time (s)" "$seconds"
printf '%-34s %s\n' "threads" "$threads"
awk -v t=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "%-34s %.2f ms (%.3f %%)\n", "processor time used", t * 1000 / hz, 100 * t / hz / s }'
wakeups=$(awk 'NR == FNR { before[$1] = $2; next } ($1 in before) { d += $2 - before[$1] } END { print d + 0 }' \
    <(echo "$s0") <(echo "$s1"))
awk -v w="$wakeups" -v s="$seconds" 'BEGIN { printf "%-34s %.2f\n", "wake-ups per second (all threads)", w / s }'
lost=$(awk 'NR == FNR { before[$1] = $2; next } ($1 in before) { d += $2 - before[$1] } END { print d + 0 }' \
    <(echo "$l0") <(echo "$l1"))
awk -v w="$lost" -v s="$seconds" 'BEGIN { printf "%-34s %.2f\n", "wake-ups per second, port lost", w / s }'
printf '%-34s %s KiB\n' "peak resident size" "$peak"
