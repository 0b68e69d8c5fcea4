# SPDX-License-Identifier: GPL-3.0-or-later
"""Random cluster, mosaic and rectangle maps, one map at a time, side by side
with a plain NumPy/SciPy implementation of the same steps, in alternating
rounds in one process on the same machine:

- cluster (majority): cells marked with probability p, scipy.ndimage.label
  with the 4-neighbourhood, a class drawn for each cluster, every unmarked
  cell the class most common among its marked neighbours (counted by
  convolution), ties and lone cells drawn;
- cluster (nearest): the same clusters, each a uniform value, every unmarked
  cell the value of its nearest marked cell
  (scipy.ndimage.distance_transform_edt with return_indices), cut exactly at
  the cover (numpy.argpartition);
- mosaic: seed cells drawn uniformly, each a uniform value, every cell the
  value of its nearest seed (distance_transform_edt), cut exactly;
- rectangles: rectangles painted one over the other by slicing until every
  cell is covered, cut exactly.

The engine's time per map is that of `<family>_batch(..., replicates=ROUNDS)`
giving its maps as int32 arrays, cut and copy included, divided by the
maps; NumPy's the median of ROUNDS maps. Prints both and their ratio.

Usage: /usr/bin/python3 bench/cluster_numpy.py BUILD_DIR [ROUNDS] [SIZES]
"""

import os
import statistics
import sys
import time

import numpy
from scipy import ndimage


def exact_cut(surface, cover):
    """Habitat is the round(cover x cells / 100) highest values."""
    flat = surface.ravel()
    taken = (cover * flat.size * 2 + 100) // 200
    out = numpy.zeros(flat.size, dtype=numpy.int32)
    if taken:
        out[numpy.argpartition(flat, flat.size - taken)[flat.size - taken:]] = 1
    return out.reshape(surface.shape)


def clusters(rng, n, p):
    marked = rng.random((n, n)) < p
    labels, count = ndimage.label(marked)
    return marked, labels, count


def cluster_majority(rng, n, p=0.5, cover=50):
    marked, labels, count = clusters(rng, n, p)
    cluster_class = (rng.random(count + 1) < cover / 100).astype(numpy.int8)
    classes = numpy.where(marked, cluster_class[labels], -1)
    kernel = numpy.ones((3, 3))
    kernel[1, 1] = 0
    votes = [ndimage.convolve((classes == k).astype(numpy.int16), kernel, mode="constant")
             for k in (0, 1)]
    none = (votes[0] == 0) & (votes[1] == 0)
    tie = (votes[0] == votes[1]) & ~none
    fill = numpy.where(votes[1] > votes[0], 1, 0)
    fill = numpy.where(tie, rng.random((n, n)) < 0.5, fill)
    fill = numpy.where(none, rng.random((n, n)) < cover / 100, fill)
    return numpy.where(marked, classes, fill).astype(numpy.int32)


def cluster_nearest(rng, n, p=0.5, cover=50):
    marked, labels, count = clusters(rng, n, p)
    values = rng.random(count + 1)[labels]
    rows, columns = ndimage.distance_transform_edt(~marked, return_distances=False,
                                                   return_indices=True)
    return exact_cut(values[rows, columns], cover)


def mosaic(rng, n, elements=200, cover=50):
    seeds = rng.integers(0, n * n, elements)
    surface = numpy.zeros(n * n)
    surface[seeds] = rng.random(elements)
    empty = numpy.ones(n * n, dtype=bool)
    empty[seeds] = False
    rows, columns = ndimage.distance_transform_edt(empty.reshape(n, n), return_distances=False,
                                                   return_indices=True)
    return exact_cut(surface.reshape(n, n)[rows, columns], cover)


def rectangles(rng, n, low=5, high=20, cover=50):
    surface = numpy.full((n, n), -1.0)
    while True:
        # Checking the cover costs a pass over the map: once per batch of
        # rectangles, as a plain implementation would.
        for _ in range(2000):
            w, h = rng.integers(low, high + 1, 2)
            x = rng.integers(1 - w, n)
            y = rng.integers(1 - h, n)
            surface[max(y, 0):y + h, max(x, 0):x + w] = rng.random()
        if (surface >= 0).all():
            return exact_cut(surface, cover)


def timed(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    sizes = [int(s) for s in sys.argv[3].split(",")] if len(sys.argv) > 3 else [1000, 4096]
    sys.path.insert(0, os.path.join(build, "python"))
    import patchwright

    rng = numpy.random.default_rng(1)
    cases = [
        ("cluster majority", cluster_majority, "cluster", dict(p=0.5)),
        ("cluster nearest", cluster_nearest, "cluster", dict(p=0.5, fill="nearest")),
        ("mosaic", mosaic, "mosaic", dict(elements=200)),
        ("rectangles", rectangles, "rectangles", dict(min_side=5, max_side=20)),
    ]
    print(f"{'map':<18}{'size':>6}{'engine ms':>12}{'numpy ms':>12}{'ratio':>8}")
    for n in sizes:
        for name, plain, kind, keywords in cases:
            batch = getattr(patchwright, kind + "_batch")
            theirs = [timed(lambda: plain(rng, n)) for _ in range(rounds)]
            ours = timed(lambda: list(batch(size=n, cover=[50], replicates=rounds, **keywords)))
            a, b = ours / rounds * 1e3, statistics.median(theirs) * 1e3
            print(f"{name:<18}{n:>6}{a:>12.1f}{b:>12.1f}{b / a:>8.1f}", flush=True)


if __name__ == "__main__":
    main()
