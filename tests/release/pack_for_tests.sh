#!/usr/bin/env bash
# Packs the release zip from both build trees as tools/package.sh does,
# into <out>, and unpacks it into <out>/unpacked.
# usage: pack_for_tests.sh <cmake> <cpack> <CPackConfig.cmake> <out>
set -euo pipefail
cmake=$1 cpack=$2 config=$3 out=$4
rm -rf "$out"
mkdir -p "$out/unpacked"
"$cpack" --config "$config" -B "$out" >/dev/null
zip=$(ls "$out"/vorn-mediapad-*.zip)
(cd "$out/unpacked" && "$cmake" -E tar xf "$zip")
echo "packed and unpacked $zip"
