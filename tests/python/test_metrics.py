# SPDX-License-Identifier: GPL-3.0-or-later
"""`patchwright-cli metrics` on maps of every family, against numpy and scipy:
patches from scipy.ndimage.label, edges and adjacencies from comparing
shifted arrays, nearest neighbours from a distance transform per patch.
Nothing here shares code with the engine. The Python package's long table
must be the command line's, row for row. Run by CTest with the command line
in PW_CLI_PATH and the package on PYTHONPATH; skipped (77) without numpy or
scipy."""

import csv
import io
import itertools
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

import patchwright

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


def expected(codes, neighbours, cell, outside):
    """The simple metrics of a map of codes, the plain way; `outside` marks
    the cells outside the landscape."""
    structure = numpy.ones((3, 3)) if neighbours == 8 else None
    total = numpy.count_nonzero(~outside)
    hectares = cell * cell / 10000
    values = {}
    proportions = []
    # Sides between two cells of the landscape, along rows and along columns.
    pairs = [(~outside[:, 1:] & ~outside[:, :-1], codes[:, 1:], codes[:, :-1]),
             (~outside[1:, :] & ~outside[:-1, :], codes[1:, :], codes[:-1, :])]
    unlike = sum(numpy.count_nonzero(inside & (a != b)) for inside, a, b in pairs)
    for code in numpy.unique(codes[~outside]):
        mask = (codes == code) & ~outside
        labels, count = ndimage.label(mask, structure=structure)
        sizes = numpy.bincount(labels.ravel())[1:]
        edges = sum(numpy.count_nonzero(inside & ((a == code) != (b == code)))
                    for inside, a, b in pairs)
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
        values[cls + ("ed",)] = edges * cell / (total * cell * cell) * 10000
        values[cls + ("enn_mn",)] = numpy.mean(nearest) if count > 1 else math.nan
        values[cls + ("split",)] = total**2 / numpy.sum(sizes.astype(float) ** 2)
        proportions.append(mask.sum() / total)
    p = numpy.array(proportions)
    values[("landscape", "NA", "shdi")] = -numpy.sum(p * numpy.log(p))
    values[("landscape", "NA", "sidi")] = 1 - numpy.sum(p * p)
    values[("landscape", "NA", "pr")] = len(p)
    values[("landscape", "NA", "ta")] = total * hectares
    values[("landscape", "NA", "te")] = unlike * cell
    values[("landscape", "NA", "ed")] = unlike * cell / (total * cell * cell) * 10000
    return values


def with_nodata(path, folder):
    """A copy of an ESRI grid whose top-left quarter and a diagonal are its
    NoData value: the grid file and its cells as floats, NaN outside."""
    with open(path) as file:
        lines = file.read().splitlines()
    header = [line for line in lines if line[:1].isalpha()]
    codes = numpy.loadtxt(path, skiprows=len(header), ndmin=2)
    outside = numpy.zeros(codes.shape, bool)
    outside[: codes.shape[0] // 2, : codes.shape[1] // 2] = True
    numpy.fill_diagonal(outside, True)
    header = [line for line in header if not line.lower().startswith("nodata_value")]
    written = numpy.where(outside, -9999, codes).astype(int)
    copy = os.path.join(folder, "nodata.asc")
    with open(copy, "w") as file:
        file.write("\n".join(header + ["NODATA_value -9999"]) + "\n")
        numpy.savetxt(file, written, fmt="%d")
    return copy, numpy.where(outside, numpy.nan, codes)


class FamilyMaps(unittest.TestCase):
    def test_every_family_measures_as_numpy_and_scipy_do(self):
        with tempfile.TemporaryDirectory() as folder:
            for family in FAMILIES:
                out = os.path.join(folder, family[0])
                run(family[0], "--out", out, "--format", "asc", "--cell-size", "5", "--quiet",
                    *family[1:], cwd=folder)
                path = next(os.path.join(out, n) for n in os.listdir(out) if n.endswith(".asc"))
                codes = numpy.loadtxt(path, skiprows=6, dtype=int, ndmin=2)
                holed, cells = with_nodata(path, folder)
                maps = [(path, codes, {}), (holed, cells, {}),
                        (holed, numpy.nan_to_num(cells, nan=-9999).astype(int),
                         {"nodata": -9999})]
                for (file, array, nodata), neighbours in itertools.product(maps, (4, 8)):
                    table = run("metrics", file, "--neighbours", str(neighbours), cwd=folder)
                    rows = [(r["level"], r["class"], r["metric"], r["value"])
                            for r in csv.DictReader(io.StringIO(table))]
                    measured = patchwright.metrics(array, cell_size=5, neighbours=neighbours,
                                                   metric="all", **nodata)
                    # The same rows in the same order, the same doubles.
                    self.assertEqual(
                        [(level, "NA" if math.isnan(code) else str(int(code)), metric,
                          "NA" if math.isnan(value) else float(value))
                         for level, code, metric, value in zip(
                             *(measured[c] for c in ("level", "class", "metric", "value")))],
                        [row[:3] + ("NA" if row[3] == "NA" else float(row[3]),)
                         for row in rows])
                    values = {row[:3]: float(row[3].replace("NA", "nan")) for row in rows}
                    outside = numpy.isnan(array) if array.dtype.kind == "f" else array == -9999
                    for key, value in expected(numpy.nan_to_num(array).astype(int), neighbours,
                                               5.0, outside).items():
                        with self.subTest(family=family[0], neighbours=neighbours, value=key,
                                          file=file, nodata=nodata):
                            if math.isnan(value):
                                self.assertTrue(math.isnan(values[key]))
                            else:
                                self.assertAlmostEqual(values[key], value,
                                                       delta=1e-9 * abs(value))


if __name__ == "__main__":
    unittest.main()
