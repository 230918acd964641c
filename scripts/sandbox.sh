# Sourced by the run and test scripts: a throwaway Windows environment made
# of a Wine prefix, a persistent wineserver and, unless a display is given,
# a private virtual X display. Only processes started here are ended here.

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
SANDBOX_XVFB_PID=""

# Ends what is left of earlier runs on this prefix: its server and any Wine
# process whose environment names it.
sandbox_end_processes() {
    local prefix=$1 pid
    WINEPREFIX="$prefix" "$WINESERVER" -k >/dev/null 2>&1 || true
    for pid in $(pgrep -f 'wine|\.exe' 2>/dev/null || true); do
        [ "$pid" = "$$" ] && continue
        if { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
            kill -9 "$pid" 2>/dev/null || true
        fi
    done
}

sandbox_start_display() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        SANDBOX_XVFB_PID=$!
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        if kill -0 "$SANDBOX_XVFB_PID" 2>/dev/null; then
            export DISPLAY=":$n"
            return 0
        fi
    done
    echo "no free X display" >&2
    return 1
}

# sandbox_start PREFIX [keep-display]: a new prefix; a private display unless
# the second argument asks to use the caller's DISPLAY.
sandbox_start() {
    local prefix=$1 keep_display=${2:-}
    export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
    sandbox_end_processes "$prefix"
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    if [ -z "$keep_display" ] || [ -z "${DISPLAY:-}" ]; then
        sandbox_start_display
    fi
    # No Mono or Gecko installer prompts in a test prefix.
    WINEDLLOVERRIDES="mscoree=;mshtml=" "$WINE64" wineboot -i >/dev/null 2>&1
    # No crash dialogs waiting for an answer; windows not handed to a window
    # manager, since the display has none and Wine would wait for it.
    "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    "$WINESERVER" -w
    # A persistent server started only now: before wineboot it would leave
    # the prefix without its RPC service.
    (setsid "$WINESERVER" -p -f >/dev/null 2>&1 &)
    sleep 0.5
}

sandbox_stop() {
    [ -n "${WINEPREFIX:-}" ] && sandbox_end_processes "$WINEPREFIX"
    if [ -n "$SANDBOX_XVFB_PID" ]; then
        kill "$SANDBOX_XVFB_PID" 2>/dev/null || true
        SANDBOX_XVFB_PID=""
    fi
}

sandbox_windows_path() {
    "$WINE64" winepath -w "$1" 2>/dev/null
}
