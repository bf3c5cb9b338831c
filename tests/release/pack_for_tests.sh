#!/usr/bin/env bash
# Packs the release zip from both build trees as tools/package.sh does,
# into <out>, unpacks it into <out>/unpacked, and makes the setup program
# from it as <out>/vorn-mediapad-<version>-setup.exe.
# usage: pack_for_tests.sh <cmake> <cpack> <CPackConfig.cmake> <out> <version a.b.c.d>
set -euo pipefail
cmake=$1 cpack=$2 config=$3 out=$4 version_full=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$out"
mkdir -p "$out/unpacked"
"$cpack" --config "$config" -B "$out" >/dev/null
zip=$(ls "$out"/vorn-mediapad-*.zip)
(cd "$out/unpacked" && "$cmake" -E tar xf "$zip")
echo "packed and unpacked $zip"
setup="$out/$(basename "$zip" .zip)-setup.exe"
bash "$here/../../tools/make-setup.sh" "$out/unpacked" "$version_full" "$setup"
echo "made $setup"
