#!/usr/bin/env bash
# Installs what the build needs, builds the program and starts it with a simulated device on
# port 1, in a private ports folder (your own ~/.config/MorvikSerialDemo/ports is not touched).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target MorvikSerialDemo morvik-simdevice

config=$(mktemp -d)
build/morvik-simdevice --port 1 --ports "$config/MorvikSerialDemo/ports" &
device=$!
trap 'kill "$device" 2>/dev/null; wait "$device" 2>/dev/null; rm -rf "$config"' EXIT
for _ in $(seq 50); do
    [ -L "$config/MorvikSerialDemo/ports/COM1" ] && break
    sleep 0.1
done
status=0
XDG_CONFIG_HOME=$config build/MorvikSerialDemo "$@" || status=$?
exit "$status"
