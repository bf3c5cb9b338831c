#!/usr/bin/env bash
# Packs the release from both build trees as tools/package.sh does
# (tools/pack-release.sh, unsigned) into <out>, with the release time that
# the build trees' programs were linked with, and unpacks the zip into
# <out>/unpacked.
# usage: pack_for_tests.sh <cmake> <32-bit build tree> <64-bit build tree> <out> <release time>
set -euo pipefail
cmake=$1 build32=$2 build64=$3 out=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
unset VORN_SIGN_CERT VORN_SIGN_KEY VORN_SIGN_PASS VORN_SIGN_PASS_FILE VORN_SIGN_TIMESTAMP_URL
export SOURCE_DATE_EPOCH=$5
rm -rf "$out"
mkdir -p "$out/unpacked"
bash "$here/../../tools/pack-release.sh" "$build32" "$build64" "$out"
zip=$(ls "$out"/vorn-mediapad-*.zip)
(cd "$out/unpacked" && "$cmake" -E tar xf "$zip")
echo "packed $zip and $(ls "$out"/vorn-mediapad-*-setup.exe), unpacked the zip"
