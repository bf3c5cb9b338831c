#!/usr/bin/env bash
# The release zip holds exactly the display host's folder layout, its
# INSTALL.txt has CR LF line ends throughout, and its checksum file fits.
# usage: zip_layout_test.sh <cmake> <out of pack_for_tests.sh> <version>
set -euo pipefail
cmake=$1 out=$2 version=$3
zip="$out/vorn-mediapad-$version.zip"
files=$("$cmake" -E tar tf "$zip" | grep -v '/$' | LC_ALL=C sort)
# One folder per build of the display host, each mirroring its folder; the
# 64-bit build's 32-bit plug-in in a subfolder of displays, which the
# display host's setup dialog does not list, and its helper beside
# LCDSmartie.exe. The 32-bit build has the helper too, with the isolating
# bridge that vorn-check.exe --isolate copies into displays.
expected=$(printf '%s\n' INSTALL.txt BUILDINFO \
           LCDSmartie-32bit/displays/QX20481.dll LCDSmartie-32bit/VornApx.dll \
           LCDSmartie-32bit/Vorn64BitInterface.exe LCDSmartie-32bit/Vorn32BitInterface.exe \
           LCDSmartie-32bit/vorn-check.exe LCDSmartie-32bit/VornIsolation.dll \
           LCDSmartie-32bit/QX20481Bridge32.exe \
           LCDSmartie-64bit/displays/QX20481.dll LCDSmartie-64bit/displays/QX20481-32bit/QX20481.dll \
           LCDSmartie-64bit/QX20481Bridge32.exe LCDSmartie-64bit/VornApx.dll \
           LCDSmartie-64bit/Vorn64BitInterface.exe LCDSmartie-64bit/vorn-check.exe |
           LC_ALL=C sort)
if [ "$files" != "$expected" ]; then
    printf 'the zip holds:\n%s\nexpected:\n%s\n' "$files" "$expected"
    exit 1
fi
# Each folder's plug-in is built for its display host.
machine() { od -An -tx2 -j $(( $(od -An -tu4 -j 60 -N 4 "$1") + 4 )) -N 2 "$1" | tr -d ' '; }
[ "$(machine "$out/unpacked/LCDSmartie-32bit/displays/QX20481.dll")" = 014c ] || { echo "the 32-bit folder's plug-in is not 32-bit"; exit 1; }
[ "$(machine "$out/unpacked/LCDSmartie-64bit/displays/QX20481.dll")" = 8664 ] || { echo "the 64-bit folder's plug-in is not 64-bit"; exit 1; }
[ "$(machine "$out/unpacked/LCDSmartie-32bit/VornIsolation.dll")" = 014c ] || { echo "the 32-bit folder's isolating bridge is not 32-bit"; exit 1; }
text="$out/unpacked/INSTALL.txt"
if ! awk '!/\r$/ { bad++ } END { exit bad > 0 }' "$text" || [ "$(tail -c 2 "$text" | od -An -c | tr -d ' ')" != '\r\n' ]; then
    echo "INSTALL.txt has line ends other than CR LF"
    exit 1
fi
grep -q "^Vorn MediaPad display chain $version" "$text" || { echo "INSTALL.txt does not name version $version"; exit 1; }
(cd "$out" && sha256sum -c "vorn-mediapad-$version.zip.sha256")
echo "$files"
