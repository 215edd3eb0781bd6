#!/usr/bin/env bash
# Installs a build into a temporary root under /usr and checks it as a desktop and a software
# centre would: every file in place, the validators clean, the icons at their sizes, the man
# pages free of warnings, and AppStream's composer finding the application with its icon.
# Usage: install_test.sh <build folder> <project version>
# Exits 77 (skipped) when one of the checking tools is missing.
set -euo pipefail
build=$1
version=$2
for tool in desktop-file-validate appstreamcli groff gzip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
appstreamcli compose --help >/dev/null 2>&1 || { echo "SKIP: appstreamcli compose is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr
id=com.morvik.MorvikSerialDemo
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

programs=(MorvikSerialDemo morvik-send morvik-ports morvik-simdevice)
files=(share/applications/$id.desktop share/metainfo/$id.metainfo.xml
       share/icons/hicolor/scalable/apps/$id.svg
       share/doc/morvik-serial-demo/copyright share/doc/morvik-serial-demo/changelog.gz)
for p in "${programs[@]}"; do files+=(bin/$p share/man/man1/$p.1.gz); done
# bash-completion loads a command's completion from the file of its name, when first completed.
for p in morvik-send morvik-ports morvik-simdevice; do files+=(share/bash-completion/completions/$p); done
for size in 16 32 48 64 128 256; do files+=(share/icons/hicolor/${size}x${size}/apps/$id.png); done
for f in "${files[@]}"; do
    [ -s "$usr/$f" ] || fail "$f not installed"
done

# Each PNG holds the size its folder names (width and height from the IHDR chunk).
for size in 16 32 48 64 128 256; do
    png=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -s "$png" ] || continue
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [ "$w $h" = "$size $size" ] || fail "the ${size}x${size} icon is ${w}x${h}"
done

desktop=$usr/share/applications/$id.desktop
meta=$usr/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'StartupWMClass=MorvikSerialDemo' "$desktop" || fail "no StartupWMClass in the desktop entry"
# Only the id's capitals are left as a pedantic note: it is the desktop entry's file name.
notes=$(appstreamcli validate --pedantic --no-net "$meta" 2>&1) || fail "appstreamcli validate: $notes"
grep -E '^[EWI]:|^P:' <<<"$notes" | grep -v 'cid-contains-uppercase-letter' && fail "metainfo notes"
grep -q "<release version=\"$version\"" "$meta" || fail "the metainfo's release is not $version"
grep -q '<project_license>MIT</project_license>' "$meta" || fail "the project licence is not MIT"
grep -Eiq 'windows|mfc|\.exe|win32' "$meta" && fail "the metainfo speaks of another platform"

for p in "${programs[@]}"; do
    page=$usr/share/man/man1/$p.1.gz
    [ -s "$page" ] || continue
    warnings=$(zcat "$page" | groff -ww -z -man 2>&1)
    [ -z "$warnings" ] || fail "man page of $p: $warnings"
    zcat "$page" | grep -q "^\.TH .*$version" || fail "man page of $p does not carry version $version"
done

for p in morvik-send morvik-ports morvik-simdevice; do
    completion=$usr/share/bash-completion/completions/$p
    [ -s "$completion" ] || continue
    bash -c "source '$completion' && complete -p $p" >/dev/null 2>&1 ||
        fail "the completion file of $p does not set up a completion for it"
done

# A software centre's view: the composer must list one component with an icon of its own.
appstreamcli compose --no-net --origin=morvik --result-root="$work/out" "$root" >"$work/compose.log" 2>&1 ||
    fail "appstreamcli compose: $(cat "$work/compose.log")"
catalog=$work/out/usr/share/swcatalog/xml/morvik.xml.gz
components=$(zcat "$catalog" 2>/dev/null | grep -c '<component ' || true)
[ "$components" = 1 ] || fail "appstreamcli compose listed $components components"
zcat "$catalog" 2>/dev/null | grep -q '<icon type="cached" width="64" height="64">' ||
    fail "the composed component has no 64x64 icon"

[ "$failures" -eq 0 ] || exit 1
echo "install: passed"
