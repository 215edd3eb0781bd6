#!/usr/bin/env bash
# End to end: the real program under Xvfb, talking to the simulated device, driven with the
# keyboard as a user would. Exits 77 (skipped) when a tool it needs is missing.
# Usage: e2e_test.sh <MorvikSerialDemo> <morvik-simdevice>
set -euo pipefail
program=$1
simdevice=$2
source "$(dirname "$0")/xvfb_lib.sh"
need Xvfb xdotool

start_xvfb || fail "Xvfb did not start"

export XDG_CONFIG_HOME=$work/config
unset QT_QPA_PLATFORM
"$simdevice" --port 1 >"$work/device.log" 2>&1 &
device=$!
pids+=($device)
wait_for "simulated device on COM1" "$work/device.log" || fail "the device did not start"

"$program" --an-argument-it-ignores >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvik Serial Demo$' | head -n1)
[ -n "$window" ] || fail "no dialog window"
xdotool windowfocus --sync "$window"

# The focus starts on "Open Port": Enter presses it.
xdotool key --clearmodifiers Return
wait_for "port opened" "$work/device.log" || fail "the port was not opened"
# "Open Port" is now disabled and the focus moved on to the command field.
xdotool type --delay 20 '*IDN?'
xdotool key Tab Return
wait_for "command: \*IDN?" "$work/device.log" || fail "the device got no command"

# Escape is Cancel: the dialog ends, the program ends and the port closes.
xdotool key Escape
expect_clean_exit "$program_pid" ""
wait_for "port closed" "$work/device.log" || fail "the device did not see the port close"

kill -TERM "$device"
wait "$device" || fail "the device did not stop cleanly"
[ ! -e "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM1" ] || fail "the device left its link"
echo "e2e: passed"
