#!/usr/bin/env bash
# The 64-bit QX20481.dll is a 64-bit PE file whose file exports, by plain
# name, every entry point the display host looks up, and nothing else. Once
# loaded it keeps of them only those its 32-bit plug-in exports (the chain
# tests look them up).
#   plugin64_exports.sh <objdump> <QX20481.dll>
set -euo pipefail
objdump=$1 dll=$2
"$objdump" -f "$dll" | grep -q 'file format pei-x86-64' || { echo "$dll is not a 64-bit PE file"; exit 1; }
names=$("$objdump" -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | sed -n 's/^\t\[ *[0-9]*\] //p')
expected=$(printf '%s\n' DISPLAYDLL_CustomChar DISPLAYDLL_CustomCharIndex DISPLAYDLL_DefaultParameters \
           DISPLAYDLL_Done DISPLAYDLL_DriverName DISPLAYDLL_Init DISPLAYDLL_PowerResume DISPLAYDLL_ReadKey \
           DISPLAYDLL_SetBacklight DISPLAYDLL_SetBrightness DISPLAYDLL_SetColor DISPLAYDLL_SetContrast \
           DISPLAYDLL_SetFan DISPLAYDLL_SetGPO DISPLAYDLL_SetPosition DISPLAYDLL_Usage DISPLAYDLL_Write)
if [ "$names" != "$expected" ]; then
    printf 'exports:\n%s\nexpected:\n%s\n' "$names" "$expected"
    exit 1
fi
echo "$names"
