# Sourced by the tool scripts: where the builds (as CMakePresets.json puts
# them) and the private Wine prefix live.
VORN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VORN_BUILD=$VORN_ROOT/build
export WINEPREFIX=${WINEPREFIX:-$VORN_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

# Creates the prefix once; headless, no installer dialogs.
vorn_ensure_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating Wine prefix $WINEPREFIX (once, about 30 s)"
        mkdir -p "$(dirname "$WINEPREFIX")"
        wineboot -i </dev/null >/dev/null 2>&1
        wineserver -w
    fi
}

# Wine's background processes inherit the output pipe of the first Wine
# process; start them detached from ours so test runners see their pipes close.
vorn_start_wineserver() {
    wineserver -p </dev/null >/dev/null 2>&1 || true  # one may be running already
    wine cmd /c exit </dev/null >/dev/null 2>&1
}

vorn_stop_wineserver() {
    wineserver -k >/dev/null 2>&1 || true
}
