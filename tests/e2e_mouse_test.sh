#!/usr/bin/env bash
# End to end with the real pointer: the program under Xvfb, talking to the simulated device,
# driven by mouse clicks at the screen positions where its templates put the controls; once
# without a window manager and once under openbox. Also the case of a display that is set
# but cannot be reached. Exits 77 (skipped) when a tool it needs is missing.
# Usage: e2e_mouse_test.sh <MorvikSerialDemo> <morvik-simdevice> <dialog_probe>
set -euo pipefail
program=$1
simdevice=$2
probe=$3
source "$(dirname "$0")/xvfb_lib.sh"
need Xvfb xdotool openbox xprop xwininfo xclip

start_xvfb || fail "Xvfb did not start"
number=${DISPLAY#:}
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XDG_SESSION_TYPE

# A display that is set but has no server: one line naming it, status 2.
free=$((number + 1))
while [ -e "/tmp/.X11-unix/X$free" ] || [ -e "/tmp/.X$free-lock" ]; do free=$((free + 1)); done
status=0
DISPLAY=:$free "$program" >"$work/nodisplay.out" 2>"$work/nodisplay.err" || status=$?
[ "$status" -eq 2 ] || fail "unreachable display: status $status, not 2"
[ "$(wc -l <"$work/nodisplay.err")" -eq 1 ] || fail "unreachable display: $(cat "$work/nodisplay.err")"
grep -q "DISPLAY=:$free" "$work/nodisplay.err" || fail "the line does not name :$free"

# Where each template item lies in its window, in this display's pixels.
"$probe" items 102 >"$work/main.items" || fail "no layout of the main dialog"
"$probe" items 100 >"$work/about.items" || fail "no layout of the About box"
# The program's visible windows other than $1 (its popup menus).
popups() {
    xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | grep -v -x "$1" || true
}
wait_popup() {
    for _ in $(seq 50); do
        menu=$(popups "$1" | head -n1)
        [ -n "$menu" ] && return 0
        sleep 0.1
    done
    return 1
}
# Waits up to 5 s for an item to become blank ($1 = yes) or not ($1 = no).
wait_blank() {
    local want=$1
    shift
    for _ in $(seq 25); do
        if blank "$@"; then [ "$want" = yes ] && return 0; else [ "$want" = no ] && return 0; fi
        sleep 0.2
    done
    return 1
}

# Main dialog items: 0 Open Port, 1 command, 3 "Response", 4 Send, 5 Clear, 6 list, 7 port,
# 9 Close Port. About box: 3 OK.
# no_min_max WINDOW WHAT: neither minimize nor maximize offered, as the templates have no such
# boxes: the window's Motif hints name them neither among the functions (8, 16) nor among the
# decorations (32, 64); a window manager that says what it allows allows no maximize (openbox
# keeps its minimize button whatever the hints say).
no_min_max() {
    local hints functions decorations
    hints=$(xprop -id "$1" _MOTIF_WM_HINTS)
    read -r _ functions decorations _ < <(sed 's/^[^=]*= //; s/,//g' <<<"$hints")
    [[ $functions == 0x* && $decorations == 0x* ]] || fail "$2: no Motif hints: $hints"
    [ $((functions & 0x18)) -eq 0 ] && [ $((decorations & 0x60)) -eq 0 ] \
        || fail "$2: the window offers minimize or maximize: $hints"
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
        hints=$(xprop -id "$1" _NET_WM_ALLOWED_ACTIONS)
        if grep -q MAXIMIZE <<<"$hints"; then fail "$2: the window manager allows $hints"; fi
    fi
}
scenario() {
    local label=$1
    : >"$work/device.log"
    "$simdevice" --port 2 >"$work/device.log" 2>&1 &
    local device=$!
    pids+=($device)
    wait_for "simulated device on COM2" "$work/device.log" || fail "$label: the device did not start"

    # Qt's own options must change nothing: a title, a mirrored layout, another geometry.
    "$program" -qwindowtitle Wrong -reverse -qwindowgeometry 120x80+600+500 \
        >"$work/program.log" 2>&1 &
    program_pid=$!
    pids+=($program_pid)
    local window
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvik Serial Demo$' | head -n1)
    [ -n "$window" ] || fail "$label: no dialog window"
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    no_min_max "$window" "$label: the dialog"

    # Port 2 into the port field: a double click selects the 1 there, typing replaces it.
    click "$window" "$work/main.items" 7 1 2
    xdotool type --delay 30 2
    click "$window" "$work/main.items" 0
    wait_for "port opened" "$work/device.log" || fail "$label: Open Port did not open port 2"

    click "$window" "$work/main.items" 1
    xdotool type --delay 30 '*IDN?'
    blank "$window" "$work/main.items" 6 || fail "$label: the list is not empty at the start"
    click "$window" "$work/main.items" 4
    wait_for 'command: \*IDN?' "$work/device.log" || fail "$label: Send sent nothing"
    wait_blank no "$window" "$work/main.items" 6 || fail "$label: no reply in the list"

    click "$window" "$work/main.items" 9
    wait_for "port closed" "$work/device.log" || fail "$label: Close Port did not close"
    click "$window" "$work/main.items" 0
    wait_for "port opened" "$work/device.log" 2 || fail "$label: Open Port did not open again"
    click "$window" "$work/main.items" 5
    wait_blank yes "$window" "$work/main.items" 6 || fail "$label: Clear left lines in the list"

    # A right click on a button opens nothing; on the background (through the "Response"
    # text) the window menu, whose last entry is the About box.
    click "$window" "$work/main.items" 4 3
    sleep 0.3
    [ -z "$(popups "$window")" ] || fail "$label: a right click on Send opened a menu"
    click "$window" "$work/main.items" 3 3
    wait_popup "$window" || fail "$label: no window menu from the background"
    local height
    height=$(xdotool getwindowgeometry --shell "$menu" | sed -n 's/^HEIGHT=//p')
    xdotool mousemove --sync --window "$menu" 20 $((height - 8)) click 1
    local about
    about=$(timeout 10 xdotool search --sync --onlyvisible --name '^About Morvik Serial Demo$' \
        | head -n1)
    [ -n "$about" ] || fail "$label: the About box did not open"
    no_min_max "$about" "$label: the About box"
    click "$about" "$work/about.items" 3
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^About Morvik Serial Demo$' >/dev/null || break
        sleep 0.1
    done
    ! xdotool search --onlyvisible --name '^About Morvik Serial Demo$' >/dev/null \
        || fail "$label: OK did not close the About box"

    # Move in the window menu: a window manager carries it out (the window follows the pointer
    # until a click); without one nothing can move a window, and Move is greyed.
    if [ "$label" = openbox ]; then
        click "$window" "$work/main.items" 3 3
        wait_popup "$window" || fail "$label: no window menu for Move"
        local before after
        before=$(xdotool getwindowgeometry "$window" | sed -n 's/^ *Position: *//p')
        xdotool mousemove --sync --window "$menu" 20 10 click 1
        sleep 0.5
        xdotool mousemove_relative --sync 40 30
        sleep 0.3
        xdotool click 1
        sleep 0.3
        after=$(xdotool getwindowgeometry "$window" | sed -n 's/^ *Position: *//p')
        [ "$before" != "$after" ] || fail "$label: Move did not move the window ($before)"
    fi

    # The keyboard is back with the dialog (without a window manager too), wherever the
    # pointer is: the Menu key on the focused button (Send, right-clicked above) opens the
    # window menu; Escape closes it.
    xdotool mousemove --sync 1020 760
    xdotool key Menu
    wait_popup "$window" || fail "$label: the Menu key opened no window menu"
    xdotool key Escape
    sleep 0.3

    # Alt+F4, as the window menu says, ends the program, which closes the port.
    xdotool key alt+F4
    expect_clean_exit "$program_pid" "$label: "
    wait_for "port closed" "$work/device.log" 2 || fail "$label: the port stayed open"
    kill -TERM "$device"
    wait "$device" || fail "$label: the device did not stop cleanly"
    echo "e2e mouse ($label): passed"
}

# The wide line of an item's inside, as in blank().
wide() {
    local x y w h
    read -r x y w h < <(awk -v i="$3" '$1 == i { print $3 + 3, $4 + 3, $5 - 6, $6 - 6 }' "$2")
    "$probe" wide "$1" "$x" "$y" "$w" "$h" 2>/dev/null
}
# start_program LABEL: the program, its window in $window, the keyboard with it.
start_program() {
    "$program" >"$work/program.log" 2>&1 &
    program_pid=$!
    pids+=($program_pid)
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$program_pid" \
        --name '^Morvik Serial Demo$' | head -n1)
    [ -n "$window" ] || fail "$1: no dialog window"
    xdotool windowfocus --sync "$window" 2>/dev/null || true
}

# A person at the keyboard, without a window manager: Enter sends and the program stays, the
# list follows the newest reply, Up recalls a command (after a restart too), a failed open
# says why in a balloon, Ctrl+C copies a reply.
keyboard() {
    local label="keyboard" count
    : >"$work/device.log"
    "$simdevice" --port 1 >"$work/device.log" 2>&1 &
    local device=$!
    pids+=($device)
    wait_for "simulated device on COM1" "$work/device.log" || fail "$label: the device did not start"
    ln -sfn /nonexistent/serial-device "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM2"

    start_program "$label"
    # The focus starts on "Open Port": Enter opens port 1 and the focus goes on to the field.
    xdotool key Return
    wait_for "port opened" "$work/device.log" || fail "$label: Enter did not open port 1"
    xdotool type --delay 20 '*IDN?'
    xdotool key Return
    wait_for 'command: \*IDN?' "$work/device.log" || fail "$label: Enter in the field sent nothing"
    wait_blank no "$window" "$work/main.items" 6 || fail "$label: no reply in the list"
    kill -0 "$program_pid" 2>/dev/null || fail "$label: Enter ended the program"

    # Thirty more; the last reply, wider than the list, shows at its bottom without scrolling.
    # Each is typed once the reply before it is in: keys that come while one waits are dropped.
    for i in $(seq 1 29); do
        xdotool key ctrl+a
        xdotool type --delay 5 "ECHO reply $i"
        xdotool key Return
        wait_for "command: ECHO reply $i\$" "$work/device.log" || fail "$label: command $i was not sent"
        sleep 0.3
    done
    xdotool key ctrl+a
    xdotool type --delay 5 "ECHO $(printf 'W%.0s' $(seq 60))"
    xdotool key Return
    wait_for "command: ECHO WWWW" "$work/device.log" || fail "$label: the thirtieth command was not sent"
    for _ in $(seq 25); do wide "$window" "$work/main.items" 6 && break; sleep 0.2; done
    wide "$window" "$work/main.items" 6 || fail "$label: the newest reply is not in view"

    # Up recalls the command before the one in the field; Enter sends it again.
    xdotool key Up Return
    wait_for "command: ECHO reply 29" "$work/device.log" 2 || fail "$label: Up + Enter did not send it again"
    xdotool key alt+F4
    expect_clean_exit "$program_pid" "$label: "

    # After a restart: port 2 names nothing, and "Open Port" says why at once.
    start_program "$label, restarted"
    click "$window" "$work/main.items" 7 1 2
    xdotool type --delay 20 2
    local start=$SECONDS
    xdotool key Return
    timeout 3 xdotool search --sync --onlyvisible --pid "$program_pid" --name '^cannot open COM2' \
        >/dev/null || fail "$label: no balloon within three seconds of the failed open (a sanitizer build on a busy machine is slow)"
    # Back to port 1; Up in the command field recalls the last command of the first run.
    click "$window" "$work/main.items" 7 1 2
    xdotool type --delay 20 1
    xdotool key Return
    wait_for "port opened" "$work/device.log" 2 || fail "$label: port 1 did not open again"
    click "$window" "$work/main.items" 1
    xdotool key Up Return
    wait_for "command: ECHO reply 29" "$work/device.log" 3 || fail "$label: after a restart Up did not recall the command"
    wait_blank no "$window" "$work/main.items" 6 || fail "$label: no reply in the list"

    # Ctrl+C on the selected reply puts it on the clipboard.
    local x y
    read -r x y < <(awk '$1 == 6 { print $3 + 10, $4 + 6 }' "$work/main.items")
    xdotool mousemove --sync --window "$window" "$x" "$y" click 1
    xdotool key ctrl+c
    sleep 0.3
    [ "$(timeout 5 xclip -o -selection clipboard)" = "reply 29" ] \
        || fail "$label: the clipboard holds '$(timeout 5 xclip -o -selection clipboard)'"
    xdotool key alt+F4
    expect_clean_exit "$program_pid" "$label: "
    kill -TERM "$device"
    wait "$device" || fail "$label: the device did not stop cleanly"
    rm -f "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM2"
    echo "e2e keyboard acceptance: passed"
}

# The device killed mid-session (its pseudo-terminal hangs up): the next Send lists
# "Serial Error", says why in a balloon at the button and shows the port closed; once the device
# is back, one click on "Open Port" opens it again.
vanished() {
    local label="vanished device" device
    : >"$work/device.log"
    "$simdevice" --port 1 >"$work/device.log" 2>&1 &
    device=$!
    pids+=($device)
    wait_for "simulated device on COM1" "$work/device.log" || fail "$label: the device did not start"
    start_program "$label"
    click "$window" "$work/main.items" 0
    wait_for "port opened" "$work/device.log" || fail "$label: Open Port did not open port 1"
    click "$window" "$work/main.items" 1
    xdotool type --delay 20 'ECHO still there'
    click "$window" "$work/main.items" 4
    wait_for "command: ECHO still there" "$work/device.log" || fail "$label: Send sent nothing"
    sleep 0.3 # the reply is in: a click while Send waits would be dropped

    # Killed (SIGTERM: it takes its link with it, so that a new one cannot be mistaken for a
    # pseudo-terminal whose number somebody else got meanwhile).
    kill -TERM "$device"
    wait "$device" || fail "$label: the device did not stop cleanly"
    click "$window" "$work/main.items" 4
    timeout 5 xdotool search --sync --onlyvisible --pid "$program_pid" \
        --name '^COM1: the device went away: /dev/pts/' >/dev/null \
        || fail "$label: no balloon at Send"
    grep -q "COM1: the device went away: /dev/pts/" "$work/program.log" \
        || fail "$label: nothing on standard error"

    : >"$work/device.log"
    "$simdevice" --port 1 >"$work/device.log" 2>&1 &
    device=$!
    pids+=($device)
    wait_for "simulated device on COM1" "$work/device.log" || fail "$label: the device did not come back"
    click "$window" "$work/main.items" 0
    wait_for "port opened" "$work/device.log" || fail "$label: one click did not open port 1 again"
    click "$window" "$work/main.items" 4
    wait_for "command: ECHO still there" "$work/device.log" || fail "$label: no Send after reopening"
    xdotool key alt+F4
    expect_clean_exit "$program_pid" "$label: "
    kill -TERM "$device"
    wait "$device" || fail "$label: the device did not stop cleanly"
    echo "e2e vanished device: passed"
}

keyboard
vanished
scenario "no window manager"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || fail "openbox did not start"
scenario "openbox"

# At scale 2 under the window manager: the frame, title bar included, is on the screen, and
# the window icon carries the sizes a scaled screen asks for.
QT_SCALE_FACTOR=2 "$program" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvik Serial Demo$' | head -n1)
[ -n "$window" ] || fail "scale 2: no dialog window"
# (xprop's output is read whole: grep -q stopping early would fail the pipe.)
for _ in $(seq 50); do
    extents=$(xprop -id "$window" _NET_FRAME_EXTENTS)
    [[ $extents == *=* ]] && break
    sleep 0.1
done
top=$(sed -n 's/.*= *[0-9]*, *[0-9]*, *\([0-9]*\),.*/\1/p' <<<"$extents")
y=$(xwininfo -id "$window" | sed -n 's/^ *Absolute upper-left Y: *//p') # the client's
[ -n "$top" ] && [ -n "$y" ] || fail "scale 2: no frame extents or position"
[ $((y - top)) -ge 0 ] || fail "scale 2: the title bar is above the screen (client at $y, title bar $top high)"
icons=$(xprop -id "$window" _NET_WM_ICON)
grep -q 'Icon (64 x 64)' <<<"$icons" || fail "scale 2: no 64-pixel window icon"
xdotool key alt+F4
expect_clean_exit "$program_pid" "scale 2: "
echo "e2e mouse (scale 2): passed"
