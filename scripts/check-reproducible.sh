#!/usr/bin/env bash
# Builds the deliverables of one commit twice, from copies of it in two
# different folders and one after the other, and compares them byte for
# byte (before signing): no link time stamps, no build paths, a fixed order
# of inputs. Part of the test command; runs alone too.
#   check-reproducible.sh [COMMIT]        (default: HEAD)
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
"$KIT_ROOT/scripts/install-deps.sh"
commit=$(git -C "$KIT_ROOT" rev-parse "${1:-HEAD}")
work=$(mktemp -d /tmp/kit-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
deliverables=(ZIVOEncryptKeyImport.exe Uninstall.exe Sweepup.exe ZIVOCommon.dll)

# Folders of different names and depths: a build path would show.
build_copy() { # folder
    local source="$1/source" build="$1/build-of-$(basename "$1")"
    mkdir -p "$source"
    git -C "$KIT_ROOT" archive "$commit" | tar -x -C "$source"
    kit_step "configure ($1)" cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
    kit_step "build ($1)" cmake --build "$build" -j"$(nproc)" --target ZIVOEncryptKeyImport Uninstall Sweepup zivocommon
    (cd "$build/bin" && sha256sum "${deliverables[@]}")
}

echo "Building ${commit:0:12} twice, in two folders:"
first=$(build_copy "$work/first")
second=$(build_copy "$work/one/more/folder/second")
echo "$first"
if [ "$first" != "$second" ]; then
    echo "The two builds differ:"
    diff <(echo "$first") <(echo "$second") || true
    exit 1
fi
echo "Both builds are byte for byte the same."
