#!/usr/bin/env bash
# Runs every test of the kit on this machine: installs what is missing,
# builds the kit and its tests, then runs them under Wine in a fresh sandbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)"

# shellcheck source=sandbox.sh
source "$root/scripts/sandbox.sh"
trap sandbox_stop EXIT
sandbox_start "$build/wineprefix-test"
ctest --test-dir "$build" --output-on-failure "$@"
