#!/usr/bin/env bash
# The whole chain under Wine, on a fresh Debian machine as root: installs
# what is missing, builds both architectures, lays out a folder like the
# display host application's install and runs it:
#   display_host.exe -> displays\QX20481.dll -> MediaPadLayer.dll (stand-in)
#   -> VornApx.dll -> Vorn64BitInterface.exe -> KHALAPI.dll (emulated pad)
# and draws what the emulated pad shows as it changes. Ends by itself.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
bash "$here/install-deps.sh"
mkdir -p "$VORN_BUILD"
echo "building both architectures (output in $VORN_BUILD/demo-build.txt)"
if ! bash "$here/build.sh" >"$VORN_BUILD/demo-build.txt" 2>&1; then
    tail -n 40 "$VORN_BUILD/demo-build.txt"
    exit 1
fi
vorn_ensure_prefix

app="$VORN_BUILD/demo"
vendor="$WINEPREFIX/drive_c/Program Files/Common Files/Logishrd/KHAL3"
rm -rf "$app"
mkdir -p "$app/displays" "$vendor"
cp "$VORN_BUILD/win32/bin/display_host.exe" "$VORN_BUILD/win32/bin/VornApx.dll" \
   "$VORN_BUILD/win32/bin/layers/MediaPadLayer.dll" "$VORN_BUILD/win64/bin/Vorn64BitInterface.exe" "$app/"
cp "$VORN_BUILD/win32/bin/QX20481.dll" "$app/displays/"
cp "$VORN_BUILD/win64/bin/KHALAPI.dll" "$vendor/KHALAPI.dll"

# The host program would idle for 100 s after the display host has gone:
# ending the Wine session that the demo starts here ends it with the demo.
vorn_start_wineserver
trap vorn_stop_wineserver EXIT

state="$app/mediapad.state"
shown=""
# Draws the pad as a 2x16 display when what it shows has changed.
draw() {
    local text line0 line1 led mode frame
    text=$( { tr -d '\r' <"$state"; } 2>/dev/null) || return 0
    line0=$(sed -n 's/^line0=|\(.*\)|$/\1/p' <<<"$text")
    line1=$(sed -n 's/^line1=|\(.*\)|$/\1/p' <<<"$text")
    led=$(sed -n 's/^led=//p' <<<"$text")
    mode=$(sed -n 's/^mode=//p' <<<"$text")
    [ -n "$line0$line1" ] || return 0
    frame=$(printf '  +----------------+\n  |%-16.16s|\n  |%-16.16s|  LED %s\n  +----------------+  mode %s' \
        "$line0" "$line1" "${led:-?}" "${mode:-?}")
    [ "$frame" != "$shown" ] || return 0
    if [ -t 1 ] && [ -n "$shown" ]; then printf '\033[4A\033[J'; fi
    printf '%s   %s\n' "$frame" "$(date +%H:%M:%S)"
    shown=$frame
}

echo "== the emulated MediaPad, as the display host drives it through the chain"
start=$(date +%s)
(cd "$app" && exec wine display_host.exe 'displays\QX20481.dll' --params Log --hold 2500 \
    --show ' Time  $Time|  Date $Date' --screen-ms 6000 \
    --shutdown '  LCDSmartie is | shutting down  ' \
    </dev/null >"$app/display_host.txt" 2>&1) &
display_host=$!
while kill -0 $display_host 2>/dev/null; do
    draw
    sleep 0.05
done
status=0
wait $display_host || status=$?
draw
echo
echo "display host: $(grep -E '^(Init|writes)' "$app/display_host.txt" | tr '\n' ';' | sed 's/;$//; s/;/; /g')"
echo "finished in $(( $(date +%s) - start )) s (exit status $status)"
echo "log files:"
echo "  $app/logs/QX20481.log            the plug-in (switched on by the parameter 'Log')"
echo "  $app/logs/VornApx.log            the proxy (always empty: its log is never switched on)"
echo "  $app/Vorn64BitInterface.log      the host program"
echo "  $app/display_host.txt            what the stand-in display host printed"
exit $status
