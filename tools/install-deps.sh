#!/usr/bin/env bash
# Installs what the build and the Wine test runner need on Debian (run as root).
set -euo pipefail
need=()
for pkg in mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 googletest cmake \
           binutils-mingw-w64-i686 clang-format; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0
echo "installing: ${need[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
