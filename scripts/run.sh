#!/usr/bin/env bash
# The kit's main jobs, each in a throwaway Windows environment. First the
# user's: a demo user whose root key exists and a sample key to pick;
# screenshots of the key import in English and French (build/screenshots/);
# then the key import on your display, or, without one, one import played
# with real key presses. Then the administrator's: the product installed
# as a machine would have it, removed with Uninstall.exe /silent and
# Sweepup.exe /Uninstall, and a before-and-after table (demo-removal.sh).
#   run.sh            both
#   run.sh removal    the removal only
# Every wait is on a window appearing or a program ending, with a deadline.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
# shellcheck source=demo-removal.sh
source "$KIT_ROOT/scripts/demo-removal.sh"
build="$KIT_BUILD"
user_display=${DISPLAY:-}
job=${1:-all}
case "$job" in
all | removal) ;;
*) echo "usage: run.sh [removal]" >&2; exit 2 ;;
esac

kit_build
trap sandbox_stop EXIT
if [ "$job" = removal ]; then
    demo_removal
    exit 0
fi
sandbox_start "$build/wineprefix-demo"

# The kit installed where the product would put it; the demo user's keys.
app="$WINEPREFIX/drive_c/Program Files/HALVERN/Dactyra"
profile="$WINEPREFIX/drive_c/users/$(whoami)"
roaming="$profile/AppData/Roaming/ZIVO"
mkdir -p "$app" "$roaming"
cp "$build/bin/ZIVOEncryptKeyImport.exe" "$build/bin/ZIVOCommon.dll" "$app/"
keygen() { kit_step "key file $2" "$WINE64" "$build/tools/ZIVOKeyGen.exe" "$(sandbox_windows_path "$1")" 32 "$2"; }
keygen "$roaming/ZIVORoot.key" 1
keygen "$profile/Sample.key" 2
program='C:\Program Files\HALVERN\Dactyra\ZIVOEncryptKeyImport.exe'

shots="$build/screenshots"
mkdir -p "$shots"
import_pid=""
dialog=""

# Waits for a visible window whose title matches, up to 30 s; its id.
wait_window() { # title pattern
    timeout 30 xdotool search --sync --onlyvisible --name "$1" | head -1
}
shot() { # window, file name
    import -window "$1" "$shots/$2"
    echo "Screenshot: $shots/$2"
}
window_gone() { ! xdotool getwindowname "$1" >/dev/null 2>&1; }
# Starts the key import in the locale given: its process in import_pid,
# its dialog's window in dialog.
open_import() { # locale, caption pattern
    LC_ALL=$1 "$WINE64" "$program" >/dev/null 2>&1 &
    import_pid=$!
    dialog=$(wait_window "$2")
}
end_import() {
    kill "$import_pid" 2>/dev/null || true
    wait "$import_pid" 2>/dev/null || true
    # The language is taken when the server starts: a fresh one per locale.
    kit_step "wineserver restart" "$WINESERVER" -k || true
    kit_step "persistent wineserver" setsid "$WINESERVER" -p
}

open_import C.UTF-8 '^Import Key$'
shot "$dialog" keyimport-en.png
end_import
open_import fr_FR.UTF-8 '^Importer la cl'
shot "$dialog" keyimport-fr.png
end_import

if [ -z "$user_display" ]; then
    # No display of yours: an import played with real key presses instead.
    echo "No DISPLAY: importing Sample.key on the private display"
    open_import C.UTF-8 '^Import Key$'
    # A click into the path box: left of its middle, just under the label.
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool windowfocus --sync "$dialog" mousemove --window "$dialog" $((WIDTH * 2 / 5)) $((HEIGHT * 12 / 25)) click 1
    xdotool type --delay 20 "C:\\users\\$(whoami)\\Sample.key"
    xdotool key Return
    warning=$(wait_window '^HALVERN Dactyra$')
    shot "$warning" keyimport-confirm.png
    xdotool windowfocus --sync "$warning" key Return
    kit_wait_until 30 window_gone "$warning"
    outcome=$(wait_window '^HALVERN Dactyra$')
    shot "$outcome" keyimport-done.png
    xdotool windowfocus --sync "$outcome" key Return
    kit_step "the key import ending" timeout 30 tail --pid="$import_pid" -f /dev/null
    ls -1 "$roaming"
    cmp -s "$profile/Sample.key" "$roaming/ZIVORoot.key" && echo "The root key is now Sample.key; the old one is backed up."
    sandbox_stop
    demo_removal
    exit 0
fi

# On your display: pick Sample.key in your profile folder with "...".
sandbox_end_processes "$WINEPREFIX"
kill "$SANDBOX_XVFB_PID" 2>/dev/null || true
SANDBOX_XVFB_PID=""
export DISPLAY="$user_display"
kit_step "registry: managed windows" \
    "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d Y /f
echo "Opening the key import on $DISPLAY (sample key: C:\\users\\$(whoami)\\Sample.key)"
"$WINE64" "$program"
ls -1 "$roaming"
sandbox_stop
unset DISPLAY # the removal runs on a private display of its own
demo_removal
