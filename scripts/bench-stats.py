#!/usr/bin/env python3
"""Prints a benchmark table from samples, one "figure<TAB>side<TAB>value" per
line on standard input: for each figure the minimum, median and maximum of
each side, and the ratio of the kit's median to the peer's.

    bench-stats.py KIT_NAME PEER_NAME < samples"""
import statistics
import sys


def main():
    kit, peer = sys.argv[1], sys.argv[2]
    samples = {}
    order = []
    for line in sys.stdin:
        figure, side, value = line.rstrip("\n").split("\t")
        if figure not in samples:
            samples[figure] = {}
            order.append(figure)
        samples[figure].setdefault(side, []).append(float(value))

    def cell(values):
        if not values:
            return "", ""
        spread = f"{min(values):,.4g} / {statistics.median(values):,.4g} / {max(values):,.4g}"
        return spread, statistics.median(values)

    print(f"| figure | runs | {kit}: min / median / max | {peer}: min / median / max | {kit} / {peer} (medians) |")
    print("|---|---|---|---|---|")
    for figure in order:
        ours, ours_median = cell(samples[figure].get(kit, []))
        theirs, theirs_median = cell(samples[figure].get(peer, []))
        runs = max(len(v) for v in samples[figure].values())
        ratio = f"{ours_median / theirs_median:.2f}" if theirs else ""
        print(f"| {figure} | {runs} | {ours} | {theirs} | {ratio} |")


if __name__ == "__main__":
    main()
