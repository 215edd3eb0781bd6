#!/usr/bin/env bash
# Start-up of the program until its dialog is mapped, and its peak memory, against a minimal Qt
# program showing a dialog with the same controls, under one Xvfb server, in alternating runs.
# The end of a start is the X server's MapNotify for the window, read as it arrives from xev
# listening on the root window; no polling. Needs xvfb, xev, xprop, xdotool (x11-utils, xdotool).
# Usage: bench/startup_bench.sh [build-dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-9}
program=$build/MorvikSerialDemo
baseline=$build/bench/qt_dialog_baseline
for exe in "$program" "$baseline"; do
    [ -x "$exe" ] || { echo "missing $exe (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb=
xev_pid=
cleanup() {
    [ -z "$xev_pid" ] || kill "$xev_pid" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display and writes its number once it accepts connections.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")
export XDG_CONFIG_HOME=$work

# Every map of a top-level window (and root property changes, for the hand-shake below), one
# line as soon as it happens.
coproc XEV { exec stdbuf -oL xev -root -event substructure -event property; }
xev_pid=$XEV_PID
# Hand-shake: xev listens once a property change on the root window reaches it.
ready=
for _ in $(seq 100); do
    xprop -root -f _MORVIK_BENCH 8s -set _MORVIK_BENCH ping
    while read -r -t 0.05 -u "${XEV[0]}" line; do
        [[ $line == PropertyNotify* ]] && ready=1
    done
    [ -n "$ready" ] && break
done
[ -n "$ready" ] || { echo "xev does not listen" >&2; exit 1; }

# One start of a program whose window has the given title: sets m_us (microseconds from the
# start to the window mapped) and m_kb (peak memory).
measure() {
    local exe=$1 title=$2 start end= line id pid
    start=${EPOCHREALTIME/./}
    "$exe" >/dev/null 2>&1 &
    pid=$!
    while read -r -t 20 -u "${XEV[0]}" line; do
        [[ $line == MapNotify* ]] || continue
        end=${EPOCHREALTIME/./}
        read -r -t 5 -u "${XEV[0]}" line
        id=${line##*window }
        id=${id%%,*}
        [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$title" ] && break
        end=
    done
    # Peak memory once the first frames are drawn.
    sleep 0.3
    m_kb=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -n "$end" ] || { echo "$title: no window within 20 s" >&2; exit 1; }
    m_us=$((end - start))
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# One untimed start of each, so that neither pays for a cold cache.
measure "$program" "Morvik Serial Demo"
measure "$baseline" "Qt Baseline Dialog"
prog_us=(); prog_kb=(); base_us=(); base_kb=()
for run in $(seq "$runs"); do
    # Alternate which starts first, so that neither always follows the other.
    for which in $([ $((run % 2)) -eq 0 ] && echo "p b" || echo "b p"); do
        if [ "$which" = p ]; then
            measure "$program" "Morvik Serial Demo"
            prog_us+=("$m_us"); prog_kb+=("$m_kb")
        else
            measure "$baseline" "Qt Baseline Dialog"
            base_us+=("$m_us"); base_kb+=("$m_kb")
        fi
    done
done
pm=$(printf '%s\n' "${prog_us[@]}" | median); bm=$(printf '%s\n' "${base_us[@]}" | median)
pk=$(printf '%s\n' "${prog_kb[@]}" | median); bk=$(printf '%s\n' "${base_kb[@]}" | median)
awk -v pm="$pm" -v bm="$bm" -v pk="$pk" -v bk="$bk" -v n="$runs" 'BEGIN {
    printf "start-up until the dialog is mapped (median of %d): program %.1f ms, Qt baseline %.1f ms, ratio %.2f\n", n, pm / 1000, bm / 1000, pm / bm
    printf "peak memory (VmHWM, median): program %d kB, Qt baseline %d kB, ratio %.2f\n", pk, bk, pk / bk
}'
