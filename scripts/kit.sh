# Sourced by the kit's scripts: where things are, how the kit is built, and
# the Windows sandbox (sandbox.sh).
KIT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KIT_BUILD="$KIT_ROOT/build"

# Installs what is missing, configures and builds; arguments go to the build
# (for example --target Sweepup).
kit_build() {
    "$KIT_ROOT/scripts/install-deps.sh"
    cmake -S "$KIT_ROOT" -B "$KIT_BUILD" -DCMAKE_TOOLCHAIN_FILE="$KIT_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$KIT_BUILD" -j"$(nproc)" "$@"
}

# shellcheck source=sandbox.sh
source "$KIT_ROOT/scripts/sandbox.sh"
