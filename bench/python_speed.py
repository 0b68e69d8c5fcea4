# SPDX-License-Identifier: GPL-3.0-or-later
"""The Python module's three speed figures, each paired with the C++ run it is
measured against, in alternating rounds on the same machine:

- fbm_surface(4096, 0.5, seed) against bench_fbm's BM_FastSurface/4096, the
  same surface with the engine's storage kept from one to the next;
- fractal_batch() with the default ranges, every map taken from the
  iterator, against patchwright-cli fractal writing the same batch to tmpfs
  (/dev/shm), timed as a whole process;
- read_map() of a 4096 x 4096 random map (34 MB of text on tmpfs) against
  bench_mapio's BM_ReadMap4096, which reads the same kind of map through the
  same reader.

Usage: /usr/bin/python3 bench/python_speed.py BUILD_DIR [ROUNDS]
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    sys.path.insert(0, os.path.join(build, "python"))
    import patchwright

    bench_fbm = os.path.join(build, "bench", "bench_fbm")
    bench_mapio = os.path.join(build, "bench", "bench_mapio")
    cli = os.path.join(build, "cli", "patchwright-cli")
    scratch = tempfile.mkdtemp(dir="/dev/shm")
    times = {name: [] for name in ("surface_cpp", "surface_py", "batch_cli", "batch_py",
                                   "read_cpp", "read_py")}
    try:
        patchwright.fbm_surface(4096, 0.5, 0)
        large = os.path.join(scratch, "large")
        subprocess.run([cli, "random", "--out", large, "--size", "4096", "--cover", "50:50:1",
                        "--quiet"], cwd=scratch, check=True)
        large_map = next(os.path.join(large, name) for name in os.listdir(large)
                         if name.endswith(".txt"))
        for _ in range(rounds):
            result = subprocess.run(
                [bench_fbm, "--benchmark_filter=BM_FastSurface/4096/",
                 "--benchmark_min_time=1"],
                capture_output=True, text=True, check=True)
            milliseconds = re.search(r"BM_FastSurface/4096\S*\s+([\d.]+) ms", result.stdout)
            times["surface_cpp"].append(float(milliseconds.group(1)))

            seeds = range(1, 11)
            started = time.perf_counter()
            for seed in seeds:
                surface = patchwright.fbm_surface(4096, 0.5, seed)
                del surface
            elapsed = time.perf_counter() - started
            times["surface_py"].append(1000 * elapsed / len(seeds))

            out = os.path.join(scratch, "cli")
            started = time.perf_counter()
            subprocess.run([cli, "fractal", "--out", out, "--quiet", "--overwrite"],
                           cwd=scratch, check=True)
            times["batch_cli"].append(1000 * (time.perf_counter() - started))
            shutil.rmtree(out)

            started = time.perf_counter()
            maps = sum(1 for _ in patchwright.fractal_batch())
            times["batch_py"].append(1000 * (time.perf_counter() - started))

            result = subprocess.run(
                [bench_mapio, "--benchmark_filter=BM_ReadMap4096", "--benchmark_min_time=1"],
                capture_output=True, text=True, check=True,
                env=dict(os.environ, TMPDIR=scratch))
            milliseconds = re.search(r"BM_ReadMap4096\S*\s+([\d.]+) ms", result.stdout)
            times["read_cpp"].append(float(milliseconds.group(1)))

            reads = 10
            started = time.perf_counter()
            for _ in range(reads):
                grid = patchwright.read_map(large_map)
                del grid
            times["read_py"].append(1000 * (time.perf_counter() - started) / reads)
    finally:
        shutil.rmtree(scratch)

    print(f"{rounds} rounds, medians in ms ({maps} maps a batch)")
    for name, values in times.items():
        print(f"{name:12} {statistics.median(values):9.1f}   "
              + " ".join(f"{v:.1f}" for v in values))
    for python, cpp in (("surface_py", "surface_cpp"), ("batch_py", "batch_cli"),
                        ("read_py", "read_cpp")):
        ratio = statistics.median(times[python]) / statistics.median(times[cpp])
        print(f"{python} / {cpp}: {ratio:.2f}")


if __name__ == "__main__":
    main()
