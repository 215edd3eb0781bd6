#!/usr/bin/env bash
# Start-up of the program to its dialog on screen, and its peak memory, against a minimal Qt
# dialog program, under one Xvfb server. Needs xvfb and xdotool.
# Usage: bench/startup_bench.sh [build-dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-7}
work=$(mktemp -d)
# Xvfb picks a free display and writes its number once it accepts connections.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")
export XDG_CONFIG_HOME=$work

# Prints "<ms to window shown> <peak kB>" for one start of a program.
measure() {
    local exe=$1 title=$2 start end pid hwm
    start=$(date +%s%N)
    "$exe" >/dev/null 2>&1 &
    pid=$!
    xdotool search --sync --onlyvisible --name "^$title\$" >/dev/null
    end=$(date +%s%N)
    sleep 0.3
    hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "$(( (end - start) / 1000000 )) $hwm"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

prog_ms=(); prog_kb=(); base_ms=(); base_kb=()
for _ in $(seq "$runs"); do
    read -r ms kb < <(measure "$build/MorvikSerialDemo" "Morvik Serial Demo")
    prog_ms+=("$ms"); prog_kb+=("$kb")
    read -r ms kb < <(measure "$build/bench/qt_dialog_baseline" "Qt Baseline Dialog")
    base_ms+=("$ms"); base_kb+=("$kb")
done
pm=$(printf '%s\n' "${prog_ms[@]}" | median); bm=$(printf '%s\n' "${base_ms[@]}" | median)
pk=$(printf '%s\n' "${prog_kb[@]}" | median); bk=$(printf '%s\n' "${base_kb[@]}" | median)
echo "start-up to dialog shown: program median ${pm} ms, Qt baseline median ${bm} ms, ratio $(awk "BEGIN {printf \"%.2f\", $pm/$bm}")"
echo "peak memory (VmHWM): program median ${pk} kB, Qt baseline median ${bk} kB, ratio $(awk "BEGIN {printf \"%.2f\", $pk/$bk}")"
