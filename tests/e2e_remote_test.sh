#!/usr/bin/env bash
# End to end with the real pointer on a port on another machine: COM2 names ser2net's
# rfc2217:// port on 127.0.0.1, in front of the simulated device; the dialog opens it, sends a
# command and lists the reply, closes it, says when the server ends, and why nothing opens then. ser2net
# is the Debian package's binary unpacked into the build folder, never installed. Exits 77
# (skipped) when a tool it needs is missing.
# Usage: e2e_remote_test.sh <MorvikSerialDemo> <morvik-simdevice> <dialog_probe> <ser2net>
set -euo pipefail
program=$1
simdevice=$2
probe=$3
ser2net=$4
source "$(dirname "$0")/xvfb_lib.sh"
need Xvfb xdotool python3
[ -x "$ser2net" ] || { echo "ser2net is not unpacked: skipped"; exit 77; }

start_xvfb || fail "Xvfb did not start"
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XDG_SESSION_TYPE
ports=$XDG_CONFIG_HOME/MorvikSerialDemo/ports

"$simdevice" --port 1 >"$work/device.log" 2>&1 &
pids+=($!)
wait_for "simulated device on COM1" "$work/device.log" || fail "the device did not start"
start_ser2net "$ser2net" "$(readlink "$ports/COM1")" ||
    fail "ser2net does not listen: $(cat "$work/ser2net.log")"
server=$ser2net_pid port=$ser2net_port
ln -s "rfc2217://127.0.0.1:$port" "$ports/COM2"

"$probe" items 102 >"$work/main.items" || fail "no layout of the main dialog"

"$program" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvik Serial Demo$' | head -n1)
[ -n "$window" ] || fail "no dialog window"
xdotool windowfocus --sync "$window" 2>/dev/null || true

# Main dialog items: 0 Open Port, 1 command, 4 Send, 6 list, 7 port, 9 Close Port.
click "$window" "$work/main.items" 7 1 2
xdotool type --delay 30 2
click "$window" "$work/main.items" 0
wait_for "port opened" "$work/device.log" || fail "Open Port did not reach the device through ser2net"
click "$window" "$work/main.items" 1
xdotool type --delay 30 '*IDN?'
blank "$window" "$work/main.items" 6 || fail "the list is not empty at the start"
click "$window" "$work/main.items" 4
wait_for 'command: \*IDN?' "$work/device.log" || fail "Send sent nothing through ser2net"
for _ in $(seq 25); do blank "$window" "$work/main.items" 6 || break; sleep 0.2; done
blank "$window" "$work/main.items" 6 && fail "no reply in the list"
click "$window" "$work/main.items" 9
wait_for "port closed" "$work/device.log" || fail "Close Port did not end the connection"

# The server ends while the port is open: the next Send says so, naming the URL, and the port
# is shown closed; then nothing listens, and Open Port says that.
click "$window" "$work/main.items" 0
wait_for "port opened" "$work/device.log" 2 || fail "Open Port did not open again"
kill -TERM "$server"
wait "$server" || true
click "$window" "$work/main.items" 4
wait_for "COM2: the server closed the connection: rfc2217://127.0.0.1:$port\$" "$work/program.log" ||
    fail "the server's end was not said: $(cat "$work/program.log")"
xdotool key Escape
sleep 0.3
click "$window" "$work/main.items" 0
wait_for "cannot open COM2: .*COM2 -> rfc2217://127.0.0.1:$port: nothing listens at 127.0.0.1:$port" \
    "$work/program.log" || fail "no reason for a server that is gone: $(cat "$work/program.log")"
xdotool key Escape Escape
expect_clean_exit "$program_pid" ""
echo "e2e remote: passed"
