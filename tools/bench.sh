#!/usr/bin/env bash
# Builds both architectures and runs the proxy benchmark under Wine: the
# round trip of each LD_ call through VornApx.dll and the host program
# (median and 99th percentile), the 1 ms sleeps each side makes per call,
# and the same call made directly in-process by a 64-bit program.
#   tools/bench.sh [calls per function, default 2000, at least 1000]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
"$VORN_ROOT/tools/build.sh" >/dev/null
vorn_ensure_prefix
vorn_start_wineserver
trap vorn_stop_wineserver EXIT
wine "$VORN_BUILD/win32/bin/proxy_bench.exe" "${1:-2000}"
