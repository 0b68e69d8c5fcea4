# SPDX-License-Identifier: GPL-3.0-or-later
"""The distance gradient and Perlin noise, one surface at a time, side by
side with SciPy and NumPy, in alternating rounds in one process:

- distance: `distance_surface(size, 10, seed)` (sources drawn, exact
  transform, distances divided by the largest) against
  scipy.ndimage.distance_transform_edt of the same sources alone;
- perlin: `perlin_surface(size, 4, seed, octaves=6)` against a NumPy
  implementation of the same definition: per octave a lattice of 4 x 2^o
  cells a side, a unit gradient of a uniform angle at every lattice point,
  the four corners' dot products blended by the quintic fade, octaves
  weighted by 0.5^o, the sum rescaled to 0..1.

Prints the median time of each and their ratio.

Usage: /usr/bin/python3 bench/gradient_numpy.py BUILD_DIR [ROUNDS] [SIZES]
"""

import os
import statistics
import sys
import time

import numpy
from scipy import ndimage


def fade(t):
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0)


def numpy_perlin(size, periods, octaves, rng, lacunarity=2.0, persistence=0.5):
    total = numpy.zeros((size, size))
    centres = (numpy.arange(size) + 0.5) / size
    amplitude = 1.0
    for octave in range(octaves):
        f = periods * lacunarity ** octave
        points = int(numpy.ceil(f)) + 1
        angles = rng.uniform(0.0, 2.0 * numpy.pi, (points, points))
        gx, gy = numpy.cos(angles), numpy.sin(angles)
        at = centres * f
        cell = numpy.floor(at).astype(numpy.intp)
        offset = at - cell
        x0, y0 = offset[None, :], offset[:, None]
        i, j = cell[None, :], cell[:, None]

        def corner(dj, di):
            return gx[j + dj, i + di] * (x0 - di) + gy[j + dj, i + di] * (y0 - dj)

        fx, fy = fade(x0), fade(y0)
        top = corner(0, 0) + fx * (corner(0, 1) - corner(0, 0))
        bottom = corner(1, 0) + fx * (corner(1, 1) - corner(1, 0))
        total += amplitude * (top + fy * (bottom - top))
        amplitude *= persistence
    return (total - total.min()) / (total.max() - total.min())


def scipy_distance(size, rng):
    free = numpy.ones((size, size), dtype=bool)
    free.ravel()[rng.integers(0, size * size, 10)] = False
    distance = ndimage.distance_transform_edt(free)
    return distance / distance.max()


def timed(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def main():
    build = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    sizes = [int(s) for s in sys.argv[3].split(",")] if len(sys.argv) > 3 else [1000, 4096]
    sys.path.insert(0, os.path.join(build, "python"))
    import patchwright

    rng = numpy.random.default_rng(1)
    for size in sizes:
        cases = (
            ("distance", lambda s: patchwright.distance_surface(size, 10, s),
             lambda: scipy_distance(size, rng)),
            ("perlin 6 octaves", lambda s: patchwright.perlin_surface(size, 4, s, octaves=6),
             lambda: numpy_perlin(size, 4, 6, rng)),
        )
        for name, ours, theirs in cases:
            mine, other = [], []
            for k in range(rounds):
                mine.append(timed(lambda: ours(k)))
                other.append(timed(theirs))
            a, b = statistics.median(mine), statistics.median(other)
            print(f"{name:18} {size:5}  engine {a * 1000:9.1f} ms  "
                  f"numpy/scipy {b * 1000:9.1f} ms  ratio {b / a:5.1f}x", flush=True)


if __name__ == "__main__":
    main()
