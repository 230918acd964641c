#!/usr/bin/env bash
# Runs a test program while another user swaps the diagnostic log's default
# folder (C:\Users\Public\Halvern\ZIVO\Log) between a real folder and a
# link to a folder of his own, where log.txt links to a user's root key
# (C:\kit-log-race\roaming\ZIVO\ZIVORoot.key). Links are made from this side.
#   with-log-race.sh PROGRAM...        (WINEPREFIX names the sandbox)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
race="$WINEPREFIX/drive_c/kit-log-race"
product="$WINEPREFIX/drive_c/users/Public/Halvern/ZIVO"
rm -rf "$race" "$product/Log" "$product/Log-real"
mkdir -p "$race/roaming/ZIVO" "$race/attacker" "$product/Log-real"
ln -s "$race/roaming/ZIVO/ZIVORoot.key" "$race/attacker/log.txt"
python3 - "$product" "$race/attacker" "$race/stop" <<'PY' &
import os, sys
product, attacker, stop = sys.argv[1:]
log, real, link = product + "/Log", product + "/Log-real", product + "/Log-link"
while not os.path.exists(stop):
    os.rename(real, log)          # the real folder at the log's name
    os.rename(log, real)
    os.symlink(attacker, link)    # then the link
    os.rename(link, log)
    os.unlink(log)
PY
swapper=$!
"$here/../../scripts/wine-run.sh" "$@"
rc=$?
touch "$race/stop"
wait "$swapper"
rm -rf "$race" "$product/Log" "$product/Log-real" "$product/Log-link"
exit $rc
