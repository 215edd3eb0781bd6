#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with apt-get as a user would,
# runs the installed programs and removes the package again. Changes the system: only CI (and
# builds configured with -DMORVIK_PACKAGE_TEST=ON) run it, as root.
# Usage: package_test.sh <build folder>
# Exits 77 (skipped) when not root or a Debian tool is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
for tool in cpack dpkg-deb dpkg-shlibdeps apt-get lintian; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
package=morvik-serial-demo
if dpkg -s "$package" >/dev/null 2>&1; then
    echo "FAIL: $package is already installed; this test would replace and remove it"
    exit 1
fi

work=$(mktemp -d)
apt=(apt-get -y -qq -o DPkg::Lock::Timeout=300)
cleanup() {
    if dpkg -s "$package" >/dev/null 2>&1; then
        DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge "$package" >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work" >cpack.log 2>&1) ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
debs=("$work"/*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "FAIL: no package built"; exit 1; }
echo "package: $(basename "$deb")"

# lintian: no errors; the rest is printed for the record.
lintian --fail-on error "$deb" ||
    { echo "FAIL: lintian reports errors"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' ||
    { echo "FAIL: the dependencies were not taken from the binaries"; exit 1; }

DEBIAN_FRONTEND=noninteractive "${apt[@]}" install "$deb" >/dev/null
[ -x /usr/bin/MorvikSerialDemo ] || { echo "FAIL: /usr/bin/MorvikSerialDemo not installed"; exit 1; }

# Without a display the installed program says so on one line and ends with status 2.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/MorvikSerialDemo \
    >"$work/out" 2>"$work/err" </dev/null || status=$?
[ "$status" -eq 2 ] || { echo "FAIL: without a display the program ended with $status"; exit 1; }
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -qi 'display' "$work/err" ||
    { echo "FAIL: without a display the program wrote:"; cat "$work/err"; exit 1; }

/usr/bin/morvik-ports --version >"$work/version" || { echo "FAIL: morvik-ports --version"; exit 1; }
grep -q "$(dpkg-deb -f "$deb" Version)" "$work/version" ||
    { echo "FAIL: morvik-ports --version printed: $(cat "$work/version")"; exit 1; }
for p in MorvikSerialDemo morvik-send; do
    man -w "$p" >/dev/null 2>&1 || ! command -v man >/dev/null ||
        { echo "FAIL: man finds no page for $p"; exit 1; }
done
# The installed morvik-send: usage, and a port with nothing there (status 3, the reason).
/usr/bin/morvik-send --version | grep -q "^morvik-send $(dpkg-deb -f "$deb" Version)" ||
    { echo "FAIL: morvik-send --version"; exit 1; }
status=0
XDG_CONFIG_HOME=$work /usr/bin/morvik-send --port 4 '*IDN?' 2>"$work/err" || status=$?
[ "$status" -eq 3 ] && grep -q 'cannot open COM4' "$work/err" ||
    { echo "FAIL: morvik-send on a port with nothing there: $status, $(cat "$work/err")"; exit 1; }
for p in morvik-send morvik-ports morvik-simdevice; do
    [ -s "/usr/share/bash-completion/completions/$p" ] ||
        { echo "FAIL: no bash completion for $p"; exit 1; }
done

DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge "$package" >/dev/null
[ ! -e /usr/bin/MorvikSerialDemo ] && [ ! -e /usr/bin/morvik-send ] &&
    [ ! -e /usr/share/bash-completion/completions/morvik-send ] ||
    { echo "FAIL: the programs are still there after removal"; exit 1; }
[ ! -e /usr/share/applications/com.morvik.MorvikSerialDemo.desktop ] ||
    { echo "FAIL: the desktop entry is still there after removal"; exit 1; }
echo "package: passed"
