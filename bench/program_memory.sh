#!/usr/bin/env bash
# VELDAR's memory through a long dump: the real program, offscreen, in the tray with COM1 open
# on a pseudo-terminal, dumps records from the device simulator, unpaced (about 1 ms a
# record: a million take 20 minutes or more). Prints its resident size at rest before the
# dump, its peak resident size (VmHWM: the start-up included), its resident size once the
# dump is over and the window back in the tray, and the records in the saved file.
# Usage: bench/program_memory.sh [records] [build folder]   (defaults: 1000000, build)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-1000000}
build=${2:-build}
cmake --build "$build" --target veldar veldar-devsim >/dev/null
work=$(mktemp -d)
# The program quits as asked and writes its settings: wait for it before removing its folder.
trap 'kill "${app:-}" "${sim:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work" || true' EXIT
cp "$build/veldar" "$work/"
mkdir "$work/dest"
# Named by the header, never asked, no viewer opened.
printf '[PORT_COMM]\r\nCOM1\r\n[CHEMIN_DESTINATION]\r\n%s/dest/\r\n[VOIR_DONNEES]\r\n0\r\n[NOM_FIC_AUTO]\r\n-1\r\n[ECRASER_FICHIER]\r\n-1\r\n' \
    "$work" >"$work/VELDAR.ini"
# The kick that starts the dump comes 8 s after the simulator: the program is at rest by then.
"$build/veldar-devsim" --generate "$count" --length 40 --header BENCH --link-dir "$work" --com 1 \
    --kick-delay 8000 --no-pacing --timeout 0 --quiet >"$work/devsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -L "$work/COM1" ] && break; sleep 0.1; done
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
(cd "$work" && exec ./veldar >/dev/null 2>&1) &
app=$!
kib() { awk -v k="$1" '$1 == k ":" {print $2}' "/proc/$app/status"; }
sleep 6
before=$(kib VmRSS)
start=$(date +%s)
# Sampled every 10 s while the dump runs (resident/peak), to show how the size moves.
samples=()
seconds=0
while kill -0 "$sim" 2>/dev/null; do
    sleep 1
    seconds=$((seconds + 1))
    [ $((seconds % 10)) -ne 0 ] || samples+=("$seconds s: $(kib VmRSS)/$(kib VmHWM)")
done
wait "$sim" || true
sim=
end=$(date +%s)
# The save, then the 1.5 s pause and the window back in the tray.
sleep 5
after=$(kib VmRSS)
peak=$(kib VmHWM)
sleep 30
later=$(kib VmRSS)
file=$(find "$work/dest" -name '*.txt' | head -n 1)
records=$([ -n "$file" ] && wc -l <"$file" || echo 0)

printf '%-34s %s\n' "records sent" "$count"
printf '%-34s %s\n' "records in the file" "$records"
printf '%-34s %s\n' "dump time (s, the wait for it too)" "$((end - start))"
printf '%-34s %s KiB\n' "resident at rest before" "$before"
printf '%-34s %s KiB\n' "peak resident size" "$peak"
printf '%-34s %s KiB\n' "resident after the dump" "$after"
printf '%-34s %s KiB\n' "resident 30 s later" "$later"
printf '%-34s %s KiB\n' "after - before" "$((later - before))"
printf 'during the dump (resident/peak KiB):'
printf ' %s;' "${samples[@]}"
echo
[ "$records" = "$count" ]
