#!/usr/bin/env bash
# tools/run-demo.sh as a user meets it: without a display it stops before building; under Xvfb
# Ctrl+C (SIGINT to its whole process group, as a terminal sends it) ends it with its temporary
# folder removed and the simulated device stopped, also when the device had ended first.
# Usage: run_demo_test.sh <source folder> <build folder>
# Exits 77 (skipped) when Xvfb, xdotool or xdpyinfo is missing.
set -euo pipefail
source_dir=$1
build=$2
source "$(dirname "$0")/xvfb_lib.sh"
need Xvfb xdotool xdpyinfo setsid pgrep perl
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# No display: refused at once, with one line, and nothing built.
for display in "" ":65000"; do
    start=$SECONDS
    status=0
    env -u WAYLAND_DISPLAY DISPLAY="$display" MORVIK_BUILD_DIR="$work/never-built" \
        bash "$source_dir/tools/run-demo.sh" >"$work/out" 2>"$work/err" </dev/null || status=$?
    [ "$status" -eq 2 ] || fail "DISPLAY='$display': status $status, expected 2"
    [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q display "$work/err" ||
        fail "DISPLAY='$display': stderr was: $(cat "$work/err")"
    [ ! -e "$work/never-built" ] || fail "DISPLAY='$display': it configured a build first"
    [ $((SECONDS - start)) -lt 10 ] || fail "DISPLAY='$display': took $((SECONDS - start)) s"
done

start_xvfb || fail "Xvfb did not start"
# Qt's runtime folder would otherwise land in the temporary folder watched below.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# One run: start the demo in a session of its own, wait for its window, optionally end the
# device first, then press Ctrl+C.
ctrl_c() {
    local kill_device_first=$1 label=$2
    local tmp=$work/tmp-$label
    mkdir -p "$tmp"
    # A background job of a script starts with SIGINT ignored; a terminal's job does not, so
    # the default is put back (perl is part of every Debian system).
    TMPDIR=$tmp MORVIK_BUILD_DIR=$build setsid perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV' \
        bash "$source_dir/tools/run-demo.sh" >"$work/$label.log" 2>&1 </dev/null &
    local demo=$!
    pids+=($demo)
    local window
    window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Morvik Serial Demo$' | head -n1 || true)
    if [ -z "$window" ]; then
        fail "$label: no window"; cat "$work/$label.log"; return
    fi
    local device= child
    for child in $(pgrep -P "$demo" || true); do
        [ "$(basename "$(readlink "/proc/$child/exe" 2>/dev/null)")" = morvik-simdevice ] && device=$child
    done
    [ -n "$device" ] || { fail "$label: no simulated device"; return; }
    if [ "$kill_device_first" = 1 ]; then
        kill -TERM "$device"
        for _ in $(seq 50); do kill -0 "$device" 2>/dev/null || break; sleep 0.1; done
    fi
    kill -INT -- "-$demo"
    local status=0
    for _ in $(seq 100); do kill -0 "$demo" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$demo" 2>/dev/null; then
        fail "$label: run-demo.sh still runs 10 s after Ctrl+C"; kill -KILL -- "-$demo"; return
    fi
    wait "$demo" || status=$?
    [ "$status" -ne 0 ] || fail "$label: Ctrl+C ended it with status 0"
    kill -0 "$device" 2>/dev/null && fail "$label: the simulated device still runs"
    [ -z "$(ls -A "$tmp")" ] || fail "$label: left behind: $(ls -A "$tmp")"
}
ctrl_c 0 device-running
ctrl_c 1 device-ended-first

[ "$failures" -eq 0 ] || exit 1
echo "run-demo: passed"
