#!/usr/bin/env bash
# 32-bit Windows: in a 32-bit Wine prefix (WINEARCH=win32, created once as
# build/wineprefix32, kept apart from the suite's 64-bit prefix) the proxy's
# launcher starts Vorn32BitInterface.exe, which serves the 32-bit chain with
# the emulated pad built as the vendor's 32-bit library.
#   win32_windows_chain.sh <32-bit bin folder> <prefix folder>
set -euo pipefail
bin=$1
export WINEPREFIX=$2 WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fail() { echo "FAILED: $*"; exit 1; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the 32-bit Wine prefix $WINEPREFIX (once)"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi
[ ! -d "$WINEPREFIX/drive_c/Program Files (x86)" ] || fail "$WINEPREFIX is not a 32-bit prefix"

app=$(mktemp -d)
vendor="$WINEPREFIX/drive_c/Program Files/Common Files/Logishrd/KHAL3"
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$app" "$vendor/KHALAPI.dll"; }
trap cleanup EXIT
mkdir -p "$app/displays" "$vendor"
cp "$bin/display_host.exe" "$bin/VornApx.dll" "$bin/layers/MediaPadLayer.dll" "$bin/Vorn32BitInterface.exe" "$app/"
cp "$bin/QX20481.dll" "$app/displays/"
cp "$bin/khalapi32/KHALAPI.dll" "$vendor/KHALAPI.dll"

# A server of this prefix's own, detached from our output (see tools/wine-env.sh).
wineserver -p </dev/null >/dev/null 2>&1 || true
(cd "$app" && wine display_host.exe 'displays\QX20481.dll' --params Log --hold 500 --show 'on 32-bit|Windows' \
    --screen-ms 800 --shutdown 'bye|' </dev/null >"$app/out.txt" 2>&1) || true
out=$(tr -d '\r' <"$app/out.txt")
echo "$out"
state=$(tr -d '\r' <"$app/mediapad.state" 2>/dev/null) || fail "the emulated pad was never reached"
echo "$state"
grep -q '^Init: MediaPad Display v1.2.201.1126$' <<<"$out" || fail "Init did not succeed"
grep -q '^line0=|bye             |$' <<<"$state" || fail "the shutdown text is not on the pad"
grep -q '^led=0$' <<<"$state" || fail "the LED is not off"
grep -q '^mode=3$' <<<"$state" || fail "the mode is not 3"
writes=$(sed -n 's/^writes: \([0-9]*\),.*/\1/p' <<<"$out")
commands=$(sed -n 's/^commands=//p' <<<"$state")
[ "$commands" -eq $((12 + 4 * writes + 2)) ] || fail "$commands pad commands for $writes writes"
grep -q 'Init KhalApi.dll loaded' "$app/Vorn32BitInterface.log" || fail "Vorn32BitInterface.exe did not bind the library"
[ ! -e "$app/Vorn64BitInterface.log" ] || fail "a 64-bit host program was started"
grep -q 'Init Complete' "$app/logs/QX20481.log" || fail "the plug-in's log lacks its Init"
echo "OK: the 32-bit chain reached the pad through Vorn32BitInterface.exe"
