#!/bin/bash
# Unpacks ser2net, the tests' peer for ports on other machines, into FOLDER: the Debian
# package's files only. The package is never installed: its service would serve the machine's
# own serial ports. Its libraries (libgensio4, libyaml-0-2) are plain packages (tools/deps.sh).
# Exits 0 when FOLDER/usr/sbin/ser2net is there afterwards.
set -u
folder=$1
[ -x "$folder/usr/sbin/ser2net" ] && exit 0
command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null || exit 1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
(cd "$work" && timeout 60 apt-get download -qq ser2net >/dev/null 2>&1) || exit 1
mkdir -p "$folder" && dpkg-deb -x "$work"/ser2net_*.deb "$folder" && [ -x "$folder/usr/sbin/ser2net" ]
