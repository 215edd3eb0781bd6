#!/usr/bin/env bash
# The command-line programs as a user runs them: the README's "From scripts" examples against
# the simulated device, every byte value through --json and back out of jq, morvik-ports --check
# under strace opening no device, every program with a standard descriptor closed, a socat pair,
# and the bash completions. Exits 77 (skipped) when a tool it needs is missing.
# Usage: cli_test.sh <build folder> <source folder>
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
source "$(dirname "$0")/xvfb_lib.sh"
need jq strace socat
export PATH=$build:$PATH
export XDG_CONFIG_HOME=$work/config
touch "$work/program.log"

morvik-simdevice --port 1 >"$work/device.log" 2>&1 &
pids+=($!)
wait_for "simulated device on COM1" "$work/device.log" || fail "the device did not start"

# The README's examples: each "    $ command" line, then the lines of output it shows.
examples=0
command=
expected=
run_example() {
    [ -n "$command" ] || return 0
    local actual
    actual=$(cd "$work" && bash -c "$command" 2>&1) || true
    [ "$actual" = "$expected" ] ||
        fail "README example: $command"$'\n'"shows:"$'\n'"$expected"$'\n'"prints:"$'\n'"$actual"
    examples=$((examples + 1))
    command=
    expected=
}
while IFS= read -r line; do
    if [[ $line == '    $ '* ]]; then
        run_example
        command=${line#'    $ '}
    elif [[ $line == '    '* && -n $command ]]; then
        expected+=${expected:+$'\n'}${line#'    '}
    else
        run_example
    fi
done < <(awk '/^## From scripts/ { on = 1; next } /^## / { on = 0 } on' "$source_dir/README.md")
run_example
[ "$examples" -eq 5 ] || fail "the README shows $examples examples from scripts, not 5"

# The exit statuses: an empty reply, and a port with nothing there (the reason on one line).
out=$(morvik-send --port 1 SILENT) && status=0 || status=$?
[ "$out" = "Serial Error" ] && [ "$status" -eq 1 ] ||
    fail "an empty reply printed '$out' with status $status"
status=0
morvik-send --port 3 '*IDN?' >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 3 ] && [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" -eq 1 ] &&
    grep -q '^morvik-send: cannot open COM3: no such device' "$work/err" ||
    fail "a port with nothing there: status $status, $(cat "$work/err")"

# The device killed while the program waits for its next command: the reply under way is listed,
# its going is said once, nothing more is sent, and the status is 4.
morvik-simdevice --port 2 >"$work/device2.log" 2>&1 &
device2=$!
pids+=($device2)
wait_for "simulated device on COM2" "$work/device2.log" || fail "the second device did not start"
mkfifo "$work/commands"
morvik-send --port 2 <"$work/commands" >"$work/session.out" 2>"$work/session.err" &
send=$!
pids+=($send)
exec 3>"$work/commands"
echo 'ECHO before' >&3
wait_for "^before\$" "$work/session.out" || fail "no reply before the device was killed"
kill -KILL "$device2"
echo 'ECHO after' >&3
echo 'ECHO again' >&3
exec 3>&-
status=0
wait "$send" || status=$?
[ "$status" -eq 4 ] && [ "$(cat "$work/session.out")" = $'before\nSerial Error' ] &&
    [ "$(wc -l <"$work/session.err")" -eq 1 ] &&
    grep -q '^morvik-send: COM2: the device went away: /dev/pts/[0-9]*$' "$work/session.err" &&
    [ "$(grep -c '^command: ECHO' "$work/device2.log")" -eq 1 ] ||
    fail "the device killed: status $status, out: $(cat "$work/session.out"), err: $(cat "$work/session.err")"

# Every byte value but 0x00 and the carriage return, echoed by the device: jq has them back
# from the reply, and the carriage return after them.
bytes=
wanted=
for b in $(seq 1 255); do
    [ "$b" -eq 13 ] && continue
    printf -v hex %02x "$b"
    printf -v byte %b "\\x$hex"
    bytes+=$byte
    wanted+="$b "
done
got=$(morvik-send --port 1 --json "ECHO $bytes" | jq -r '.reply | explode | map(tostring) | join(" ")')
[ "$got" = "${wanted}13" ] || fail "the bytes through --json and jq came back as: $got"

# A closed standard descriptor gets /dev/null in each program, so that the line never becomes one
# of them: commands are not read from the device, replies and logs not written into it.
# closed FD COMMAND...: starts COMMAND with descriptor FD closed, the others to files; sets pid.
closed() {
    local fd=$1
    shift
    case $fd in
    0) "$@" <&- >"$work/closed.out" 2>"$work/closed.err" & ;;
    1) "$@" >&- 2>"$work/closed.err" & ;;
    2) "$@" >"$work/closed.out" 2>&- & ;;
    esac
    pid=$!
    pids+=("$pid")
}
# null_at PID FD: the descriptor is /dev/null, looked at while the program runs.
null_at() {
    for _ in $(seq 50); do
        [ "$(readlink "/proc/$1/fd/$2")" = /dev/null ] && return 0
        sleep 0.1
    done
    return 1
}
commands_sent() { grep -c "^command: " "$work/device.log" || true; }
for fd in 0 1 2; do
    closed "$fd" morvik-simdevice --port 5
    for _ in $(seq 50); do [ -L "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM5" ] && break; sleep 0.1; done
    null_at "$pid" "$fd" || fail "morvik-simdevice with $fd closed: it is $(readlink "/proc/$pid/fd/$fd")"
    got=$(morvik-send --device "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM5" '*IDN?' 2>&1) || true
    [ "$got" = "MORVIK,SIM-1,0001,1.0" ] || fail "morvik-simdevice with $fd closed answered: $got"
    kill "$pid"
    wait "$pid" || fail "morvik-simdevice with $fd closed did not end cleanly"

    closed "$fd" env QT_QPA_PLATFORM=offscreen "$build/MorvikSerialDemo"
    null_at "$pid" "$fd" || fail "MorvikSerialDemo with $fd closed: it is $(readlink "/proc/$pid/fd/$fd")"
    kill "$pid"
    wait "$pid" || true

    status=0
    if [ "$fd" -eq 1 ]; then
        # Replies with nowhere to go are not asked for.
        before=$(commands_sent)
        morvik-send --port 1 'ECHO unseen' >&- 2>"$work/closed.err" || status=$?
        [ "$status" -eq 1 ] && [ "$(cat "$work/closed.err")" = "morvik-send: cannot write the output" ] &&
            [ "$(commands_sent)" -eq "$before" ] ||
            fail "morvik-send with 1 closed: status $status, $(cat "$work/closed.err")"
        morvik-ports --check 1 >&- 2>/dev/null && fail "morvik-ports with 1 closed succeeded"
        continue
    fi
    closed "$fd" morvik-send --port 1 'DELAY 500'
    null_at "$pid" "$fd" || fail "morvik-send with $fd closed: it is $(readlink "/proc/$pid/fd/$fd")"
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] && [ "$(cat "$work/closed.out")" = DONE ] ||
        fail "morvik-send with $fd closed: status $status, $(cat "$work/closed.out")"
    closed "$fd" morvik-ports --check 1
    wait "$pid" && grep -q "^COM1 " "$work/closed.out" || fail "morvik-ports with $fd closed failed"
done
# No command on the command line and standard input closed: nothing to send.
before=$(commands_sent)
out=$(morvik-send --port 1 <&-) && [ -z "$out" ] && [ "$(commands_sent)" -eq "$before" ] ||
    fail "morvik-send with standard input closed sent or printed: $out"

# A pseudo-terminal pair that socat made, and holds both sides of, is a line like any other.
socat pty,raw,echo=0,link="$work/pair-a" pty,raw,echo=0,link="$work/pair-b" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -L "$work/pair-b" ] && break; sleep 0.1; done
morvik-ports --assign 4 "$work/pair-a" >/dev/null
morvik-ports --check 4 | grep -Eqx "      (ok|no other holder visible to this user: .*)" || fail "--check of socat's pair: $(morvik-ports --check 4)"
# The other end answers once the five bytes of PING and its carriage return have come.
timeout 5 bash -c '[ "$(head -c 5 "$1" | od -An -c | tr -d " ")" = "PING\\r" ] &&
    printf "PONG\r" >"$1"' _ "$work/pair-b" &
got=$(morvik-send --port 4 PING) || fail "morvik-send on socat's pair: $got"
[ "$got" = PONG ] || fail "socat's pair answered: $got"

# --check reads what it needs and opens no device: not the device's line, not the terminal, not
# the kernel log. Once with links to such devices, once with none, as on a fresh machine, where
# a serial console is named as skipped. (A sanitizer build's leak check cannot run under ptrace.)
check=$work/check/MorvikSerialDemo/ports
mkdir -p "$check" "$work/none"
ln -s "$(readlink "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM1")" "$check/COM1"
ln -s /dev/tty "$check/COM2"
ln -s /dev/kmsg "$check/COM3"
for config in "$work/check" "$work/none"; do
    XDG_CONFIG_HOME=$config ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        strace -f -qq -e trace=open,openat -o "$work/strace.log" morvik-ports --check >"$work/check.log" ||
        fail "morvik-ports --check failed: $(cat "$work/check.log")"
    grep -q '"/proc/' "$work/strace.log" || fail "strace saw no file opened at all"
    if grep -E '"/dev/(tty|pts/|kmsg|ptmx|console)' "$work/strace.log"; then
        fail "morvik-ports --check opened a device"
    fi
done
for console in $(cat /sys/class/tty/console/active 2>/dev/null); do
    [[ $console == ttyS* ]] || continue
    grep -q "^COM[1-8]  /dev/$console  console, skipped\$" "$work/check.log" ||
        fail "--check does not name the console $console as skipped: $(cat "$work/check.log")"
done
XDG_CONFIG_HOME=$work/check morvik-ports --check >"$work/check.log"
grep -Fxq "COM1  $(readlink "$check/COM1")  link $check/COM1" "$work/check.log" &&
    grep -Fxq "      not serial: /dev/tty: not a serial device" "$work/check.log" &&
    grep -Fxq "      not serial: /dev/kmsg: not a serial device" "$work/check.log" ||
    fail "--check said: $(cat "$work/check.log")"

# A port on another machine: the simulated device behind ser2net (unpacked into the build
# folder, never installed), assigned by URL, reached by port and by --device, checked; the
# server ended mid-session is the device gone (status 4).
ser2net=$build/ser2net/usr/sbin/ser2net
if [ -x "$ser2net" ]; then
    start_ser2net "$ser2net" "$(readlink "$XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM1")" ||
        fail "ser2net does not listen: $(cat "$work/ser2net.log")"
    server=$ser2net_pid port=$ser2net_port
    url=rfc2217://127.0.0.1:$port
    [ "$(morvik-ports --assign 4 "$url")" = "COM4 -> $url" ] || fail "--assign of a URL"
    morvik-ports | grep -Fxq "COM4  $url  link $XDG_CONFIG_HOME/MorvikSerialDemo/ports/COM4, RFC 2217" ||
        fail "the listing of a remote port: $(morvik-ports)"
    [ "$(morvik-send --port 4 '*IDN?' 'ECHO a b')" = $'MORVIK,SIM-1,0001,1.0\na b' ] ||
        fail "morvik-send through ser2net"
    [ "$(morvik-send --device "$url" --hex 'ECHO x')" = "78 0d" ] || fail "morvik-send --device URL"
    morvik-ports --check 4 >"$work/remote-check.log" &&
        grep -q '^      ok: the server takes RFC 2217; it says: .*; it runs 19200 baud$' "$work/remote-check.log" ||
        fail "--check of a remote port: $(cat "$work/remote-check.log")"
    mkfifo "$work/remote-commands"
    morvik-send --port 4 <"$work/remote-commands" >"$work/remote.out" 2>"$work/remote.err" &
    send=$!
    exec 3>"$work/remote-commands"
    echo 'ECHO before' >&3
    wait_for "^before\$" "$work/remote.out" || fail "no reply through ser2net"
    kill -TERM "$server"
    wait "$server" || true
    echo 'ECHO after' >&3
    exec 3>&-
    status=0
    wait "$send" || status=$?
    [ "$status" -eq 4 ] &&
        grep -Fxq "morvik-send: COM4: the server closed the connection: $url" "$work/remote.err" ||
        fail "ser2net ended: status $status, err: $(cat "$work/remote.err")"
    status=0
    morvik-send --port 4 '*IDN?' 2>"$work/remote.err" || status=$?
    [ "$status" -eq 3 ] && grep -q "nothing listens at 127.0.0.1:$port" "$work/remote.err" ||
        fail "nothing listening: status $status, $(cat "$work/remote.err")"
else
    echo "ser2net is not unpacked in the build folder: its part skipped"
fi

# The completions, as bash runs them for the words typed so far.
for program in morvik-send morvik-ports morvik-simdevice; do
    source "$source_dir/completions/$program"
    complete -p "$program" >/dev/null || fail "no completion for $program"
done
touch "$work/adapter-link"
completes() {
    local expected=$1 function=$2 got
    shift 2
    got=$(
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMPREPLY=()
        "$function" 2>/dev/null
        echo "${COMPREPLY[*]}"
    )
    [ "$got" = "$expected" ] || fail "completing '$*' gives '$got', not '$expected'"
}
completes "--port --parity" _morvik_send morvik-send --p
completes "none odd even mark space" _morvik_send morvik-send --parity ""
completes "--reply-end --raw" _morvik_send morvik-send --r
completes "cr crlf" _morvik_send morvik-send --command-end c
completes "utf-8" _morvik_send morvik-send --encoding = u
completes "1.5" _morvik_send morvik-send --stop-bits 1.
completes "9600" _morvik_send morvik-send --baud = 96
completes "5 6 7 8" _morvik_send morvik-send --data-bits =
completes "" _morvik_send morvik-send --timeout ""
completes "" _morvik_send morvik-send --wait ""
completes "--hex --help" _morvik_send morvik-send --h
completes "$work/adapter-link" _morvik_send morvik-send --log "$work/adapter-"
completes "" _morvik_send morvik-send --port 1 "ECHO"
completes "$work/adapter-link" _morvik_send morvik-send --device "$work/adapter-"
completes "--check --assign --help --version" _morvik_ports morvik-ports --
completes "1 2 3 4 5 6 7 8" _morvik_ports morvik-ports --check ""
completes "$work/adapter-link" _morvik_ports morvik-ports --assign 2 "$work/adapter-"
completes "" _morvik_ports morvik-ports --check 1 ""
completes "--command-end --connect-timeout" _morvik_ports morvik-ports --assign 2 /dev/ttyUSB0 --baud 9600 --co
completes "rfc2217://" _morvik_ports morvik-ports --assign 2 rf
completes "socket://" _morvik_send morvik-send --device so
completes "cr lf crlf any" _morvik_ports morvik-ports --assign 2 /dev/ttyUSB0 --reply-end = ""
completes "--port --ports" _morvik_simdevice morvik-simdevice --po
completes "$work/check" _morvik_simdevice morvik-simdevice --ports "$work/chec"
echo "command line: passed"
