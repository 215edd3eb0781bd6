#!/usr/bin/env bash
# End to end on Wayland: the program with Qt's Wayland plugin on weston, which runs nested in
# Xvfb so that xdotool's real pointer and keys drive it, talking to the simulated device: its
# own title bar, the failure balloon wherever the dialog is dragged, the compositor's end. Also
# a stale WAYLAND_DISPLAY beside a working X display. Pictures of each step go to the folder
# given. Exits 77 (skipped) when weston is not installed.
# Usage: e2e_wayland_test.sh <MorvikSerialDemo> <morvik-simdevice> <dialog_probe> <pictures>
set -euo pipefail
program=$1
simdevice=$2
probe=$3
pictures=$4
source "$(dirname "$0")/xvfb_lib.sh"
need weston
for tool in Xvfb xdotool; do command -v "$tool" >/dev/null || fail "$tool is not installed"; done

mkdir -p "$pictures"
rm -f "$pictures"/*.png
start_xvfb || fail "Xvfb did not start"
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XDG_SESSION_TYPE

# The probe looks at the X display that weston's output is drawn on.
probe() { QT_QPA_PLATFORM=xcb WAYLAND_DISPLAY= "$probe" "$@"; }
# shot NAME: a picture of the screen as it is now.
shot() { probe shot "$pictures/$1.png" || fail "no picture $1"; }

# A stale WAYLAND_DISPLAY with a working X display: the program starts on X11, and what the
# Wayland library said while Qt tried it is passed on as Qt writes it, without a line that
# begins with ": ".
WAYLAND_DISPLAY=wayland-gone "$program" >"$work/stale.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" --name '^Morvik Serial Demo$' \
    >/dev/null || fail "stale WAYLAND_DISPLAY: no window on X11"
kill -TERM "$program_pid"
expect_clean_exit "$program_pid" "stale WAYLAND_DISPLAY: " 143
grep -q "wl_display" "$work/stale.log" || fail "stale WAYLAND_DISPLAY: the Wayland plugin said nothing"
if grep -n '^: ' "$work/stale.log"; then
    fail "stale WAYLAND_DISPLAY: a line begins with ': '"
fi

start_weston || fail "weston did not start"
export QT_QPA_PLATFORM=wayland
"$simdevice" --port 1 >"$work/device.log" 2>&1 &
device=$!
pids+=($device)
wait_for "simulated device on COM1" "$work/device.log" || fail "the device did not start"
ln -sfn /nonexistent/serial-device "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM2"
slave=$(readlink "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM1")
probe items 102 >"$work/main.items" || fail "no layout of the main dialog"

# start_program WHAT: the program; where its dialog's inside begins on the screen in $origin.
start_program() {
    # The window of a program that has just ended may stay on the output for a frame or two.
    for _ in $(seq 25); do
        probe locate 102 >/dev/null 2>&1 || break
        sleep 0.2
    done
    "$program" >"$work/program.log" 2>&1 &
    program_pid=$!
    pids+=($program_pid)
    origin=
    for _ in $(seq 50); do
        origin=$(probe locate 102 2>/dev/null) && break
        sleep 0.2
    done
    [ -n "$origin" ] || fail "$1: the dialog did not appear"
}
# at INDEX: the screen position of the centre of main dialog item INDEX.
at() {
    local x y
    read -r x y <<<"$origin"
    awk -v i="$1" -v x="$x" -v y="$y" '$1 == i { print x + int($3 + $5 / 2), y + int($4 + $6 / 2) }' \
        "$work/main.items"
}
# click INDEX [BUTTON [REPEAT]]
click() {
    # shellcheck disable=SC2046
    xdotool mousemove --sync $(at "$1") click --repeat "${3:-1}" "${2:-1}"
    sleep 0.3
}
# changed BEFORE AFTER: whether the screen changed by more than a pointer's worth of pixels.
changed() { [ "$(probe differs "$pictures/$1.png" "$pictures/$2.png")" -gt 1500 ]; }

# Main dialog items: 0 Open Port, 1 command, 3 "Response", 5 Clear, 6 list, 7 port,
# 9 Close Port.
read -r dialog_w dialog_h <<<"$(probe size 102)"
start_program "Wayland"
shot 1-started
# The title bar has Close and neither minimize nor maximize, which the template does not have:
# where they would be, left of Close, it is bare.
read -r ox oy <<<"$origin"
probe blank 0 $((ox + dialog_w - 70)) $((oy - 20)) 44 14 \
    || fail "the title bar shows more buttons than Close"
click 0
wait_for "port opened" "$work/device.log" || fail "Open Port did not open port 1"
click 1
xdotool type --delay 30 '*IDN?'
xdotool key Return
wait_for 'command: \*IDN?' "$work/device.log" || fail "Send sent nothing"
sleep 0.3
shot 2-reply
changed 1-started 2-reply || fail "no reply in the list"

# Enter twice while DELAY 2000 waits for its reply: it is sent once.
xdotool key ctrl+a
xdotool type --delay 30 'DELAY 2000'
xdotool key Return
wait_for "command: DELAY 2000" "$work/device.log" || fail "DELAY 2000 was not sent"
sleep 0.5
xdotool key Return Return
sleep 2.5
[ "$(grep -c "command: DELAY 2000" "$work/device.log")" -eq 1 ] \
    || fail "Enter pressed during the wait sent the command again"

# A ten-second STREAM: the pointer goes out of the window and back, and weston pings the
# program each time it comes back. Every ping is answered well within weston's second.
pings() { grep -c 'ev xdg_wm_base@[0-9]*\.ping' "$work/weston.log" || true; }
pings_before=$(pings)
xdotool key ctrl+a
xdotool type --delay 30 'STREAM'
xdotool key Return
wait_for "command: STREAM" "$work/device.log" || fail "STREAM was not sent"
read -r ox oy <<<"$origin"
outside="$((ox > 200 ? 60 : 960)) 700"
for i in 1 2 3 4 5; do
    # shellcheck disable=SC2086
    xdotool mousemove --sync $outside
    sleep 0.6
    # shellcheck disable=SC2046
    xdotool mousemove --sync $(at 6)
    sleep 0.6
    [ "$i" -eq 3 ] && shot 3-streaming
done
sleep 5
[ "$(pings)" -ge $((pings_before + 3)) ] || fail "weston pinged the program $(($(pings) - pings_before)) times during the STREAM"
awk '
    /\[proto\].*xdg_wm_base@[0-9]+\.p[io]ng\(/ {
        split(substr($0, 13, 12), t, ":")
        ms = (t[1] * 3600 + t[2] * 60 + t[3]) * 1000
        match($0, /\(([0-9]+)\)/)
        serial = substr($0, RSTART + 1, RLENGTH - 2)
        if ($0 ~ /ping\(/) sent[serial] = ms
        else if (serial in sent) { late = ms - sent[serial]; delete sent[serial]; if (late > worst) worst = late }
    }
    END {
        for (s in sent) { print "ping " s " never answered"; bad = 1 }
        if (worst > 500) { print "a ping answered after " worst " ms"; bad = 1 }
        exit bad
    }' "$work/weston.log" || fail "the program did not answer weston's pings in time"

# A port that names nothing: the balloon says why.
click 9
wait_for "port closed" "$work/device.log" || fail "Close Port did not close"
shot 4-before-balloon
click 7 1 2
xdotool type --delay 30 2
click 0
wait_for "cannot open COM2" "$work/program.log" || fail "no reason for the failed open"
sleep 0.3
shot 5-balloon
changed 4-before-balloon 5-balloon || fail "no balloon on the screen"

# The list's menu (a right click; it also takes the balloon away); Escape closes the menu only.
click 6 3
shot 6-list-menu
changed 5-balloon 6-list-menu || fail "no menu on the list"
xdotool key Escape
sleep 0.3
kill -0 "$program_pid" 2>/dev/null || fail "Escape in the list's menu ended the program"
shot 7-menu-closed

# The window menu: Move is greyed, since a compositor moves a window only by its title bar.
click 3 3
shot 8-window-menu
changed 7-menu-closed 8-window-menu || fail "no window menu"
xdotool key Escape
sleep 0.3

# Dragged by its title bar to the right edge of weston's output, then to its bottom edge, the
# dialog shows a failed open's balloon within itself: whole on the output, its border drawn all
# round, its tail's tip at Open Port.
click 5 # Clear: an empty list, by which the dialog is found
# drag_to X Y: the dialog's inside moved to begin at X Y, by a drag of its title bar.
drag_to() {
    local ox oy gx gy
    read -r ox oy <<<"$origin"
    gx=$((ox + dialog_w / 3))
    gy=$((oy - 12))
    xdotool mousemove --sync "$gx" "$gy" mousedown 1
    sleep 0.2
    xdotool mousemove --sync $((gx + ($1 - ox) / 2)) $((gy + ($2 - oy) / 2))
    sleep 0.2
    xdotool mousemove --sync $((gx + $1 - ox)) $((gy + $2 - oy))
    sleep 0.2
    xdotool mouseup 1
    sleep 0.5
    origin=
    for _ in $(seq 20); do
        origin=$(probe locate 102 2>/dev/null) && break
        sleep 0.2
    done
    [ -n "$origin" ] || fail "dragged to $1 $2: the dialog is not found"
}
# balloon_whole NAME: a failed open, its picture NAME, and the balloon in it.
balloon_whole() {
    local failures found left top right bottom tx ty ox oy bx by bw bh dx dy
    failures=$(grep -c "cannot open COM2" "$work/program.log")
    click 0
    wait_for "cannot open COM2" "$work/program.log" $((failures + 1)) || fail "$1: Open Port did not fail"
    sleep 0.3
    shot "$1"
    found=$(probe balloon "$pictures/$1.png") || fail "$1: no balloon on the screen"
    read -r left top right bottom tx ty <<<"$found"
    read -r ox oy <<<"$origin"
    [ "$left" -ge 1 ] && [ "$top" -ge 1 ] && [ "$right" -le 1022 ] && [ "$bottom" -le 766 ] \
        || fail "$1: the balloon ($left,$top)-($right,$bottom) is cut off at the output's edge"
    [ "$left" -ge "$ox" ] && [ "$top" -ge "$oy" ] && [ "$right" -lt $((ox + dialog_w)) ] \
        && [ "$bottom" -lt $((oy + dialog_h)) ] \
        || fail "$1: the balloon ($left,$top)-($right,$bottom) leaves the dialog at $ox,$oy"
    read -r _ _ bx by bw bh < <(awk '$1 == 0' "$work/main.items")
    bx=$((ox + bx))
    by=$((oy + by))
    dx=$((tx < bx ? bx - tx : tx >= bx + bw ? tx - bx - bw + 1 : 0))
    dy=$((ty < by ? by - ty : ty >= by + bh ? ty - by - bh + 1 : 0))
    [ "$dx" -le 3 ] && [ "$dy" -le 3 ] \
        || fail "$1: the tail's tip at $tx,$ty is not at Open Port ($bx,$by, ${bw}x$bh)"
    xdotool key Escape
    sleep 0.3
}
drag_to $((1024 - 4 - dialog_w)) "$(cut -d' ' -f2 <<<"$origin")"
[ "$(cut -d' ' -f1 <<<"$origin")" -ge $((1024 - 12 - dialog_w)) ] || fail "the dialog did not reach the right edge: $origin"
balloon_whole 9-balloon-right-edge
drag_to "$(cut -d' ' -f1 <<<"$origin")" $((768 - 4 - dialog_h))
[ "$(cut -d' ' -f2 <<<"$origin")" -ge $((768 - 12 - dialog_h)) ] || fail "the dialog did not reach the bottom edge: $origin"
balloon_whole 10-balloon-bottom-edge
kill -0 "$program_pid" 2>/dev/null || fail "the balloon's Escape ended the program"

# With no balloon showing, Escape closes the window and ends the program.
xdotool key Escape
expect_clean_exit "$program_pid" "Escape: "

# The title bar of its own: a right click opens the window menu, Escape closes it, Close ends
# the program.
start_program "title bar"
read -r ox oy <<<"$origin"
shot 11-before-title-menu
xdotool mousemove --sync $((ox + dialog_w / 3)) $((oy - 12)) click 3
sleep 0.3
shot 12-title-menu
changed 11-before-title-menu 12-title-menu || fail "no window menu from the title bar"
xdotool key Escape
for _ in $(seq 25); do
    shot 13-title-menu-closed
    changed 11-before-title-menu 13-title-menu-closed || break
    sleep 0.2
done
changed 11-before-title-menu 13-title-menu-closed && fail "Escape left the window menu open"
kill -0 "$program_pid" 2>/dev/null || fail "Escape in the window menu ended the program"
xdotool mousemove --sync $((ox + dialog_w - 13)) $((oy - 13)) click 1
expect_clean_exit "$program_pid" "Close in the title bar: "

# The compositor killed while a port is open: Qt's Wayland plugin ends the program with
# _exit(), and the port is put back all the same, its settings and its exclusivity as found.
before=$(stty -g -F "$slave")
start_program "compositor killed"
click 0
wait_for "port opened" "$work/device.log" 2 || fail "compositor killed: the port did not open"
[ "$(stty -g -F "$slave")" != "$before" ] || fail "compositor killed: the open changed no setting"
[ "$("$probe" exclusive "$slave")" = 1 ] || fail "compositor killed: the port is not held exclusively"
kill -KILL "$weston_pid"
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program_pid" 2>/dev/null && fail "compositor killed: the program did not end"
grep -q "Wayland connection broke" "$work/program.log" \
    || fail "compositor killed: the program ended otherwise: $(cat "$work/program.log")"
for _ in $(seq 50); do
    [ "$(stty -g -F "$slave")" = "$before" ] && [ "$("$probe" exclusive "$slave")" = 0 ] && break
    sleep 0.1
done
[ "$(stty -g -F "$slave")" = "$before" ] || fail "compositor killed: the line's settings were not put back"
[ "$("$probe" exclusive "$slave")" = 0 ] || fail "compositor killed: the line was left exclusive"

kill -TERM "$device"
wait "$device" || fail "the device did not stop cleanly"
echo "e2e Wayland: passed (pictures in $pictures)"
