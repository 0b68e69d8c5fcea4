# SPDX-License-Identifier: GPL-3.0-or-later
"""The Python package built with a family that exists only in the test
folder has its batch function, keywords and all, and makes the maps the
command line built with it writes."""

import inspect
import os
import subprocess
import tempfile
import unittest

import numpy

import patchwright

CLI = os.environ["PW_CLI_PATH"]


class TestFamily(unittest.TestCase):
    def test_the_family_has_its_function(self):
        self.assertIn("checker", [f["word"] for f in patchwright.families()])
        self.assertIn("tile", inspect.signature(patchwright.checker_batch).parameters)
        maps = list(patchwright.checker_batch(size=9, tile=2, cover=[20, 60], replicates=2))
        self.assertEqual(len(maps), 4)
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([CLI, "checker", "--out", "out", "--size", "9", "--tile", "2",
                            "--cover", "20,60", "--replicates", "2", "--quiet"],
                           cwd=folder, check=True)
            for record, cells in maps:
                self.assertEqual(record["kind"], "checker")
                self.assertEqual(record["tile"], 2)
                written = numpy.loadtxt(os.path.join(folder, "out", record["file"]), dtype=int)
                numpy.testing.assert_array_equal(cells, written)
        with self.assertRaises(TypeError):
            patchwright.checker_batch(hurst=0.5)
        with self.assertRaisesRegex(ValueError, "not cut from a surface"):
            patchwright.surface("checker", size=9)


if __name__ == "__main__":
    unittest.main()
