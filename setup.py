# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds the patchwright package's compiled module with CMake, as `make
build` does, and puts it into the package with the files CMake writes beside
it (the GDAL module, _version.py and the stub written from the compiled
module). The metadata is in pyproject.toml; the
version is read from project(VERSION) in CMakeLists.txt, its one place.

PATCHWRIGHT_BUILD_DIR names a CMake build folder to reuse (build-ci, say):
only the module's target is brought up to date there. Without it, a folder
of its own under setuptools' build folder is configured without the tests
and benchmarks."""

import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as file:
        match = re.search(r"project\(\s*Patchwright\s+VERSION\s+([0-9.]+)", file.read())
    if not match:
        raise RuntimeError("CMakeLists.txt names no project(Patchwright VERSION ...)")
    return match.group(1)


class BuildWithCMake(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("PATCHWRIGHT_BUILD_DIR")
        if build:
            build = os.path.abspath(build)
        else:
            build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
            subprocess.run(
                ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 "-DPATCHWRIGHT_BUILD_TESTS=OFF", "-DPATCHWRIGHT_BUILD_BENCH=OFF",
                 "-DPython3_EXECUTABLE=" + sys.executable],
                check=True)
        subprocess.run(["cmake", "--build", build, "--target", "_patchwright",
                        "-j", str(os.cpu_count() or 1)], check=True)
        package = os.path.join(build, "python", "patchwright")
        built = glob.glob(os.path.join(package, "_patchwright*.so"))
        if len(built) != 1:
            raise RuntimeError("expected one compiled module in %s, found %r" % (package, built))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)
        for extra in ["_version.py", "__init__.pyi"] + glob.glob(
                os.path.join(package, "libpatchwright_gdal*.so")):
            shutil.copyfile(os.path.join(package, extra),
                            os.path.join(os.path.dirname(target), os.path.basename(extra)))


setup(
    version=project_version(),
    ext_modules=[Extension("patchwright._patchwright", sources=[])],
    cmdclass={"build_ext": BuildWithCMake},
)
