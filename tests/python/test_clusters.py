# SPDX-License-Identifier: GPL-3.0-or-later
"""Random cluster, mosaic and rectangle maps against their definitions,
checked by independent code: scipy's labelling and distance transform, and
plain numpy. Run by CTest with the build's package on PYTHONPATH and the
command line in PW_CLI_PATH; skipped (77) without scipy."""

import os
import sys
import tempfile
import unittest

import numpy

try:
    from scipy import ndimage
except ImportError:
    print("skipped: scipy is not installed (python3-scipy)")
    sys.exit(77)

import patchwright

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_module import manifest_rows, read_text_grid, run_cli  # noqa: E402

STRUCTURES = {
    "4": ndimage.generate_binary_structure(2, 1),
    "8": numpy.ones((3, 3), dtype=bool),
    # The sides, and the upper right and lower left corners.
    "diagonal": numpy.array([[0, 1, 1], [1, 1, 1], [1, 1, 0]], dtype=bool),
}


def kind_prefix(kind):
    return {"cluster": "RCL_", "mosaic": "MOS_", "rectangles": "RRC_"}[kind]


def batch(kind, **keywords):
    return list(getattr(patchwright, kind + "_batch")(**keywords))


def neighbours(shape, r, c):
    for dr in (-1, 0, 1):
        for dc in (-1, 0, 1):
            if (dr or dc) and 0 <= r + dr < shape[0] and 0 <= c + dc < shape[1]:
                yield r + dr, c + dc


class Clusters(unittest.TestCase):
    def test_clusters_are_the_labelling_of_the_marked_cells(self):
        # The majority surface holds each marked cell's cluster value and -1
        # elsewhere: the clusters scipy finds with the same neighbourhood
        # each hold one value, and no two of them the same.
        for word, structure in STRUCTURES.items():
            for seed in range(4):
                surface = patchwright.cluster_surface((23, 31), 0.55, seed, neighbourhood=word,
                                                      cover=40)
                marked = surface >= 0
                labels, count = ndimage.label(marked, structure=structure)
                values = [numpy.unique(surface[labels == k]) for k in range(1, count + 1)]
                self.assertTrue(all(len(v) == 1 for v in values), (word, seed))
                self.assertEqual(len({float(v[0]) for v in values}), count, (word, seed))

    def test_unmarked_cells_take_the_majority_of_their_marked_neighbours(self):
        for word in STRUCTURES:
            for seed in range(3):
                keywords = dict(size=(19, 26), p=0.45, neighbourhood=word, seed=seed,
                                proportions=[30, 30, 40], class_values=[1, 2, 3])
                (record, classes), = batch("cluster", **keywords)
                surface = patchwright.cluster_surface((19, 26), 0.45, seed, neighbourhood=word,
                                                      proportions=[30, 30, 40],
                                                      cover=record["requested_cover"])
                marked = surface >= 0
                self.assertEqual(int(marked.sum()), record["marked_cells"])
                lone = 0
                for r, c in zip(*numpy.nonzero(~marked)):
                    counts = {}
                    for n in neighbours(classes.shape, r, c):
                        if marked[n]:
                            counts[classes[n]] = counts.get(classes[n], 0) + 1
                    if not counts:
                        lone += 1
                        continue
                    most = max(counts.values())
                    self.assertIn(classes[r, c], [k for k, n in counts.items() if n == most],
                                  (word, seed, r, c))
                self.assertGreater(lone, 0)

    def test_nearest_fill_takes_a_nearest_marked_cells_value(self):
        for seed in range(3):
            keywords = dict(neighbourhood="8", cover=35)
            clusters = patchwright.cluster_surface((17, 24), 0.2, seed, **keywords)
            filled = patchwright.cluster_surface((17, 24), 0.2, seed, fill="nearest", **keywords)
            marked = clusters >= 0
            numpy.testing.assert_array_equal(filled[marked], clusters[marked])
            sources = numpy.argwhere(marked)
            for cell in numpy.argwhere(~marked):
                d = ((sources - cell) ** 2).sum(axis=1)
                nearest = sources[d == d.min()]
                self.assertIn(filled[tuple(cell)], clusters[tuple(nearest.T)])
            distance = ndimage.distance_transform_edt(~marked)
            self.assertGreater(distance.max(), 1)

    def test_marked_share_is_p_and_exact_marks_are_exact(self):
        p, cells, replicates = 0.37, 40 * 40, 200
        records = [r for r, _ in batch("cluster", p=p, size=40, cover=50,
                                       replicates=replicates)]
        share = numpy.array([r["marked_cells"] for r in records]) / cells
        error = numpy.sqrt(p * (1 - p) / (cells * replicates))
        self.assertLess(abs(share.mean() - p), 4 * error)
        exact = batch("cluster", p=p, size=(33, 45), cover=50, replicates=3, cut="exact")
        self.assertEqual({r["marked_cells"] for r, _ in exact}, {round(p * 33 * 45)})

    def test_class_shares_are_exact_with_nearest_fill_and_close_with_majority(self):
        shares = [25, 35, 40]
        for fill in ("nearest", "majority"):
            maps = batch("cluster", p=0.5, size=60, proportions=shares, fill=fill,
                         replicates=40)
            realised = numpy.array([[numpy.mean(m == k) * 100 for k in (1, 2, 3)]
                                    for _, m in maps])
            if fill == "nearest":
                numpy.testing.assert_array_equal(realised, [shares] * len(maps))
            else:
                # The README's figure for majority fill at p = 0.5.
                self.assertLess(numpy.abs(realised.mean(axis=0) - shares).max(), 3.0)


class Mosaics(unittest.TestCase):
    def test_every_seed_holds_a_region_and_the_cut_is_exact(self):
        for elements in (1, 7, 60):
            (record, cells), = batch("mosaic", size=(21, 34), elements=elements, cover=30,
                                     seed=elements)
            surface = patchwright.mosaic_surface((21, 34), elements, elements, cover=30)
            self.assertEqual(len(numpy.unique(surface)), record["seed_cells"])
            self.assertLessEqual(record["seed_cells"], elements)
            self.assertEqual(int(cells.sum()), round(0.3 * 21 * 34))
        # As many elements as cells: drawn with replacement, a cell drawn
        # again keeps its first seed.
        (record, _), = batch("mosaic", size=6, elements=36, cover=50)
        self.assertLess(record["seed_cells"], 36)


class Rectangles(unittest.TestCase):
    def test_the_rectangles_cover_the_map(self):
        for low, high in ((1, 3), (4, 9), (2, 40)):
            (record, _), = batch("rectangles", size=(25, 37), min_side=low, max_side=high,
                                 cover=50, seed=high)
            surface = patchwright.rectangles_surface((25, 37), low, high, high, cover=50)
            self.assertTrue(((surface >= 0) & (surface < 1)).all())
            values = numpy.unique(surface)
            self.assertLessEqual(len(values), record["rectangles"])
            # What shows of a rectangle lies within its sides.
            for v in values[:200]:
                rows, columns = numpy.nonzero(surface == v)
                self.assertLessEqual(rows.max() - rows.min() + 1, high)
                self.assertLessEqual(columns.max() - columns.min() + 1, high)


class Replicates(unittest.TestCase):
    def test_replicates_are_independent(self):
        # How often a cell flips between consecutive replicates at cover 50:
        # for independent maps a binomial count over 99 pairs, of variance
        # 99 / 4 across the cells.
        for kind, keywords in (("cluster", dict(p=0.4, fill="nearest")),
                               ("mosaic", dict(elements=600)),
                               ("rectangles", dict(min_side=1, max_side=4))):
            maps = numpy.array([m for _, m in batch(kind, size=96, cover=50, replicates=100,
                                                    seed=3, **keywords)])
            flips = (maps[1:] != maps[:-1]).sum(axis=0)
            expected = 99 / 4
            self.assertLess(abs(flips.var() - expected), 0.3 * expected, kind)
            self.assertLess(abs(flips.mean() - 2 * expected), 1.0, kind)


class CommandLine(unittest.TestCase):
    def test_shares_and_arrays_are_the_whole_batchs_files(self):
        options = ("--size", "30x20", "--cover", "20:60:20", "--replicates", "3", "--format",
                   "asc", "--write-surfaces")
        for kind, own in (("cluster", dict(p=0.3, fill="nearest")),
                          ("mosaic", dict(elements=9)),
                          ("rectangles", dict(min_side=2, max_side=7))):
            words = [w for key, value in own.items()
                     for w in ("--" + key.replace("_", "-"), str(value))]
            with tempfile.TemporaryDirectory() as folder:
                whole = os.path.join(folder, "whole")
                os.mkdir(whole)
                self.assertEqual(run_cli(kind, whole, *options, *words).returncode, 0)
                rows = manifest_rows(whole, kind_prefix(kind))
                shared = {}
                for k in (1, 2, 3):
                    part = os.path.join(folder, str(k))
                    os.mkdir(part)
                    run = run_cli(kind, part, *options, *words, "--shard", f"{k}/3")
                    self.assertEqual(run.returncode, 0, run.stderr)
                    for name in os.listdir(os.path.join(part, "out")):
                        if name.endswith(".asc"):
                            shared[name] = os.path.join(part, "out", name)
                self.assertEqual(len(shared), 2 * len(rows))
                for row in rows:
                    for name in (row["file"], row["surface_file"]):
                        with open(os.path.join(whole, "out", name), "rb") as a, \
                                open(shared[name], "rb") as b:
                            self.assertEqual(a.read(), b.read(), name)
                maps = batch(kind, size=(30, 20), cover=range(20, 61, 20), replicates=3, **own)
                for (record, cells), row in zip(maps, rows):
                    self.assertEqual(record["file"].replace(".txt", ".asc"), row["file"])
                    numpy.testing.assert_array_equal(
                        cells, read_text_grid(os.path.join(whole, "out", row["file"])))

    def test_refusals_name_the_value_and_the_reason(self):
        cases = [
            ("cluster", ("--p", "0.5,1.5"), "--p 1.5 is not a probability"),
            ("cluster", ("--p", "nan"), "--p must be"),
            ("cluster", ("--neighbourhood", "6"), "not '6'"),
            ("mosaic", ("--elements", "0"), "--elements must be between 1 and"),
            ("mosaic", ("--size", "5", "--elements", "26"), "(26) is more than the 25 cells"),
            ("rectangles", ("--min-side", "0"), "--min-side must be between 1 and 8192, not 0"),
            ("rectangles", ("--min-side", "9", "--max-side", "4"), "--min-side (9)"),
            ("rectangles", ("--size", "8192", "--min-side", "1", "--max-side", "1"),
             "16777216"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for kind, options, words in cases:
                run = run_cli(kind, folder, *options)
                self.assertEqual(run.returncode, 2, (kind, options))
                self.assertIn(words, run.stderr, (kind, options))
            self.assertFalse(os.path.exists(os.path.join(folder, "out")))
        with self.assertRaisesRegex(ValueError, "elements"):
            patchwright.mosaic_surface(4, 17, 1)


if __name__ == "__main__":
    unittest.main()
