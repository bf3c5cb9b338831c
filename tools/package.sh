#!/usr/bin/env bash
# The release a Windows user installs, on a fresh Debian machine as root:
# installs what is missing, builds both architectures and has CPack write
#   dist/vorn-mediapad-<version>.zip and dist/vorn-mediapad-<version>.zip.sha256
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
bash "$here/install-deps.sh"
bash "$here/build.sh" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$VORN_BUILD/win32/CPackConfig.cmake" -B "$work" >/dev/null
dist="$VORN_ROOT/dist"
mkdir -p "$dist"
for file in "$work"/vorn-mediapad-*.zip "$work"/vorn-mediapad-*.zip.sha256; do
    mv -f "$file" "$dist/"
done
zip=$(ls "$dist"/vorn-mediapad-*.zip | sort -V | tail -n 1)
(cd "$dist" && sha256sum -c "$(basename "$zip").sha256")
echo "$zip:"
cmake -E tar tvf "$zip"
