#!/usr/bin/env bash
# Builds both architectures and runs the whole suite under Wine, with the
# test presets of CMakePresets.json; first checks the formatting.
# Extra arguments go to ctest (for example: -L slow, -LE slow, -R Channel).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$VORN_ROOT"
bash tools/check-format.sh
bash tools/build.sh
vorn_ensure_prefix
vorn_start_wineserver
trap vorn_stop_wineserver EXIT
start=$(date +%s)
status=0
for arch in win64 win32; do
    echo "== tests in build/$arch"
    ctest --preset "$arch" "$@" || status=1
done
echo "suite wall time: $(( $(date +%s) - start )) s; 32-bit programs ran $(bash tools/i386-support.sh describe)"
exit $status
