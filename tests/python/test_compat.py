# SPDX-License-Identifier: GPL-3.0-or-later
"""The drop-in functions of patchwright.compat: their documented defaults,
masks and seeds, hostile arguments, and the exact results their definitions
give, checked with numpy alone."""

import os
import sys
import tempfile
import unittest

import numpy

import patchwright
import patchwright.compat as nlmpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# Each function with its required arguments for a 30 x 40 map.
CALLS = {
    "random": (),
    "mpd": (0.75,),
    "randomRectangularCluster": (3, 8),
    "randomElementNN": (25,),
    "randomClusterNN": (0.45,),
    "planarGradient": (),
    "edgeGradient": (),
    "waveSurface": (3,),
    "perlinNoise": (4,),
}


class Surfaces(unittest.TestCase):
    def test_defaults_masks_and_seeds(self):
        mask = numpy.zeros((30, 40))
        mask[5:25, 8:30] = 1
        for name, arguments in CALLS.items():
            function = getattr(nlmpy, name)
            numpy.random.seed(7)
            first = function(30, 40, *arguments)
            numpy.random.seed(7)
            again = function(30, 40, *arguments)
            self.assertEqual(first.shape, (30, 40), name)
            self.assertEqual((first.min(), first.max()), (0.0, 1.0), name)
            numpy.testing.assert_array_equal(first, again)
            # The record draws it again through the engine's own surface.
            record = first.patchwright
            key = "first_seed" if record["family"] == "fractal" else "seed"
            remade = patchwright.surface(record["family"], **{key: record["seed"]},
                                         **record["options"])[:30, :40]
            numpy.testing.assert_allclose(first, nlmpy.linearRescale01(remade), atol=1e-15)
            masked = function(30, 40, *arguments, mask=mask)
            self.assertTrue(numpy.isnan(masked[mask == 0]).all(), name)
            self.assertEqual((numpy.nanmin(masked), numpy.nanmax(masked)), (0.0, 1.0), name)

    def test_hostile_arguments_name_themselves(self):
        for name, arguments in CALLS.items():
            function = getattr(nlmpy, name)
            for rows, error in (("30", TypeError), (1, ValueError), (0, ValueError),
                                (-4, ValueError), (2.5, TypeError), (True, TypeError)):
                with self.assertRaisesRegex(error, "nRow", msg=(name, rows)):
                    function(rows, 40, *arguments)
            with self.assertRaises(ValueError, msg=name):
                function(30, 40, *arguments, mask=numpy.ones((3, 3)))
        for call in (lambda: nlmpy.mpd(30, 40, float("nan")),
                     lambda: nlmpy.randomClusterNN(30, 40, 0.4, n="6-neighbourhood"),
                     lambda: nlmpy.perlinNoise(30, 40, (2, 3)),
                     lambda: nlmpy.perlinNoise(30, 40, 2, valley="v"),
                     lambda: nlmpy.waveSurface(30, 40, 0.5),
                     lambda: nlmpy.classifyArray(numpy.ones((4, 4)), [-1, 2]),
                     lambda: nlmpy.blendArray(numpy.ones(3), [numpy.ones(3)], [1, 2]),
                     lambda: nlmpy.distanceGradient(numpy.zeros((4, 4)))):
            with self.assertRaises((TypeError, ValueError)):
                call()


class PublishedExamples(unittest.TestCase):
    def test_the_readme_examples_run_with_the_import_line_changed(self):
        # As the package's README gives them, `from nlmpy import nlmpy` aside.
        here = os.getcwd()
        with tempfile.TemporaryDirectory() as folder:
            os.chdir(folder)
            try:
                nlm = nlmpy.mpd(nRow=50, nCol=50, h=0.75)
                nlmpy.exportASCIIGrid("raster.asc", nlm)
                with open("raster.asc") as file:
                    header = [next(file) for _ in range(6)]
                back = numpy.loadtxt("raster.asc", skiprows=6)
            finally:
                os.chdir(here)
        numpy.testing.assert_array_equal(back, nlm)
        self.assertIn("NCOLS 50\n", header)


class Arrays(unittest.TestCase):
    def test_classes_are_exact_and_blends_are_sums(self):
        surface = nlmpy.mpd(60, 50, 0.5, seed=3)
        for weights in ([1, 1], [0.5, 0.3, 0.2], [2, 0, 7, 1]):
            classes = nlmpy.classifyArray(surface, weights)
            counts = numpy.bincount(classes.astype(int).ravel(), minlength=len(weights))
            shares = numpy.asarray(weights) / numpy.sum(weights) * surface.size
            self.assertTrue((abs(counts - shares) <= 1).all(), (weights, counts))
            # Classes take the values in order, the lowest class 0.
            taken = [surface[classes == k] for k in range(len(weights)) if counts[k]]
            for low, high in zip(taken, taken[1:]):
                self.assertLessEqual(low.max(), high.min())
        other = nlmpy.planarGradient(60, 50, 45)
        numpy.testing.assert_allclose(
            nlmpy.blendArray(surface, [other], [0.5]),
            nlmpy.linearRescale01(surface + 0.5 * other), atol=1e-15)

    def test_distances_and_elements(self):
        source = numpy.zeros((9, 13))
        source[2, 3] = source[7, 11] = 1
        yy, xx = numpy.mgrid[0:9, 0:13]
        brute = numpy.minimum(numpy.hypot(yy - 2, xx - 3), numpy.hypot(yy - 7, xx - 11))
        numpy.testing.assert_array_equal(nlmpy.distanceGradient(source), brute / brute.max())
        numbered = nlmpy.randomElementNN(20, 30, 12, categorical=True, seed=4)
        self.assertEqual(set(numpy.unique(numbered)), set(range(int(numbered.max()) + 1)))


if __name__ == "__main__":
    unittest.main()
