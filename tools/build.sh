#!/usr/bin/env bash
# Configures and builds both architectures with the presets of
# CMakePresets.json (the 32-bit tree's end-to-end tests use the 64-bit one):
#   build/win64  64-bit outputs (Vorn64BitInterface.exe, its stand-in, 64-bit tests)
#   build/win32  32-bit outputs (VornApx.dll, QX20481.dll, vorn-check.exe, their stand-ins, 32-bit tests)
# Extra arguments go to cmake --build (tools/package.sh: --target vorn_release).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$VORN_ROOT"
for arch in win64 win32; do
    cmake --preset "$arch" >/dev/null
    cmake --build --preset "$arch" -j "${VORN_JOBS:-$(nproc)}" "$@"
done
