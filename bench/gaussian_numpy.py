#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The circulant embedding of bench_gaussian.cpp written with numpy.fft, as a
reference for its speed: an exponential field of range 20 on 1024 x 1024
cells, embedded in a 2048 x 2048 periodic grid.

    /usr/bin/python3 bench/gaussian_numpy.py [size] [fields]

prints the milliseconds of the embedding (once per model) and of one field
(the median of `fields` draws), each field one complex transform of
independent normal draws, its real part kept: wall time, and in brackets the
process's CPU time, which a busy machine inflates less.
"""
import statistics
import sys
import time

import numpy as np


def embedding(size, rng_range=20.0):
    m = 2 * size
    lag = np.minimum(np.arange(m), m - np.arange(m))
    d = np.hypot(lag[:, None], lag[None, :])
    covariance = np.exp(-d / rng_range)
    eigenvalues = np.fft.fft2(covariance).real
    if eigenvalues.min() < -1e-9:
        raise SystemExit("negative eigenvalues")
    return np.sqrt(np.maximum(eigenvalues, 0.0)) / m


def field(amplitude, size, rng):
    m = amplitude.shape[0]
    noise = rng.standard_normal((m, m)) + 1j * rng.standard_normal((m, m))
    return np.fft.fft2(amplitude * noise).real[:size, :size]


def main():
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 1024
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    rng = np.random.default_rng(1)
    start, cpu = time.perf_counter(), time.process_time()
    amplitude = embedding(size)
    setup = (time.perf_counter() - start, time.process_time() - cpu)
    walls, cpus = [], []
    for _ in range(count):
        start, cpu = time.perf_counter(), time.process_time()
        values = field(amplitude, size, rng)
        walls.append(time.perf_counter() - start)
        cpus.append(time.process_time() - cpu)
    print(f"numpy {np.__version__}: embedding {setup[0] * 1000:.0f} ms "
          f"({setup[1] * 1000:.0f} ms CPU), field {statistics.median(walls) * 1000:.0f} ms "
          f"({statistics.median(cpus) * 1000:.0f} ms CPU; median of {count}), "
          f"variance {values.var():.3f}")


if __name__ == "__main__":
    main()
