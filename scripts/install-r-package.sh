#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Stages the R package (see stage-r-package.sh) into STAGE and installs it
# into LIBRARY, or into the user's R library when LIBRARY is not given; any
# SOURCE goes into the package's list of families (a test's family).
# Usage: install-r-package.sh STAGE [LIBRARY [SOURCE...]]
set -euo pipefail
here=$(dirname "$0")
stage=${1:?usage: install-r-package.sh STAGE [LIBRARY]}
if [ -n "${2:-}" ]; then
  library=$2
  # A library of the build tree has only this package, and R leaves its lock
  # behind when an install is killed (a test's timeout).
  rm -rf "$library/00LOCK-patchwright"
else
  library=$(Rscript -e 'cat(path.expand(Sys.getenv("R_LIBS_USER")))')
fi
mkdir -p "$library"
package=$(bash "$here/stage-r-package.sh" "$stage" "${@:3}")
MAKEFLAGS="-j${JOBS:-$(nproc)}" R CMD INSTALL --no-test-load --library="$library" "$package"
echo "patchwright installed into $library"
