#!/usr/bin/env bash
# Every benchmark, each printing its table: dump speed (1000 and 100 000 records, paced and
# unpaced, and a plain reader for comparison; at 1000, also through the simulator's USB adapter),
# the program's start-up and rest (60 s), and its memory through an unpaced dump of a million
# records (over 20 minutes). With --short, the quick forms CI runs (200 records, the adapter's
# rows among them; 3 s; no memory run). Figures of a full run: bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = --short ]; then
    bash dump_speed.sh 200
    bash program_idle.sh 3
else
    bash dump_speed.sh 1000
    # A 16 ms adapter without the event character makes a record take 17 ms: 100 000 of
    # them would take an hour.
    bash dump_speed.sh 100000 build plain
    bash program_idle.sh 60
    bash program_memory.sh 1000000
fi
