#!/usr/bin/env bash
# The deliverables as the build leaves them: each at most 256 KB, each one
# file that needs no runtime library beside it (it imports system DLLs only,
# and the key import its key library).   check-deliverables.sh BIN_DIR
set -euo pipefail
bin=$1
limit=$((256 * 1024))
status=0
for file in ZIVOEncryptKeyImport.exe Uninstall.exe Sweepup.exe ZIVOCommon.dll; do
    size=$(stat -c %s "$bin/$file")
    imports=$(x86_64-w64-mingw32-objdump -p "$bin/$file" | sed -n 's/^\tDLL Name: //p' | tr '\n' ' ')
    echo "$file: $size bytes; imports $imports"
    if [ "$size" -gt "$limit" ]; then
        echo "    larger than $limit bytes"
        status=1
    fi
    for dll in $imports; do
        case "${dll,,}" in
        kernel32.dll | user32.dll | advapi32.dll | shell32.dll | comdlg32.dll | shlwapi.dll | psapi.dll | \
            ntdll.dll | userenv.dll | wtsapi32.dll | msvcrt.dll | gdi32.dll | ole32.dll | zivocommon.dll) ;;
        *) echo "    needs $dll beside it"; status=1 ;;
        esac
    done
done
exit "$status"
