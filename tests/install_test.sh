#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the desktop files with Debian's validators.
# Usage: install_test.sh <build folder>
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
id=com.morvik.MorvikSerialDemo
for f in bin/MorvikSerialDemo bin/morvik-ports bin/morvik-simdevice share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/16x16/apps/$id.png share/icons/hicolor/32x32/apps/$id.png; do
    [ -s "$prefix/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
grep -q 'release version="1.0.0.1"' "$prefix/share/metainfo/$id.metainfo.xml"
echo "install: passed"
