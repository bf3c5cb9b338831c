#!/usr/bin/env bash
# The release a Windows user installs, on a fresh Debian machine as root:
# installs what is missing, builds the release's programs for both
# architectures and packs them (tools/pack-release.sh) into dist/:
#   dist/vorn-mediapad-<version>.zip          dist/vorn-mediapad-<version>.zip.sha256
#   dist/vorn-mediapad-<version>-setup.exe    dist/vorn-mediapad-<version>-setup.exe.sha256
# The same commit gives the same bytes, wherever and whenever it is built
# (tools/verify-release.sh checks a release so). Every time stamp is the
# commit's time, or SOURCE_DATE_EPOCH where it is set. With VORN_SIGN_CERT
# set (tools/sign.sh) every program, DLL and the setup program are signed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
bash "$here/install-deps.sh"
SOURCE_DATE_EPOCH=$(bash "$here/release-time.sh") ||
    { echo "no release time: build from a git clone, or set SOURCE_DATE_EPOCH" >&2; exit 1; }
export SOURCE_DATE_EPOCH
bash "$here/build.sh" --target vorn_release >/dev/null
dist="$VORN_ROOT/dist"
bash "$here/pack-release.sh" "$VORN_BUILD/win32" "$VORN_BUILD/win64" "$dist"
zip=$(ls "$dist"/vorn-mediapad-*.zip | sort -V | tail -n 1)
setup="${zip%.zip}-setup.exe"
(cd "$dist" && sha256sum -c "$(basename "$zip").sha256" "$(basename "$setup").sha256")
echo "$zip:"
TZ=UTC unzip -Z -T "$zip"
echo "$setup: $(stat -c %s "$setup") bytes"
