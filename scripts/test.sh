#!/usr/bin/env bash
# Runs every test of the kit on this machine: installs what is missing,
# builds the kit and its tests, then runs them under Wine in a fresh sandbox.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"

kit_build
trap sandbox_stop EXIT
sandbox_start "$KIT_BUILD/wineprefix-test"
ctest --test-dir "$KIT_BUILD" --output-on-failure "$@"
echo "All tests passed in $SECONDS s."
