# Sourced by the end-to-end scripts: the tools check, a work folder and background processes
# that go away on every way out, waiting for a pattern, and a private Xvfb display.

# need TOOL...: exits 77 (skipped) when one of them is missing.
need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
}

# No session bus: where dbus-x11 is installed, a program would otherwise start one of its own
# that outlives it (and keeps strace waiting). A test that needs a bus starts a private one.
export DBUS_SESSION_BUS_ADDRESS=disabled:

work=$(mktemp -d)
pids=()
# The programs under test reach no session bus but one a test starts itself: a bus that D-Bus
# would start on its own for the display (dbus-launch) outlives the program that asked for it,
# and keeps a tracer of that program waiting.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# fail WHY: ends the test, showing what the device and the program wrote (a script may define
# its own after sourcing this).
fail() {
    echo "FAIL: $*"
    echo "--- device output:"; cat "$work/device.log" || true
    echo "--- program output:"; cat "$work/program.log" || true
    exit 1
}

# expect_clean_exit PID WHAT [STATUS]: waits up to 10 s for the program to end, with STATUS
# (default 0).
expect_clean_exit() {
    local pid=$1 what=$2 expected=${3:-0} status=0
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "${what}the program did not end"
    wait "$pid" || status=$?
    [ "$status" -eq "$expected" ] || fail "${what}the program ended with status $status, not $expected"
}

# wait_for PATTERN FILE [COUNT]: waits up to 10 s for PATTERN to occur COUNT times (default 1).
wait_for() {
    local pattern=$1 file=$2 count=${3:-1}
    for _ in $(seq 100); do
        [ "$(grep -c -- "$pattern" "$file" 2>/dev/null)" -ge "$count" ] && return 0
        sleep 0.1
    done
    return 1
}

# start_xvfb: a display of our own, chosen by Xvfb among the free ones; exported as DISPLAY once
# it accepts connections. Returns 1 when it did not start.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for "[0-9]" "$work/display" || return 1
    DISPLAY=:$(tr -d '[:space:]' <"$work/display")
    export DISPLAY
}

# start_weston: a Wayland compositor (weston) nested in the Xvfb display and covering it, so that
# xdotool's pointer and keys reach its clients; with a runtime folder of its own, no on-screen
# keyboard (it would take the keys) and no panel. Its log ($work/weston.log) holds the protocol
# it speaks with its clients. Exports XDG_RUNTIME_DIR and WAYLAND_DISPLAY once clients can
# connect, and its pid as weston_pid. Returns 1 when it did not start.
start_weston() {
    export XDG_RUNTIME_DIR=$work/runtime
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
    printf '[input-method]\npath=\n[shell]\npanel-position=none\n' >"$work/weston.ini"
    weston --config="$work/weston.ini" --backend=x11-backend.so --use-pixman \
        --socket=wayland-test --idle-time=0 --width=1024 --height=768 --logger-scopes=log,proto \
        >"$work/weston.log" 2>&1 &
    weston_pid=$!
    pids+=($weston_pid)
    for _ in $(seq 100); do
        [ -S "$XDG_RUNTIME_DIR/wayland-test" ] && break
        sleep 0.1
    done
    [ -S "$XDG_RUNTIME_DIR/wayland-test" ] || return 1
    export WAYLAND_DISPLAY=wayland-test
    # Weston follows the X pointer's moves, not where it is: from two opposite corners on, where
    # both stop, the two agree.
    sleep 0.5
    xdotool mousemove --sync 1023 767 mousemove --sync 0 0
}

# Template items as `dialog_probe items ID` lists them: index, id, x, y, width, height in the
# window's pixels.
# centre <items file> <index>: "x y" of the item's centre.
centre() { awk -v i="$2" '$1 == i { print int($3 + $5 / 2), int($4 + $6 / 2) }' "$1"; }
# click <window> <items file> <index> [button [repeat]]: the real pointer at the item's centre.
click() {
    # shellcheck disable=SC2046
    xdotool mousemove --sync --window "$1" $(centre "$2" "$3") click --repeat "${5:-1}" "${4:-1}"
    sleep 0.2
}
# blank <window> <items file> <index>: whether the inside of the item (3 pixels in from its
# edges) is one colour; $probe is the dialog probe.
blank() {
    local x y w h
    read -r x y w h < <(awk -v i="$3" '$1 == i { print $3 + 3, $4 + 3, $5 - 6, $6 - 6 }' "$2")
    "$probe" blank "$1" "$x" "$y" "$w" "$h" 2>/dev/null
}

# start_ser2net SER2NET DEVICE: ser2net's RFC 2217 port on 127.0.0.1 (a free port, in
# $ser2net_port) in front of DEVICE at 19200 8N1, as the README's configuration has it; its pid
# is ser2net_pid. Its listener, not its exit status, says it serves (a bind failure is only
# logged): returns 1 when it does not listen.
start_ser2net() {
    ser2net_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$work/ser2net.yaml" <<END
connection: &com1
  accepter: telnet(rfc2217),tcp,127.0.0.1,$ser2net_port
  connector: serialdev,$2,19200n81,local
  options:
    chardelay: false
    kickolduser: true
END
    "$1" -u -d -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
    ser2net_pid=$!
    pids+=($ser2net_pid)
    local listener
    listener=":$(printf '%04X' "$ser2net_port") 00000000:0000 0A"
    for _ in $(seq 100); do
        grep -qi "$listener" /proc/net/tcp && return 0
        sleep 0.05
    done
    return 1
}
