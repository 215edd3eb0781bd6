#!/usr/bin/env bash
# End to end as a screen-reader user meets the program: under Xvfb, with a private session bus
# and at-spi2-core's accessibility bus on it, access_check.py reads the tree while xdotool
# types and clicks. Then each frame of the dialog must be whole at the scales 1.25, 1.5 and 2;
# the pictures stay in the folder given. Exits 77 (skipped) when a tool it needs is missing.
# Usage: e2e_access_test.sh <MorvikSerialDemo> <morvik-simdevice> <dialog_probe> <pictures folder>
set -euo pipefail
program=$1
simdevice=$2
probe=$3
pictures=$4
here=$(dirname "$0")
source "$here/xvfb_lib.sh"
need Xvfb xdotool dbus-daemon dbus-send setsid /usr/libexec/at-spi-bus-launcher
python=$(for p in /usr/bin/python3 python3; do "$p" -c 'import pyatspi' 2>/dev/null && echo "$p" && break; done || true)
[ -n "$python" ] || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

# The buses (and the registry the accessibility bus starts) go whole, as process groups.
groups=()
trap 'for g in "${groups[@]}"; do kill -- "-$g" 2>/dev/null || true; done; cleanup' EXIT
start_xvfb || fail "Xvfb did not start"
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME/MorvikSerialDemo/ports" "$pictures" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XDG_SESSION_TYPE QT_SCALE_FACTOR AT_SPI_BUS_ADDRESS
setsid dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
groups+=($!)
wait_for "unix:" "$work/bus" || fail "the session bus did not start"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
setsid /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
groups+=($!)
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q true && break
    sleep 0.1
done

"$simdevice" --port 1 >"$work/device.log" 2>&1 &
pids+=($!)
wait_for "simulated device on COM1" "$work/device.log" || fail "the device did not start"
ln -s /nonexistent/serial-device "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM2"
"$probe" items 102 >"$work/main.items" || fail "no layout of the main dialog"

# start [ENV...]: the program, its window in $window with the keyboard.
start() {
    env "$@" "$program" >"$work/program.log" 2>&1 &
    program_pid=$!
    pids+=($program_pid)
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" \
        --name '^Morvik Serial Demo$' | head -n1)
    [ -n "$window" ] || fail "no dialog window"
    xdotool windowfocus --sync "$window" 2>/dev/null || true
}
start QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
timeout 120 "$python" "$here/access_check.py" "$program_pid" "$window" "$work/main.items" \
    "$work/device.log" || fail "the accessibility tree (above)"
xdotool key alt+F4
expect_clean_exit "$program_pid" "accessibility: "
echo "e2e accessibility tree: passed"

for scale in 1.25 1.5 2; do
    start QT_SCALE_FACTOR=$scale
    sleep 0.5 # painted
    QT_SCALE_FACTOR=$scale "$probe" frames "$window" 102 "$pictures/frames-$scale.png" \
        >"$work/frames.txt" || fail "scale $scale: $(cat "$work/frames.txt")"
    xdotool key alt+F4
    expect_clean_exit "$program_pid" "scale $scale: "
done
echo "e2e frames at 1.25, 1.5 and 2 (pictures in $pictures): passed"
