#!/usr/bin/env bash
# End to end as a screen-reader user meets the program: under Xvfb, on a private session bus
# with the accessibility bus and registry of at-spi2-core, the program with Qt's AT-SPI bridge
# on. access_check.py reads the accessibility tree while xdotool types and clicks. Then the
# dialog's frames at the scales 1.25, 1.5 and 2: each bordered control's frame whole; the
# pictures stay in the folder given, to be looked at. Exits 77 (skipped) when a tool it needs
# is missing.
# Usage: e2e_access_test.sh <MorvikSerialDemo> <morvik-simdevice> <dialog_probe> <pictures folder>
set -euo pipefail
program=$1
simdevice=$2
probe=$3
pictures=$4
here=$(dirname "$0")
source "$here/xvfb_lib.sh"
need Xvfb xdotool dbus-daemon dbus-send setsid
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || { echo "SKIP: at-spi2-core is not installed"; exit 77; }
python=
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import pyatspi' 2>/dev/null; then python=$candidate; break; fi
done
[ -n "$python" ] || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

# The buses and the registry run in process groups of their own: they go whole.
groups=()
end_groups() {
    local group
    for group in "${groups[@]}"; do kill -- "-$group" 2>/dev/null || true; done
    cleanup
}
trap end_groups EXIT

start_xvfb || fail "Xvfb did not start"
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME/MorvikSerialDemo/ports" "$pictures"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XDG_SESSION_TYPE QT_SCALE_FACTOR

# A session bus of our own; on it the accessibility bus, whose registry it starts.
setsid dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >"$work/dbus.log" 2>&1 &
groups+=($!)
wait_for "unix:" "$work/bus" || fail "the session bus did not start"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
unset AT_SPI_BUS_ADDRESS
setsid "$launcher" --launch-immediately >"$work/launcher.log" 2>&1 &
groups+=($!)
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q true && break
    sleep 0.1
done

"$simdevice" --port 1 >"$work/device.log" 2>&1 &
pids+=($!)
wait_for "simulated device on COM1" "$work/device.log" || fail "the device did not start"
ln -sfn /nonexistent/serial-device "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM2"
"$probe" items 102 >"$work/main.items" || fail "no layout of the main dialog"

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$program" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" \
    --name '^Morvik Serial Demo$' | head -n1)
[ -n "$window" ] || fail "no dialog window"
xdotool windowfocus --sync "$window" 2>/dev/null || true
timeout 120 "$python" "$here/access_check.py" "$program_pid" "$window" "$work/main.items" \
    "$work/device.log" || fail "the accessibility tree (above)"
kill -0 "$program_pid" 2>/dev/null || fail "the program ended"
xdotool key alt+F4
expect_clean_exit "$program_pid" "accessibility: "
echo "e2e accessibility tree: passed"

# The frames at scales where a pixel of the layout is not a whole number of the screen's, and
# at 2.
for scale in 1.25 1.5 2; do
    QT_SCALE_FACTOR=$scale "$program" >"$work/program.log" 2>&1 &
    program_pid=$!
    pids+=($program_pid)
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" \
        --name '^Morvik Serial Demo$' | head -n1)
    [ -n "$window" ] || fail "scale $scale: no dialog window"
    sleep 0.5 # painted
    QT_SCALE_FACTOR=$scale "$probe" frames "$window" 102 "$pictures/frames-$scale.png" \
        >"$work/frames.txt" || fail "scale $scale: $(cat "$work/frames.txt")"
    xdotool key alt+F4
    expect_clean_exit "$program_pid" "scale $scale: "
done
echo "e2e frames at 1.25, 1.5 and 2 (pictures in $pictures): passed"
