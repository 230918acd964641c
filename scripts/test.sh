#!/usr/bin/env bash
# Runs every test of the kit on this machine: installs what is missing,
# builds the kit and its tests, runs them under Wine in a fresh sandbox,
# then checks the code with a second compiler, clang-tidy and cppcheck, and
# that two builds of the commit are byte for byte the same.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"

kit_build
trap sandbox_stop EXIT
sandbox_start "$KIT_BUILD/wineprefix-test"
ctest --test-dir "$KIT_BUILD" --output-on-failure "$@"
sandbox_stop
"$KIT_ROOT/scripts/check-code.sh"
"$KIT_ROOT/scripts/check-reproducible.sh"
echo "All tests and checks passed in $SECONDS s."
