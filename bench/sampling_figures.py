# SPDX-License-Identifier: GPL-3.0-or-later
"""The figures the README gives for how maps are sampled, measured again:

- flip: how often a cell flips between consecutive replicates of a random
  batch (cover 50, 100 replicates, seed 5), as the variance across cells of
  that count; independent maps give 99 x 0.5 x 0.5 = 24.75;
- ladder: realised minus requested cover of every map of the default fractal
  batch (H 0.1..0.9, covers 1..100, 100 x 100), in points: least, most, mean;
- hurst: H measured on midpoint-displacement surfaces (257 x 257 points,
  seeds 0..19) from their variogram at lags 1..64 along rows and columns:
  half the least-squares slope of log mean squared difference on log lag.

Usage: /usr/bin/python3 bench/sampling_figures.py BUILD_DIR [--check README.md]

With --check, exits 1 unless every figure printed (each number with two
decimals) appears in the README as printed here.
"""

import os
import re
import sys

import numpy


def flip_variance(patchwright, size, generator):
    batch = patchwright.random_batch(cover=[50], size=size, replicates=100, seed=5,
                                     generator=generator)
    flips = numpy.zeros((size, size), numpy.int64)
    previous = None
    for _, cells in batch:
        if previous is not None:
            flips += cells != previous
        previous = cells
    return flips.var()


def ladder_offsets(patchwright):
    offsets = []
    for record, cells in patchwright.fractal_batch():
        realised = 100.0 * numpy.count_nonzero(cells == record["cover_value"]) / cells.size
        offsets.append(realised - record["requested_cover"])
    return min(offsets), max(offsets), sum(offsets) / len(offsets)


def measured_hurst(patchwright, h):
    lags = numpy.arange(1, 65)
    sums = numpy.zeros(len(lags))
    for seed in range(20):
        surface = patchwright.fbm_surface(256, h, seed)
        for i, lag in enumerate(lags):
            rows = surface[:, lag:] - surface[:, :-lag]
            columns = surface[lag:, :] - surface[:-lag, :]
            sums[i] += (numpy.mean(rows**2) + numpy.mean(columns**2)) / 2
    slope = numpy.polyfit(numpy.log(lags), numpy.log(sums / 20), 1)[0]
    return slope / 2


def figures(patchwright):
    lines = []
    for size in (64, 128, 256):
        for generator in ("classic", "philox"):
            lines.append("flip variance %s %d x %d: %.2f"
                         % (generator, size, size, flip_variance(patchwright, size, generator)))
    low, high, mean = ladder_offsets(patchwright)
    lines.append("ladder realised minus requested cover: %+.2f to %+.2f points, mean %+.2f"
                 % (low, high, mean))
    for h in (0.1, 0.5, 0.9):
        lines.append("H %.1f measures %.2f" % (h, measured_hurst(patchwright, h)))
    return lines


def main():
    build = os.path.abspath(sys.argv[1])
    sys.path.insert(0, os.path.join(build, "python"))
    import patchwright

    lines = figures(patchwright)
    print("\n".join(lines))
    if len(sys.argv) > 3 and sys.argv[2] == "--check":
        with open(sys.argv[3]) as file:
            readme = file.read()
        # The measured figures: numbers with two decimals, sign included.
        measured = [re.findall(r"[-+]?\d+\.\d\d\b", line) for line in lines]
        missing = [figure for figures_ in measured for figure in figures_
                   if figure not in readme]
        if missing:
            print("not in the README: " + ", ".join(missing), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
