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

# Screenshots inside a Wine desktop window, which draws the window frames.
shots="$build/screenshots"
mkdir -p "$shots"
screenshot() { # language tag, locale, window title
    LC_ALL=$2 "$WINE64" explorer "/desktop=Demo$1,520x220" "$program" >/dev/null 2>&1 &
    local window=""
    for _ in $(seq 100); do
        window=$(xdotool search --name "Demo$1 - Wine desktop" 2>/dev/null | head -1 || true)
        [ -n "$window" ] && xdotool search --name "$3" >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 1
    import -window "$window" "$shots/keyimport-$1.png"
    echo "Screenshot: $shots/keyimport-$1.png"
    "$WINE64" taskkill /f /im ZIVOEncryptKeyImport.exe >/dev/null 2>&1 || true
    "$WINESERVER" -k >/dev/null 2>&1 || true
    (setsid "$WINESERVER" -p -f >/dev/null 2>&1 &)
}
screenshot en C.UTF-8 "Import Key"
screenshot fr fr_FR.UTF-8 "Importer la cl"

if [ -z "$user_display" ]; then
    echo "No DISPLAY: the screenshots above show the dialog. Run with a display to use it."
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
echo "Root key now: $(od -An -tx1 -N8 "$profile/AppData/Roaming/ZIVO/ZIVORoot.key")"
ls "$profile/AppData/Roaming/ZIVO/"
