# SPDX-License-Identifier: GPL-3.0-or-later
"""The patchwright package against the command line: for the same request,
every array must equal the map file patchwright-cli writes and every record
its manifest row. Run by CTest with the build's package on PYTHONPATH and the
command line in PW_CLI_PATH."""

import ast
import csv
import ctypes
import functools
import inspect
import operator
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import unittest.mock

import numpy

import patchwright

CLI = os.environ["PW_CLI_PATH"]
DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs")


def run_cli(kind, folder, *options):
    """Runs one batch of the command line into folder/out, in a working
    directory of its own so that no config.txt changes its defaults."""
    return subprocess.run(
        [CLI, kind, "--out", os.path.join(folder, "out"), "--quiet", *options],
        cwd=folder,
        capture_output=True,
        text=True,
        timeout=60,
    )


def manifest_rows(folder, prefix):
    with open(os.path.join(folder, "out", prefix + "manifest.csv"), newline="") as file:
        return list(csv.DictReader(file))


def read_text_grid(path):
    """An ESRI grid or plain map read by numpy alone, as an independent
    reader: its header lines start with a letter."""
    with open(path) as file:
        header = sum(1 for line in file if line[:1].isalpha())
    return numpy.loadtxt(path, skiprows=header, ndmin=2)


def thread_count():
    return len(os.listdir("/proc/self/task"))


class SameAsTheCommandLine(unittest.TestCase):
    def assertBatchMatches(self, kind, batch, options, prefix):
        """The maps and records of `batch` against the files and manifest
        the command line writes for `options`."""
        with tempfile.TemporaryDirectory() as folder:
            result = run_cli(kind, folder, *options)
            self.assertEqual(result.returncode, 0, result.stderr)
            rows = manifest_rows(folder, prefix)
            maps = list(batch)
            self.assertEqual(len(maps), len(rows))
            self.assertGreater(len(maps), 0)
            for (record, cells), row in zip(maps, rows):
                self.assertEqual(list(record), list(row))
                for name, text in row.items():
                    value = record[name]
                    if text == "":
                        self.assertIsNone(value, name)
                    elif isinstance(value, str):
                        self.assertEqual(value, text, name)
                    else:
                        self.assertEqual(value, type(value)(text), name)
                self.assertEqual(cells.dtype, numpy.int32)
                expected = read_text_grid(os.path.join(folder, "out", row["file"]))
                numpy.testing.assert_array_equal(cells, expected, err_msg=row["file"])

    def test_random_batches(self):
        self.assertBatchMatches(
            "random",
            patchwright.random_batch(cover=range(10, 91, 40), size=7, replicates=2),
            ["--cover", "10:90:40", "--size", "7", "--replicates", "2"],
            "RND_",
        )
        # NumPy's arrays and scalars are the lists and numbers they hold.
        self.assertBatchMatches(
            "random",
            patchwright.random_batch(cover=numpy.arange(10, 91, 40), size=numpy.int64(7),
                                     replicates=numpy.array(2)),
            ["--cover", "10:90:40", "--size", "7", "--replicates", "2"],
            "RND_",
        )
        with self.assertRaisesRegex(patchwright.ArgumentTypeError, "2 dimensions"):
            patchwright.random_batch(cover=numpy.ones((2, 2)))
        self.assertBatchMatches(
            "random",
            patchwright.random_batch(
                cover=[35], size=130, seed=-12, generator="philox", cover_value=7,
                matrix_value=-3, prefix="p_", metrics=True, neighbours=4, cell_size=2.5,
            ),
            ["--cover", "35:35:1", "--size", "130", "--seed", "-12", "--generator", "philox",
             "--cover-value", "7", "--matrix-value", "-3", "--prefix", "p_", "--metrics",
             "--neighbours", "4", "--cell-size", "2.5"],
            "p_",
        )

    def test_gaussian_batches(self):
        self.assertBatchMatches(
            "gaussian",
            patchwright.gaussian_batch(model="matern", nu=1.5, range=[3, 6], cover=range(20, 61, 40),
                                       size=24, replicates=2, seed=9, metrics=True),
            ["--model", "matern", "--nu", "1.5", "--range", "3:6:3", "--cover", "20:60:40",
             "--size", "24", "--replicates", "2", "--seed", "9", "--metrics"],
            "GRF_",
        )
        self.assertBatchMatches(
            "gaussian",
            patchwright.gaussian_batch(model="fbm", hurst=0.7, cover=range(20, 81, 5), size=30,
                                       replicates=2, cut="ladder"),
            ["--model", "fbm", "--hurst", "0.7", "--cover", "20:80:5", "--size", "30",
             "--replicates", "2", "--cut", "ladder"],
            "GRF_",
        )

    def test_targets_as_keywords(self):
        """target= and max_draws= keep the maps the command line keeps, each
        with the draw that made it and, once the batch has ended, how its
        cell fared, as the command line's manifest says."""
        batch = patchwright.fractal_batch(
            hurst=0.3, cover=30, size=48, replicates=2, generator="philox", cut="exact",
            distinct_surfaces=True, max_draws=60,
            target={"np": (10, 25), "lpi": (None, 90), "landscape:np": (12, None)},
        )
        with tempfile.TemporaryDirectory() as folder:
            result = run_cli("fractal", folder, "--hurst", "0.3", "--cover", "30", "--size", "48",
                             "--replicates", "2", "--generator", "philox", "--cut", "exact",
                             "--distinct-surfaces", "--target", "np=10:25", "--target",
                             "lpi=:90", "--target", "landscape:np=12:", "--max-draws", "60")
            self.assertEqual(result.returncode, 0, result.stderr)
            rows = manifest_rows(folder, "FBM_")
            maps = list(batch)
            self.assertEqual([r["draw"] for r, _ in maps], [int(row["draw"]) for row in rows])
            self.assertEqual([(r["cell_draws"], r["cell_acceptance"]) for r, _ in maps],
                             [(int(row["cell_draws"]), float(row["cell_acceptance"]))
                              for row in rows])
            for (record, cells), row in zip(maps, rows):
                expected = read_text_grid(os.path.join(folder, "out", row["file"]))
                numpy.testing.assert_array_equal(cells, expected, err_msg=row["file"])
        # The core's words, with options as a Python caller writes them.
        with self.assertRaisesRegex(ValueError, r"^target needs independent draws: add .*"
                                    r"cut='exact' distinct_surfaces=True$"):
            patchwright.fractal_batch(generator="philox", target={"np": (1, 2)})
        # What the command line warns of on stderr, a batch in memory warns of
        # when its maps are all read.
        with self.assertWarnsRegex(patchwright.ShortfallWarning,
                                   r"^cover 50 fell short: 0 of 2 maps met the targets in 5 "
                                   r"draws \(max_draws=5\)$"):
            self.assertEqual(list(patchwright.random_batch(
                size=10, cover=50, replicates=2, generator="philox",
                target={"np": (1000, None)}, max_draws=5)), [])
        with self.assertWarnsRegex(patchwright.ShortfallWarning, "cover 100 fell short"):
            self.assertEqual(len(list(patchwright.fractal_batch(size=8, hurst=0.5,
                                                                cover=[50, 100]))), 1)
        with self.assertRaisesRegex(ValueError, "names no metric 'patches'"):
            patchwright.random_batch(generator="philox", target={"patches": (1, 2)})

    def test_fractal_batches(self):
        self.assertBatchMatches(
            "fractal",
            patchwright.fractal_batch(hurst=[0.3, 0.5, 0.7], cover=range(20, 81, 30), size=33,
                                      replicates=2),
            ["--hurst", "0.3:0.7:0.2", "--cover", "20:80:30", "--size", "33", "--replicates", "2"],
            "FBM_",
        )
        self.assertBatchMatches(
            "fractal",
            patchwright.fractal_batch(
                hurst=0.8, cover=[25, 50], size=100, replicates=3, generator="philox", cut="exact",
                distinct_surfaces=True, surfaces=40, first_seed=7, cover_value=2,
                matrix_value=9, metrics=True,
            ),
            ["--hurst", "0.8:0.8:0.1", "--cover", "25:50:25", "--size", "100", "--replicates",
             "3", "--generator", "philox", "--cut", "exact", "--distinct-surfaces", "--surfaces",
             "40", "--first-seed", "7", "--cover-value", "2", "--matrix-value", "9", "--metrics"],
            "FBM_",
        )

    def test_shares(self):
        """shard=(k, n) yields what --shard k/n writes; the shares of a
        random or Gaussian batch, one after the other, are the whole batch."""
        self.assertBatchMatches(
            "fractal",
            patchwright.fractal_batch(hurst=[0.3, 0.5], cover=[20, 50], size=33, replicates=2,
                                      shard=(2, 3)),
            ["--hurst", "0.3:0.5:0.2", "--cover", "20:50:30", "--size", "33", "--replicates",
             "2", "--shard", "2/3"],
            "FBM_",
        )
        for batch, keywords in ((patchwright.random_batch,
                                 dict(cover=range(10, 91, 20), size=40, replicates=3, seed=4)),
                                (patchwright.gaussian_batch,
                                 dict(cover=[30, 60], size=24, replicates=2, range=[4, 8]))):
            whole = list(batch(**keywords))
            shares = [m for k in range(1, 5) for m in batch(**keywords, shard=(k, 4))]
            self.assertEqual([r for r, _ in shares], [r for r, _ in whole])
            for (_, share), (_, cells) in zip(shares, whole):
                numpy.testing.assert_array_equal(share, cells)
        with self.assertRaisesRegex(ValueError, "share 5 of 4"):
            patchwright.random_batch(shard=(5, 4))
        with self.assertRaises(patchwright.ArgumentTypeError):
            patchwright.random_batch(shard="1/2")

    def test_refusals_carry_the_command_lines_words(self):
        cases = [
            ("random", dict(size=1), ["--size", "1"]),
            ("random", dict(cover=range(60, 41, 1)), ["--cover", "60:40:1"]),
            ("random", dict(seed=10**6), ["--seed", "1000000"]),
            ("random", dict(cover_value=4, matrix_value=4),
             ["--cover-value", "4", "--matrix-value", "4"]),
            ("random", dict(prefix="../x"), ["--prefix", "../x"]),
            ("random", dict(neighbours=6), ["--neighbours", "6"]),
            ("fractal", dict(size=5000), ["--size", "5000"]),
            ("fractal", dict(hurst=0.125), ["--hurst", "0.125:0.125:0.1"]),
            ("fractal", dict(surfaces=0), ["--surfaces", "0"]),
            ("fractal", dict(cell_size=-1), ["--cell-size", "-1"]),
            ("random", dict(cell_size=1e308), ["--cell-size", "1e308"]),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for kind, keywords, options in cases:
                with self.subTest(options=options):
                    result = run_cli(kind, folder, *options)
                    self.assertEqual(result.returncode, 2)
                    message = result.stderr.splitlines()[0].split(": ", 1)[1]
                    make = getattr(patchwright, kind + "_batch")
                    with self.assertRaises(ValueError) as refused:
                        make(**keywords)
                    self.assertEqual(str(refused.exception), message)
        with self.assertRaises(ValueError):
            patchwright.fbm_surface(4097, 0.5, 0)
        with self.assertRaises(ValueError):
            patchwright.random_batch(cover=[40, 20])
        # A table of metrics is a file; a batch in memory has none to write.
        with self.assertRaisesRegex(ValueError, "patchwright.metrics"):
            patchwright.random_batch(metrics=["np", "contag"])
        with self.assertRaises(ValueError):
            patchwright.fractal_batch(hurst=float("inf"))
        names = [record["file"] for record, _ in patchwright.random_batch(cover=[10, 25], size=4)]
        self.assertEqual(names, ["RND_010_4x4_a1.txt", "RND_025_4x4_a1.txt"])
        # A wrong type is a bad value too: one except clause catches both.
        wrong_types = [
            lambda: patchwright.random_batch(size="100"),
            lambda: patchwright.random_batch(target={"np": 5}),
            lambda: patchwright.metrics("x"),
            lambda: patchwright.metrics(numpy.ones((2, 2)), habitat="x"),
        ]
        for call in wrong_types:
            with self.assertRaises(patchwright.ArgumentTypeError) as refused:
                call()
            self.assertIsInstance(refused.exception, TypeError)
            self.assertIsInstance(refused.exception, ValueError)
        # Exponents are numbers on the command line as in Python.
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(run_cli("random", folder, "--cell-size", "1e3", "--size", "4",
                                     "--cover", "10", "--format", "asc").returncode, 0)
            with open(os.path.join(folder, "out", "RND_010_4x4_a1.asc")) as grid:
                self.assertEqual(grid.read().splitlines()[4].split()[1], "1000")


class OneDescription(unittest.TestCase):
    def test_signatures_and_stubs_are_the_descriptions(self):
        """The keywords of the batch functions, their stubs and the command
        line's options all come from one description; none may drift."""
        with open(os.path.join(os.path.dirname(patchwright.__file__), "__init__.pyi")) as file:
            stub = ast.parse(file.read())
        stubbed = {f.name: [a.arg for a in f.args.kwonlyargs]
                   for f in stub.body if isinstance(f, ast.FunctionDef)}
        for kind in ("random", "fractal", "gaussian"):
            function = getattr(patchwright, kind + "_batch")
            described = [o["key"] for o in patchwright._patchwright.options(kind)]
            self.assertEqual(list(inspect.signature(function).parameters), described)
            self.assertEqual(sorted(stubbed[kind + "_batch"]), sorted(described))
            helped = subprocess.run([CLI, kind, "--help"], capture_output=True, text=True).stdout
            for key in described:
                self.assertIn("--" + key.replace("_", "-"), helped)
            # Every default is accepted back as the value it stands for.
            defaults = {k: p.default for k, p in inspect.signature(function).parameters.items()}
            # The default correlation ranges need a field of some size to
            # be drawn exactly.
            size = 100 if kind == "gaussian" else 8
            with function(**{**defaults, "cover": 50, "size": size}) as batch:
                self.assertEqual(next(batch)[0]["size"], size)


class Surfaces(unittest.TestCase):
    def test_gaussian_maps_are_cuts_of_their_field(self):
        # An exact cut is the cells above the threshold plus the first
        # tied_habitat equal to it; each map has its own field, named by its
        # range (or H), seed, cover and replicate. A sweep's value is the
        # decimal it names, however it is given (NumPy's arange reaches 1.2
        # as 1.2000000000000002), so its field is the field of that value
        # asked alone.
        fields = set()
        for model, sweep in (("exponential", {"range": [4, 8]}), ("fbm", {"hurst": 0.35}),
                             ("exponential", {"range": numpy.arange(1.1, 1.95, 0.1)})):
            for record, cells in patchwright.gaussian_batch(
                    model=model, cover=[25, 50], size=20, replicates=2, seed=3, **sweep):
                axis = record["H"] if model == "fbm" else record["range"]
                field = patchwright.gaussian_surface(
                    20, model, axis, record["seed"], cover=record["requested_cover"],
                    replicate=record["replicate"])
                self.assertEqual(field.shape, (20, 20))
                habitat = field > record["threshold"]
                ties = numpy.flatnonzero(field == record["threshold"])
                habitat.flat[ties[:record["tied_habitat"]]] = True
                numpy.testing.assert_array_equal(cells == 1, habitat)
                self.assertEqual(int(habitat.sum()), round(record["requested_cover"] * 4 + 1e-9))
                fields.add(field.tobytes())
        self.assertEqual(len(fields), 12 + 9 * 4)
        # fbm is pinned to 0 at its first cell.
        self.assertEqual(patchwright.gaussian_surface(16, "fbm", 0.5, 1)[0, 0], 0.0)

    def test_a_batch_of_a_hundred_million_fields_starts_in_bounded_memory(self):
        # The fields a batch will draw are known from their places alone:
        # nothing is kept for those not drawn yet.
        script = """if True:
            import resource
            import patchwright
            limit = 2 << 30
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
            batch = patchwright.gaussian_batch(size=4, replicates=999999, cover=range(0, 100),
                                               range=[5])
            record, cells = next(iter(batch))
            batch.close()
            print(record["file"])
            """
        result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                                timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "GRF_exponential_r5.00_000_00001.txt")

    def test_gaussian_refusals_name_their_reason(self):
        with self.assertRaisesRegex(ValueError, "negative eigenvalues"):
            patchwright.gaussian_batch(model="gaussian", range=300, size=40, cover=30)
        with self.assertRaisesRegex(ValueError, "range"):
            patchwright.gaussian_surface(16, "exponential", [2, 4], 1)
        with self.assertRaises(patchwright.ArgumentTypeError):
            patchwright.gaussian_surface(16, "exponential", 2, 1, replicate=1.5)
        with self.assertRaisesRegex(ValueError, "replicate must be between 1 and"):
            patchwright.gaussian_surface(16, "exponential", 2, 1, replicate=10**30)
        with self.assertRaisesRegex(ValueError, "model"):
            patchwright.gaussian_surface(16, "spherical", 2, 1)


    def test_maps_are_cuts_of_their_surface(self):
        # Ladder cuts take the cells above the threshold, so the surface of
        # each record's seed must give back its map exactly; the surface
        # files of the command line, rounded to seven digits, bound the rest
        # of the block.
        with tempfile.TemporaryDirectory() as folder:
            for generator in ("classic", "philox"):
                options = ["--hurst", "0.4:0.4:0.1", "--cover", "30:70:40", "--size", "65",
                           "--generator", generator, "--write-surfaces", "--overwrite"]
                self.assertEqual(run_cli("fractal", folder, *options).returncode, 0)
                rows = manifest_rows(folder, "FBM_")
                for record, cells in patchwright.fractal_batch(
                        hurst=0.4, cover=[30, 70], size=65, generator=generator):
                    surface = patchwright.fbm_surface(65, 0.4, record["seed"], generator=generator)
                    self.assertEqual(surface.shape, (66, 66))
                    self.assertEqual((surface.min(), surface.max()), (0.0, 1.0))
                    cut = numpy.where(surface[:65, :65] > record["threshold"], 1, 0)
                    numpy.testing.assert_array_equal(cells, cut)
                    row = next(r for r in rows if r["file"] == record["file"])
                    written = read_text_grid(os.path.join(folder, "out", row["surface_file"]))
                    numpy.testing.assert_allclose(surface, written, rtol=0, atol=2e-6)

    def test_exact_cuts_are_made_again_from_their_record(self):
        # Above the threshold, plus the first tied_habitat cells equal to it:
        # small surfaces repeat values, so both kinds of record occur here.
        tied = 0
        for record, cells in patchwright.fractal_batch(
                hurst=[0.3, 0.7], cover=range(10, 91, 20), size=33, cut="exact",
                generator="philox", cover_value=3):
            surface = patchwright.fbm_surface(33, record["H"], record["seed"],
                                              generator="philox")[:33, :33]
            habitat = surface > record["threshold"]
            ties = numpy.flatnonzero(surface == record["threshold"])
            habitat.flat[ties[:record["tied_habitat"]]] = True
            numpy.testing.assert_array_equal(cells == 3, habitat)
            tied += record["tied_habitat"] > 0
        self.assertGreater(tied, 0)

    def test_arrays_own_their_memory(self):
        surface = patchwright.fbm_surface(16, 0.5, 3)
        _, cells = next(iter(patchwright.random_batch(cover=[50], size=8)))
        for array in (surface, cells):
            self.assertEqual(type(array.base).__name__, "PyCapsule")
            self.assertTrue(array.flags.c_contiguous and array.flags.writeable)
        cells[0, 0] = 42
        self.assertEqual(cells[0, 0], 42)


class Reading(unittest.TestCase):
    def test_every_format_reads_as_the_batch_made_it(self):
        with tempfile.TemporaryDirectory() as folder:
            for fmt in ("plain", "asc", "tif"):
                result = run_cli("random", folder, "--cover", "40:40:1", "--size", "23",
                                 "--format", fmt, "--cover-value", "5", "--matrix-value", "-8",
                                 "--overwrite")
                self.assertEqual(result.returncode, 0, result.stderr)
            ((record, cells),) = patchwright.random_batch(cover=[40], size=23, cover_value=5,
                                                          matrix_value=-8)
            stem = os.path.join(folder, "out", os.path.splitext(record["file"])[0])
            for extension in (".txt", ".asc", ".tif"):
                with self.subTest(extension=extension):
                    read = patchwright.read_map(stem + extension)
                    self.assertEqual(read.dtype, numpy.int32)
                    numpy.testing.assert_array_equal(read, cells)

    def test_unreadable_files(self):
        with tempfile.TemporaryDirectory() as folder:
            ragged = os.path.join(folder, "ragged.txt")
            with open(ragged, "w") as file:
                file.write("1 0 1\n0 1\n")
            with self.assertRaisesRegex(ValueError, "ragged"):
                patchwright.read_map(ragged)
            with self.assertRaises(FileNotFoundError):
                patchwright.read_map(os.path.join(folder, "missing.txt"))


class Metrics(unittest.TestCase):
    def test_metrics_agree_with_the_manifest(self):
        for neighbours in (4, 8):
            batch = patchwright.fractal_batch(hurst=[0.2, 0.9], cover=[0, 30, 60], size=40,
                                              cover_value=3, matrix_value=1, metrics=True,
                                              neighbours=neighbours, cell_size=10)
            for record, cells in batch:
                with self.subTest(file=record["file"], neighbours=neighbours):
                    measured = patchwright.metrics(cells, cell_size=10, neighbours=neighbours,
                                                   habitat=3)
                    self.assertEqual(measured, {name: record[name] for name in measured})
        self.assertEqual(len(measured), 7)
        self.assertIsNone(patchwright.metrics(numpy.zeros((3, 3), int))["area_mn"])
        with self.assertRaises(ValueError):
            patchwright.metrics(numpy.ones((3, 3)), neighbours=6)
        # The long table (test_metrics.py checks its values): without pandas,
        # the same columns as NumPy arrays.
        small = numpy.array([[1, 3, 3], [1, 1, 3], [7, 7, 1]])
        frame = patchwright.metrics(small, metric=["np", "contag"], nodata=7)
        with unittest.mock.patch.dict(sys.modules, {"pandas": None}):
            arrays = patchwright.metrics(small, metric="np, contag", nodata=7)
        self.assertEqual(list(frame.columns), list(arrays))
        for column in arrays:
            numpy.testing.assert_array_equal(frame[column].to_numpy(), arrays[column])
        self.assertEqual(list(frame["metric"]), ["np", "np", "contag", "np"])
        refused = [
            (numpy.array([[1.0, 2.5], [numpy.nan, 1.0]]), {}, "2.5, which is not a whole number"),
            (cells, {"metric": ["np", "nope"]}, "unknown metric 'nope'.* contag"),
            (cells, {"metric": "np", "habitat": 3}, "habitat"),
            (cells, {"metric": None, "nodata": 1}, "nodata"),
        ]
        for array, keywords, message in refused:
            with self.assertRaisesRegex(ValueError, message):
                patchwright.metrics(array, **{"metric": "all", **keywords})


class Classify(unittest.TestCase):
    # The plain rule: stable descending order by value (ties in row-major
    # order rank higher), largest remainder with equal remainders to the
    # later class, the last class taking the highest ranks.
    @staticmethod
    def reference(values, inside, proportions):
        cells = [i for i in range(values.size) if inside.flat[i]]
        order = sorted(cells, key=lambda i: -values.flat[i])
        counts = [round(p * 1000) * len(cells) // 100000 for p in proportions]
        rests = [round(p * 1000) * len(cells) % 100000 for p in proportions]
        for k in sorted(range(len(proportions)), key=lambda k: (-rests[k], -k))[
            : len(cells) - sum(counts)
        ]:
            counts[k] += 1
        out = numpy.full(values.size, -1, dtype=numpy.int32)
        rank = 0
        for k in reversed(range(len(proportions))):
            for i in order[rank : rank + counts[k]]:
                out[i] = k + 1
            rank += counts[k]
        return out.reshape(values.shape)

    def test_classes_follow_the_plain_rule_with_ties(self):
        rng = numpy.random.default_rng(37)
        for classes in (2, 3, 5, 17, 64):
            values = rng.integers(0, 6, size=(23, 31)).astype(float)
            inside = rng.random(values.shape) > 0.15
            shares = rng.integers(1, 1000, size=classes).astype(float)
            shares = list(numpy.round(shares / shares.sum() * 100, 3))
            shares[-1] = round(100 - sum(shares[:-1]), 3)
            if shares[-1] < 0:
                continue
            got = patchwright.classify(values, shares, mask=inside, nodata=-1)
            numpy.testing.assert_array_equal(got, self.reference(values, inside, shares))

    def test_nan_is_outside_and_bad_classes_are_refused(self):
        values = numpy.arange(12.0).reshape(3, 4)
        values[1, 1] = numpy.nan
        got = patchwright.classify(values, [50, 50], values=[7, 9])
        self.assertEqual(got[1, 1], -9999)
        self.assertEqual((got == 9).sum(), 6)
        for proportions, codes in (([50, 60], None), ([50, 50], [1, 1]), ([100], None)):
            with self.assertRaises(ValueError):
                patchwright.classify(values, proportions, values=codes)

    def test_a_batch_in_a_mask_is_its_field_classified(self):
        # The mask gives the grid; its NoData stays out of the ranking, and
        # the field drawn on the whole box is the one gaussian_surface gives.
        inside = numpy.ones((12, 10), dtype=bool)
        inside[3:6, 4:7] = False
        inside[:, 0] = False
        with tempfile.TemporaryDirectory() as folder:
            mask = os.path.join(folder, "area.asc")
            with open(mask, "w") as grid:
                grid.write("ncols 10\nnrows 12\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                           "NODATA_value -1\n")
                for row in inside:
                    grid.write(" ".join("7" if cell else "-1" for cell in row) + "\n")
            shares = [40, 25, 20, 10, 5]
            (record, cells), = patchwright.gaussian_batch(range=4, proportions=shares, mask=mask)
        field = patchwright.gaussian_surface((12, 10), "exponential", 4, 0, cover=5)
        expected = patchwright.classify(field, shares, mask=inside)
        numpy.testing.assert_array_equal(cells, expected)
        self.assertEqual(record["class_cells"],
                         ";".join(str((expected == k).sum()) for k in range(1, 6)))


class Limits(unittest.TestCase):
    def test_sizes_beyond_32_bits_are_refused(self):
        # Takes no memory: every cell is the same byte.
        wide = numpy.broadcast_to(numpy.uint8(1), (1, 2**31 + 1))
        with self.assertRaisesRegex(ValueError, "2147483649"):
            patchwright.metrics(wide)

    def test_a_forked_child_cannot_read_its_parents_batch(self):
        batch = patchwright.random_batch(cover=[50], size=300, replicates=20)
        next(batch)
        pid = os.fork()
        if pid == 0:
            code = 3
            try:
                next(batch)
            except RuntimeError as error:
                code = 0 if "fork" in str(error) else 4
            except BaseException:
                code = 5
            os._exit(code)
        deadline = time.monotonic() + 20
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            if time.monotonic() > deadline:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                self.fail("the child waits forever on the batch it inherited")
            time.sleep(0.05)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        self.assertEqual(len(list(batch)), 19)


class StoppingEarly(unittest.TestCase):
    def test_an_abandoned_batch_stops_its_thread(self):
        before = thread_count()
        batch = patchwright.random_batch(cover=range(1, 101), size=600, replicates=50)
        next(batch)
        self.assertGreater(thread_count(), before)
        del batch
        self.assertEqual(thread_count(), before)
        with patchwright.fractal_batch(size=300) as batch:
            next(batch)
        self.assertEqual(list(batch), [])
        self.assertEqual(thread_count(), before)

    @staticmethod
    def slow_batch():
        # Each map takes most of a second to make and measure, so a reader is
        # waiting in next() when it is stopped a tenth of a second in, even
        # on a loaded machine that fires the timer late.
        return patchwright.random_batch(cover=[50], size=4500, replicates=3, metrics=True)

    def test_ctrl_c_stops_a_waiting_reader(self):
        before = thread_count()
        timer = threading.Timer(0.1, os.kill, (os.getpid(), signal.SIGINT))
        maps = 0
        timer.start()
        with self.assertRaises(KeyboardInterrupt):
            for _ in self.slow_batch():
                maps += 1
        timer.join()
        self.assertEqual(maps, 0)
        self.assertEqual(thread_count(), before)

    def test_ctrl_c_stops_reading_a_map(self):
        # Ctrl-C as the read begins. The calls below follow one another in C,
        # where Python does not look for signals, so the interrupt surfaces
        # where the read looks for it or, if it did not, only after `done`.
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "large.txt")
            with open(path, "wb") as file:
                file.write((b"1 0 " * 1000 + b"\n") * 800)
            done = []
            steps = [
                functools.partial(ctypes.CDLL(None).kill, os.getpid(), signal.SIGINT),
                functools.partial(patchwright.read_map, path),
                functools.partial(done.append, True),
            ]
            with self.assertRaises(KeyboardInterrupt):
                list(map(operator.methodcaller("__call__"), steps))
            self.assertEqual(done, [])

    def test_another_thread_can_close_a_batch(self):
        before = thread_count()
        batch = self.slow_batch()
        timer = threading.Timer(0.1, batch.close)
        timer.start()
        self.assertEqual(list(batch), [])
        timer.join()
        self.assertEqual(thread_count(), before)

    def test_daemon_threads_may_be_in_a_batch_when_python_ends(self):
        # One daemon thread waits for a map and another drops a batch while
        # the interpreter ends; taking the GIL back then ends a thread with
        # pthread_exit, which aborts the process if it unwinds a destructor.
        script = """if True:
            import threading, time, patchwright
            def read():
                for _ in patchwright.random_batch(cover=[50], size=4500, replicates=3):
                    pass
            def drop():
                batch = patchwright.random_batch(cover=[50], size=4500, replicates=3)
                del batch
            threading.Thread(target=read, daemon=True).start()
            threading.Thread(target=drop, daemon=True).start()
            time.sleep(0.2)
            """
        result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                                timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)


class Documentation(unittest.TestCase):
    def test_the_example_runs(self):
        with open(os.path.join(DOCS, "python.md")) as file:
            document = file.read()
        marker = document.index("<!-- tested: python-example -->")
        begin = document.index("```python\n", marker) + len("```python\n")
        script = document[begin:document.index("\n```", begin)]
        with tempfile.TemporaryDirectory() as folder:
            result = subprocess.run([sys.executable, "-c", script], cwd=folder,
                                    env=dict(os.environ, MPLBACKEND="Agg"),
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(len(result.stdout.splitlines()), 3)
            try:
                import matplotlib  # noqa: F401
            except ImportError:
                return
            self.assertTrue(os.path.exists(os.path.join(folder, "map.png")))


if __name__ == "__main__":
    unittest.main()
