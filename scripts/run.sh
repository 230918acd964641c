#!/usr/bin/env bash
# The kit's main job: installs what is missing, builds the kit, prepares a
# throwaway Windows environment with a demo user whose root key exists and a
# sample key to pick, saves screenshots of the key import in English and
# French (build/screenshots/), then opens the key import on your display.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
build="$KIT_BUILD"
user_display=${DISPLAY:-}

kit_build
trap sandbox_stop EXIT
sandbox_start "$build/wineprefix-demo"

# The kit installed where the product would put it; the demo user's keys.
app="$WINEPREFIX/drive_c/Program Files/HALVERN/Dactyra"
profile="$WINEPREFIX/drive_c/users/$(whoami)"
mkdir -p "$app" "$profile/AppData/Roaming/ZIVO"
cp "$build/bin/ZIVOEncryptKeyImport.exe" "$build/bin/ZIVOCommon.dll" "$app/"
keygen() { "$WINE64" "$build/tools/ZIVOKeyGen.exe" "$(sandbox_windows_path "$1")" 32 "$2" >/dev/null 2>&1; }
keygen "$profile/AppData/Roaming/ZIVO/ZIVORoot.key" 1
keygen "$profile/Sample.key" 2
program='C:\Program Files\HALVERN\Dactyra\ZIVOEncryptKeyImport.exe'

# The dialog runs inside a Wine desktop window, which draws the window frames
# on a display without a window manager.
shots="$build/screenshots"
mkdir -p "$shots"
desktop=""
open_in_desktop() { # name, locale
    LC_ALL=$2 "$WINE64" explorer "/desktop=$1,560x240" "$program" >/dev/null 2>&1 &
    desktop=""
    for _ in $(seq 100); do
        desktop=$(xdotool search --name "$1 - Wine desktop" 2>/dev/null | head -1 || true)
        [ -n "$desktop" ] && break
        sleep 0.1
    done
    sleep 2 # the dialog inside it has no window of its own to wait for
}
shot() { # file name
    import -window "$desktop" "$shots/$1"
    echo "Screenshot: $shots/$1"
}
restart_server() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    (setsid "$WINESERVER" -p -f >/dev/null 2>&1 &)
}

open_in_desktop DemoEn C.UTF-8
shot keyimport-en.png
"$WINE64" taskkill /f /im ZIVOEncryptKeyImport.exe >/dev/null 2>&1 || true
restart_server
open_in_desktop DemoFr fr_FR.UTF-8
shot keyimport-fr.png
"$WINE64" taskkill /f /im ZIVOEncryptKeyImport.exe >/dev/null 2>&1 || true
restart_server

roaming="$profile/AppData/Roaming/ZIVO"
if [ -z "$user_display" ]; then
    # No display of yours: an import played with real key presses instead.
    echo "No DISPLAY: importing Sample.key on the private display"
    open_in_desktop DemoImport C.UTF-8
    xdotool windowfocus --sync "$desktop"
    xdotool mousemove --window "$desktop" 220 118 click 1 # into the path box
    xdotool type --delay 20 "C:\\users\\$(whoami)\\Sample.key"
    xdotool key Return
    sleep 1.5
    shot keyimport-confirm.png
    xdotool key Return
    sleep 1.5
    shot keyimport-done.png
    xdotool key Return
    sleep 1
    ls -1 "$roaming"
    cmp -s "$profile/Sample.key" "$roaming/ZIVORoot.key" && echo "The root key is now Sample.key; the old one is backed up."
    exit 0
fi

# On your display: pick Sample.key in your profile folder with "...".
sandbox_end_processes "$WINEPREFIX"
kill "$SANDBOX_XVFB_PID" 2>/dev/null || true
SANDBOX_XVFB_PID=""
export DISPLAY="$user_display"
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d Y /f >/dev/null 2>&1
echo "Opening the key import on $DISPLAY (sample key: C:\\users\\$(whoami)\\Sample.key)"
"$WINE64" "$program"
ls -1 "$roaming"
