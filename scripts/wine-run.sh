#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest. Wine's background services
# inherit the standard output of whoever started them and keep it open, so
# the program writes to a file here and the file is passed on afterwards.
out=$(mktemp)
/usr/lib/wine/wine64 "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
