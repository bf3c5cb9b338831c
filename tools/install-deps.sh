#!/usr/bin/env bash
# Installs what the build and the Wine test runner need on Debian (run as root).
set -euo pipefail
need=()
for pkg in mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 googletest cmake \
           binutils-mingw-w64-i686 clang-format nsis xvfb xauth x11-utils \
           zip unzip p7zip-full osslsigncode openssl binutils git; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    # A mirror in the middle of a sync serves index files of the wrong size, and
    # apt-get update still exits 0. Without the i386 security index, wine32:i386
    # cannot be installed beside the amd64 libraries from that index, so the
    # update is tried again until every index came down.
    for attempt in 1 2 3 4 5 6 7 8 9 10; do
        update_output=$(apt-get update -qq 2>&1 || true)
        if grep -q '^E:' <<<"$update_output"; then
            printf '%s\n' "$update_output" >&2
            echo "apt-get update: an index failed to download (attempt $attempt); trying again in 30 s" >&2
            sleep 30
        else
            break
        fi
    done
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Some kernels run no 32-bit code at all; 32-bit Wine then needs emulation.
# The registration does not survive a reboot, so this looks every time.
bash "$(dirname "${BASH_SOURCE[0]}")/i386-support.sh" ensure
