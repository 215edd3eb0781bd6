#!/usr/bin/env bash
# End to end: the real program under Xvfb, talking to the simulated device, driven with the
# keyboard as a user would. Exits 77 (skipped) when a tool it needs is missing.
# Usage: e2e_test.sh <MorvikSerialDemo> <morvik-simdevice> <dialog_probe>
set -euo pipefail
program=$1
simdevice=$2
probe=$3
source "$(dirname "$0")/xvfb_lib.sh"
need Xvfb xdotool strace

start_xvfb || fail "Xvfb did not start"
unset QT_QPA_PLATFORM
# The command history the program keeps stays with the test.
export XDG_STATE_HOME=$work/state

# focus_dialog WHAT: waits for the program's window ($window) and gives it the focus, which
# starts on "Open Port".
focus_dialog() {
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Morvik Serial Demo$' | head -n1)
    [ -n "$window" ] || fail "${1}no dialog window"
    xdotool windowfocus --sync "$window"
}

# COM1 linked to the kernel log: Open Port fails as "not a serial device", and the device is
# never opened, since whether it is a serial line is decided from its number before open().
mkdir -p "$work/kmsg/MorvikSerialDemo/ports"
ln -s /dev/kmsg "$work/kmsg/MorvikSerialDemo/ports/COM1"
# (A sanitizer build's leak check cannot run under ptrace: this run goes without it. Without
# a session bus Qt would start one, which strace -f would then wait for.)
XDG_CONFIG_HOME=$work/kmsg ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
    DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus strace -f -qq -e trace=openat -o "$work/strace.log" "$program" >"$work/program.log" 2>&1 &
traced=$!
pids+=($traced)
focus_dialog "kmsg: "
xdotool key --clearmodifiers Return
wait_for "cannot open COM1: .*/COM1 -> /dev/kmsg: not a serial device" "$work/program.log" ||
    fail "kmsg: Open Port did not fail as not a serial device"
# The first Escape takes the failure's balloon away, the second closes the window.
xdotool key Escape Escape
expect_clean_exit "$traced" "kmsg: "
grep -q 'openat(.*"/usr/' "$work/strace.log" || fail "kmsg: strace saw no file opened at all"
if grep '"/dev/kmsg"' "$work/strace.log"; then
    fail "kmsg: the program opened /dev/kmsg"
fi

export XDG_CONFIG_HOME=$work/config
"$simdevice" --port 1 >"$work/device.log" 2>&1 &
device=$!
pids+=($device)
wait_for "simulated device on COM1" "$work/device.log" || fail "the device did not start"

# Started through a link of another name, the program names itself after its file.
ln -s "$program" "$work/serial-demo-link"
"$work/serial-demo-link" --an-argument-it-ignores >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
focus_dialog ""

# F1: the message box is captioned with the program's name; Enter closes it.
xdotool key F1
box=$(timeout 10 xdotool search --sync --onlyvisible --name '^MorvikSerialDemo$' | head -n1)
[ -n "$box" ] || fail "no message box captioned MorvikSerialDemo"
xdotool windowfocus --sync "$box" key Return
for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^MorvikSerialDemo$' >/dev/null || break
    sleep 0.1
done
xdotool windowfocus --sync "$window"

# The focus starts on "Open Port": Enter presses it.
xdotool key --clearmodifiers Return
wait_for "port opened" "$work/device.log" || fail "the port was not opened"
# "Open Port" is now disabled and the focus moved on to the command field, where Enter sends.
xdotool type --delay 20 '*IDN?'
xdotool key Return
wait_for "command: \*IDN?" "$work/device.log" || fail "the device got no command"
kill -0 "$program_pid" || fail "Enter in the command field ended the program"

# Keys pressed while a command waits for its reply are dropped, never sent afterwards: Enter
# twice during DELAY 2000 sends nothing more. The window manager's ping is answered meanwhile.
# Once the reply is in, keys work again.
xdotool key ctrl+a
xdotool type --delay 20 'DELAY 2000'
xdotool key Return
wait_for "command: DELAY 2000" "$work/device.log" || fail "DELAY 2000 was not sent"
sleep 0.3
ms=$("$probe" ping "$window") || fail "the ping during the wait was not answered"
[ "$ms" -lt 500 ] || fail "the ping during the wait was answered after $ms ms"
xdotool key Return Return
sleep 2.5
[ "$(grep -c "command: DELAY 2000" "$work/device.log")" -eq 1 ] \
    || fail "Enter pressed during the wait sent the command again"
xdotool key ctrl+a
xdotool type --delay 20 'ECHO after'
xdotool key Return
wait_for "command: ECHO after" "$work/device.log" || fail "keys after the wait did not arrive"
sleep 0.3

# Escape is Cancel: the dialog ends, the program ends and the port closes.
xdotool key Escape
expect_clean_exit "$program_pid" ""
wait_for "port closed" "$work/device.log" || fail "the device did not see the port close"

# SIGTERM, SIGHUP and SIGINT end the program as Close does: the port is put back as it was
# found and is no longer exclusive; then the program dies of the signal (status 128 + N).
slave=$(readlink "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM1")
before=$(stty -g -F "$slave")
for sig in TERM HUP INT; do
    # A background job of a script ignores SIGINT, and the program keeps what it inherits.
    env --default-signal="$sig" "$program" >"$work/program.log" 2>&1 &
    program_pid=$!
    pids+=($program_pid)
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" \
        --name '^Morvik Serial Demo$' | head -n1)
    [ -n "$window" ] || fail "SIG$sig: no dialog window"
    xdotool windowfocus --sync "$window"
    commands=$(grep -c "command: ECHO $sig" "$work/device.log" || true)
    xdotool key --clearmodifiers Return
    xdotool type --delay 20 "ECHO $sig"
    xdotool key Return
    wait_for "command: ECHO $sig" "$work/device.log" $((commands + 1)) \
        || fail "SIG$sig: the port was not opened"
    kill -"$sig" "$program_pid"
    expect_clean_exit "$program_pid" "SIG$sig: " $((128 + $(kill -l "$sig")))
    [ "$(stty -g -F "$slave")" = "$before" ] || fail "SIG$sig: the line's settings were not put back"
    [ "$("$probe" exclusive "$slave")" = 0 ] || fail "SIG$sig: the line was left exclusive"
done

kill -TERM "$device"
wait "$device" || fail "the device did not stop cleanly"
[ ! -e "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM1" ] || fail "the device left its link"
echo "e2e: passed"
