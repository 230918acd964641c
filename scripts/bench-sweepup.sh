#!/usr/bin/env bash
# Benchmarks the cleanup tool under Wine: 200 profiles with 100 files each
# (every tenth read-only), removed once by "Sweepup.exe /Uninstall" and once,
# on a fresh copy, by the platform's own commands ("del /f /q /a" on each
# folder, then "rd"). Prints both times and their ratio.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
build="$KIT_BUILD"
profiles=${PROFILES:-200}
files=${FILES:-100}

kit_build --target Sweepup >/dev/null
trap sandbox_stop EXIT
sandbox_start "$build/wineprefix-bench"

bench="$WINEPREFIX/drive_c/bench"
make_tree() { # folder
    local p f dir
    for p in $(seq -w 1 "$profiles"); do
        dir="$1/P$p/AppData/Roaming/ZIVO"
        mkdir -p "$dir"
        for f in $(seq -w 1 "$files"); do echo "leftover $p $f" > "$dir/file$f.dat"; done
        chmod a-w "$dir"/file*0.dat # read-only to Windows
    done
}
make_tree "$bench/tool"
make_tree "$bench/platform"

# The profiles, in the profile list, for the tool.
reg="$bench/profiles.reg"
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for p in $(seq -w 1 "$profiles"); do
        printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-9-%s]\r\n' "$p"
        printf '"ProfileImagePath"="C:\\\\bench\\\\tool\\\\P%s"\r\n\r\n' "$p"
    done
} > "$reg"
"$WINE64" regedit /S 'C:\bench\profiles.reg' >/dev/null 2>&1

# The platform's own commands, one cmd process for all folders.
batch="$bench/platform.bat"
{
    printf '@echo off\r\n'
    for p in $(seq -w 1 "$profiles"); do
        printf 'del /f /q /a "C:\\bench\\platform\\P%s\\AppData\\Roaming\\ZIVO"\r\n' "$p"
        printf 'rd "C:\\bench\\platform\\P%s\\AppData\\Roaming\\ZIVO"\r\n' "$p"
    done
} > "$batch"

now() { date +%s.%N; }
start=$(now)
"$WINE64" "$build/bin/Sweepup.exe" /Uninstall >/dev/null 2>&1
tool=$(awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.3f", a - b }')
start=$(now)
"$WINE64" cmd /c 'C:\bench\platform.bat' >/dev/null 2>&1
platform=$(awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.3f", a - b }')

left_tool=$(find "$bench/tool" -name '*.dat' | wc -l)
left_platform=$(find "$bench/platform" -name '*.dat' | wc -l)
echo
echo "| $profiles profiles x $files files | seconds | files left |"
echo "|---|---|---|"
echo "| Sweepup.exe /Uninstall | $tool | $left_tool |"
echo "| cmd: del /f /q /a, then rd | $platform | $left_platform |"
echo
echo "Sweepup / platform: $(awk -v a="$tool" -v b="$platform" 'BEGIN { printf "%.2f", a / b }') (target: at most 1)"
