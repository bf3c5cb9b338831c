#!/usr/bin/env bash
# Builds both architectures and runs the whole suite under Wine.
# Extra arguments go to ctest (for example: -L slow, -LE slow, -R Channel).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
"$VORN_ROOT/tools/build.sh"
vorn_ensure_prefix
vorn_start_wineserver
trap vorn_stop_wineserver EXIT
start=$(date +%s)
status=0
for arch in win64 win32; do
    echo "== tests in build/$arch"
    (cd "$VORN_BUILD/$arch" && ctest --output-on-failure -j "${VORN_JOBS:-2}" "$@") || status=1
done
echo "suite wall time: $(( $(date +%s) - start )) s"
exit $status
