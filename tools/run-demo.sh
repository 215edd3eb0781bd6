#!/usr/bin/env bash
# Installs what the build needs, builds the program and starts it with a simulated device on
# port 1, in a private ports folder (your own ~/.config/MorvikSerialDemo/ports is not touched).
# MORVIK_BUILD_DIR names the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

# Find out first whether a window can be shown at all, not after a minute of building.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run-demo.sh: no graphical display (DISPLAY or WAYLAND_DISPLAY is not set); run it in a desktop session" >&2
    exit 2
fi
if [ -z "${WAYLAND_DISPLAY:-}" ] && command -v xdpyinfo >/dev/null && ! xdpyinfo >/dev/null 2>&1; then
    echo "run-demo.sh: cannot open display $DISPLAY" >&2
    exit 2
fi

source tools/deps.sh
morvik_install "${morvik_packages[@]}"
build=${MORVIK_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target MorvikSerialDemo morvik-simdevice
program=$build/MorvikSerialDemo
simdevice=$build/morvik-simdevice

config=$(mktemp -d)
device=
# Runs on every way out: normal end, an error, Ctrl+C, or a device that ended first.
cleanup() {
    if [ -n "$device" ]; then
        kill "$device" 2>/dev/null || true
        wait "$device" 2>/dev/null || true
    fi
    rm -rf "$config" || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

"$simdevice" --port 1 --ports "$config/MorvikSerialDemo/ports" &
device=$!
for _ in $(seq 50); do
    [ -L "$config/MorvikSerialDemo/ports/COM1" ] && break
    kill -0 "$device" 2>/dev/null || { echo "run-demo.sh: the simulated device did not start" >&2; exit 1; }
    sleep 0.1
done
status=0
XDG_CONFIG_HOME=$config "$program" || status=$?
exit "$status"
