#!/usr/bin/env bash
# Lays out the folders of the link tests: Wine shows a Unix symbolic link to
# a folder as a reparse point, and links can only be made from this side.
#   make-links.sh TEST_FOLDER [clean]     (WINEPREFIX names the sandbox)
set -euo pipefail
links="$1/links"
public="$WINEPREFIX/drive_c/users/Public/ZIVO"
rm -rf "$links" "$public"
[ "${2:-}" = clean ] && exit 0
mkdir -p "$links"/victim "$links"/victim-logs "$links"/victim-inside
echo keep > "$links/victim/keep1.txt"
echo keep > "$links/victim/keep2.txt"
echo keep > "$links/victim-logs/log.txt"
echo keep > "$links/victim-inside/inner.txt"

# A profile whose data folder is a link.
mkdir -p "$links/profile-link/AppData/Roaming"
ln -s "$links/victim" "$links/profile-link/AppData/Roaming/ZIVO"

# A real data folder holding a folder link.
mkdir -p "$links/profile-inside/AppData/Roaming/ZIVO"
echo own > "$links/profile-inside/AppData/Roaming/ZIVO/own.txt"
ln -s "$links/victim-inside" "$links/profile-inside/AppData/Roaming/ZIVO/folder-link"

# The public log folder as a link, beside a file of the public data folder.
mkdir -p "$public"
echo data > "$public/data.txt"
ln -s "$links/victim-logs" "$public/ZIVOlogs"
