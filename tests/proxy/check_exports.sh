#!/usr/bin/env bash
# VornApx.dll must export exactly the vendor library's four names,
# undecorated, as ordinals 1 to 4 in alphabetical order.
# usage: check_exports.sh <objdump> <VornApx.dll>
set -euo pipefail
dump=$("$1" -p "$2")
base=$(sed -n 's/^Ordinal Base[[:space:]]*//p' <<< "$dump")
# "[Ordinal/Name Pointer] Table" rows: "[ i] name", where i is ordinal - base.
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<< "$dump" |
        sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' |
        while read -r index name; do echo "$((index + base)) $name"; done)
count=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-f]*\)$/\1/p' <<< "$dump")
expected="1 LD_DeviceControl
2 LD_GetDeviceInfo
3 LD_GetFirstDevicePosition
4 LD_GetNextDevicePosition"
if [ "$names" != "$expected" ] || [ "$((16#$count))" != 4 ]; then
    echo "unexpected exports of $2 (ordinal base $base, $count addresses):"
    echo "$names"
    exit 1
fi
echo "$names"
