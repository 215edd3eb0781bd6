#!/usr/bin/env bash
# Runs one fuzz harness for a bounded time from its corpus:
#   bash fuzz/run.sh HARNESS NAME SECONDS [LIBFUZZER-OPTION]...
# New inputs it finds go to found/NAME beside the harness, never into the repository; an input
# that crashed, leaked, hung or ran out of memory is kept in crashes/NAME/ beside the harness,
# and its path is printed. The status is the harness's: 0 when nothing was found.
set -uo pipefail
harness=$(realpath "$1") name=$2 seconds=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
build=$(dirname "$harness")
found=$build/found/$name
crashes=$build/crashes/$name
log=$build/logs/$name.log
mkdir -p "$found" "$crashes" "$(dirname "$log")"
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$crashes/")
[ -f "$here/dict/$name.dict" ] && options+=(-dict="$here/dict/$name.dict")
# Each input makes and removes a tree of files: in memory, where a disk that discards freed
# blocks at once makes each removal cost milliseconds.
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm

started=$(date +%s)
"$harness" "${options[@]}" "$@" "$found" "$here/corpus/$name" >"$log" 2>&1
status=$?
took=$(( $(date +%s) - started ))
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
if [ "$status" -eq 0 ]; then
    echo "fuzz $name: ${runs:-?} inputs in ${took} s, nothing found (log: $log)"
    exit 0
fi
tail -n 60 "$log"
echo
echo "fuzz $name: FAILED with status $status after ${took} s (log: $log)"
written=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
if [ -n "$written" ]; then
    echo "fuzz $name: the input is saved as $written"
    echo "fuzz $name: run it again with: $harness $written"
fi
exit "$status"
