#!/usr/bin/env bash
# Benchmarks the cleanup tool under Wine: PROFILES profiles with FILES files
# each (every tenth read-only), removed by "Sweepup.exe /Uninstall" and by
# the platform's own commands ("del /f /q /a" on each folder, then "rd", in
# one cmd process). ROUNDS rounds (at least 5); in each, both sides run in
# alternating order, each on a fresh copy of the same tree. Prints min /
# median / max seconds of each side and the ratio of the medians.
#   COUNT_SERVER=1: also counts each side's wineserver requests per file.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
build="$KIT_BUILD"
profiles=${PROFILES:-200}
files=${FILES:-100}
rounds=${ROUNDS:-5}
[ "$rounds" -ge 5 ] || { echo "ROUNDS must be at least 5" >&2; exit 2; }

kit_build --target Sweepup >/dev/null
trap sandbox_stop EXIT
sandbox_start "$build/wineprefix-bench"

bench="$WINEPREFIX/drive_c/bench"
template="$build/bench/sweep-template"
samples="$build/bench/sweep-samples.tsv"
rm -rf "$bench" "$template"
mkdir -p "$bench"
: > "$samples"

# The tree, made once: PROFILES folders of FILES files, every tenth read-only.
python3 - "$template" "$profiles" "$files" <<'EOF'
import os, sys
root, profiles, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for p in range(1, profiles + 1):
    folder = os.path.join(root, f"P{p:03d}", "AppData", "Roaming", "ZIVO")
    os.makedirs(folder)
    for f in range(1, files + 1):
        path = os.path.join(folder, f"file{f:03d}.dat")
        with open(path, "w") as out:
            out.write(f"leftover {p} {f}\n")
        if f % 10 == 0:
            os.chmod(path, 0o444)  # read-only to Windows
EOF

# The profiles, in the profile list, for the tool.
reg="$bench/profiles.reg"
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for p in $(seq -f '%03g' 1 "$profiles"); do
        printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-9-%s]\r\n' "$p"
        printf '"ProfileImagePath"="C:\\\\bench\\\\tool\\\\P%s"\r\n\r\n' "$p"
    done
} > "$reg"
kit_step "profile list" "$WINE64" regedit /S 'C:\bench\profiles.reg'

# The platform's own commands, one cmd process for all folders.
{
    printf '@echo off\r\n'
    for p in $(seq -f '%03g' 1 "$profiles"); do
        printf 'del /f /q /a "C:\\bench\\platform\\P%s\\AppData\\Roaming\\ZIVO"\r\n' "$p"
        printf 'rd "C:\\bench\\platform\\P%s\\AppData\\Roaming\\ZIVO"\r\n' "$p"
    done
} > "$bench/platform.bat"

elapsed() { awk -v a="$2" -v b="$1" 'BEGIN { printf "%.3f", a - b }'; }
# One side on a fresh copy of the tree: side name, folder, command...
measure() {
    local side=$1 folder=$2 start left
    shift 2
    rm -rf "${bench:?}/$folder"
    cp -a "$template" "$bench/$folder"
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    printf 'seconds\t%s\t%s\n' "$side" "$(elapsed "$start" "$(date +%s.%N)")" >> "$samples"
    left=$(find "$bench/$folder" -name '*.dat' | wc -l)
    [ "$left" -eq 0 ] || { echo "$side left $left files" >&2; exit 1; }
}
tool() { measure Sweepup.exe tool "$WINE64" "$build/bin/Sweepup.exe" /Uninstall; }
platform() { measure "del + rd" platform "$WINE64" cmd /c 'C:\bench\platform.bat'; }

for round in $(seq "$rounds"); do
    echo "round $round of $rounds" >&2
    if [ $((round % 2)) -eq 1 ]; then tool; platform; else platform; tool; fi
done

echo
echo "$profiles profiles x $files files under Wine, $rounds rounds, $(nproc) cores:"
echo
python3 "$KIT_ROOT/scripts/bench-stats.py" Sweepup.exe "del + rd" < "$samples"

if [ "${COUNT_SERVER:-}" = 1 ]; then
    # Each side once more, under a wineserver that traces its requests:
    # requests per file show what each side asks of the system for a file.
    count() { # folder, command...
        local folder=$1 log="$build/bench/server-$1.log"
        shift
        rm -rf "${bench:?}/$folder"
        cp -a "$template" "$bench/$folder"
        "$WINESERVER" -k || true
        "$WINESERVER" -w || true
        ("$WINESERVER" -f -p -d2 2>"$log" &)
        kit_wait_until 30 "$WINE64" cmd /c exit
        : > "$log" # the count starts with the side itself
        "$@" >/dev/null 2>&1 || true
        "$WINESERVER" -k || true
        "$WINESERVER" -w || true
        # Requests, not their replies ("name() = status").
        local requests="$build/bench/requests-$folder.txt" total
        grep -aoE '^[0-9a-f]+: [a-z_]+\((\) = )?' "$log" | grep -v ') = ' | sed 's/^[0-9a-f]*: //; s/($//' > "$requests" || true
        total=$(wc -l < "$requests")
        echo "$folder: $(awk -v t="$total" -v f=$((profiles * files)) 'BEGIN { printf "%.2f", t / f }') server requests per file; most frequent:"
        sort "$requests" | uniq -c | sort -rn |
            awk -v f=$((profiles * files)) '{ printf "    %-28s %.2f per file\n", $2, $1 / f }' | sed -n 1,6p
    }
    echo
    count tool "$WINE64" "$build/bin/Sweepup.exe" /Uninstall
    count platform "$WINE64" cmd /c 'C:\bench\platform.bat'
    kit_step "persistent wineserver" setsid "$WINESERVER" -p
fi
