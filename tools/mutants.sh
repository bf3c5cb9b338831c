#!/usr/bin/env bash
# Puts each small fault (a line or two) of tools/mutants/*.patch into the
# tree in turn, builds the test programs its header names (Build:, in the
# 32-bit tree, which runs the channel's, the turn's and the proxy's tests;
# Build64:, in the 64-bit tree, for the 64-bit plug-in), runs the tests it
# names (Tests:, a ctest pattern, in the tree that Tree: names, win32
# unless said) once, and prints "killed" (a test failed, or did not end in
# time) or "survived"; then takes the fault out again. A fault that does
# not apply or does not build is a failure of this script. Not part of the
# suite (it rebuilds for every fault): run it before changing the turn, the
# lock, the copy, a call's deadline, the launcher, or the 64-bit plug-in
# and its helper, with both trees built (tools/build.sh) and the files the
# faults touch as committed. Exit status 0 when every fault was killed.
# Extra arguments: patterns that pick faults by file name (default: all).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$VORN_ROOT"

patches=()
for patch in tools/mutants/*.patch; do
    if [ $# -eq 0 ]; then patches+=("$patch"); continue; fi
    for pick in "$@"; do
        case "$(basename "$patch")" in *"$pick"*) patches+=("$patch"); break ;; esac
    done
done

log=$(mktemp)
applied=""
all_targets=""
all_targets64=""
finish() {
    [ -n "$applied" ] && git apply -R "$applied"
    # The tree as committed again, for the programs the faults were built into.
    [ -n "$all_targets" ] && cmake --build --preset win32 --target $all_targets >/dev/null 2>&1
    [ -n "$all_targets64" ] && cmake --build --preset win64 --target $all_targets64 >/dev/null 2>&1
    vorn_stop_wineserver
    rm -f "$log"
}
trap finish EXIT

vorn_ensure_prefix
vorn_start_wineserver

header() { sed -n "s/^$1: //p" "$2" | head -1; }
union() { echo "$1 $2" | tr ' ' '\n' | sed '/^$/d' | sort -u | tr '\n' ' '; }
build() {  # <preset> <targets>
    [ -z "$2" ] || cmake --build --preset "$1" --target $2
}

killed=0
survived=0
broken=0
for patch in "${patches[@]}"; do
    name=$(basename "$patch" .patch)
    fault=$(header Fault "$patch")
    targets=$(header Build "$patch")
    targets64=$(header Build64 "$patch")
    tests=$(header Tests "$patch")
    tree=$(header Tree "$patch")
    tree=${tree:-win32}
    all_targets=$(union "$all_targets" "$targets")
    all_targets64=$(union "$all_targets64" "$targets64")
    if ! git apply --check "$patch" 2>"$log"; then
        echo "BROKEN   $name: does not apply: $(head -1 "$log")"
        broken=$((broken + 1))
        continue
    fi
    git apply "$patch"
    applied=$patch
    if ! { build win32 "$targets" && build win64 "$targets64"; } >"$log" 2>&1; then
        echo "BROKEN   $name: does not build: $(grep -m1 'error' "$log")"
        broken=$((broken + 1))
    elif ctest --preset "$tree" -R "$tests" >"$log" 2>&1; then
        echo "survived $name: $fault"
        survived=$((survived + 1))
    elif ! grep -q "tests passed" "$log"; then
        echo "BROKEN   $name: no test ran for $tests"
        broken=$((broken + 1))
    else
        by=$(sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) \((.*)\)$/\1 (\2)/p' "$log" | sort -u | paste -sd ',' |
            sed 's/,/, /g')
        echo "killed   $name: $fault; by $by"
        killed=$((killed + 1))
    fi
    git apply -R "$patch"
    applied=""
done
echo "faults: ${#patches[@]}; killed $killed, survived $survived, broken $broken"
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
