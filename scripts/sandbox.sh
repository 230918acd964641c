# Sourced by the run and test scripts: a throwaway Windows environment made
# of a Wine prefix, a persistent wineserver and, unless a display is given,
# a private virtual X display. Only processes started here are ended here.
# Every step that fails says which one it was and shows its output
# (kit_step, from kit.sh).

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

# A private X display. Xvfb picks a free display number itself and writes
# it to a pipe once it accepts clients, so two runs started at once never
# race for the same display, and nothing waits longer than it must.
sandbox_start_display() {
    local pipe number="" log
    pipe=$(mktemp -u)
    log=$(mktemp)
    mkfifo "$pipe"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$pipe" >"$log" 2>&1 &
    SANDBOX_XVFB_PID=$!
    read -r -t 30 number <"$pipe" || true
    rm -f "$pipe"
    if [ -z "$number" ] || ! kill -0 "$SANDBOX_XVFB_PID" 2>/dev/null; then
        echo "step 'virtual display' failed: Xvfb gave no display within 30 s" >&2
        sed 's/^/    /' "$log" | tail -n 20 >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
    export DISPLAY=":$number"
}

# sandbox_start PREFIX [keep-display]: a new prefix; a private display unless
# the second argument asks to use the caller's DISPLAY.
sandbox_start() {
    local prefix=$1 keep_display=${2:-}
    export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
    # Wine names Unix files in the locale's character set: without a UTF-8
    # one (a minimal system sets none), a name in Greek cannot be made.
    case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
    *UTF-8* | *utf8*) ;;
    *) unset LC_ALL; export LC_CTYPE=C.UTF-8 ;;
    esac
    sandbox_end_processes "$prefix"
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    if [ -z "$keep_display" ] || [ -z "${DISPLAY:-}" ]; then
        sandbox_start_display || return 1
    fi
    # No Mono or Gecko installer prompts in a test prefix.
    kit_step "new Wine prefix (wineboot)" env WINEDLLOVERRIDES="mscoree=;mshtml=" "$WINE64" wineboot -i || return 1
    # No crash dialogs waiting for an answer; windows not handed to a window
    # manager, since the display has none and Wine would wait for it.
    kit_step "registry: no crash dialog" \
        "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f || return 1
    kit_step "registry: unmanaged windows" \
        "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f || return 1
    # Wine's own fonts (Marlett draws the title-bar buttons): this Wine reads
    # fonts from the prefix's font folder and fontconfig's, not its own.
    kit_step "Wine's fonts" cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma.ttf \
        /usr/share/wine/fonts/tahomabd.ttf "$WINEPREFIX/drive_c/windows/Fonts/" || return 1
    kit_step "wineboot's server ending" "$WINESERVER" -w || return 1
    # A persistent server started only now: before wineboot it would leave
    # the prefix without its RPC service. It returns once it serves.
    kit_step "persistent wineserver" setsid "$WINESERVER" -p || return 1
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
