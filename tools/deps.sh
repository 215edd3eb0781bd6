# Sourced by the run and test scripts: installs the Debian packages the project needs.
# Building and running the program, and the tests' display and GUI tools:
morvik_packages=(cmake make g++ libgtest-dev qt6-base-dev qt6-svg-dev xvfb xdotool x11-utils
                 xclip openbox desktop-file-utils appstream)
# Qt's Wayland plugin, as a GNOME desktop has it: the tests of an unreachable display meet
# what its libraries say on their own.
morvik_packages+=(qt6-wayland)
# The fuzz harnesses: clang with libFuzzer and the sanitizers' runtimes.
morvik_packages+=(clang libclang-rt-14-dev)
# QtSerialPort and pyserial are the exchange benchmark's contenders (the program uses neither):
morvik_packages+=(qt6-serialport-dev python3-serial)
# What the install and package tests check with (their recommendations are not needed), and
# strace, with which end-to-end tests see which files the programs open, and jq, which the
# README's example from scripts pipes into, and socat, whose pseudo-terminal pair a port must open:
morvik_check_packages=(appstream-compose groff-base man-db dpkg-dev lintian procps strace jq socat)
# The Wayland end-to-end run's compositor, nested in Xvfb:
morvik_check_packages+=(weston)
# A screen reader's view of the program: a session bus, the accessibility bus and registry,
# and the Python binding that reads the tree:
morvik_check_packages+=(at-spi2-core python3-pyatspi gir1.2-atspi-2.0 dbus-daemon dbus-bin)
# The real-driver test's emulated machine:
morvik_check_packages+=(qemu-system-x86 busybox-static cpio kmod python3)

# morvik_install [--no-install-recommends] PACKAGE...: installs those not yet installed,
# through sudo when not root.
morvik_install() {
    local options=()
    [ "$1" = --no-install-recommends ] && { options=("$1"); shift; }
    dpkg -s "$@" >/dev/null 2>&1 && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${options[@]}" \
        -o DPkg::Lock::Timeout=300 "$@"
}
