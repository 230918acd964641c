#!/usr/bin/env bash
# Runs a test program over layouts that only the Unix side can make, in
# C:\kit-layouts of the sandbox: a second drive letter (Q:) naming a folder,
# a small file system mounted in a folder (Wine shows it as a volume's mount
# point; needs root, else left out), Unix symbolic links to a folder, to a
# file beside them and to one elsewhere, one to nothing, and a hard link.
#   with-layouts.sh PROGRAM...        (WINEPREFIX names the sandbox)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top="$WINEPREFIX/drive_c/kit-layouts"
clean() {
    rm -f "$WINEPREFIX/dosdevices/q:"
    mountpoint -q "$top/mnt" 2>/dev/null && umount "$top/mnt"
    rm -rf "$top"
}
clean
mkdir -p "$top/real" "$top/other" "$top/averylongfoldername" "$top/mnt"
echo file > "$top/real/file.txt"
echo secret > "$top/other/secret.txt"
echo long > "$top/averylongfoldername/file.txt"
ln -s "$top/real" "$top/dirlink"
ln -s "$top/real/file.txt" "$top/real/filelink"
ln -s "$top/other/secret.txt" "$top/real/outlink"
ln -s "$top/other/nothing.txt" "$top/real/dangling"
ln "$top/other/secret.txt" "$top/real/hard"
ln -sfn ../drive_c/kit-layouts/real "$WINEPREFIX/dosdevices/q:"
if mount -t tmpfs -o size=64k kit-layouts "$top/mnt" 2>/dev/null; then
    echo mounted > "$top/mnt/file.txt"
fi
"$here/../../scripts/wine-run.sh" "$@"
rc=$?
clean
exit $rc
