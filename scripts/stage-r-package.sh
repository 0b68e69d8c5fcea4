#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lays out the R package as R builds it: r/ with the engine's sources
# (core/ and the families' folders: QtCore only, no moc) copied into its src/, so
# that the package, and the tarball R CMD build makes of it, compile the same
# core as the command line without reaching back into the repository.
# Dialogs are left out: they need Qt Widgets and belong to the GUI library.
# Usage: stage-r-package.sh DEST [SOURCE...] (DEST/patchwright is made anew);
# each SOURCE is a further file of the list of families (a test's family).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:?usage: stage-r-package.sh DEST [SOURCE...]}/patchwright
shift
rm -rf "$dest"
mkdir -p "$dest"
cp -R "$root/r/." "$dest/"
# The core's rooms (core/batch/, core/grid/, ...) keep their places, so that
# the includes read as they do in the repository. The list of families comes
# with them; what includes widgets/ (the dialogs, the list of their forms) is
# the window's.
for folder in core random fractal gaussian cluster mosaic rectangles gradients families; do
  (cd "$root" && find "$folder" -name '*.cpp' -o -name '*.h') | while IFS= read -r file; do
    grep -qE '^\s*#\s*include "(widgets/|ui_)' "$root/$file" && continue
    case $(basename "$file") in
      dialog*) ;;
      *) mkdir -p "$dest/src/$(dirname "$file")" && cp "$root/$file" "$dest/src/$file" ;;
    esac
  done
done
for extra in "$@"; do
  cp "$extra" "$dest/src/families/"
done
# The release is named once, in the root CMakeLists.txt: the package's
# DESCRIPTION and the core's version header take it from there, as CMake's
# build does.
version=$(sed -nE 's/^project\(Patchwright VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
[[ -n $version ]] || { echo "no project(VERSION) in $root/CMakeLists.txt" >&2; exit 1; }
sed -i -E "s/^Version: .*/Version: $version/" "$dest/DESCRIPTION"
sed "s/@PROJECT_VERSION@/$version/" "$root/core/version.h.in" >"$dest/src/core/version.h"
rm -f "$dest/src/core/version.h.in"
echo "$dest"
