#!/usr/bin/env bash
# The release a Windows user installs, on a fresh Debian machine as root:
# installs what is missing, builds both architectures, has CPack write the
# zip and NSIS make the setup program from the zip's files:
#   dist/vorn-mediapad-<version>.zip          dist/vorn-mediapad-<version>.zip.sha256
#   dist/vorn-mediapad-<version>-setup.exe    dist/vorn-mediapad-<version>-setup.exe.sha256
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
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
version_full=$(sed -n '1s/^Vorn MediaPad display chain \([0-9.]*\).*/\1/p' "$work/unpacked/INSTALL.txt")
setup="${zip%.zip}-setup.exe"
bash "$here/make-setup.sh" "$work/unpacked" "$version_full" "$setup"
(cd "$dist" && sha256sum "$(basename "$setup")" >"$(basename "$setup").sha256")
(cd "$dist" && sha256sum -c "$(basename "$zip").sha256" "$(basename "$setup").sha256")
echo "$zip:"
cmake -E tar tvf "$zip"
echo "$setup: $(stat -c %s "$setup") bytes"
