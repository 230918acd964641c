#!/usr/bin/env bash
# Runs a test program with a small file system (a 64 KB tmpfs, full after
# a few 4 KB blocks) mounted over C:\kit-full\ZIVO of the sandbox, then
# takes it away. Mounting needs root; without it the test skips and says so.
#   with-full-disk.sh PROGRAM...        (WINEPREFIX names the sandbox)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top="$WINEPREFIX/drive_c/kit-full"
folder="$top/ZIVO"
mkdir -p "$folder"
mounted=0
if mount -t tmpfs -o size=64k kit-full "$folder" 2>/dev/null; then
    mounted=1
    : > "$folder/mounted"
else
    echo "with-full-disk.sh: cannot mount a tmpfs over $folder here (needs root): the full-disk test skips"
fi
"$here/../../scripts/wine-run.sh" "$@"
rc=$?
[ "$mounted" -eq 1 ] && umount "$folder"
rm -rf "$top"
exit $rc
