#!/usr/bin/env bash
# Makes the setup program from the files of the release zip with NSIS
# (packaging/setup.nsi):
#   tools/make-setup.sh <folder of the unpacked zip> <version a.b.c.d> <setup.exe to write>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
files=$(cd "$1" && pwd) version_full=$2 out=$3
version=${version_full%.*}
# Add or Remove Programs shows the size of what one build's install places
# (the zip's folder for it and INSTALL.txt); the patched layer is added at
# install time.
size_kb() { find "$files/$1" "$files/INSTALL.txt" -type f -printf '%s\n' | awk '{ kb += int(($1 + 1023) / 1024) } END { print kb }'; }
makensis -V2 -NOCD "-DVERSION=$version" "-DVERSION_FULL=$version_full" "-DFILES=$files" \
    "-DOUTFILE=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")" \
    "-DSIZE_KB_32=$(size_kb LCDSmartie-32bit)" "-DSIZE_KB_64=$(size_kb LCDSmartie-64bit)" \
    "$here/../packaging/setup.nsi"
