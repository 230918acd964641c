#!/usr/bin/env bash
# Runs a test program while a second drive letter names a folder inside
# drive C, as a substituted drive does: Q: names C:\kit-letter, R: names
# C:\users. Wine then names the objects below them by those letters.
#   with-second-letter.sh PROGRAM...        (WINEPREFIX names the sandbox)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
devices="$WINEPREFIX/dosdevices"
rm -rf "$WINEPREFIX/drive_c/kit-letter"
mkdir -p "$WINEPREFIX/drive_c/kit-letter"
ln -sfn ../drive_c/kit-letter "$devices/q:"
ln -sfn ../drive_c/users "$devices/r:"
"$here/../../scripts/wine-run.sh" "$@"
rc=$?
rm -f "$devices/q:" "$devices/r:"
rm -rf "$WINEPREFIX/drive_c/kit-letter"
exit $rc
