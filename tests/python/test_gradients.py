# SPDX-License-Identifier: GPL-3.0-or-later
"""Gradients, waves, distances, Perlin and torus noise and blends against their
definitions, computed here with numpy alone. Run by CTest with the build's
package on PYTHONPATH and the command line in PW_CLI_PATH."""

import math
import os
import stat
import sys
import tempfile
import unittest

import numpy

import patchwright

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_module import manifest_rows, run_cli  # noqa: E402

SHAPES = ((7, 11), (12, 5), (2, 9))
DIRECTIONS = (0, 30, 90, 135.5, 200.25, 359.99)


def plane(shape, degrees):
    """g = (x sin d - y cos d - low) / (high - low), in that order."""
    rows, columns = shape
    radians = degrees * (math.pi / 180.0)
    s, c = math.sin(radians), math.cos(radians)
    right, down = (columns - 1) * s, (rows - 1) * c
    corners = (0.0, right, 0.0 - down, right - down)
    low = min(corners)
    x = numpy.arange(columns, dtype=float)[None, :] * s
    y = numpy.arange(rows, dtype=float)[:, None] * c
    return (x - y - low) / (max(corners) - low)


def rescaled(values):
    return (values - values.min()) / (values.max() - values.min())


def centroid_frequency(periods, size=128, seeds=8, **keywords):
    """The power-weighted mean of the radial frequency (cycles across the
    map) of Perlin surfaces, averaged over seeds and directions."""
    fy = numpy.fft.fftfreq(size) * size
    fx = numpy.fft.rfftfreq(size) * size
    radius = numpy.rint(numpy.hypot(fy[:, None], fx[None, :])).astype(int).ravel()
    power = numpy.zeros(radius.max() + 1)
    for seed in range(seeds):
        s = patchwright.perlin_surface(size, periods, seed, **keywords)
        power += numpy.bincount(radius, (numpy.abs(numpy.fft.rfft2(s - s.mean())) ** 2).ravel(),
                                minlength=power.size)
    mean = (power / numpy.bincount(radius, minlength=power.size))[1:size // 2]
    return (mean * numpy.arange(1, size // 2)).sum() / mean.sum()


class Gradients(unittest.TestCase):
    def test_planes_edges_and_waves_are_their_formulas(self):
        for shape in SHAPES:
            for d in DIRECTIONS:
                g = plane(shape, d)
                numpy.testing.assert_array_equal(patchwright.planar_surface(shape, d), g)
                numpy.testing.assert_array_equal(patchwright.edge_surface(shape, d),
                                                 1.0 - numpy.abs(2.0 * g - 1.0))
                if min(shape) > 2:
                    numpy.testing.assert_allclose(
                        patchwright.wave_surface(shape, 1.5, d),
                        (1.0 + numpy.sin(2.0 * math.pi * 1.5 * g)) / 2.0, rtol=0, atol=1e-12)

    def test_a_drawn_direction_is_the_one_recorded(self):
        records = [r for r, _ in patchwright.planar_batch(size=(9, 14), cover=[20, 70],
                                                          replicates=4, seed=11)]
        directions = {r["direction"] for r in records}
        self.assertEqual(len(directions), len(records))
        for record in records:
            drawn = patchwright.planar_surface((9, 14), seed=11, cover=record["requested_cover"],
                                               replicate=record["replicate"])
            numpy.testing.assert_array_equal(drawn, plane((9, 14), record["direction"]))

    def test_distances_are_the_nearest_source_by_brute_force(self):
        def brute(sources):
            rows, columns = sources.shape
            r, c = numpy.nonzero(sources)
            yy, xx = numpy.mgrid[0:rows, 0:columns]
            d = numpy.sqrt(((yy[..., None] - r) ** 2 + (xx[..., None] - c) ** 2).min(axis=-1))
            return d / d.max()

        for seed in range(5):
            for count in (1, 3, 12):
                surface = patchwright.distance_surface((13, 17), count, seed, cover=30)
                sources = surface == 0
                self.assertLessEqual(sources.sum(), count)
                numpy.testing.assert_array_equal(surface, brute(sources))
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "river.asc")
            sources = numpy.zeros((10, 16), dtype=bool)
            sources[4, :9] = sources[7, 12] = True
            with open(path, "w") as file:
                file.write("ncols 16\nnrows 10\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                           "NODATA_value -9999\n")
                for row in sources:
                    file.write(" ".join("3" if s else "-9999" for s in row) + "\n")
            # The raster is the maps' template: its rows and columns.
            numpy.testing.assert_array_equal(
                patchwright.distance_surface(2, sources_from=path), brute(sources))
            # Inside a mask, drawn sources lie in the study area.
            mask = os.path.join(folder, "mask.asc")
            with open(mask, "w") as file:
                file.write("ncols 16\nnrows 10\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                           "NODATA_value -9999\n")
                for r in range(10):
                    file.write(" ".join("1" if c >= 10 else "-9999" for c in range(16)) + "\n")
            for seed in range(4):
                surface = patchwright.distance_surface(10, 5, seed, mask=mask)
                self.assertTrue((numpy.nonzero(surface == 0)[1] >= 10).all())


class Perlin(unittest.TestCase):
    def test_noise_is_one_continuous_function_sampled_at_cell_centres(self):
        # Cell centres of a 60-cell side are every third centre of a
        # 180-cell side, from the second: the same noise, up to the
        # rescaling of each surface to 0..1.
        for seed in (0, 7):
            coarse = patchwright.perlin_surface(60, 5, seed, octaves=3)
            fine = patchwright.perlin_surface(180, 5, seed, octaves=3)
            self.assertEqual((coarse.min(), coarse.max()), (0.0, 1.0))
            a = numpy.vstack([coarse.ravel(), numpy.ones(coarse.size)]).T
            fit = numpy.linalg.lstsq(a, fine[1::3, 1::3].ravel(), rcond=None)[0]
            self.assertLess(numpy.abs(a @ fit - fine[1::3, 1::3].ravel()).max(), 1e-12)
            # Neighbour differences shrink with the cells: no jumps.
            steps = [numpy.abs(numpy.diff(s, axis=axis)).max()
                     for s in (coarse, fine) for axis in (0, 1)]
            self.assertLess(max(steps[2:]), 0.6 * min(steps[:2]))

    def test_each_octave_puts_its_power_where_its_period_says(self):
        for periods in (4, 8, 16):
            self.assertTrue(0.35 * periods < centroid_frequency(periods) < 0.75 * periods,
                            periods)
        # Octaves add finer noise: the weighted centre moves up with them.
        self.assertGreater(centroid_frequency(4, octaves=3, persistence=0.8),
                           1.25 * centroid_frequency(4))

    def test_replicates_and_covers_are_independent(self):
        first = patchwright.perlin_surface(96, 8, 3, cover=30, replicate=1).ravel()
        for other in (patchwright.perlin_surface(96, 8, 3, cover=30, replicate=2),
                      patchwright.perlin_surface(96, 8, 3, cover=31, replicate=1),
                      patchwright.perlin_surface(96, 8, 4, cover=30, replicate=1)):
            self.assertLess(abs(numpy.corrcoef(first, other.ravel())[0, 1]), 0.15)


def torus(size, hurst, seed):
    return patchwright.surface("torus", size=size, hurst=hurst, seed=seed)


def edge_steps(size, seeds=12):
    """The mean step across the map's edges (last column to first, last row
    to first) over the mean step between neighbours inside it."""
    across, inside = [], []
    for seed in range(seeds):
        s = torus(size, 0.7, seed)
        across += [numpy.abs(s[:, -1] - s[:, 0]).mean(), numpy.abs(s[-1] - s[0]).mean()]
        inside += [numpy.abs(numpy.diff(s, axis=1)).mean(), numpy.abs(numpy.diff(s, axis=0)).mean()]
    return numpy.mean(across) / numpy.mean(inside)


class Torus(unittest.TestCase):
    def test_a_lattice_sized_map_wraps_around_and_a_crop_does_not(self):
        self.assertLess(edge_steps(64), 1.6)
        self.assertGreater(edge_steps(100), 3.0)

    def test_hurst_sets_how_increments_grow_with_the_lag(self):
        # Mean squared increments grow about as lag^(2H); midpoint
        # displacement is not exact fBm, and falls short of 2H as H grows.
        slopes = []
        for hurst in (0.2, 0.5, 0.8):
            growth = [numpy.mean([numpy.mean((numpy.roll(s, -lag, axis=1) - s) ** 2)
                                  for s in (torus(128, hurst, seed) for seed in range(6))])
                      for lag in (1, 8)]
            slopes.append(math.log(growth[1] / growth[0]) / math.log(8))
            self.assertAlmostEqual(slopes[-1], 2 * hurst, delta=0.45)
        self.assertEqual(slopes, sorted(slopes))
        self.assertGreater(slopes[-1] - slopes[0], 0.6)

    def test_refusals_name_the_option(self):
        for arguments, words in ((("--hurst", "1.5"), "--hurst must be between 0 and 1"),
                                 (("--size", "4097x10"), "at most 4096")):
            with tempfile.TemporaryDirectory() as folder:
                result = run_cli("torus", folder, *arguments)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(words, result.stderr)


class Blends(unittest.TestCase):
    def test_a_blend_is_the_weighted_sum_of_the_rescaled_surfaces(self):
        parts = [("planar", {"direction": 30}, 0.7), ("wave", {"periods": 2, "direction": 100},
                                                       -0.3)]
        blended = patchwright.perlin_surface((40, 30), 3, 2, blend=parts)
        expected = rescaled(
            rescaled(patchwright.perlin_surface((40, 30), 3, 2))
            + 0.7 * rescaled(patchwright.planar_surface((40, 30), 30))
            - 0.3 * rescaled(patchwright.wave_surface((40, 30), 2, 100)))
        numpy.testing.assert_allclose(blended, expected, rtol=0, atol=1e-12)
        # A fractal's block has a row and a column more: so do its parts.
        block = patchwright.surface("fractal", size=16, hurst=0.5, first_seed=3, cut="exact",
                                    blend=[("planar", {"direction": 45})])
        numpy.testing.assert_allclose(
            block, rescaled(patchwright.fbm_surface(16, 0.5, 3)
                            + patchwright.planar_surface(17, 45)), rtol=0, atol=1e-12)
        # A part drawn from a seed: the manifest's seed draws it again.
        for record, _ in patchwright.gaussian_batch(size=24, range=3, cover=[35], replicates=2,
                                                    seed=5, blend=[("mosaic", {"elements": 9},
                                                                    2)]):
            self.assertTrue(record["blend"].startswith("mosaic:elements=9:weight=2:seed="))
            seed = int(record["blend"].rsplit("seed=", 1)[1])
            field = patchwright.gaussian_surface(24, "exponential", 3, 5, cover=35,
                                                 replicate=record["replicate"])
            mosaic = patchwright.mosaic_surface(24, 9, seed, cover=35, replicate=1)
            numpy.testing.assert_allclose(
                patchwright.surface("gaussian", size=24, range=3, seed=5, cover=35,
                                    replicate=record["replicate"],
                                    blend=[("mosaic", {"elements": 9}, 2)]),
                rescaled(rescaled(field) + 2 * rescaled(mosaic)), rtol=0, atol=1e-12)

    def test_a_blend_of_weight_zero_leaves_the_maps_as_they_were(self):
        cases = (("fractal", ("--cut", "exact", "--hurst", "0.3:0.5:0.2")),
                 ("gaussian", ("--range", "4")),
                 ("perlin", ("--periods", "3", "--octaves", "2")),
                 ("mosaic", ("--elements", "30")),
                 ("cluster", ("--fill", "nearest")))
        common = ("--size", "40x33", "--cover", "10:90:40", "--replicates", "2", "--seed", "9")
        with tempfile.TemporaryDirectory() as folder:
            for kind, own in cases:
                runs = []
                for name, blend in (("alone", ()), ("zero", ("--blend", "wave:periods=3:weight=0",
                                                             "--blend", "mosaic:weight=0"))):
                    run_folder = os.path.join(folder, kind + name)
                    os.mkdir(run_folder)
                    options = common if kind != "fractal" else common[:6] + ("--first-seed", "9")
                    run = run_cli(kind, run_folder, *options, *own, *blend)
                    self.assertEqual(run.returncode, 0, run.stderr)
                    runs.append(os.path.join(run_folder, "out"))
                names = sorted(n for n in os.listdir(runs[0]) if n.endswith(".txt"))
                self.assertGreater(len(names), 5)
                for name in names:
                    with open(os.path.join(runs[0], name), "rb") as a, \
                            open(os.path.join(runs[1], name), "rb") as b:
                        self.assertEqual(a.read(), b.read(), (kind, name))

    def test_refusals_name_the_value_and_the_reason(self):
        with tempfile.TemporaryDirectory() as folder:
            fifo = os.path.join(folder, "fifo")
            os.mkfifo(fifo)
            empty = os.path.join(folder, "empty.asc")
            with open(empty, "w") as file:
                file.write("ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                           "NODATA_value -1\n-1 -1 -1\n-1 -1 -1\n")
            cases = [
                ("planar", ("--direction", "nan"), "--direction must be"),
                ("edge", ("--direction", "0:inf:1"), "not '0:inf:1'"),
                ("planar", ("--direction", "361"), "direction"),
                ("wave", ("--periods", "0.5"), "--periods must be between 1 and"),
                ("wave", ("--size", "100", "--periods", "150"), "shorter than a cell"),
                ("wave", ("--size", "100", "--periods", "150", "--direction", "45"),
                 "spans 140.01 cells along direction 45.00"),
                ("perlin", ("--octaves", "0"), "--octaves must be between 1 and"),
                ("perlin", ("--periods", "0.9"), "--periods must be between 1 and"),
                ("perlin", ("--size", "100", "--periods", "10", "--octaves", "5"),
                 "0.625 of a cell"),
                ("distance", ("--size", "5", "--sources", "26"), "(26) is more than the 25"),
                ("distance", ("--sources-from", os.path.join(folder, "none.asc")), "none.asc"),
                ("distance", ("--sources-from", fifo), "fifo"),
                ("distance", ("--sources-from", "/dev/zero"), "/dev/zero"),
                ("distance", ("--sources-from", empty), "every cell is NoData"),
                ("perlin", ("--blend", "nothing:weight=1"), 'no family "nothing"'),
                ("perlin", ("--blend", "planar:octaves=2"), 'no option "octaves"'),
                ("perlin", ("--blend", "planar:weight=nan"), '"nan", which is not a finite'),
                ("perlin", ("--blend", "planar:weight=inf"), '"inf", which is not a finite'),
                ("perlin", ("--blend", "planar:blend=wave"), "not nested"),
                ("perlin", ("--blend", "planar:size=30"), "the batch's option"),
                ("perlin", ("--blend", "random"), "no surface to blend"),
                ("perlin", ("--blend", "wave:periods=900"), "--blend wave: periods 900"),
                ("fractal", ("--blend", "planar"), "--cut exact"),
                ("cluster", ("--blend", "planar"), "drawn as classes"),
                ("random", ("--blend", "planar"), "Unknown option"),
            ]
            for kind, options, words in cases:
                run = run_cli(kind, folder, *options)
                self.assertEqual(run.returncode, 2, (kind, options, run.stderr))
                self.assertIn(words, run.stderr, (kind, options))
            self.assertFalse(os.path.exists(os.path.join(folder, "out")))
            self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        for parts in ([("planar", {"direction": 30}, float("nan"))], [("planar",)],
                      [("planar", {"direction": "3:4"}, 1)]):
            with self.assertRaises((ValueError, TypeError)):
                patchwright.perlin_surface(20, 2, blend=parts)


if __name__ == "__main__":
    unittest.main()
