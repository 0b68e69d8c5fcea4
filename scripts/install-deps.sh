#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build and test dependencies on Debian/Ubuntu, but only the ones
# that are missing, so repeated `make` calls stay fast and offline-friendly.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev
  libbenchmark-dev
  librandom123-dev
  libxxhash-dev
  libfftw3-dev
  libfreetype-dev libfontconfig-dev
  xvfb xauth imagemagick fonts-dejavu-core
  gdal-bin libgdal-dev
  python3-numpy python3-scipy python3-rasterio
  r-cran-fields
  pybind11-dev python3-dev
  r-base-dev r-cran-rcpp r-cran-terra r-cran-testthat r-cran-codetools
  # The tests and R CMD check each install the R package, whose engine is
  # the same sources every time: ccache compiles it once.
  ccache
  clang clang-format libclang-rt-dev
  help2man dpkg-dev
  python3-yaml python3-venv python3-pip python3-setuptools python3-wheel python3-build
  slurm-wlm munge parallel python3-dask python3-distributed python3-pandas
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
