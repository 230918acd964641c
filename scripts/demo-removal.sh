# Sourced by run.sh: the administrator's job, shown in a sandbox of its own.
# The product is installed as a machine would have it, with the tests'
# fixtures (the eleven real packages of tests/uninstall/make-packages.sh and
# the stand-in programs of tests/uninstall/Recorder.cpp); then
# "Uninstall.exe /silent", "Sweepup.exe /Preview" and "Sweepup.exe /Uninstall" run, and a table
# shows what was installed, running or present before, after the one and
# after the other. Nothing outside the sandbox is touched.

DEMO_INSTALL_FILES=(DataMigrate.exe MigrateCore.dll RecoveryTool.exe RecoveryCore.dll SensorDecrypt.dll TemplateStore.dat)
DEMO_UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
DEMO_ENTRY="$DEMO_UNINSTALL_KEY\\ZIVO{24919A8D-2502-49CA-B37B-C348EE6E708C}"
DEMO_RUN_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
DEMO_PROFILES=(alice bob)

demo_reg() { "$WINE64" reg "$@" >/dev/null 2>&1; }

# Lays the product out as a machine would have it.
demo_install() {
    local c="$WINEPREFIX/drive_c" fixtures="$KIT_BUILD/tests" code i name
    demo_install_dir="$c/Program Files/HALVERN/Dactyra"
    demo_records="$c/Deploy/records.txt"
    mkdir -p "$demo_install_dir" "$c/Deploy" "$c/Packages"
    # The administrator's copies of the two tools.
    cp "$KIT_BUILD/bin/Uninstall.exe" "$KIT_BUILD/bin/Sweepup.exe" "$c/Deploy/"
    # Eleven real Windows Installer packages.
    cp "$fixtures"/packages/package*.msi "$c/Packages/"
    mapfile -t demo_codes < "$fixtures/packages/codes.txt"
    for i in $(seq 0 10); do
        kit_step "package $i" "$WINE64" msiexec /i "C:\\Packages\\package$i.msi" /qn
    done
    demo_reg add "$DEMO_ENTRY" /v DisplayName /t REG_SZ /d "HALVERN Dactyra" /f
    # The install folder: its six leftovers, the flash-memory program and
    # the product's programs (stand-ins that record what is done to them).
    for name in "${DEMO_INSTALL_FILES[@]}"; do echo "product file" > "$demo_install_dir/$name"; done
    chmod a-w "$demo_install_dir/TemplateStore.dat"
    for name in ZIVOFlash ZIVOTray ZIVOVault ZIVOMain ZIVOEnroll; do
        cp "$fixtures/Recorder.exe" "$demo_install_dir/$name.exe"
    done
    demo_reg add 'HKLM\Software\HALVERN\ZIVO' /v InstallPath /t REG_SZ /d 'C:\Program Files\HALVERN\Dactyra\' /f
    # Two users' data, their profile folders stored as Windows stores them.
    for i in 0 1; do
        name=${DEMO_PROFILES[$i]}
        mkdir -p "$c/users/$name/AppData/Roaming/ZIVO"
        echo "root key" > "$c/users/$name/AppData/Roaming/ZIVO/ZIVORoot.key"
        echo "settings" > "$c/users/$name/AppData/Roaming/ZIVO/settings.dat"
        demo_reg add "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-7000-700$i" \
            /v ProfileImagePath /t REG_EXPAND_SZ /d "%SystemDrive%\\users\\$name" /f
    done
    # Shared, log and all-users data; shortcuts; autostart values.
    mkdir -p "$c/users/Public/ZIVO/ZIVOlogs" "$c/ProgramData/Halvern/ZIVO"
    echo "shared" > "$c/users/Public/ZIVO/shared.dat"
    echo "log" > "$c/users/Public/ZIVO/ZIVOlogs/today.log"
    echo "all users" > "$c/ProgramData/Halvern/ZIVO/templates.dat"
    local menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs"
    mkdir -p "$menu/HALVERN/Utilities" "$menu/Startup"
    for name in "HALVERN/Utilities/Dactyra.lnk" "HALVERN/Utilities/Recovery Tool.lnk" \
        "Startup/ZIVO Vault.lnk" "Startup/ZIVO Tray.lnk"; do
        echo "shortcut" > "$menu/$name"
    done
    demo_reg add "$DEMO_RUN_KEY" /v ZIVOVaultService /t REG_SZ /d 'C:\Program Files\HALVERN\Dactyra\ZIVOVault.exe' /f
    demo_reg add "$DEMO_RUN_KEY" /v ZIVOAgent /t REG_SZ /d 'C:\Program Files\HALVERN\Dactyra\ZIVOTray.exe' /f
    # The product running: the tray with its window, the vault, main and
    # enrolment programs.
    for name in ZIVOTray ZIVOVault ZIVOMain ZIVOEnroll; do
        RECORDER_LOG='C:\Deploy\records.txt' "$WINE64" "C:\\Program Files\\HALVERN\\Dactyra\\$name.exe" >/dev/null 2>&1 &
    done
    timeout 30 xdotool search --sync --name '^ZIVOTray$' >/dev/null
    kit_wait_until 30 demo_all_running
}

# How many Wine processes of this sandbox run the program.
demo_running() {
    local count=0 pid
    for pid in $(pgrep -f "$1" 2>/dev/null || true); do
        { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && count=$((count + 1))
    done
    echo "$count"
}
demo_all_running() {
    local name
    for name in ZIVOTray.exe ZIVOVault.exe ZIVOMain.exe ZIVOEnroll.exe; do
        [ "$(demo_running "$name")" -ge 1 ] || return 1
    done
}
demo_count_files() { # folder
    local count
    [ -d "$1" ] || { echo "gone"; return; }
    count=$(find "$1" -maxdepth 1 -type f | wc -l)
    if [ "$count" -eq 1 ]; then echo "1 file"; else echo "$count files"; fi
}

# One line per item: "name|state".
demo_survey() {
    local c="$WINEPREFIX/drive_c" code installed=0 name present=0 running=0
    for code in "${demo_codes[@]}"; do
        demo_reg query "$DEMO_UNINSTALL_KEY\\${code^^}" && installed=$((installed + 1))
    done
    echo "Windows Installer packages|$installed of 11 installed"
    if demo_reg query "$DEMO_ENTRY"; then echo "uninstall entry ZIVO{24919A8D-...}|present"; else echo "uninstall entry ZIVO{24919A8D-...}|gone"; fi
    if xdotool search --name '^ZIVOTray$' >/dev/null 2>&1; then echo "tray window ZIVOTray|open"; else echo "tray window ZIVOTray|closed"; fi
    for name in ZIVOTray ZIVOVault ZIVOMain ZIVOEnroll; do
        [ "$(demo_running "$name.exe")" -ge 1 ] && running=$((running + 1))
    done
    echo "ZIVOTray, ZIVOVault, ZIVOMain, ZIVOEnroll|$running of 4 running"
    if grep -q "^ZIVOFlash.exe| /close|event=1 signalled=1" "$demo_records" 2>/dev/null; then
        echo "ZIVOFlash.exe /close|ran while ZIVO_FLASH_EVENT existed"
    else
        echo "ZIVOFlash.exe /close|not run"
    fi
    for name in "${DEMO_PROFILES[@]}"; do
        echo "$name: AppData\\Roaming\\ZIVO|$(demo_count_files "$c/users/$name/AppData/Roaming/ZIVO")"
    done
    echo "Users\\Public\\ZIVO|$(demo_count_files "$c/users/Public/ZIVO")"
    echo "Users\\Public\\ZIVO\\ZIVOlogs|$(demo_count_files "$c/users/Public/ZIVO/ZIVOlogs")"
    echo "ProgramData\\Halvern\\ZIVO (all users)|$(demo_count_files "$c/ProgramData/Halvern/ZIVO")"
    for name in "${DEMO_INSTALL_FILES[@]}"; do [ -e "$demo_install_dir/$name" ] && present=$((present + 1)); done
    echo "install folder: the six leftover files|$present of 6"
    present=0
    local menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs"
    for name in "HALVERN/Utilities/Dactyra.lnk" "HALVERN/Utilities/Recovery Tool.lnk" \
        "Startup/ZIVO Vault.lnk" "Startup/ZIVO Tray.lnk"; do
        [ -e "$menu/$name" ] && present=$((present + 1))
    done
    echo "shortcuts (Start menu, Startup)|$present of 4"
    present=0
    for name in ZIVOVaultService ZIVOAgent; do demo_reg query "$DEMO_RUN_KEY" /v "$name" && present=$((present + 1)); done
    echo "Run values ZIVOVaultService, ZIVOAgent|$present of 2"
}

demo_removal() {
    echo
    echo "== The administrator's job: removing the product"
    sandbox_start "$KIT_BUILD/wineprefix-removal"
    demo_install
    local before after_uninstall after_sweep status
    before=$(demo_survey)

    echo "Running: C:\\Deploy\\Uninstall.exe /silent"
    status=0
    (cd "$WINEPREFIX/drive_c/Deploy" && RECORDER_LOG='C:\Deploy\records.txt' \
        timeout 300 "$WINE64" 'C:\Deploy\Uninstall.exe' /silent >/dev/null 2>&1) || status=$?
    echo "  exit code $status"
    after_uninstall=$(demo_survey)

    # The dry run first: what the cleanup would delete and keep, and why.
    echo "Running: C:\\Deploy\\Sweepup.exe /Preview"
    status=0
    timeout 300 "$WINE64" 'C:\Deploy\Sweepup.exe' /Preview >"$KIT_BUILD/sweepup-preview.txt" 2>/dev/null || status=$?
    sed 's/^/    /' "$KIT_BUILD/sweepup-preview.txt" | tr -d '\r'
    echo "  exit code $status"

    echo "Running: C:\\Deploy\\Sweepup.exe /Uninstall"
    status=0
    timeout 300 "$WINE64" 'C:\Deploy\Sweepup.exe' /Uninstall >/dev/null 2>&1 || status=$?
    echo "  exit code $status"
    after_sweep=$(demo_survey)

    echo
    echo "| item | before | after Uninstall.exe /silent | after Sweepup.exe /Uninstall |"
    echo "|---|---|---|---|"
    paste -d'\t' <(echo "$before") <(echo "$after_uninstall" | cut -d'|' -f2) <(echo "$after_sweep" | cut -d'|' -f2) |
        awk -F'\t' '{ split($1, item, "|"); printf "| %s | %s | %s | %s |\n", item[1], item[2], $2, $3 }'
    echo
    echo "The all-users folder stays under Wine only: Wine has no all-users profile directory"
    echo "(GetAllUsersProfileDirectoryW fails), so Sweepup has no such folder to sweep."
    sandbox_stop
    demo_failing_removal
}

# The recipe an administrator deploys (docs/remove-product.cmd), on a
# machine where one package's removal fails: Uninstall.exe says so in its
# exit code, and the recipe leaves every user's keys in place.
demo_failing_removal() {
    echo
    echo "== A removal that fails, through the recipe docs/remove-product.cmd"
    sandbox_start "$KIT_BUILD/wineprefix-removal-failing"
    demo_install
    cp "$KIT_ROOT/docs/remove-product.cmd" "$WINEPREFIX/drive_c/Deploy/"
    # A stand-in for MsiExec.exe: it removes the packages for real, but
    # answers 1603 (fatal error) for the third sub-package and leaves it.
    local system32="$WINEPREFIX/drive_c/windows/system32" failing="{F9B424D4-51A1-40E0-8EB1-1B9097AF9811}"
    mv "$system32/msiexec.exe" "$system32/msiexec.exe.kit-original"
    cp "$KIT_BUILD/tests/Recorder.exe" "$system32/msiexec.exe"
    local before after status=0
    before=$(demo_survey)
    echo "Running: C:\\Deploy\\remove-product.cmd   (MsiExec.exe answers 1603 for $failing)"
    local output
    output=$(mktemp)
    (cd "$WINEPREFIX/drive_c/Deploy" && RECORDER_LOG='C:\Deploy\records.txt' RECORDER_REAL_MSIEXEC=1 \
        RECORDER_MSI_EXITS="$failing=1603" WINEDLLOVERRIDES="msiexec.exe=n" \
        timeout 300 "$WINE64" 'C:\windows\system32\cmd.exe' /c 'C:\Deploy\remove-product.cmd' >"$output" 2>/dev/null) ||
        status=$?
    tr -d '\r' <"$output" | sed 's/^/  /'
    rm -f "$output"
    echo "  remove-product.cmd exit status $status (Wine hands Linux the low 8 bits of the Windows exit code)"
    after=$(demo_survey)
    echo
    echo "| item | before | after remove-product.cmd |"
    echo "|---|---|---|"
    paste -d'\t' <(echo "$before") <(echo "$after" | cut -d'|' -f2) |
        awk -F'\t' '{ split($1, item, "|"); printf "| %s | %s | %s |\n", item[1], item[2], $2 }'
    mv "$system32/msiexec.exe.kit-original" "$system32/msiexec.exe"
    sandbox_stop
}
