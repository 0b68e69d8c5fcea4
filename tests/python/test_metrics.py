# SPDX-License-Identifier: GPL-3.0-or-later
"""`patchwright-cli metrics` on maps of every family, against numpy and scipy:
patches from scipy.ndimage.label, edges and adjacencies from comparing
shifted arrays, nearest neighbours from a distance transform per patch.
Nothing here shares code with the engine. Run by CTest with the command line
in PW_CLI_PATH; skipped (77) without numpy or scipy."""

import csv
import io
import math
import os
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy
    from scipy import ndimage
except ImportError as missing:
    print(f"skipped: {missing.name} is not installed (python3-numpy, python3-scipy)")
    sys.exit(77)

CLI = os.environ["PW_CLI_PATH"]

# One small map of each family, at a cover that gives many patches.
FAMILIES = [
    ["random", "--cover", "45", "--size", "70", "--seed", "3"],
    ["fractal", "--hurst", "0.3", "--cover", "40", "--size", "65"],
    ["gaussian", "--model", "exponential", "--range", "4", "--cover", "55", "--size", "64"],
]


def run(*arguments, cwd):
    done = subprocess.run([CLI, *arguments], cwd=cwd, capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise AssertionError(done.stderr)
    return done.stdout


def expected(codes, neighbours, cell):
    """The simple metrics of a map of codes, the plain way."""
    structure = numpy.ones((3, 3)) if neighbours == 8 else None
    total = codes.size
    hectares = cell * cell / 10000
    values = {}
    proportions = []
    for code in numpy.unique(codes):
        mask = codes == code
        labels, count = ndimage.label(mask, structure=structure)
        sizes = numpy.bincount(labels.ravel())[1:]
        edges = numpy.count_nonzero(mask[:, 1:] != mask[:, :-1]) + numpy.count_nonzero(
            mask[1:, :] != mask[:-1, :]
        )
        nearest = []
        for patch in range(1, count + 1):
            others = mask & (labels != patch)
            distance = ndimage.distance_transform_edt(~others)
            nearest.append(distance[labels == patch].min() * cell)
        cls = ("class", str(code))
        values[cls + ("np",)] = count
        values[cls + ("pland",)] = mask.sum() / total * 100
        values[cls + ("lpi",)] = sizes.max() / total * 100
        values[cls + ("area_mn",)] = sizes.mean() * hectares
        values[cls + ("te",)] = edges * cell
        values[cls + ("enn_mn",)] = numpy.mean(nearest) if count > 1 else math.nan
        values[cls + ("split",)] = total**2 / numpy.sum(sizes.astype(float) ** 2)
        proportions.append(mask.sum() / total)
    p = numpy.array(proportions)
    values[("landscape", "NA", "shdi")] = -numpy.sum(p * numpy.log(p))
    values[("landscape", "NA", "sidi")] = 1 - numpy.sum(p * p)
    values[("landscape", "NA", "pr")] = len(p)
    values[("landscape", "NA", "ta")] = total * hectares
    return values


class FamilyMaps(unittest.TestCase):
    def test_every_family_measures_as_numpy_and_scipy_do(self):
        with tempfile.TemporaryDirectory() as folder:
            for family in FAMILIES:
                out = os.path.join(folder, family[0])
                run(family[0], "--out", out, "--format", "asc", "--cell-size", "5", "--quiet",
                    *family[1:], cwd=folder)
                path = next(os.path.join(out, n) for n in os.listdir(out) if n.endswith(".asc"))
                codes = numpy.loadtxt(path, skiprows=6, dtype=int, ndmin=2)
                for neighbours in (4, 8):
                    table = run("metrics", path, "--neighbours", str(neighbours), cwd=folder)
                    rows = {
                        (r["level"], r["class"], r["metric"]): float(r["value"].replace("NA", "nan"))
                        for r in csv.DictReader(io.StringIO(table))
                    }
                    for key, value in expected(codes, neighbours, 5.0).items():
                        with self.subTest(family=family[0], neighbours=neighbours, value=key):
                            if math.isnan(value):
                                self.assertTrue(math.isnan(rows[key]))
                            else:
                                self.assertAlmostEqual(rows[key], value, delta=1e-9 * abs(value))


if __name__ == "__main__":
    unittest.main()
