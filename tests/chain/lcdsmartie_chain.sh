#!/usr/bin/env bash
# The real display host application, LCD Smartie 5.6 (../shared/lcdsmartie),
# headless under Xvfb, in a Wine prefix of its own (build/wineprefix-lcdsmartie,
# created once), with our chain installed in a folder laid out as its install.
#   lcdsmartie_chain.sh <case> <32-bit bin> <64-bit bin> <lcdsmartie folder> <prefix>
# Cases:
#   pad32       the 32-bit build with the 32-bit QX20481.dll;
#   pad64       the 64-bit build with the 64-bit QX20481.dll and its helper;
#   isolated32  the 32-bit build with QX20481.dll isolated by vorn-check.exe
#               --isolate, its helper ended from outside once the clock runs:
#               each shows the configured screen, follows the clock line (the
#               isolated one again after its helper's end) and, after a clean
#               close, shows the shutdown text with the LED off;
#   recording   RecordingDisplay.dll loaded directly by the 32-bit build and,
#               bridged with vorn-check.exe --bridge, by the 64-bit build, on
#               a screen that does not change: the same calls, arguments and
#               results on both paths (ReadKey, which LCD Smartie polls on a
#               timer, counted apart), the same settings found beside the
#               program, in the current directory and beside the plug-in;
#               the entry points it lacks are never called;
#   faults      RecordingDisplay.dll bridged in the 64-bit build, on a clock
#               screen, told by cue files to fault in every Write (taken
#               around the call: one helper throughout, the log says it
#               once), then to fault in a thread of its own (no handler
#               around the call can take that: each helper ends at once,
#               never held by the crash dialog, and new ones start after a
#               growing pause), then to
#               behave again: the writes come back by themselves, with the
#               current clock, and the close leaves no helper;
#   faults32    the same in the 32-bit build, the plug-in isolated with
#               vorn-check.exe --isolate.
# Exit status 0 (passed), 1 (failed), 77 (LCD Smartie is absent: not run).
set -euo pipefail
case_name=$1 bin32=$2 bin64=$3 smartie=$4 prefix=$5
if [ ! -f "$smartie/LCDSmartie-win32.exe" ] || [ ! -f "$smartie/LCDSmartie-win64.exe" ]; then
    echo "SKIPPED: $smartie is absent, so the real display host's tests do not run"
    exit 77
fi
for tool in xvfb-run Xvfb xauth; do
    command -v $tool >/dev/null || { echo "FAILED: $tool is missing (tools/install-deps.sh installs it)"; exit 1; }
done
# Everything below runs on one virtual X display of its own.
if [ -z "${VORN_INSIDE_XVFB:-}" ]; then
    VORN_INSIDE_XVFB=1 exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$@"
fi

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fail() { echo "FAILED: $*"; exit 1; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX (once)"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi
work=$(mktemp -d)
vendor="$WINEPREFIX/drive_c/Program Files/Common Files/Logishrd/KHAL3"
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work" "$vendor/KHALAPI.dll"; }
trap cleanup EXIT
mkdir -p "$vendor"
cp "$bin64/KHALAPI.dll" "$vendor/KHALAPI.dll"
wineserver -p </dev/null >/dev/null 2>&1 || true

# Sets key=value in [section] of an INI file (CR LF or LF), adding the key
# at the section's end when it is not there.
ini_set() {
    local file=$1 section=$2 key=$3 value=$4
    awk -v section="[$section]" -v key="$key" -v value="$value" '
        { line = $0; sub(/\r$/, "", line) }
        line ~ /^\[/ { if (in_section && !done) { print key "=" value "\r"; done = 1 } in_section = (line == section) }
        in_section && index(line, key "=") == 1 { print key "=" value "\r"; done = 1; next }
        { print }
        END { if (in_section && !done) print key "=" value "\r" }' "$file" >"$file.new"
    mv "$file.new" "$file"
}

# install <folder> <32|64> <plug-in file in displays> <parameters> <top line> <bottom line>
install() {
    local app=$1 bits=$2 plugin=$3 parameters=$4 top=$5 bottom=$6
    mkdir -p "$app/displays"
    cp -r "$smartie/kit/." "$app/"
    chmod -R u+w "$app"
    cp "$smartie/LCDSmartie-win$bits.exe" "$app/LCDSmartie.exe"
    cp "$bin32/VornApx.dll" "$bin32/layers/MediaPadLayer.dll" "$bin64/Vorn64BitInterface.exe" "$app/"
    local ini="$app/config.ini"
    ini_set "$ini" "General Settings" LCDType 7
    ini_set "$ini" "General Settings" Size 6
    ini_set "$ini" "General Settings" CheckUpdates 0
    ini_set "$ini" "General Settings" HideOnStartup 0
    ini_set "$ini" "General Settings" ShutdownLine1 '"  Goodbye from  "'
    ini_set "$ini" "General Settings" ShutdownLine2 '"  LCD Smartie   "'
    ini_set "$ini" "Communication Settings" DisplayDLLName "$plugin"
    ini_set "$ini" "Communication Settings" DisplayDLLParameters "$parameters"
    ini_set "$ini" "Screen 01" Enabled 1
    ini_set "$ini" "Screen 01" Sticky 1
    ini_set "$ini" "Screen 01" TransitionStyle 0
    ini_set "$ini" "Screen 01" Text01 "\"$top\""
    ini_set "$ini" "Screen 01" Text02 "\"$bottom\""
    ini_set "$ini" "Screen 01" Text03 '""'
    ini_set "$ini" "Screen 01" Text04 '""'
    for n in 01 02 03 04; do ini_set "$ini" "Screen 01" NoScroll$n 1; done
}

# Starts LCD Smartie in <folder>; its process id goes to $smartie_pid.
start_smartie() {
    (cd "$1" && exec wine LCDSmartie.exe </dev/null >"$1/smartie.txt" 2>&1) &
    smartie_pid=$!
}

# A clean close, as the system's or the tray's: it writes its shutdown
# lines, calls Done and frees the plug-in. The 64-bit build is seen only
# by the 64-bit taskkill.
close_smartie() {
    local bits=$1 taskkill=(wine taskkill)
    [ "$bits" = 64 ] && taskkill=(/usr/lib/wine/wine64 taskkill)
    "${taskkill[@]}" /im LCDSmartie.exe >/dev/null 2>&1 || true
    for _ in $(seq 1 150); do
        kill -0 "$smartie_pid" 2>/dev/null || return 0
        sleep 0.1
    done
    fail "LCD Smartie did not exit within 15 s of its close"
}

# One field of what the emulated pad shows; empty before it has shown anything.
pad_field() { { tr -d '\r' <"$1/mediapad.state"; } 2>/dev/null | sed -n "s/^$2=//p" || true; }
pad_text() { { tr -d '\r' <"$1/mediapad.state"; } 2>/dev/null | tr '\n' ' ' || true; }

# Processes of this prefix whose command line holds <pattern>, by their
# Linux process ids, one a line: other tests' prefixes may run the same.
prefix_pids() {
    local p
    for p in $(pgrep -f "$1" || true); do
        grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$p/environ" 2>/dev/null && echo "$p"
    done
    return 0
}
helper_pids() { prefix_pids 'QX20481Bridge32\.exe'; }
# The pad with a bridged, isolated or direct QX20481.dll: the screen, the
# clock, the shutdown.
run_pad() {
    local bits=$1 isolated=${2:-} app=$work/app$1
    install "$app" "$bits" QX20481.dll Log '  Vorn MediaPad' '$Time(hh:nn:ss)'
    if [ -n "$isolated" ]; then
        cp "$bin32/QX20481.dll" "$app/displays/"
        cp "$bin32/VornIsolation.dll" "$bin32/QX20481Bridge32.exe" "$bin32/vorn-check.exe" "$app/"
        (cd "$app" && wine vorn-check.exe --isolate 'displays\QX20481.dll' </dev/null) ||
            fail "vorn-check.exe --isolate did not isolate QX20481.dll"
    elif [ "$bits" = 64 ]; then
        mkdir -p "$app/displays/QX20481-32bit"
        cp "$bin64/QX20481.dll" "$app/displays/"
        cp "$bin32/QX20481.dll" "$app/displays/QX20481-32bit/"
        cp "$bin32/QX20481Bridge32.exe" "$app/"
    else
        cp "$bin32/QX20481.dll" "$app/displays/"
    fi
    start_smartie "$app"
    local clock="" ticks=0 top=""
    for _ in $(seq 1 300); do  # up to 30 s: the first Init, then about 12 s of the clock
        local line0 line1
        line0=$(pad_field "$app" line0)
        line1=$(pad_field "$app" line1)
        if [ "$line0" = "|  Vorn MediaPad |" ] && [[ "$line1" =~ ^\|[0-9]{2}:[0-9]{2}:[0-9]{2}\ {8}\|$ ]]; then
            top=$line0
            [ "$line1" != "$clock" ] && ticks=$((ticks + 1)) && clock=$line1
            [ $ticks -ge 10 ] && break
        fi
        sleep 0.1
    done
    [ -n "$top" ] || fail "the pad never showed the configured screen (pad: $(pad_text "$app"))"
    [ $ticks -ge 10 ] || fail "the clock line changed only $ticks times"
    local after=""
    if [ -n "$isolated" ]; then
        local helper
        helper=$(helper_pids)
        [ "$(echo "$helper" | wc -w)" = 1 ] || fail "not one helper runs the isolated plug-in: '$helper'"
        kill -9 "$helper"
        local again=0
        clock=$(pad_field "$app" line1)
        for _ in $(seq 1 200); do  # up to 20 s for five more ticks
            local line1
            line1=$(pad_field "$app" line1)
            [ "$line1" != "$clock" ] && again=$((again + 1)) && clock=$line1
            [ $again -ge 5 ] && break
            sleep 0.1
        done
        [ $again -ge 5 ] || fail "after the helper's end the clock line changed only $again times"
        [ "$(pad_field "$app" line0)" = "|  Vorn MediaPad |" ] || fail "after the helper's end the top line is lost"
        [ -n "$(helper_pids)" ] && [ "$(helper_pids)" != "$helper" ] || fail "no new helper after the end of $helper"
        after=", and $again times more after its helper was ended"
    fi
    close_smartie "$bits"
    local line0 led mode
    line0=$(pad_field "$app" line0) led=$(pad_field "$app" led) mode=$(pad_field "$app" mode)
    [ "$line0" = "|  Goodbye from  |" ] || fail "after the close the pad shows '$line0', not the shutdown text"
    [ "$led" = 0 ] || fail "after the close the LED is $led"
    [ "$mode" = 3 ] || fail "after the close the mode is $mode"
    grep -q 'Done Bye' "$app/logs/QX20481.log" || fail "the plug-in's log has no Done"
    [ -z "$(helper_pids)" ] || fail "the helper still runs after LCD Smartie has gone"
    # The host program would idle for 100 s: the prefix's session ends with the test.
    echo "OK: the $bits-bit LCD Smartie showed the screen, followed the clock $ticks times$after, and left the shutdown text with the LED off"
}

# RecordingDisplay.dll: its calls, direct in the 32-bit build and bridged in
# the 64-bit one. A static screen with custom-character codes, so that
# every write is the same on both paths.
run_recording() {
    local bits calls=()
    for bits in 32 64; do
        local app=$work/rec$bits
        install "$app" "$bits" RecordingDisplay.dll 'p=1' 'static top line' 'keys and chars'
        # Its settings where plug-ins look for theirs (LCD Smartie's program
        # folder is its current directory).
        printf 'beside the program\r\n' >"$app/RecordingDisplay.program.ini"
        printf 'in the current directory\r\n' >"$app/RecordingDisplay.current.ini"
        printf 'beside the plug-in\r\n' >"$app/displays/RecordingDisplay.ini"
        cp "$bin32/RecordingDisplay.dll" "$app/displays/"
        if [ "$bits" = 64 ]; then
            # Bridged as a user bridges it, with the check tool in the folder.
            cp "$bin64/QX20481.dll" "$app/displays/QX20481.dll"
            cp "$bin32/QX20481Bridge32.exe" "$bin32/vorn-check.exe" "$app/"
            (cd "$app" && wine vorn-check.exe --bridge 'displays\RecordingDisplay.dll' </dev/null) ||
                fail "vorn-check.exe --bridge did not bridge RecordingDisplay.dll"
        fi
        start_smartie "$app"
        for _ in $(seq 1 200); do
            grep -q '^Write "keys and chars' "$app/RecordingDisplay.calls" 2>/dev/null && break
            sleep 0.1
        done
        sleep 3
        close_smartie "$bits"
        [ -f "$app/RecordingDisplay.calls" ] || fail "the $bits-bit LCD Smartie never called RecordingDisplay.dll"
        tr -d '\r' <"$app/RecordingDisplay.calls" >"$app/calls.txt"
    done
    local direct=$work/rec32/calls.txt bridged=$work/rec64/calls.txt
    grep -v '^ReadKey' "$direct" >"$work/direct.txt"
    grep -v '^ReadKey' "$bridged" >"$work/bridged.txt"
    if ! diff -u "$work/direct.txt" "$work/bridged.txt"; then
        fail "the calls through the bridge differ from the calls the 32-bit build made directly"
    fi
    # The same key answers in the same order, as far as both polled.
    local n n_direct
    n=$(grep -c '^ReadKey' "$bridged" || true)
    n_direct=$(grep -c '^ReadKey' "$direct" || true)
    # Both runs read every key the plug-in gives (the first five polls).
    [ "$n" -ge 5 ] && [ "$n_direct" -ge 5 ] || fail "ReadKey was polled $n_direct times directly and $n times bridged"
    [ "$n_direct" -lt "$n" ] && n=$n_direct
    [ "$(grep '^ReadKey' "$bridged" | head -n "$n")" = "$(grep '^ReadKey' "$direct" | head -n "$n")" ] ||
        fail "ReadKey's answers differ"
    grep -q '^Init .* -> ok=1 "RecordingDisplay ready"$' "$bridged" || fail "no successful Init"
    grep -q '^CustomCharIndex 00000008 -> 24$' "$bridged" || fail "no CustomCharIndex call"
    grep -q '^Write "keys and chars  "$' "$bridged" || fail "the screen's second line was not written"
    grep -q '^SetBacklight 00000000$' "$bridged" || fail "no SetBacklight(false) at the close"
    for found in 'beside the program: beside the program' 'in the current directory: in the current directory' \
                 'beside the plug-in: beside the plug-in'; do
        grep -qx "  setting $found" "$bridged" || fail "the bridged plug-in did not find its setting $found"
    done
    [ "$(tail -n 1 "$bridged")" = Done ] || fail "the last call was not Done"
    echo "OK: $(wc -l <"$bridged") calls through the bridge, the same as the 32-bit build's (ReadKey: $n polls)"
    head -n 20 "$bridged"
}

writes() { cat "$1/RecordingDisplay.calls" 2>/dev/null | grep -c '^Write ' || true; }
# Waits up to <seconds> for more than <n> writes in <app>.
await_writes() {
    local app=$1 n=$2 seconds=$3
    for _ in $(seq 1 $((seconds * 10))); do
        [ "$(writes "$app")" -gt "$n" ] && return 0
        sleep 0.1
    done
    return 1
}

# <bits>: bridged in the 64-bit build, or isolated in the 32-bit one.
run_faults() {
    local bits=$1 app=$work/faults cue step=--bridge
    install "$app" "$bits" RecordingDisplay.dll 'p=1' 'clock below' '$Time(hh:nn:ss)'
    cp "$bin32/RecordingDisplay.dll" "$app/displays/"
    cp "$bin32/QX20481Bridge32.exe" "$bin32/vorn-check.exe" "$app/"
    if [ "$bits" = 64 ]; then
        cp "$bin64/QX20481.dll" "$app/displays/QX20481.dll"
    else
        cp "$bin32/VornIsolation.dll" "$app/"
        step=--isolate
    fi
    (cd "$app" && wine vorn-check.exe $step 'displays\RecordingDisplay.dll' </dev/null) ||
        fail "vorn-check.exe $step did not take RecordingDisplay.dll"
    cue="$app/displays/RecordingDisplay-32bit/RecordingDisplay"
    local log="$app/logs/RecordingDisplay.bridge.log"
    start_smartie "$app"
    await_writes "$app" 2 20 || fail "LCD Smartie never wrote to RecordingDisplay.dll"
    local helper
    helper=$(helper_pids)
    [ "$(echo "$helper" | wc -w)" = 1 ] || fail "not one helper: $helper"

    # Faults that the guard around each call takes: the same helper goes on.
    : >"$cue.fault"
    local n
    n=$(writes "$app")
    await_writes "$app" $((n + 3)) 20 || fail "the writes stopped while the plug-in faulted"
    rm "$cue.fault"
    [ "$(helper_pids)" = "$helper" ] || fail "a caught fault cost the helper (was $helper, now $(helper_pids))"
    [ "$(grep -c 'Write raised exception' "$log")" = 1 ] || fail "the fault was not logged once: $(cat "$log")"

    # Faults that no handler takes: each helper ends at once, none is held.
    : >"$cue.crash"
    n=$(writes "$app")
    await_writes "$app" $((n + 2)) 20 || fail "no write reached a new helper while the plug-in crashed"
    sleep 4
    rm "$cue.crash"
    [ -z "$(prefix_pids winedbg)" ] || fail "a crashed helper is held by the debugger"
    grep -q 'the helper ended' "$log" || fail "the helpers' ends are not logged: $(cat "$log")"
    [ "$(grep -c 'the plug-in keeps failing' "$log")" = 1 ] || fail "'keeps failing' not logged once: $(cat "$log")"
    # Back by itself, within the longest pause, with the clock as it is now.
    n=$(writes "$app")
    await_writes "$app" $((n + 2)) 40 || fail "the writes did not come back after the plug-in behaved again"
    local now last
    now=$(date +%s)
    last=$(grep '^Write "[0-9][0-9]:' "$app/RecordingDisplay.calls" | tail -n 1 | sed 's/^Write "\(..\):\(..\):\(..\).*/\1:\2:\3/')
    [ -n "$last" ] || fail "no clock written after the plug-in was back"
    local late=$(( (now - $(date -d "$last" +%s) + 86400) % 86400 ))
    [ "$late" -le 3 ] || fail "the plug-in was given a clock $late s old ($last), not the current one"
    close_smartie "$bits"
    [ -z "$(helper_pids)" ] || fail "a helper still runs after LCD Smartie has gone"
    echo "OK ($bits-bit): caught faults kept helper $helper; crashes ended helpers at once; the writes came back with the clock"
    cat "$log"
}

case $case_name in
    faults) run_faults 64 ;;
    faults32) run_faults 32 ;;
    pad32) run_pad 32 ;;
    pad64) run_pad 64 ;;
    isolated32) run_pad 32 isolated ;;
    recording) run_recording ;;
    *) fail "unknown case $case_name" ;;
esac
