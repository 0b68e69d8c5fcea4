# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds the patchwright wheel with Debian's build tools from a copy of the
source tree, reusing the finished CMake build for the compiled module,
installs it into a fresh virtual environment (with the system's site
packages, for numpy) and runs the example of docs/python.md there, from a
folder outside the source and build trees and without PYTHONPATH.

Usage: test_wheel.py SOURCE_DIR BUILD_DIR VERSION PATCHWRIGHT_CLI"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE, BUILD, VERSION, CLI = sys.argv[1:5]
SYSTEM_PYTHON = "/usr/bin/python3"


def run(command, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=600, **options)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s\n%s" % (" ".join(command), result.returncode,
                                                          result.stdout[-3000:],
                                                          result.stderr[-3000:]))
    return result


def clean_environment(**extra):
    environment = {k: v for k, v in os.environ.items()
                   if not k.startswith("PYTHON") and k != "VIRTUAL_ENV"}
    environment.update(extra)
    return environment


def docs_example():
    with open(os.path.join(SOURCE, "docs", "python.md"), encoding="utf-8") as file:
        document = file.read()
    marker = document.index("<!-- tested: python-example -->")
    begin = document.index("```python\n", marker) + len("```python\n")
    return document[begin:document.index("\n```", begin)]


class Wheel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="patchwright-wheel-")
        # A copy, so that the build leaves nothing (build/, egg-info) in the
        # source tree; the build trees and history are not part of it.
        source = os.path.join(cls.folder, "source")
        shutil.copytree(SOURCE, source, ignore=shutil.ignore_patterns(
            ".git", "build-*", "build", "dist", "*.egg-info", "__pycache__"))
        run([SYSTEM_PYTHON, "-m", "build", "--no-isolation", "--wheel",
             "--outdir", os.path.join(cls.folder, "dist"), source],
            env=clean_environment(PATCHWRIGHT_BUILD_DIR=BUILD))
        wheels = glob.glob(os.path.join(cls.folder, "dist", "patchwright-%s-*.whl" % VERSION))
        assert len(wheels) == 1, os.listdir(os.path.join(cls.folder, "dist"))
        cls.venv = os.path.join(cls.folder, "venv")
        run([SYSTEM_PYTHON, "-m", "venv", "--system-site-packages", cls.venv])
        cls.python = os.path.join(cls.venv, "bin", "python")
        run([cls.python, "-m", "pip", "install", "--no-index", "--quiet", wheels[0]],
            env=clean_environment())
        cls.elsewhere = os.path.join(cls.folder, "elsewhere")
        os.mkdir(cls.elsewhere)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def in_venv(self, script, **extra):
        return run([self.python, "-c", script], cwd=self.elsewhere,
                   env=clean_environment(MPLBACKEND="Agg", **extra))

    def test_the_docs_example_runs(self):
        result = self.in_venv(docs_example())
        self.assertEqual(len(result.stdout.splitlines()), 3, result.stdout)

    def test_installed_where_the_venv_is(self):
        result = self.in_venv("import patchwright; print(patchwright.__version__); "
                              "print(patchwright.__file__)")
        version, path = result.stdout.split()
        self.assertEqual(version, VERSION)
        self.assertTrue(path.startswith(self.venv + "/"), path)

    def test_geotiffs_read_with_the_packaged_gdal_module(self):
        # The module must come from the wheel, not from the build tree the
        # extension was built in.
        run([CLI, "random", "--out", os.path.join(self.folder, "maps"), "--cover", "40:40:1",
             "--size", "12", "--format", "tif", "--quiet"])
        tif = glob.glob(os.path.join(self.folder, "maps", "*.tif"))[0]
        result = self.in_venv("import patchwright, sys; print(patchwright.read_map(sys.argv[1]).shape)"
                              .replace("sys.argv[1]", repr(tif)), LD_DEBUG="files")
        self.assertEqual(result.stdout.strip(), "(12, 12)")
        loaded = [line for line in result.stderr.splitlines()
                  if "file=" in line and "libpatchwright_gdal" in line]
        self.assertTrue(loaded, "the GDAL module was never loaded")
        self.assertTrue(all(self.venv + "/" in line for line in loaded), loaded)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
