#!/usr/bin/env bash
# Benchmarks the diagnostic log under Wine beside spdlog (single-threaded
# file sink, header-only, benchmark only). Each figure is measured ROUNDS
# times (at least 5); in each round the kit and its peer run one after the
# other, in alternating order, each in a fresh folder with a fresh log file.
# Prints min / median / max of each side and the ratio of the medians, then
# where one line's time goes.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
build="$KIT_BUILD"
rounds=${ROUNDS:-5}
[ "$rounds" -ge 5 ] || { echo "ROUNDS must be at least 5" >&2; exit 2; }
lines=${LINES:-1000000}
flushed_lines=${FLUSHED_LINES:-100000}

kit_build --target LogBench >/dev/null
trap sandbox_stop EXIT
sandbox_start "$build/wineprefix-bench"

work="$build/bench/runs"
samples="$build/bench/log-samples.tsv"
rm -rf "$work"
: > "$samples"
run=0
# One run in a fresh folder: figure, side, ini text ("" for none), arguments.
measure() {
    local figure=$1 side=$2 ini=$3 dir value
    shift 3
    run=$((run + 1))
    dir="$work/$run"
    mkdir -p "$dir"
    cp "$build/bench/LogBench.exe" "$dir/"
    [ -n "$ini" ] && printf '%b' "$ini" > "$dir/DbgLog.ini"
    value=$(cd "$dir" && "$WINE64" LogBench.exe "$@" 2>/dev/null | tr -d '\r')
    rm -rf "$dir"
    printf '%s\t%s\t%s\n' "$figure" "$side" "$value" >> "$samples"
}
file2='[LOG]\nDestination=2\nLogFile=log.txt\nTimeDateFormat=1\n'
figure() { # name, kit ini, kit arguments, peer arguments (";" between)
    local name=$1 ini=$2 kit_args=$3 peer_args=$4
    # shellcheck disable=SC2086 # the arguments are split on purpose
    if [ $((round % 2)) -eq 0 ] && [ -n "$peer_args" ]; then measure "$name" spdlog "" $peer_args; fi
    measure "$name" DbgLog "$ini" $kit_args
    if [ $((round % 2)) -eq 1 ] && [ -n "$peer_args" ]; then measure "$name" spdlog "" $peer_args; fi
}

for round in $(seq "$rounds"); do
    echo "round $round of $rounds" >&2
    figure "empty loop, ns per pass" "" "empty" ""
    figure "site with the log off (Destination=0), ns" '[LOG]\nDestination=0\n' "site" ""
    figure "site below Level, ns" "${file2}Level=0\n" "site" "peer-site"
    figure "destination 2, Flush=0, lines/s" "${file2}Flush=0\n" "lines $lines" "peer-lines $lines peer.txt"
    figure "destination 2, Flush=1, lines/s" "${file2}Flush=1\n" "lines $flushed_lines" \
        "peer-lines-flush $flushed_lines peer.txt"
    figure "destination 3 (open per line), lines/s" '[LOG]\nDestination=3\nLogFile=log.txt\n' "lines 5000" ""
done

echo
echo "Diagnostic log beside spdlog under Wine, $rounds rounds, $(nproc) cores:"
echo
python3 "$KIT_ROOT/scripts/bench-stats.py" DbgLog spdlog < "$samples"
echo
mkdir -p "$work/parts"
cp "$build/bench/LogBench.exe" "$work/parts/"
printf '%b' "${file2}Flush=0\n" > "$work/parts/DbgLog.ini"
echo "Where a line's time goes, ns per call: $(cd "$work/parts" && "$WINE64" LogBench.exe parts 1000000 2>/dev/null | tr -d '\r')"
