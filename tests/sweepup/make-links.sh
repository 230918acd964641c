#!/usr/bin/env bash
# Lays out the folders of the link tests on the sandbox's C: drive: Wine
# shows a Unix symbolic link to a folder as a reparse point, and links can
# only be made from this side.
#   make-links.sh profiles|public|clean       (WINEPREFIX names the sandbox)
# "profiles": a link at each level of profile data paths, a file link and a
# folder link inside a data folder, an install file as a link, and the
# public log folder as a link.
# "public": the public data folder itself as a link.
set -euo pipefail
links="$WINEPREFIX/drive_c/kit-links"
public="$WINEPREFIX/drive_c/users/Public/ZIVO"
rm -rf "$links" "$public"
mkdir -p "$links"
canary() { mkdir -p "$1"; echo keep > "$1/canary.txt"; }

case "$1" in
profiles)
    # The data folder itself, the profile folder, AppData and Roaming, each
    # a link in one profile; behind each, a data folder with a canary.
    canary "$links/victim/ZIVO-target"
    mkdir -p "$links/data-link/AppData/Roaming"
    ln -s "$links/victim/ZIVO-target" "$links/data-link/AppData/Roaming/ZIVO"
    canary "$links/victim/profile-target/AppData/Roaming/ZIVO"
    ln -s "$links/victim/profile-target" "$links/profile-link"
    mkdir -p "$links/appdata-link"
    canary "$links/victim/appdata-target/Roaming/ZIVO"
    ln -s "$links/victim/appdata-target" "$links/appdata-link/AppData"
    mkdir -p "$links/roaming-link/AppData"
    canary "$links/victim/roaming-target/ZIVO"
    ln -s "$links/victim/roaming-target" "$links/roaming-link/AppData/Roaming"
    # An empty data folder behind a link: a sweep through the link would
    # remove the folder itself.
    mkdir -p "$links/empty-link" "$links/victim/empty-target/Roaming/ZIVO"
    ln -s "$links/victim/empty-target" "$links/empty-link/AppData"

    # A real data folder holding its own file, a folder link and a file link.
    inside="$links/inside/AppData/Roaming/ZIVO"
    mkdir -p "$inside"
    echo own > "$inside/own.txt"
    canary "$links/victim/folder-target"
    ln -s "$links/victim/folder-target" "$inside/folder-link"
    echo keep > "$links/victim/file-target.txt"
    ln -s "$links/victim/file-target.txt" "$inside/file-link.txt"

    # An install file as a link to a read-only file elsewhere.
    mkdir -p "$links/install"
    echo keep > "$links/victim/template-target.dat"
    chmod a-w "$links/victim/template-target.dat"
    ln -s "$links/victim/template-target.dat" "$links/install/TemplateStore.dat"

    # The public log folder as a link, beside a file of the public folder.
    mkdir -p "$public"
    echo data > "$public/data.txt"
    canary "$links/victim/logs-target"
    ln -s "$links/victim/logs-target" "$public/ZIVOlogs"
    ;;
public)
    # Where the product's shared folder does not exist yet, a user can put
    # a link in its place.
    canary "$links/victim/public-target/ZIVOlogs"
    echo keep > "$links/victim/public-target/shared.txt"
    mkdir -p "$(dirname "$public")"
    ln -s "$links/victim/public-target" "$public"
    ;;
clean)
    rm -rf "$links"
    ;;
*)
    echo "usage: make-links.sh profiles|public|clean" >&2
    exit 2
    ;;
esac
