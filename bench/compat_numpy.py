# SPDX-License-Identifier: GPL-3.0-or-later
"""The functions of patchwright.compat, one call at a time, side by side
with a plain NumPy/SciPy implementation of the same definition, in
alternating rounds in one process:

- random: numpy.random.random;
- mpd: midpoint displacement (diamond-square) on the lattice of 2^k + 1
  points, displacements scaled by 2^-h each level, vectorised by level;
- randomRectangularCluster, randomElementNN, randomClusterNN: the steps of
  bench/cluster_numpy.py without the cut;
- planarGradient, edgeGradient, waveSurface: the formulas on index grids;
- distanceGradient: scipy.ndimage.distance_transform_edt;
- perlinNoise: the NumPy Perlin noise of bench/gradient_numpy.py;
- classifyArray: numpy.argsort and exact counts.

Prints the median time of each and their ratio.

Usage: /usr/bin/python3 bench/compat_numpy.py BUILD_DIR [ROUNDS] [SIZE]
"""

import os
import statistics
import sys

import numpy
from scipy import ndimage

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gradient_numpy import numpy_perlin, timed  # noqa: E402


def rescale(values):
    return (values - values.min()) / (values.max() - values.min())


def numpy_mpd(rng, n, h):
    side = 1
    while side + 1 < n:
        side *= 2
    grid = numpy.zeros((side + 1, side + 1))
    grid[::side, ::side] = rng.normal(size=(2, 2))
    step, scale = side, 1.0
    while step > 1:
        half = step // 2
        scale *= 2.0 ** -h
        corners = grid[0:-1:step, 0:-1:step] + grid[step::step, 0:-1:step] + \
            grid[0:-1:step, step::step] + grid[step::step, step::step]
        centres = grid[half::step, half::step]
        centres[...] = corners / 4 + scale * rng.normal(size=centres.shape)
        padded = numpy.pad(grid, half, constant_values=numpy.nan)
        for rows, cols in ((slice(0, None, step), slice(half, None, step)),
                           (slice(half, None, step), slice(0, None, step))):
            target = grid[rows, cols]
            r = numpy.arange(grid.shape[0])[rows][:, None] + half
            c = numpy.arange(grid.shape[1])[cols][None, :] + half
            around = numpy.stack([padded[r - half, c], padded[r + half, c],
                                  padded[r, c - half], padded[r, c + half]])
            target[...] = numpy.nanmean(around, axis=0) + scale * rng.normal(size=target.shape)
        step = half
    return rescale(grid[:n, :n])


def plane(n, degrees):
    radians = numpy.deg2rad(degrees)
    y, x = numpy.mgrid[0:n, 0:n]
    return rescale(x * numpy.sin(radians) - y * numpy.cos(radians))


def rectangles(rng, n, low, high):
    surface = numpy.full((n, n), -1.0)
    while True:
        for _ in range(2000):
            w, h = rng.integers(low, high + 1, 2)
            x, y = rng.integers(1 - w, n), rng.integers(1 - h, n)
            surface[max(y, 0):y + h, max(x, 0):x + w] = rng.random()
        if (surface >= 0).all():
            return rescale(surface)


def nearest_values(empty, values):
    rows, columns = ndimage.distance_transform_edt(empty, return_distances=False,
                                                   return_indices=True)
    return rescale(values[rows, columns])


def element_nn(rng, n, elements):
    values = numpy.zeros((n, n))
    empty = numpy.ones((n, n), dtype=bool)
    cells = rng.integers(0, n * n, elements)
    values.ravel()[cells] = rng.random(elements)
    empty.ravel()[cells] = False
    return nearest_values(empty, values)


def cluster_nn(rng, n, p):
    marked = rng.random((n, n)) < p
    labels, count = ndimage.label(marked)
    return nearest_values(~marked, rng.random(count + 1)[labels])


def classify(values, weights):
    order = numpy.argsort(values, axis=None, kind="stable")
    bounds = numpy.rint(numpy.cumsum(weights) / numpy.sum(weights) * values.size).astype(int)
    classes = numpy.empty(values.size)
    start = 0
    for k, end in enumerate(bounds):
        classes[order[start:end]] = k
        start = end
    return classes.reshape(values.shape)


def main():
    build = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    n = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    sys.path.insert(0, os.path.join(build, "python"))
    import patchwright.compat as nlmpy

    rng = numpy.random.default_rng(1)
    sources = numpy.zeros((n, n))
    sources.ravel()[rng.integers(0, n * n, 10)] = 1
    surface = rescale(rng.random((n, n)))
    cases = (
        ("random", lambda: nlmpy.random(n, n), lambda: rng.random((n, n))),
        ("mpd", lambda: nlmpy.mpd(n, n, 0.75), lambda: numpy_mpd(rng, n, 0.75)),
        ("randomRectangularCluster", lambda: nlmpy.randomRectangularCluster(n, n, 5, 20),
         lambda: rectangles(rng, n, 5, 20)),
        ("randomElementNN", lambda: nlmpy.randomElementNN(n, n, 200),
         lambda: element_nn(rng, n, 200)),
        ("randomClusterNN", lambda: nlmpy.randomClusterNN(n, n, 0.5),
         lambda: cluster_nn(rng, n, 0.5)),
        ("planarGradient", lambda: nlmpy.planarGradient(n, n, 30), lambda: plane(n, 30)),
        ("edgeGradient", lambda: nlmpy.edgeGradient(n, n, 30),
         lambda: 1 - numpy.abs(2 * plane(n, 30) - 1)),
        ("waveSurface", lambda: nlmpy.waveSurface(n, n, 4, 30),
         lambda: (1 + numpy.sin(2 * numpy.pi * 4 * plane(n, 30))) / 2),
        ("distanceGradient", lambda: nlmpy.distanceGradient(sources),
         lambda: rescale(ndimage.distance_transform_edt(sources == 0))),
        ("perlinNoise", lambda: nlmpy.perlinNoise(n, n, 4, octaves=6),
         lambda: numpy_perlin(n, 4, 6, rng)),
        ("classifyArray", lambda: nlmpy.classifyArray(surface, [0.5, 0.3, 0.2]),
         lambda: classify(surface, [0.5, 0.3, 0.2])),
    )
    for name, ours, theirs in cases:
        mine, other = [], []
        for _ in range(rounds):
            mine.append(timed(ours))
            other.append(timed(theirs))
        a, b = statistics.median(mine), statistics.median(other)
        print(f"| {name} | {a * 1000:.1f} ms | {b * 1000:.1f} ms | {b / a:.1f} |", flush=True)


if __name__ == "__main__":
    main()
