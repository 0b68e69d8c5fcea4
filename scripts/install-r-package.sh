#!/usr/bin/env bash
# Stages the R package (see stage-r-package.sh) into STAGE and installs it
# into LIBRARY, or into the user's R library when LIBRARY is not given.
# Usage: install-r-package.sh STAGE [LIBRARY]
set -euo pipefail
here=$(dirname "$0")
stage=${1:?usage: install-r-package.sh STAGE [LIBRARY]}
library=${2:-$(Rscript -e 'cat(path.expand(Sys.getenv("R_LIBS_USER")))')}
mkdir -p "$library"
package=$(bash "$here/stage-r-package.sh" "$stage")
MAKEFLAGS="-j${JOBS:-$(nproc)}" R CMD INSTALL --no-test-load --library="$library" "$package"
echo "patchwright installed into $library"
