#!/usr/bin/env bash
# Builds both architectures and runs the benchmark under Wine (not a test):
#  - bench/proxy_bench.cpp: the round trip of each LD_ call and of one
#    DISPLAYDLL_Write through the chain, signalled and poll-only, with the
#    shipped timer and with a 15.6 ms timer model, beside the floors of the
#    same run (the plain event ping-pong among them) and the 1 ms waits
#    that ran out on each side; where a call's time goes, step by step on
#    each side, beside the same for a baseline commit; and the same
#    write through the 64-bit QX20481.dll and its 32-bit helper
#    (bench/bridge_bench.cpp, row DISPLAYDLL_Write64) in the same session;
#  - here, "staying ready": what the host program costs in CPU, counting
#    the wineserver beside it, while a caller makes one call a second,
#    beside a bare 1 ms sleep loop and a process blocked on an event, and
#    how often the host wakes up between the calls;
#  - here, what a crash behind the display costs the display host's call
#    (bench/recovery_bench.cpp, in each build's folder with the shipped
#    chain): the write after the host program or the helper was ended, the
#    cold start, beside the floor of starting a bare process of each
#    bitness;
#  - here, a bridged plug-in that misbehaves (bench/misbehave_bench.cpp,
#    the recording plug-in behind the 64-bit bridge, on cue): the display
#    host's longest call while every write faults, while every new helper
#    crashes (and the helper starts a minute), while every write blocks,
#    and the time from the device back to the current screen; beside a
#    normal bridged write through this bridge and through the bridge of
#    VORN_BENCH_BASELINE (a commit, default ef7ad26, the bridge before it
#    took faults and bounded its calls), built here for the comparison;
#  - here, a plug-in of the 32-bit display host loaded directly and
#    isolated (bench/isolation_bench.cpp, each in a folder of its own laid
#    out as installed, isolated with vorn-check.exe --isolate): a MediaPad
#    write through the chain, the longest write while the host program
#    stops answering (its threads suspended), and the longest write while
#    a plug-in call blocks (the recording plug-in on cue);
#  - here, the wineserver round trips of each side per call, under a
#    wineserver that traces every request it gets: one caller through the
#    shipped proxy and host program, three callers (each a process with
#    the shipped proxy) through one shipped host program at once, and the
#    event floor and the plain floor;
#  - at the end, the targets of the last three (proxy_bench prints its own
#    at the end of its part).
#   tools/bench.sh [calls per function, default 2000, at least 200]
# VORN_BENCH_ONLY=misbehave, =isolation or =proxy runs the misbehaving
# plug-in's part, the isolation part or proxy_bench's part alone.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
"$VORN_ROOT/tools/build.sh" >/dev/null
vorn_ensure_prefix
vorn_start_wineserver
trap vorn_stop_wineserver EXIT

# Under emulation the 32-bit side runs translated code: its figures compare
# only with those of the same run.
echo "32-bit programs run $(bash "$VORN_ROOT/tools/i386-support.sh" describe) on this machine."
bin32="$VORN_BUILD/win32/bin"
bin64="$VORN_BUILD/win64/bin"
work=$(mktemp -d)
trap 'vorn_stop_wineserver; rm -rf "$work"' EXIT
mrow() { tr -d '\r' <"$1" 2>/dev/null | awk -v n="$2" -v f="$3" '$1 == "row" && $2 == n { print $f }'; }
# ---- a plug-in of the 32-bit display host, direct and isolated ----
isolation_part() {
    local work vendor="$WINEPREFIX/drive_c/Program Files/Common Files/Logishrd/KHAL3" way
    work=$(mktemp -d)
    mkdir -p "$vendor"
    cp "$bin64/KHALAPI_nofile.dll" "$vendor/KHALAPI.dll"
    for way in direct isolated; do
        local dir="$work/$way"
        mkdir -p "$dir/displays"
        cp "$bin32/layers/MediaPadLayer.dll" "$bin32/VornApx.dll" "$bin64/Vorn64BitInterface.exe" "$dir/"
        cp "$bin32/isolation_bench.exe" "$bin32/vorn-check.exe" "$dir/"
        cp "$bin32/QX20481.dll" "$bin32/RecordingDisplay.dll" "$dir/displays/"
        local cue='displays\RecordingDisplay'
        if [ "$way" = isolated ]; then
            cp "$bin32/VornIsolation.dll" "$bin32/QX20481Bridge32.exe" "$dir/"
            (cd "$dir" && wine vorn-check.exe --isolate 'displays\QX20481.dll' &&
                wine vorn-check.exe --isolate 'displays\RecordingDisplay.dll') </dev/null >"$dir/steps.txt" 2>&1 ||
                { echo "isolating failed: $(cat "$dir/steps.txt")"; return; }
            cue='displays\RecordingDisplay-32bit\RecordingDisplay'
        fi
        (cd "$dir" && wine isolation_bench.exe mediapad "$1" && wine isolation_bench.exe recording "$cue") \
            </dev/null >"$dir/rows.txt" 2>&1 || echo "isolation_bench ($way) failed: $(cat "$dir/rows.txt")"
        # The next folder's chain starts a host program of its own.
        (cd "$dir" && wine vorn-check.exe --end-host "$(winepath -w "$dir")") </dev/null >/dev/null 2>&1 || true
    done
    local d=$work/direct/rows.txt i=$work/isolated/rows.txt
    echo
    echo "A plug-in of the 32-bit display host, loaded directly and isolated: its calls, in ms (writes a refresh apart):"
    printf '  %-58s %10s %10s\n' "" "direct" "isolated"
    printf '  %-58s %10s %10s\n' "a MediaPad write through the chain, median" "$(mrow "$d" write 3)" "$(mrow "$i" write 3)"
    printf '  %-58s %10s %10s\n' "  p99" "$(mrow "$d" write 4)" "$(mrow "$i" write 4)"
    printf '  %-58s %10s %10s\n' "the host program stops answering: the longest write" "$(mrow "$d" stuck 3)" \
        "$(mrow "$i" stuck 3)"
    printf '  %-58s %10s %10s\n' "  writes made meanwhile (10 s, or one that waited it out)" "$(mrow "$d" stuck 4)" \
        "$(mrow "$i" stuck 4)"
    printf '  %-58s %10s %10s\n' "a plug-in call blocks for 10 s: the longest write" "$(mrow "$d" blocking 3)" \
        "$(mrow "$i" blocking 3)"
    printf '  %-58s %10s %10s\n' "  writes made meanwhile" "$(mrow "$d" blocking 4)" "$(mrow "$i" blocking 4)"
    awk -v s="$(mrow "$i" stuck 3)" -v b="$(mrow "$i" blocking 3)" 'BEGIN {
        printf "  target: isolated, the longest write while the host program is stuck (%s ms) and while a call blocks", s
        printf " (%s ms) at most 250 each; direct, the first is the proxy'"'"'s time-out (100 s)\n", b }'
    rm -rf "$work" "$vendor/KHALAPI.dll"
}
if [ "${VORN_BENCH_ONLY:-}" = isolation ]; then
    isolation_part "${1:-500}"
    exit 0
fi

# ---- a misbehaving bridged plug-in ----
# The recording plug-in bridged as vorn-check --bridge lays it out: the
# 64-bit bridge under its name, the 32-bit one in its folder, the helper
# beside the program. The baseline's bridge and helper are built from that
# commit in a worktree of their own.
misbehave_part() {
    baseline=${VORN_BENCH_BASELINE:-ef7ad26}
    lay_out_bridge() {  # <folder> <64-bit bridge> <helper>
        mkdir -p "$1/displays/RecordingDisplay-32bit"
        cp "$2" "$1/displays/RecordingDisplay.dll"
        cp "$bin32/RecordingDisplay.dll" "$1/displays/RecordingDisplay-32bit/"
        cp "$3" "$bin64/misbehave_bench.exe" "$1/"
    }
    lay_out_bridge "$work/misbehave" "$bin64/QX20481.dll" "$bin32/QX20481Bridge32.exe"
    (cd "$work/misbehave" && wine misbehave_bench.exe 500 </dev/null >rows.txt 2>&1) ||
        { echo "misbehave_bench failed:"; cat "$work/misbehave/rows.txt"; }
    base_tree="$work/baseline-tree"
    base_rows=""
    if git -C "$VORN_ROOT" worktree add --detach "$base_tree" "$baseline" >/dev/null 2>&1 &&
        (cd "$base_tree" && cmake --preset win64 && cmake --build --preset win64 -j 2 --target QX20481_64 &&
            cmake --preset win32 && cmake --build --preset win32 -j 2 --target QX20481Bridge32) >"$work/baseline-build.txt" 2>&1; then
        lay_out_bridge "$work/misbehave-base" "$base_tree/build/win64/bin/QX20481.dll" \
            "$base_tree/build/win32/bin/QX20481Bridge32.exe"
        (cd "$work/misbehave-base" && wine misbehave_bench.exe 500 normal </dev/null >rows.txt 2>&1) || true
        base_rows="$work/misbehave-base/rows.txt"
    else
        echo "the bridge of $baseline could not be built: $(tail -n 3 "$work/baseline-build.txt" 2>/dev/null)"
    fi
    git -C "$VORN_ROOT" worktree remove --force "$base_tree" >/dev/null 2>&1 || true
    m=$work/misbehave/rows.txt
    echo
    echo "A bridged plug-in that misbehaves: the 64-bit display host's calls, in ms (writes a refresh apart):"
    printf '  %-58s %10s %10s\n' "" "median" "longest"
    printf '  %-58s %10s %10s\n' "a normal write, this bridge (p99 for longest)" "$(mrow "$m" write 3)" "$(mrow "$m" write 4)"
    printf '  %-58s %10s %10s\n' "a normal write, the bridge of $baseline (p99 for longest)" "$(mrow "$base_rows" write 3)" \
        "$(mrow "$base_rows" write 4)"
    printf '  %-58s %10s %10s\n' "every write faults (taken in the helper)" "$(mrow "$m" faulting 3)" "$(mrow "$m" faulting 4)"
    printf '  %-58s %10s %10s\n' "every new helper crashes at its first write, 60 s" "" "$(mrow "$m" crashing 3)"
    printf '  %-58s %10s\n' "  helpers started a minute meanwhile" "$(mrow "$m" crashing 4)"
    printf '  %-58s %10s %10s\n' "every write blocks, 10 s" "" "$(mrow "$m" blocking 3)"
    printf '  %-58s %10s\n' "from the device back to the current screen shown" "$(mrow "$m" back 3)"

    awk -v f="$(mrow "$m" faulting 4)" -v c="$(mrow "$m" crashing 3)" -v b="$(mrow "$m" blocking 3)" \
        -v w="$(mrow "$m" write 3)" -v w0="$(mrow "${base_rows:-/dev/null}" write 3)" 'BEGIN {
        printf "  target: the longest call while the plug-in faults, crashes, blocks (%s, %s, %s ms) at most 250 each,", f, c, b
        printf " where a call that starts a helper may add that start;"
        printf " a normal bridged write (%s ms) no slower than the baseline'"'"'s (%s ms)\n", w, (w0 == "" ? "-" : w0) }'
}
[ "${VORN_BENCH_ONLY:-}" = proxy ] || misbehave_part
[ "${VORN_BENCH_ONLY:-}" = misbehave ] && exit 0
[ "${VORN_BENCH_ONLY:-}" = proxy ] || isolation_part "${1:-2000}"

# ---- where a call's time goes ----
# proxy_bench times each step of a call on both sides with the step-timed
# copies of the proxy and the host program, and does the same, beside
# them, with those of VORN_BENCH_STEPS_BASELINE (a commit, default ac2f271,
# the calls before they were cut down to what this table showed), built
# here in a worktree of their own.
steps_baseline=${VORN_BENCH_STEPS_BASELINE:-ac2f271}
steps_tree="$work/steps-baseline-tree"
if git -C "$VORN_ROOT" worktree add --detach "$steps_tree" "$steps_baseline" >/dev/null 2>&1 &&
    (cd "$steps_tree" && cmake --preset win64 && cmake --build --preset win64 -j 2 --target vorn_steps_host &&
        cmake --preset win32 && cmake --build --preset win32 -j 2 --target VornApx_steps) >"$work/steps-build.txt" 2>&1; then
    mkdir -p "$work/steps-baseline"
    cp "$steps_tree/build/win64/bin/vorn_steps_host.exe" "$steps_tree/build/win32/bin/bench/steps/VornApx.dll" \
        "$work/steps-baseline/"
    export VORN_BENCH_STEPS_FOLDER="Z:$(echo "$work/steps-baseline" | tr / '\\')"
    export VORN_BENCH_STEPS_LABEL="at $steps_baseline"
else
    echo "the step-timed programs of $steps_baseline could not be built: $(tail -n 3 "$work/steps-build.txt" 2>/dev/null)"
fi
git -C "$VORN_ROOT" worktree remove --force "$steps_tree" >/dev/null 2>&1 || true

wine "$VORN_BUILD/win32/bin/proxy_bench.exe" "${1:-2000}"
unset VORN_BENCH_STEPS_FOLDER VORN_BENCH_STEPS_LABEL
[ "${VORN_BENCH_ONLY:-}" = proxy ] && exit 0

# ---- staying ready ----
bin32="$VORN_BUILD/win32/bin"
bin64="$VORN_BUILD/win64/bin"
window=30
hz=$(getconf CLK_TCK)
# The wineserver of this prefix (another prefix's may run beside it): its
# working directory is named after the prefix's device and inode.
prefix_server() {
    local tail p
    tail=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
    for p in $(pgrep -f '^/[^ ]*wineserver'); do
        case "$(readlink "/proc/$p/cwd")" in */"$tail") echo "$p"; return ;; esac
    done
}
server=$(prefix_server)
# Processes of this prefix only: another prefix's may run the same programs.
ours() { grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$1/environ" 2>/dev/null; }

cpu_ticks() { [ -n "$1" ] && awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# The host program that a proxy starts has " " for its whole command line,
# which leaves Wine's process title blank: it is the newest Wine process
# whose command line holds nothing but zero bytes.
blank_wine_pid() {
    local found="" d
    for d in $(ls -d /proc/[0-9]* 2>/dev/null | sort -t/ -k3 -n); do
        case "$(readlink "$d/exe" 2>/dev/null)" in */wine*) ;; *) continue ;; esac
        [ -z "$(tr -d '\0' < "$d/cmdline" 2>/dev/null)" ] && ours "${d#/proc/}" && found=${d#/proc/}
    done
    echo "$found"
}
percent() { awk -v t="$1" -v hz="$hz" -v s="$window" 'BEGIN { printf "%5.2f", 100 * t / (hz * s) }'; }
sum_of_window=0
wake_ups=""

# cpu_window <label> <settle s> <exe name> <command...>: starts the command
# under Wine in a folder of its own, waits, then counts the CPU of the
# process running <exe name> (@blank: the host program that a proxy
# started) and of the wineserver over the window.
cpu_window() {
    local label=$1 settle=$2 exe=$3; shift 3
    local dir="$work/$RANDOM"
    mkdir -p "$dir"
    (cd "$dir" && exec "$@" </dev/null >"$dir/out.txt" 2>&1) &
    local started=$!
    sleep "$settle"
    local pid
    if [ "$exe" = "@blank" ]; then
        pid=$(blank_wine_pid)
    else
        pid=""
        for p in $(pgrep -f "^[A-Za-z]:.*\\\\$exe" | sort -n); do ours "$p" && pid=$p; done
    fi
    local p0 s0 p1 s1
    p0=$(cpu_ticks "$pid"); s0=$(cpu_ticks "$server")
    sleep "$window"
    p1=$(cpu_ticks "$pid"); s1=$(cpu_ticks "$server")
    wait "$started" 2>/dev/null || true
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    sum_of_window=$((p1 - p0 + s1 - s0))
    printf '  %-52s %s %s %s\n' "$label" "$(percent $((p1 - p0)))" "$(percent $((s1 - s0)))" \
        "$(percent "$sum_of_window")"
    grep -h "wake-ups" "$dir/out.txt" | sed 's/^/      /' || true
    wake_ups=$(sed -n 's/.*wake-ups a second between calls: \([-0-9.]*\).*/\1/p' "$dir/out.txt" | tail -n 1)
}

echo
echo "Staying ready: CPU over ${window} s in percent of one core, under Wine:"
printf '  %-52s %5s %5s %5s\n' "" "proc" "server" "sum"
s0=$(cpu_ticks "$server"); sleep "$window"; s1=$(cpu_ticks "$server")
printf '  %-52s %5s %s %s\n' "nothing running (the wineserver alone)" "" "$(percent $((s1 - s0)))" "$(percent $((s1 - s0)))"
cpu_window "bare Sleep(1) loop" 2 floor_peer.exe wine "$bin64/floor_peer.exe" idle $((window + 5))
sleep_loop=$sum_of_window
cpu_window "a process blocked on an event" 2 floor_peer.exe wine "$bin64/floor_peer.exe" block $((window + 5))
# The benchmark's host (the host's core with counting waits) under the
# host's name, started by the benchmark's proxy; the caller makes one call
# a second through it and counts the host's wake-ups.
cpu_window "host, a caller making one call a second" 4 @blank \
    wine "$bin32/proxy_bench.exe" --paced $((window + 4))
ready=$sum_of_window
wake_ups_signalled=${wake_ups:--}
cpu_window "host, a caller that only polls, one call a second" 4 @blank \
    wine "$bin32/proxy_bench.exe" --paced $((window + 4)) poll
wake_ups_polled=${wake_ups:--}

# ---- recovery ----
# Each build's folder laid out as installed, with the shipped programs; the
# pad's stand-in without a state file at the vendor's path.
rounds=10
vendor="$WINEPREFIX/drive_c/Program Files/Common Files/Logishrd/KHAL3"
mkdir -p "$vendor"
cp "$bin64/KHALAPI_nofile.dll" "$vendor/KHALAPI.dll"
for bits in 32 64; do
    dir="$work/recovery$bits"
    mkdir -p "$dir/displays"
    cp "$bin32/layers/MediaPadLayer.dll" "$bin32/VornApx.dll" "$bin64/Vorn64BitInterface.exe" "$dir/"
    if [ "$bits" = 32 ]; then
        cp "$bin32/recovery_bench.exe" "$bin32/start_peer.exe" "$dir/"
        cp "$bin32/QX20481.dll" "$dir/displays/"
    else
        mkdir -p "$dir/displays/QX20481-32bit"
        cp "$bin64/recovery_bench.exe" "$bin64/start_peer.exe" "$bin32/QX20481Bridge32.exe" "$dir/"
        cp "$bin64/QX20481.dll" "$dir/displays/"
        cp "$bin32/QX20481.dll" "$dir/displays/QX20481-32bit/"
    fi
    (cd "$dir" && wine recovery_bench.exe "$rounds" 'displays\QX20481.dll' </dev/null >"$dir/rows.txt" 2>&1) ||
        { echo "recovery_bench ($bits-bit build) failed:"; cat "$dir/rows.txt"; }
done
row() { tr -d '\r' <"$work/recovery$1/rows.txt" | awk -v n="$2" -v f="$3" '$1 == "row" && $2 == n { print $f }'; }
cell() { local m; m=$(row "$1" "$2" 3); [ -n "$m" ] && printf '%9s %9s' "$m" "$(row "$1" "$2" 4)" || printf '%19s' "-"; }
echo
echo "Recovery: how long the display host's call is held, in ms (median and p99 of $rounds; cold start once):"
printf '  %-46s %19s   %19s\n' "" "32-bit build" "64-bit build"
printf '  %-46s %s   %s\n' "starting a bare process of that bitness (floor)" "$(cell 32 floor)" "$(cell 64 floor)"
printf '  %-46s %s   %s\n' "cold start: Init and the first write" "$(cell 32 cold)" "$(cell 64 cold)"
printf '  %-46s %s   %s\n' "a write, everything running" "$(cell 32 write)" "$(cell 64 write)"
printf '  %-46s %s   %s\n' "a session given back: Done, Init, a write" "$(cell 32 replay)" "$(cell 64 replay)"
printf '  %-46s %s   %s\n' "the write after the host program ended" "$(cell 32 host_crash)" "$(cell 64 host_crash)"
printf '  %-46s %19s   %s\n' "the write after the helper ended" "-" "$(cell 64 helper_crash)"
recovery_targets=$(awk -v f32="$(row 32 floor 3)" -v f64="$(row 64 floor 3)" \
    -v w32="$(row 32 write 3)" -v w64="$(row 64 write 3)" -v r32="$(row 32 replay 3)" -v r64="$(row 64 replay 3)" \
    -v h32="$(row 32 host_crash 3)" -v h64="$(row 64 host_crash 3)" -v k64="$(row 64 helper_crash 3)" \
    -v c32="$(row 32 cold 3)" -v c64="$(row 64 cold 3)" 'BEGIN {
    line("host crash, 32-bit build", h32, 1.5 * f64 + w32, "1.5 x the 64-bit floor + a write")
    line("host crash, 64-bit build", h64, 1.5 * f64 + w64, "1.5 x the 64-bit floor + a write")
    line("helper crash, 64-bit build", k64, 1.5 * f32 + r64, "1.5 x the 32-bit floor + the session given back")
    line("cold start, 32-bit build", c32, 1.5 * f64 + r32, "1.5 x the 64-bit floor + the session")
    line("cold start, 64-bit build", c64, 1.5 * (f32 + f64) + r64, "1.5 x both floors + the session")
    }
    function line(what, got, limit, how) {
        printf "  %s: median %.1f ms; target at most %.1f (%s)\n", what, got, limit, how }')

# ---- round trips ----
# Under Wine each wait, signal and release is one request to the wineserver.
# A wineserver started with -d1 writes each request it gets, by thread, to
# its standard error; proxy_bench --count runs the calls between two marker
# events and names the threads of both sides (the caller side may be the
# threads of several processes).
counted=1000
vorn_stop_wineserver
wineserver -p -f -d1 </dev/null >/dev/null 2>"$work/trace.txt" &
tracer=$!
wine "$bin32/proxy_bench.exe" --count "$counted" </dev/null >"$work/count.txt" 2>&1 || true
wineserver -k >/dev/null 2>&1 || true
wait "$tracer" 2>/dev/null || true
echo
echo "Round trips to the wineserver per call: the requests each side sent it, from its trace, over"
echo "$counted calls, or $counted from each of the three callers (select: a wait, or a signal and a wait in one;"
echo "event_op: a signal):"
printf '  %-52s %7s %7s   %s\n' "" "caller" "other" "requests per call"
count_side() {  # <label> <calls> <caller threads, a,b,...> <other side's threads...>
    local label=$1 calls=$2; shift 2
    awk -v label="$label" -v calls="$calls" -v callers="$1" -v others="${*:2}" '
        BEGIN {
            n = split(callers, a, ","); for (i = 1; i <= n; i++) caller[a[i]] = 1
            n = split(others, o, " "); for (i = 1; i <= n; i++) other[o[i]] = 1
        }
        index($0, "VornBenchCount." label ".Start\"") { on = 1; next }
        index($0, "VornBenchCount." label ".End\"") { on = 0 }
        on && /^[0-9a-f]+: [a-z_]+\( / {
            split($0, f, /[:(]/); t = f[1]; r = f[2]; gsub(/ /, "", r)
            if (t in caller) { c++; cr[r]++ } else if (t in other) { s++; sr[r]++ }
        }
        function list(a,   k, out) { out = ""; for (k in a) out = out sprintf("%s%s %.2f", out == "" ? "" : ", ", k, a[k] / calls); return out }
        END { printf "%7.2f %7.2f   caller: %s; other: %s\n", c / calls, s / calls, list(cr), list(sr) }
    ' "$work/trace.txt"
}
declare -A caller_side other_side
while read -r tag label calls callers bar others; do
    [ "$tag" = count ] || continue
    case "$label" in
        floor) name="event each way, 1 ms waits (the event floor)" ;;
        plain_floor) name="event each way, no time-out (the plain floor)" ;;
        three_callers) name="three callers: the shipped proxies / host program" ;;
        *) name="$label: the shipped proxy / host program" ;;
    esac
    row=$(count_side "$label" "$calls" "$callers" $others)
    read -r caller_side[$label] other_side[$label] _ <<<"$row"
    printf '  %-52s %s\n' "$name" "$row"
done < <(tr -d '\r' <"$work/count.txt")
rows=$(grep -c '^count ' "$work/count.txt" || true)
[ "$rows" -eq 4 ] ||
    { echo "  $rows of the 4 rows counted; proxy_bench --count said:"; grep -v '^count ' "$work/count.txt" | sed 's/^/    /'; }

echo
echo "targets"
awk -v r="$ready" -v f="$sleep_loop" 'BEGIN {
    printf "  host and wineserver, one call a second / bare Sleep(1) loop: %.2f; target at most 0.25\n",
           (f > 0 ? r / f : -1) }'
echo "  host wake-ups a second between calls: $wake_ups_signalled with a caller that waits for signals," \
    "$wake_ups_polled with one that only polls; target at most 20"
echo "  wineserver requests per call, one caller: proxy ${caller_side[LD_DeviceControl]:--}," \
    "host ${other_side[LD_DeviceControl]:--}; target 1.00 each side"
echo "    beside it, three callers at once: proxies ${caller_side[three_callers]:--}, host ${other_side[three_callers]:--};" \
    "the event floor: 32-bit side ${caller_side[floor]:--}, 64-bit side ${other_side[floor]:--};" \
    "the plain floor: ${caller_side[plain_floor]:--}, ${other_side[plain_floor]:--}"
printf '%s\n' "$recovery_targets"
