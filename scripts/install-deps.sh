#!/usr/bin/env bash
# Installs the build and test dependencies on Debian/Ubuntu, but only the ones
# that are missing, so repeated `make` calls stay fast and offline-friendly.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev
  libbenchmark-dev
  librandom123-dev
  libfftw3-dev
  xvfb xauth imagemagick fonts-dejavu-core
  gdal-bin libgdal-dev
  python3-numpy python3-scipy python3-rasterio
  r-cran-fields
  pybind11-dev python3-dev
  clang clang-format libclang-rt-dev
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
