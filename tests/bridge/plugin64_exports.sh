#!/usr/bin/env bash
# The 64-bit QX20481.dll is a 64-bit PE file that exports, by plain name,
# exactly the entry points the 32-bit plug-in offers the display host under
# plain names (CustomChar and CustomCharIndex it offers only decorated, so
# the display host never calls them), and nothing else.
#   plugin64_exports.sh <objdump> <QX20481.dll>
set -euo pipefail
objdump=$1 dll=$2
"$objdump" -f "$dll" | grep -q 'file format pei-x86-64' || { echo "$dll is not a 64-bit PE file"; exit 1; }
names=$("$objdump" -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | sed -n 's/^\t\[ *[0-9]*\] //p')
expected=$(printf '%s\n' DISPLAYDLL_DefaultParameters DISPLAYDLL_Done DISPLAYDLL_DriverName DISPLAYDLL_Init \
           DISPLAYDLL_PowerResume DISPLAYDLL_SetPosition DISPLAYDLL_Usage DISPLAYDLL_Write)
if [ "$names" != "$expected" ]; then
    printf 'exports:\n%s\nexpected:\n%s\n' "$names" "$expected"
    exit 1
fi
echo "$names"
