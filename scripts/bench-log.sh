#!/usr/bin/env bash
# Benchmarks the diagnostic log under Wine beside spdlog: the cost of a log
# site that is off or filtered, and lines per second for each file
# destination. Prints a table of figures and ratios.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
build="$KIT_BUILD"

kit_build --target LogBench >/dev/null
trap sandbox_stop EXIT
sandbox_start "$build/wineprefix-bench"

work="$build/bench/runs"
rm -rf "$work"
bench() { # folder, ini text, arguments
    mkdir -p "$work/$1"
    cp "$build/bench/LogBench.exe" "$work/$1/"
    printf '%b' "$2" > "$work/$1/DbgLog.ini"
    (cd "$work/$1" && "$WINE64" LogBench.exe "${@:3}" 2>/dev/null | tr -d '\r')
}

read -r empty off < <(bench off '[LOG]\nDestination=0\n' site)
read -r _ filtered < <(bench filtered '[LOG]\nDestination=2\nLevel=0\nLogFile=log.txt\n' site)
peer_filtered=$(bench peer '' peer-site 0 peer-filtered.txt)
lines2=$(bench d2f0 '[LOG]\nDestination=2\nFlush=0\nLogFile=log.txt\n' lines 300000)
peer2=$(bench peer '' peer-lines 300000 peer-lines.txt)
lines2f=$(bench d2f1 '[LOG]\nDestination=2\nFlush=1\nLogFile=log.txt\n' lines 30000)
peer2f=$(bench peer '' peer-lines-flush 30000 peer-flush.txt)
lines3=$(bench d3 '[LOG]\nDestination=3\nLogFile=log.txt\n' lines 5000)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo
echo "| figure | DbgLog | spdlog (peer) | DbgLog / spdlog |"
echo "|---|---|---|---|"
echo "| empty loop, ns per pass | $empty | | |"
echo "| site with the log off (Destination=0), ns | $off | | |"
echo "| site below Level, ns | $filtered | $peer_filtered | $(ratio "$filtered" "$peer_filtered") |"
echo "| destination 2, Flush=0, lines/s | $lines2 | $peer2 | $(ratio "$lines2" "$peer2") |"
echo "| destination 2, Flush=1, lines/s | $lines2f | $peer2f | $(ratio "$lines2f" "$peer2f") |"
echo "| destination 3 (open per line), lines/s | $lines3 | | |"
echo
echo "Off or filtered site over the empty loop: $(awk -v a="$off" -v e="$empty" 'BEGIN { printf "%+.3f", a - e }') ns (off), $(awk -v a="$filtered" -v e="$empty" 'BEGIN { printf "%+.3f", a - e }') ns (filtered); target at most +2 ns."
echo "Destination 2 with Flush=0: $lines2 lines/s; target at least 250000."
