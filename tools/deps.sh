# Sourced by the run and test scripts: installs the Debian packages the project needs.
morvik_packages=(cmake make g++ libgtest-dev qt6-base-dev xvfb xdotool x11-utils openbox desktop-file-utils appstream)
if ! dpkg -s "${morvik_packages[@]}" >/dev/null 2>&1; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${morvik_packages[@]}"
fi
