#!/usr/bin/env bash
# Runs a test program with the diagnostic log's default path laid out by
# another user as symbolic links into a user's root key folder
# (C:\kit-log-links\roaming\ZIVO): Wine shows a Unix symbolic link as a
# link, and links can only be made from this side. Then clears both.
#   with-log-links.sh PROGRAM...        (WINEPREFIX names the sandbox)
# "Log\log.txt" links to the root key file itself; "Log2" (the folder of a
# second log path) links to the root key's folder; "Log3\log.txt" links to
# a root key that does not exist yet (C:\kit-log-links\roaming2\ZIVO).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
keys="$WINEPREFIX/drive_c/kit-log-links/roaming/ZIVO"
product="$WINEPREFIX/drive_c/users/Public/Halvern/ZIVO"
rm -rf "$WINEPREFIX/drive_c/kit-log-links" "$product/Log" "$product/Log2" "$product/Log3"
mkdir -p "$keys" "$keys/../../roaming2/ZIVO" "$product/Log" "$product/Log3"
ln -s "$keys/ZIVORoot.key" "$product/Log/log.txt"
ln -s "$keys" "$product/Log2"
ln -s "$WINEPREFIX/drive_c/kit-log-links/roaming2/ZIVO/ZIVORoot.key" "$product/Log3/log.txt"
"$here/../../scripts/wine-run.sh" "$@"
rc=$?
rm -rf "$WINEPREFIX/drive_c/kit-log-links" "$product/Log" "$product/Log2" "$product/Log3"
exit $rc
