# Sourced by the kit's scripts: where things are, how the kit is built, and
# the Windows sandbox (sandbox.sh). A command that fails ends the script
# with a line that names it, never silently.
KIT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KIT_BUILD="$KIT_ROOT/build"

set -E
trap 'echo "${0##*/}: failed with status $? at line $LINENO: $BASH_COMMAND" >&2' ERR

# kit_step NAME COMMAND...: runs one step quietly. On failure it names the
# step, shows the command's output and returns the command's status.
kit_step() {
    local name=$1 log rc=0
    shift
    log=$(mktemp)
    "$@" >"$log" 2>&1 || rc=$?
    if [ "$rc" -ne 0 ]; then
        echo "step '$name' failed with status $rc: $*" >&2
        sed 's/^/    /' "$log" | tail -n 40 >&2
    fi
    rm -f "$log"
    return "$rc"
}

# kit_wait_until SECONDS COMMAND...: runs the command until it succeeds or
# the deadline passes; false when it never did.
kit_wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# Installs what is missing, configures and builds; arguments go to the build
# (for example --target Sweepup). KIT_BUILD_TYPE picks the configuration
# (Release unless said otherwise).
kit_build() {
    "$KIT_ROOT/scripts/install-deps.sh"
    kit_step "configure" cmake -S "$KIT_ROOT" -B "$KIT_BUILD" \
        -DCMAKE_TOOLCHAIN_FILE="$KIT_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE="${KIT_BUILD_TYPE:-Release}"
    cmake --build "$KIT_BUILD" -j"$(nproc)" "$@"
}

# shellcheck source=sandbox.sh
source "$KIT_ROOT/scripts/sandbox.sh"
