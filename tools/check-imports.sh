#!/usr/bin/env bash
# Fails when a binary imports anything but Windows system DLLs (a MinGW
# runtime DLL such as libstdc++-6.dll, libgcc_s or libwinpthread-1.dll
# would be missing on a user's machine).
# usage: check-imports.sh <objdump> <binary>...
set -euo pipefail
objdump=$1; shift
allowed='^(kernel32|msvcrt|user32|advapi32|psapi|version|ntdll|shell32|ole32|ws2_32|api-ms-win-.*)\.dll$'
status=0
for file in "$@"; do
    dlls=$("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ -n "$dlls" ] || { echo "$file: no import table found"; status=1; continue; }
    while read -r dll; do
        if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
            echo "$file imports $dll"
            status=1
        fi
    done <<< "$dlls"
    echo "$(basename "$file"): $(echo $dlls)"
done
exit $status
