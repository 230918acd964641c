#!/usr/bin/env bash
# No object or binary of the kit carries a path of the build machine: scans
# every object, library and program under the build folder (test programs
# and the googletest build included) for the source folder's path and for
# googletest's source path.   check-build-paths.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
files=$(find "$build_dir" \( -name 'wineprefix-*' -o -name CompilerIdC -o -name CompilerIdCXX -o -name peer-include \) -prune \
    -o -type f \( -name '*.obj' -o -name '*.o' -o -name '*.a' -o -name '*.exe' -o -name '*.dll' \) -print)
[ -n "$files" ] || { echo "no objects found under $build_dir"; exit 1; }
# Log sites keep their paths as UTF-16 text with backslashes.
windows_dir=${source_dir//\//\\}
found=0
for file in $files; do
    hits=$({ strings -a "$file"; strings -a -el "$file"; } |
        grep -F -e "$source_dir" -e "$windows_dir" -e "/usr/src/googletest" -e '\usr\src\googletest' | head -3 || true)
    if [ -n "$hits" ]; then
        echo "${file#"$build_dir"/}:"
        echo "$hits" | sed 's/^/    /'
        found=1
    fi
done
[ "$found" -eq 0 ] && echo "$(echo "$files" | wc -l) objects and programs, none with a build path"
exit "$found"
