#!/usr/bin/env bash
# Puts each small fault (a line or two) of tools/mutants/*.patch into the
# tree in turn, builds the test programs its header names (Build:, in the
# 32-bit tree, which runs the channel's, the turn's and the proxy's tests;
# Build64:, in the 64-bit tree, for the host program and the 64-bit
# plug-in), runs the tests it names (Tests:, a ctest pattern, in the tree
# that Tree: names, win32 unless said) once, and prints "killed" (a test
# failed, or did not end in time) or "survived"; then takes the fault out
# again. A fault that does not apply or does not build, or whose tests do
# not run, is "BROKEN": a failure of this script, never a kill.
#
# First, the baseline: the selected faults' tests, built and run on the
# tree as it is. A test that already fails, or fails now and then, would
# "kill" every fault that names it, so the script stops unless that run is
# green. At the end the programs the faults were built into are built again
# from the tree as it is; a failure there is reported, and fails the run.
#
# Not part of the suite (it rebuilds for every fault): run it before
# changing the turn, the lock, the copy, a call's deadline, the launcher,
# the host's start and idle exit, or the 64-bit plug-in and its helper, with
# both trees built (tools/build.sh) and the files the faults touch as
# committed. Exit status 0 when every fault was killed; 2 when the baseline
# is not green. Extra arguments: patterns that pick faults by file name
# (default: all).
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
if [ ${#patches[@]} -eq 0 ]; then
    echo "no fault's file name holds: $*"
    exit 2
fi

header() { sed -n "s/^$1: //p" "$2" | head -1; }
union() { echo "$1 $2" | tr ' ' '\n' | sed '/^$/d' | sort -u | tr '\n' ' '; }
alternatives() { [ -z "$1" ] && echo "$2" || echo "$1|$2"; }  # <pattern> <pattern>: either
build() {  # <preset> <targets>
    [ -z "$2" ] || cmake --build --preset "$1" --target $2
}
run_tests() {  # <preset> <pattern>; ctest's output in $log
    ctest --preset "$1" -R "$2" --no-tests=error >"$log" 2>&1
}
# "name (status)" of each test that did not pass, from ctest's summary.
not_passed() { sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) \((.*)\)$/\1 (\2)/p' "$log" | sort -u; }
listed() { paste -sd ',' | sed 's/,/, /g'; }

# What the selection needs, over all of its faults.
targets32=""
targets64=""
tests_win32=""
tests_win64=""
for patch in "${patches[@]}"; do
    targets32=$(union "$targets32" "$(header Build "$patch")")
    targets64=$(union "$targets64" "$(header Build64 "$patch")")
    tree=$(header Tree "$patch")
    case "${tree:-win32}" in
        win32) tests_win32=$(alternatives "$tests_win32" "$(header Tests "$patch")") ;;
        win64) tests_win64=$(alternatives "$tests_win64" "$(header Tests "$patch")") ;;
        *) echo "$(basename "$patch"): Tree: $tree is neither win32 nor win64"; exit 2 ;;
    esac
done

log=$(mktemp)
applied=""
built_with_fault=0
finish() {
    local status=$?
    if [ -n "$applied" ] && ! git apply -R "$applied"; then
        echo "COULD NOT TAKE OUT $applied: the tree still holds that fault"
        status=1
    fi
    # The tree as it is again, for the programs the faults were built into.
    if [ "$built_with_fault" -eq 1 ] && ! { build win32 "$targets32" && build win64 "$targets64"; } >"$log" 2>&1; then
        echo "REBUILD FAILED: build/ may still hold programs with a fault in them ($(grep -m1 'error' "$log" || true));" \
            "run tools/build.sh"
        status=1
    fi
    vorn_stop_wineserver
    rm -f "$log"
    exit "$status"
}
trap finish EXIT

vorn_ensure_prefix
vorn_start_wineserver

if ! { build win32 "$targets32" && build win64 "$targets64"; } >"$log" 2>&1; then
    echo "BASELINE: the tree as it is does not build: $(grep -m1 'error' "$log" || true)"
    exit 2
fi
for tree in win32 win64; do
    pattern=tests_$tree
    [ -n "${!pattern}" ] || continue
    if run_tests "$tree" "${!pattern}"; then
        echo "baseline $tree: $(grep -m1 'tests passed' "$log")"
    else
        echo "BASELINE NOT GREEN in $tree, no fault tried: $(not_passed | listed)$(grep -m1 'No tests were found' "$log" || true)"
        exit 2
    fi
done

killed=0
survived=0
broken=0
for patch in "${patches[@]}"; do
    name=$(basename "$patch" .patch)
    fault=$(header Fault "$patch")
    tests=$(header Tests "$patch")
    tree=$(header Tree "$patch")
    if ! git apply --check "$patch" 2>"$log"; then
        echo "BROKEN   $name: does not apply: $(head -1 "$log")"
        broken=$((broken + 1))
        continue
    fi
    git apply "$patch"
    applied=$patch
    built_with_fault=1
    if ! { build win32 "$(header Build "$patch")" && build win64 "$(header Build64 "$patch")"; } >"$log" 2>&1; then
        echo "BROKEN   $name: does not build: $(grep -m1 'error' "$log" || true)"
        broken=$((broken + 1))
    elif run_tests "${tree:-win32}" "$tests"; then
        echo "survived $name: $fault"
        survived=$((survived + 1))
    elif grep -q 'No tests were found' "$log"; then
        echo "BROKEN   $name: no test matches $tests"
        broken=$((broken + 1))
    else
        # A test that did not run ("Not Run") saw nothing of the fault.
        failed=$(not_passed | grep -v '(Not Run)$' || true)
        if [ -z "$failed" ]; then
            echo "BROKEN   $name: the tests did not run: $(not_passed | listed)"
            broken=$((broken + 1))
        else
            echo "killed   $name: $fault; by $(echo "$failed" | listed)"
            killed=$((killed + 1))
        fi
    fi
    git apply -R "$patch"
    applied=""
done
echo "faults: ${#patches[@]}; killed $killed, survived $survived, broken $broken"
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
