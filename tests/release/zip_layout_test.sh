#!/usr/bin/env bash
# The release zip holds exactly the display host's folder layout, its
# INSTALL.txt has CR LF line ends throughout, and its checksum file fits.
# usage: zip_layout_test.sh <cmake> <out of pack_for_tests.sh> <version>
set -euo pipefail
cmake=$1 out=$2 version=$3
zip="$out/vorn-mediapad-$version.zip"
files=$("$cmake" -E tar tf "$zip" | grep -v '/$' | LC_ALL=C sort)
expected=$(printf '%s\n' INSTALL.txt Vorn64BitInterface.exe VornApx.dll displays/QX20481.dll vorn-check.exe |
           LC_ALL=C sort)
if [ "$files" != "$expected" ]; then
    printf 'the zip holds:\n%s\nexpected:\n%s\n' "$files" "$expected"
    exit 1
fi
text="$out/unpacked/INSTALL.txt"
if ! awk '!/\r$/ { bad++ } END { exit bad > 0 }' "$text" || [ "$(tail -c 2 "$text" | od -An -c | tr -d ' ')" != '\r\n' ]; then
    echo "INSTALL.txt has line ends other than CR LF"
    exit 1
fi
grep -q "^Vorn MediaPad display chain $version" "$text" || { echo "INSTALL.txt does not name version $version"; exit 1; }
(cd "$out" && sha256sum -c "vorn-mediapad-$version.zip.sha256")
echo "$files"
