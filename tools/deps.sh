# Sourced by the run and test scripts: installs the Debian packages the project needs.
# qt6-serialport-dev is for the exchange benchmark only (QtSerialPort is one of its contenders);
# qemu-system-x86, busybox-static, cpio and kmod run the real-driver test's emulated machine.
morvik_packages=(cmake make g++ libgtest-dev qt6-base-dev qt6-serialport-dev xvfb xdotool x11-utils
    desktop-file-utils appstream qemu-system-x86 busybox-static cpio kmod python3)
if ! dpkg -s "${morvik_packages[@]}" >/dev/null 2>&1; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${morvik_packages[@]}"
fi
