#!/usr/bin/env bash
# Configures and builds both architectures:
#   build/win64  64-bit outputs (Vorn64BitInterface.exe, its stand-in, 64-bit tests)
#   build/win32  32-bit outputs (VornApx.dll, QX20481.dll, their stand-ins, 32-bit tests)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
jobs=${VORN_JOBS:-$(nproc)}
type=${VORN_BUILD_TYPE:-Release}
cmake -S "$VORN_ROOT" -B "$VORN_BUILD/win64" -DCMAKE_BUILD_TYPE="$type" \
    -DCMAKE_TOOLCHAIN_FILE="$VORN_ROOT/tools/toolchain-x86_64.cmake" >/dev/null
cmake --build "$VORN_BUILD/win64" -j "$jobs"
cmake -S "$VORN_ROOT" -B "$VORN_BUILD/win32" -DCMAKE_BUILD_TYPE="$type" \
    -DCMAKE_TOOLCHAIN_FILE="$VORN_ROOT/tools/toolchain-i686.cmake" \
    -DVORN_WIN64_DIR="$VORN_BUILD/win64" >/dev/null
cmake --build "$VORN_BUILD/win32" -j "$jobs"
