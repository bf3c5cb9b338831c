#!/usr/bin/env bash
# Builds both architectures and runs the benchmark under Wine (not a test):
#  - bench/proxy_bench.cpp: the round trip of each LD_ call and of one
#    DISPLAYDLL_Write through the chain, signalled and poll-only, with the
#    shipped timer and with a 15.6 ms timer model, beside the floors of the
#    same run and the 1 ms waits that ran out on each side;
#  - here: what an idle host program costs in CPU, counting the wineserver
#    beside it, beside a bare 1 ms sleep loop.
#   tools/bench.sh [calls per function, default 2000, at least 200]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
"$VORN_ROOT/tools/build.sh" >/dev/null
vorn_ensure_prefix
vorn_start_wineserver
trap vorn_stop_wineserver EXIT

wine "$VORN_BUILD/win32/bin/proxy_bench.exe" "${1:-2000}"

# ---- idle cost ----
bin64="$VORN_BUILD/win64/bin"
window=10
hz=$(getconf CLK_TCK)
server=$(pgrep -f -n '^/[^ ]*wineserver' || true)
work=$(mktemp -d)
trap 'vorn_stop_wineserver; rm -rf "$work"' EXIT

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
percent() { awk -v t="$1" -v hz="$hz" -v s="$window" 'BEGIN { printf "%5.1f", 100 * t / (hz * s) }'; }

# idle_window <label> <settle s> <exe name> <command...>: starts the command
# under Wine in a folder of its own, waits, then counts the CPU of its
# process and of the wineserver over the window.
idle_window() {
    local label=$1 settle=$2 exe=$3; shift 3
    local dir="$work/$RANDOM"
    mkdir -p "$dir"
    (cd "$dir" && exec "$@" </dev/null >/dev/null 2>&1) &
    local started=$!
    sleep "$settle"
    local pid
    pid=$(pgrep -f -n "^[A-Za-z]:.*\\\\$exe" || true)
    local p0 s0 p1 s1
    p0=$(cpu_ticks "$pid"); s0=$(cpu_ticks "$server")
    sleep "$window"
    p1=$(cpu_ticks "$pid"); s1=$(cpu_ticks "$server")
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    wait "$started" 2>/dev/null || true
    printf '  %-50s %s %s %s\n' "$label" "$(percent $((p1 - p0)))" "$(percent $((s1 - s0)))" \
        "$(percent $((p1 - p0 + s1 - s0)))"
}

echo
echo "An idle process under Wine, CPU over ${window} s in percent of one core:"
printf '  %-50s %5s %5s %5s\n' "" "proc" "server" "sum"
s0=$(cpu_ticks "$server"); sleep "$window"; s1=$(cpu_ticks "$server")
printf '  %-50s %5s %s %s\n' "nothing running (the wineserver alone)" "" "$(percent $((s1 - s0)))" "$(percent $((s1 - s0)))"
idle_window "bare Sleep(1) loop" 2 floor_peer.exe wine "$bin64/floor_peer.exe" idle 60
# The benchmark's host with its events switched off polls as the host did
# before it had them; the shipped host waits on the request event for its
# first 10000 idle polls, then sleeps.
idle_window "host polling with 1 ms sleeps (no events)" 2 Vorn64BitInterface.exe \
    env VORN_BENCH_SIGNALS=off sh -c "cp '$bin64/vorn_bench_host.exe' Vorn64BitInterface.exe && exec wine Vorn64BitInterface.exe"
idle_window "shipped host, first ${window} s (waits on the event)" 1 Vorn64BitInterface.exe \
    sh -c "cp '$bin64/Vorn64BitInterface.exe' . && exec wine Vorn64BitInterface.exe"
idle_window "shipped host after its quiet spell (sleeps)" 14 Vorn64BitInterface.exe \
    sh -c "cp '$bin64/Vorn64BitInterface.exe' . && exec wine Vorn64BitInterface.exe"
